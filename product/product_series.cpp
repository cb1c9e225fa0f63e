#include "product/product_series.h"

#include "app/app.h"
#include "params/parameters.h"
#include "product/option_lists.h"
#include "runtime/userint.h"
#include "ui/panel_ids.h"

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

void HideModulation() {
    SetCtrlVal(panelHandle, S113, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 1);
}

// T1 and T2 differ only in their power and sleep lists; the rate list follows the
// product index (narrow-band for the "a" variants, fast DSSS for the "b" variants).
void SetUpDsssSeries(const OptionList& powerList, const OptionList& sleepList) {
    FillOptionList(S112, powerList);
    FillOptionList(S103, sleepList);
    SetCtrlVal(panelHandle, S103, 0);
    HideModulation();
    // The range is widened before the rate list sets the buffer to 200.
    SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 230);
    SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 5);
    ClampChannel(100);
    RebuildRadioRateList(0);
}

void SetUpM5() {
    FillOptionList(S112, m5PowerList);
    FillOptionList(S103, oneModeSleepList);
    SetCtrlVal(panelHandle, S103, 0);
    HideModulation();
    ClampChannel(17);
    SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 50);
    SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 5);
    SetCtrlVal(panelHandle, S100, 50);
    RebuildRadioRateList(0);
    // This radio tops out at 38.4 kbps: the two fastest standard rates go.
    int count = 0;
    GetNumListItems(panelHandle, S110, &count);
    if (count > 6) {
        DeleteListItem(panelHandle, S110, 6, -1);
    }
}

// The K8 keeps whatever buffer range the previous series left: 50, the value its rate
// list sets, lies in every range S100 can have.
void SetUpK8() {
    FillOptionList(S112, k8PowerList);
    ClampChannel(225);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 1);
    RebuildRadioRateList(0);
    FillOptionList(S103, oneModeSleepList);
    SetCtrlVal(panelHandle, S103, 0);
    SetCtrlVal(panelHandle, S113, 0);
}

void SelectDefaultRate(uint8_t loraMode) {
    SetCtrlVal(panelHandle, S110, loraMode == 0 ? 3 : 1);
}

// The one series with a choice of modulation; it starts in LoRa mode.
void SetUpR3() {
    FillOptionList(S112, r3PowerList);
    FillOptionList(S103, noSleepList);
    SetCtrlVal(panelHandle, S103, 0);
    SetCtrlVal(panelHandle, S113, 1);
    SetCtrlAttribute(panelHandle, S113, ATTR_VISIBLE, 1);
    SetCtrlAttribute(panelHandle, S113, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 50);
    SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 5);
    ClampChannel(100);
    uint8_t loraMode = 0;
    GetCtrlVal(panelHandle, S113, &loraMode);
    RebuildRadioRateList(loraMode);
    SelectDefaultRate(loraMode);
}

}  // namespace

int SelectProductCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                          int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    GetCtrlVal(panelHandle, S111, &parameters.s111);
    switch (parameters.productIndex) {
        case 0:
        case 1:
            SetUpDsssSeries(t1PowerList, fourModeSleepList);
            break;
        case 2:
        case 3:
            SetUpDsssSeries(t2PowerList, noSleepList);
            break;
        case 4:
            SetUpM5();
            break;
        case 5:
            SetUpK8();
            break;
        case 6:
            SetUpR3();
            break;
        default:
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
