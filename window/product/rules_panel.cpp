#include "core/params/parameter_set.h"
#include "runtime/ui/panel_controls.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/product/product_panel.h"

namespace {

void Dim(int control, int dimmed) {
    SetCtrlAttribute(panelHandle, control, ATTR_DIMMED, dimmed);
}

// With one-byte IDs the low parts are hidden; they are left as they are and take the
// state of their high part again once the next pass runs with two-byte IDs.
void DimLowPart(int control, int dimmed) {
    if (parameters.idLength != 0) {
        Dim(control, dimmed);
    }
}

// S120 always has two parts, so its low field and dot are not among these.
constexpr int lowPartControls[] = {S121_L, S122_L, S123_L, S130_L, DOT1, DOT3, DOT4, DOT5};

}  // namespace

void ApplyControlRules() {
    GetCtrlVal(panelHandle, ID_LEN, &parameters.idLength);
    const int visible = parameters.idLength != 0 ? 1 : 0;
    for (int control : lowPartControls) {
        SetCtrlAttribute(panelHandle, control, ATTR_VISIBLE, visible);
    }
    ApplyWorkingModeRule();
    ApplyAddressControlRule();
    ApplyRepeaterNodeRule();
}

// The local and destination IDs and the address options matter only in the address
// modes; in every other mode the module sends to its group.
void ApplyWorkingModeRule() {
    GetCtrlVal(panelHandle, S124, &parameters.s124);
    if (parameters.s124 == 2 || parameters.s124 == 3) {
        Dim(S123_H, 1);
        Dim(S121_H, 0);
        Dim(S122_H, 0);
        DimLowPart(S123_L, 1);
        DimLowPart(S121_L, 0);
        DimLowPart(S122_L, 0);
        Dim(S126, 0);
        Dim(S125, 0);
        Dim(S127, 0);
    } else {
        Dim(S121_H, 1);
        Dim(S122_H, 1);
        Dim(S126, 1);
        Dim(S123_H, 0);
        DimLowPart(S121_L, 1);
        DimLowPart(S122_L, 1);
        DimLowPart(S123_L, 0);
        Dim(S125, 1);
        Dim(S127, 1);
        // An acknowledge echo needs addresses, so outside the address modes it is turned
        // off as well as dimmed.
        SetCtrlVal(panelHandle, S127, 0);
    }
}

// When the address travels in the header of every frame, the default destination is not
// used. Every mode above the two transparent ones takes part, the test modes included, so
// that a full pass after a read leaves the destination as the address control wants it.
void ApplyAddressControlRule() {
    GetCtrlVal(panelHandle, S126, &parameters.s126);
    GetCtrlVal(panelHandle, S124, &parameters.s124);
    if (parameters.s124 <= 1) {
        return;
    }
    const int dimmed = (parameters.s126 == 1 || parameters.s126 == 3) ? 1 : 0;
    Dim(S122_H, dimmed);
    DimLowPart(S122_L, dimmed);
}

// A repeater node runs in transparent mode with the repeater ID as its group ID, and does
// not itself send through another repeater.
void ApplyRepeaterNodeRule() {
    GetCtrlVal(panelHandle, S128, &parameters.s128);
    if (parameters.s128 == 1) {
        SetCtrlVal(panelHandle, S129, 0);
        Dim(S129, 1);
        Dim(S130_H, 1);
        DimLowPart(S130_L, 1);
        // The low part is copied even with one-byte IDs, so that it is right when the
        // IDs become two bytes long.
        GetCtrlVal(panelHandle, S130_L, &parameters.s123Low);
        GetCtrlVal(panelHandle, S130_H, &parameters.s123High);
        SetCtrlVal(panelHandle, S123_L, parameters.s123Low);
        SetCtrlVal(panelHandle, S123_H, parameters.s123High);
        SetCtrlVal(panelHandle, S124, 0);
        Dim(S124, 1);
        ApplyWorkingModeRule();
    } else {
        Dim(S124, 0);
        Dim(S129, 0);
        Dim(S130_H, 0);
        DimLowPart(S130_L, 0);
        ApplyViaRepeaterRule();
    }
}

// The repeater ID is needed only when frames go through a repeater.
void ApplyViaRepeaterRule() {
    uint8_t viaRepeater = 0;
    GetCtrlVal(panelHandle, S129, &viaRepeater);
    const int dimmed = viaRepeater != 0 ? 0 : 1;
    Dim(S130_H, dimmed);
    DimLowPart(S130_L, dimmed);
}

int IdLenCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                  int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ApplyControlRules();
    }
    return 0;
}

int SetModeCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                    int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ApplyWorkingModeRule();
    }
    return 0;
}

int S126CallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ApplyAddressControlRule();
    }
    return 0;
}

int S128CallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ApplyRepeaterNodeRule();
        ApplyWorkingModeRule();
    }
    return 0;
}

int S129CallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ApplyViaRepeaterRule();
    }
    return 0;
}
