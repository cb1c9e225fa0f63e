#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "core/product/series.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/panel/register_controls.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

void GatherParameters() {
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    for (const RegisterRow& row : kRegisterTable) {
        // Only a series whose modulation is the panel's choice shows S113; for the others
        // the field keeps what a read from the module left there.
        if (row.number == 113 &&
            ProfileOf(parameters.productIndex).modulation != Modulation::Chosen) {
            continue;
        }
        GetCtrlVal(panelHandle, ControlsOf(row).high, &(parameters.*row.high));
        if (row.idForm == IdForm::AlwaysTwoPart) {
            GetCtrlVal(panelHandle, ControlsOf(row).low, &(parameters.*row.low));
        }
    }
    // With one-byte IDs the low parts are hidden and nothing sends or saves them, so
    // their fields keep the last two-byte values.
    GetCtrlVal(panelHandle, ID_LEN, &parameters.idLength);
    if (parameters.idLength != 0) {
        for (const RegisterRow& row : kRegisterTable) {
            if (row.idForm == IdForm::FollowsIdLength) {
                GetCtrlVal(panelHandle, ControlsOf(row).low, &(parameters.*row.low));
            }
        }
    }
}

void ParseConfigText(std::size_t length) {
    const bool twoByteIds = ScanConfigText(
        configText, length,
        [](void*, const AppliedRecord& record) {
            SetCtrlVal(panelHandle, ControlsOf(*record.row).high, record.high);
            if (record.setsLow) {
                SetCtrlVal(panelHandle, ControlsOf(*record.row).low, record.low);
            }
        },
        nullptr);
    SetCtrlVal(panelHandle, ID_LEN, twoByteIds ? 1 : 0);
    ApplyControlRules();
}
