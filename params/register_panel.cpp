#include "params/config_text.h"
#include "params/parameter_set.h"
#include "params/params_panel.h"
#include "product/product_panel.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

void GatherParameters() {
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    for (const RegisterRow& row : kRegisterTable) {
        // Only the series with a modulation choice shows S113; for the others the field
        // keeps what a read from the module left there.
        if (row.number == 113 && parameters.productIndex != ProductSeries::R3) {
            continue;
        }
        GetCtrlVal(panelHandle, row.highControl, &(parameters.*row.high));
        if (row.idForm == IdForm::AlwaysTwoPart) {
            GetCtrlVal(panelHandle, row.lowControl, &(parameters.*row.low));
        }
    }
    // With one-byte IDs the low parts are hidden and nothing sends or saves them, so
    // their fields keep the last two-byte values.
    GetCtrlVal(panelHandle, ID_LEN, &parameters.idLength);
    if (parameters.idLength != 0) {
        for (const RegisterRow& row : kRegisterTable) {
            if (row.idForm == IdForm::FollowsIdLength) {
                GetCtrlVal(panelHandle, row.lowControl, &(parameters.*row.low));
            }
        }
    }
}

void ParseConfigText(std::size_t length) {
    const bool twoByteIds = ScanConfigText(
        configText, length,
        [](void*, const AppliedRecord& record) {
            SetCtrlVal(panelHandle, record.row->highControl, record.high);
            if (record.setsLow) {
                SetCtrlVal(panelHandle, record.row->lowControl, record.low);
            }
        },
        nullptr);
    SetCtrlVal(panelHandle, ID_LEN, twoByteIds ? 1 : 0);
    ApplyControlRules();
}
