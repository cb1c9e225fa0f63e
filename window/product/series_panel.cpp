#include "core/params/parameter_set.h"
#include "core/product/series.h"
#include "runtime/ui/panel_controls.h"
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

// One set-up for every series, driven by its profile. The buffer's range is set before the
// rate list, whose fill sets the buffer to the size its rates run with: the range must
// admit that size first.
void SetUpSeries(const SeriesProfile& profile) {
    FillOptionList(S112, *profile.powerList);
    FillOptionList(S103, *profile.sleepList);
    SetCtrlVal(panelHandle, S103, 0);
    const int offersChoice = profile.modulation == Modulation::Chosen ? 1 : 0;
    SetCtrlVal(panelHandle, S113, profile.startingModulation);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, offersChoice);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 1 - offersChoice);
    if (!profile.keepsBufferRange) {
        SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, profile.bufferMaximum);
        SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, profile.bufferMinimum);
    }
    ClampChannel(profile.channelLimit);
    RebuildRadioRateList(profile.startingModulation);
    // A radio that offers only the first rates of its list loses the rest here, and only
    // here: after a read the module's own modulation decides.
    int count = 0;
    GetNumListItems(panelHandle, S110, &count);
    if (profile.fskRateItems != 0 && count > profile.fskRateItems) {
        DeleteListItem(panelHandle, S110, profile.fskRateItems, -1);
    }
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
    if (list.linkBuffer != 0) {
        SetCtrlVal(panelHandle, S100, list.linkBuffer);
    }
}

void RebuildRadioRateList(uint8_t loraMode) {
    FillOptionList(S110, RadioRateList(parameters.productIndex, loraMode));
}

int SelectProductCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                          int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    GetCtrlVal(panelHandle, S111, &parameters.s111);
    SetUpSeries(ProfileOf(parameters.productIndex));
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
    return 0;
}
