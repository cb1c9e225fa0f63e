#include "params/parameters.h"

#include <cstdio>

#include "app/app.h"
#include "runtime/userint.h"
#include "ui/panel_ids.h"

ParameterSet parameters;

void GatherParameters() {
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);

    GetCtrlVal(panelHandle, S100, &parameters.s100);
    GetCtrlVal(panelHandle, S101, &parameters.s101);
    GetCtrlVal(panelHandle, S102, &parameters.s102);
    GetCtrlVal(panelHandle, S103, &parameters.s103);
    GetCtrlVal(panelHandle, S104, &parameters.s104);
    GetCtrlVal(panelHandle, S105, &parameters.s105);
    GetCtrlVal(panelHandle, S110, &parameters.s110);
    GetCtrlVal(panelHandle, S111, &parameters.s111);
    GetCtrlVal(panelHandle, S112, &parameters.s112);
    // Only the series with a modulation choice shows S113; for the others the field keeps
    // what a read from the module left there.
    if (parameters.productIndex == 6) {
        GetCtrlVal(panelHandle, S113, &parameters.s113);
    }

    GetCtrlVal(panelHandle, S120_H, &parameters.s120High);
    GetCtrlVal(panelHandle, S120_L, &parameters.s120Low);
    GetCtrlVal(panelHandle, S121_H, &parameters.s121High);
    GetCtrlVal(panelHandle, S122_H, &parameters.s122High);
    GetCtrlVal(panelHandle, S123_H, &parameters.s123High);

    GetCtrlVal(panelHandle, S124, &parameters.s124);
    GetCtrlVal(panelHandle, S125, &parameters.s125);
    GetCtrlVal(panelHandle, S126, &parameters.s126);
    GetCtrlVal(panelHandle, S127, &parameters.s127);
    GetCtrlVal(panelHandle, S128, &parameters.s128);
    GetCtrlVal(panelHandle, S129, &parameters.s129);
    GetCtrlVal(panelHandle, S130_H, &parameters.s130High);

    // With one-byte IDs the low parts are hidden and nothing sends or saves them, so
    // their fields keep the last two-byte values.
    GetCtrlVal(panelHandle, ID_LEN, &parameters.idLength);
    if (parameters.idLength != 0) {
        GetCtrlVal(panelHandle, S121_L, &parameters.s121Low);
        GetCtrlVal(panelHandle, S122_L, &parameters.s122Low);
        GetCtrlVal(panelHandle, S123_L, &parameters.s123Low);
        GetCtrlVal(panelHandle, S130_L, &parameters.s130Low);
    }
}

namespace {

int Finish(int written, std::size_t size) {
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        return -1;
    }
    return written;
}

}  // namespace

int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t value) {
    return Finish(std::snprintf(out, size, "ATS%03d=%d\n", registerNumber, value), size);
}

int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t high, uint8_t low) {
    return Finish(std::snprintf(out, size, "ATS%03d=%d.%d\n", registerNumber, high, low), size);
}

int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t value) {
    return Finish(std::snprintf(out, size, "S%03d=%d", registerNumber, value), size);
}

int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t high,
                         uint8_t low) {
    return Finish(std::snprintf(out, size, "S%03d=%d.%d", registerNumber, high, low), size);
}
