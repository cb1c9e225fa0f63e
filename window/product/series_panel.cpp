#include "core/params/parameter_set.h"
#include "core/product/series.h"
#include "runtime/ui/userint.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/product/product_panel.h"

namespace {

// The value goes down before the maximum does, so the control never holds a channel
// outside its range, and the register copy follows the panel.
void ClampChannel(uint8_t limit) {
    uint8_t channel = 0;
    GetCtrlVal(panelHandle, S111, &channel);
    if (channel > limit) {
        parameters.s111 = limit;
        SetCtrlVal(panelHandle, S111, limit);
    }
    SetCtrlAttribute(panelHandle, S111, ATTR_MAX_VALUE, limit);
}

void SetBufferRange(const SeriesProfile& profile) {
    SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, profile.bufferMaximum);
    SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, profile.bufferMinimum);
}

void FillSleepList(const SeriesProfile& profile) {
    FillOptionList(S103, *profile.sleepList);
    SetCtrlVal(panelHandle, S103, 0);
}

void HideModulation() {
    SetCtrlVal(panelHandle, S113, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 1);
}

// T1 and T2 differ only in their power and sleep lists; the rate list follows the
// series (narrow-band for the "a" variants, fast DSSS for the "b" variants).
void SetUpDsssSeries(const SeriesProfile& profile) {
    FillOptionList(S112, *profile.powerList);
    FillSleepList(profile);
    HideModulation();
    // The range is widened before the rate list sets the buffer to 200.
    SetBufferRange(profile);
    ClampChannel(profile.channelLimit);
    RebuildRadioRateList(0);
}

void SetUpM5(const SeriesProfile& profile) {
    FillOptionList(S112, *profile.powerList);
    FillSleepList(profile);
    HideModulation();
    ClampChannel(profile.channelLimit);
    SetBufferRange(profile);
    SetCtrlVal(panelHandle, S100, 50);
    RebuildRadioRateList(0);
    int count = 0;
    GetNumListItems(panelHandle, S110, &count);
    if (count > profile.fskRateItems) {
        DeleteListItem(panelHandle, S110, profile.fskRateItems, -1);
    }
}

// The K8 keeps whatever buffer range the previous series left: 50, the value its rate
// list sets, lies in every range S100 can have.
void SetUpK8(const SeriesProfile& profile) {
    FillOptionList(S112, *profile.powerList);
    ClampChannel(profile.channelLimit);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 1);
    RebuildRadioRateList(0);
    FillSleepList(profile);
    SetCtrlVal(panelHandle, S113, 0);
}

void SelectDefaultRate(uint8_t loraMode) {
    SetCtrlVal(panelHandle, S110, RadioRateList(parameters.productIndex, loraMode).selected);
}

// The one series with a choice of modulation; it starts in LoRa mode.
void SetUpR3(const SeriesProfile& profile) {
    FillOptionList(S112, *profile.powerList);
    FillSleepList(profile);
    SetCtrlVal(panelHandle, S113, 1);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 1);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 0);
    SetBufferRange(profile);
    ClampChannel(profile.channelLimit);
    uint8_t loraMode = 0;
    GetCtrlVal(panelHandle, S113, &loraMode);
    RebuildRadioRateList(loraMode);
    SelectDefaultRate(loraMode);
}

}  // namespace

void FillOptionList(int control, const OptionList& list) {
    DeleteListItem(panelHandle, control, 0, -1);
    for (std::size_t i = 0; i < list.count; ++i) {
        InsertListItem(panelHandle, control, -1, list.items[i].text, list.items[i].value);
    }
    // A new list never inherits the old selection: the same code means another rate or
    // power level from one list to the next.
    SetCtrlVal(panelHandle, control, list.selected);
    // The plain FSK rates run with the small serial link buffer.
    if (&list == &standardRateList) {
        SetCtrlVal(panelHandle, S100, 50);
    }
}

void RebuildRadioRateList(uint8_t loraMode) {
    const OptionList& list = RadioRateList(parameters.productIndex, loraMode);
    FillOptionList(S110, list);
    // The DSSS radios of the T series take the large buffer; the LoRa rates the small
    // one, as the standard list has already set.
    if (&list == &loraRateList) {
        SetCtrlVal(panelHandle, S100, 50);
    } else if (&list != &standardRateList) {
        SetCtrlVal(panelHandle, S100, 200);
    }
}

int SelectProductCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                          int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    GetCtrlVal(panelHandle, S111, &parameters.s111);
    const SeriesProfile& profile = ProfileOf(parameters.productIndex);
    switch (parameters.productIndex) {
        case ProductSeries::T1a:
        case ProductSeries::T1b:
        case ProductSeries::T2a:
        case ProductSeries::T2b:
            SetUpDsssSeries(profile);
            break;
        case ProductSeries::M5:
            SetUpM5(profile);
            break;
        case ProductSeries::K8:
            SetUpK8(profile);
            break;
        case ProductSeries::R3:
            SetUpR3(profile);
            break;
    }
    return 0;
}

int fskLora_selectCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                           int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    uint8_t loraMode = 0;
    GetCtrlVal(panelHandle, S113, &loraMode);
    RebuildRadioRateList(loraMode);
    SelectDefaultRate(loraMode);
    return 0;
}
