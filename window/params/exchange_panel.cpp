#include <cstdio>

#include "core/link/connection.h"
#include "core/link/messages.h"
#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "core/params/read.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "window/link/link_panel.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

int ReadCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    // The exchange blocks the window for up to several seconds.
    SetWaitCursor(1);
    std::size_t length = 0;
    const Exchange result = ReadRegisterList(parameters.productIndex, &length);
    if (result != Exchange::Done) {
        SetWaitCursor(0);
        char details[128];
        DescribeCutRegisterList(length, details, sizeof details);
        ReportExchangeFailure(result, result == Exchange::NoReply ? details : nullptr);
        return 0;
    }

    ParseConfigText(length);
    if (ProfileOf(parameters.productIndex).modulation == Modulation::Reported) {
        // The module reports its modulation, and the radio rates on offer depend on it. The
        // rebuilt list selects its own default, so the rate read is put back afterwards.
        GetCtrlVal(panelHandle, S113, &parameters.s113);
        GetCtrlVal(panelHandle, S110, &parameters.s110);
        // The rate comes from the reply itself: the list the scan set it into may still
        // be the one the series set-up cut at 38.4 kbps, which has no item for the LoRa
        // rates 6 and 7, and the control would then show the rate from before the read.
        FindRegisterValue(configText, length, 110, &parameters.s110);
        RebuildRadioRateList(parameters.s113);
        SetCtrlVal(panelHandle, S110, parameters.s110);
    }
    SetWaitCursor(0);
    ReportExchangeDone("Command Ok", "Done! Reading successfull! ");
    return 0;
}

int UpdateCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (!connection.connected) {
        ReportExchangeFailure(Exchange::NotConnected, nullptr);
        return 0;
    }

    GatherParameters();
    // The modulation goes out as its control shows it.
    uint8_t modulation = 0;
    GetCtrlVal(panelHandle, S113, &modulation);
    SetWaitCursor(1);
    WriteReport report;
    const Exchange result = WriteParameters(parameters, modulation, &report);
    SetWaitCursor(0);
    if (result == Exchange::Done) {
        ReportExchangeDone("Command Ok", " Done! The Updating is successfull!");
    } else {
        char details[512];
        DescribeWriteFailure(report, details, sizeof details);
        ReportExchangeFailure(result, result == Exchange::NoPrompt ? nullptr : details);
    }

    // Whatever the module sent while the popup was up is of no use to the next exchange.
    // The output is left alone: the only bytes that can still be in it are those of the
    // leave command, and a popup dismissed quickly (or a slow line) would otherwise
    // discard them and leave the module in command mode.
    if (result == Exchange::Done || result == Exchange::NotAcknowledged) {
        FlushInQ(connection.comPort);
    }
    return 0;
}
