#include "window/link/link_panel.h"

#include <cstdio>
#include <cstring>

#include "core/link/connection.h"
#include "core/link/messages.h"
#include "core/link/version.h"
#include "core/params/parameter_set.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/ui/panel_controls.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"

namespace {

const char* const kOpenErrorMessage =
    "COM Port Open error! \r\n Please confirm the selected port is ready, \r\n and it's "
    "resource is not occupied by other applications \r\n Then press the \"Connect\" "
    "button!!  ";

const char* const kEngagedMessage =
    " COM Port in engaged\r\n PLease disconnect the COM port before changing the Baud Rate or "
    "format";

// The two pairs of ideographic spaces (U+3000) after the defaults belong to the message as
// users have always seen it; they are kept on purpose.
const char* const kConfirmChangeMessage =
    "Confirm to change the Baud Rate? \n\nThe COM port Baud Rate & Format should match to the "
    "module's serial setting \nDefault baud rate =9600bps "
    "\u3000\u3000"
    "\r\nDefault format =8N1 "
    "\u3000\u3000"
    "\r\nClick \"YES\" to confirm";

// Whether the port's note has been shown since the connect.
bool noteShown = false;

// The open port's note as the window says it, once per connection; empty after that.
const char* TakePortNote() {
    static char text[512];
    const char* note = GetComNoteText(connection.comPort);
    if (noteShown || *note == '\0') {
        return "";
    }
    noteShown = true;
    std::snprintf(text, sizeof text, "COM%d is %s, %s.", connection.comPort,
                  ComPortDeviceName(connection.comPort), note);
    return text;
}

// The fixed popup of a failed connect, with the device, where its name came from, the
// system's reason and what to do beside it.
void ReportOpenFailure(int result) {
    static char text[1024];
    const int port = connection.comPort;
    const char* reason = GetComErrorText();
    // A port whose device the user named in a variable says which variable: the fix is
    // made there.
    const char* alias = ComPortAlias(port);
    int length = 0;
    const bool network = IsNetworkPortName(ComPortDeviceName(port));
    // The system's reason may end its sentence itself (Windows' do).
    const std::size_t reasonLength = std::strlen(reason);
    const char* stop = reasonLength > 0 && reason[reasonLength - 1] == '.' ? "" : ".";
    if (result == RS232_NO_DEVICE && *alias == '\0' && *ComPortDeviceName(port) == '\0') {
        length =
            std::snprintf(text, sizeof text,
                          "COM%d stands for no device: hover Port Number to see the list.", port);
    } else if (result == RS232_NO_DEVICE && *alias == '\0') {
        // A COM port that Windows does not have (every number has a name there).
        length = std::snprintf(text, sizeof text, "%s%s\nHover Port Number to see the list.",
                               reason, stop);
    } else if (result == RS232_PORT_BUSY) {
        length = std::snprintf(text, sizeof text, "%s%s\nClose that program, then press Connect.",
                               reason, stop);
    } else {
        length = std::snprintf(text, sizeof text, "%s%s", reason, stop);
    }
    if (*alias != '\0' && length > 0 && std::size_t(length) < sizeof text) {
        std::snprintf(text + length, sizeof text - std::size_t(length),
                      "\nCOM%d is the %s that %s names%s", port,
                      network ? "network port" : "device", alias,
                      result == RS232_NO_DEVICE && !network
                          ? ": set it to the module's device, or unset it to take the ports the "
                            "system lists."
                          : ".");
    }
    MessagePopupWithDetails("COM Error", kOpenErrorMessage, text);
}

}  // namespace

void ReportExchangeFailure(Exchange result, const char* details) {
    if (result == Exchange::NotConnected) {
        MessagePopup("COM error", " COM disconnect!\r\n Connect it first!!  ");
        return;
    }
    const int port = connection.comPort;
    static char text[1024];
    // The device beside the COM number, unless it is that COM port itself (on Windows).
    char device[256];
    std::snprintf(device, sizeof device, "COM%d", port);
    if (std::strcmp(device, ComPortDeviceName(port)) != 0) {
        std::snprintf(device, sizeof device, "COM%d (%s)", port, ComPortDeviceName(port));
    }
    switch (result) {
        case Exchange::NoPrompt:
            std::snprintf(text, sizeof text,
                          "No \">\" came back after the escape \"+++\" on %s at %lu "
                          "bit/s, %s.\nCheck that COM Baud Rate and the format match the "
                          "module's serial setting (factory setting 9600 bit/s, 8N1), that the "
                          "module has power, and the wiring.",
                          device, static_cast<unsigned long>(connection.comBaudRate),
                          serialFormats[connection.comFormat % kSerialFormatCount].name);
            break;
        case Exchange::DeviceGone:
            // Nothing more can go through the port; close it so that Connect works again
            // once the device is back.
            std::snprintf(text, sizeof text, "%s\nThe port is closed. %s%s%s", GetComErrorText(),
                          IsNetworkPortName(ComPortDeviceName(port))
                              ? "Press Connect once its server serves it again."
                              : "Plug the adapter back in and press Connect.",
                          details != nullptr ? "\n" : "", details != nullptr ? details : "");
            CloseModulePort();
            SetCtrlVal(panelHandle, PORT_CONN, 0);
            break;
        default:
            std::snprintf(text, sizeof text, "%s", details != nullptr ? details : "");
            break;
    }
    const char* note = TakePortNote();
    const std::size_t length = std::strlen(text);
    if (*note != '\0' && length + 1 < sizeof text) {
        std::snprintf(text + length, sizeof text - length, "%s%s", length > 0 ? "\n" : "", note);
    }
    MessagePopupWithDetails("Command Error", " Communication Error! Please Re-try ", text);
}

void ReportExchangeDone(const char* title, const char* message) {
    const char* note = TakePortNote();
    if (*note != '\0') {
        MessagePopupWithDetails(title, message, note);
    } else {
        MessagePopup(title, message);
    }
}

int PortConnCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                     int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }

    int connectRequested = 0;
    GetCtrlVal(panelHandle, COMPORT_NUM, &connection.comPort);
    GetCtrlVal(panelHandle, PORT_CONN, &connectRequested);
    GetCtrlVal(panelHandle, SERFMT, &connection.comFormat);
    GetCtrlVal(panelHandle, UART_BR, &connection.comBaudRate);

    if (connectRequested) {
        // A network port's open waits for its server, for up to a few seconds.
        SetWaitCursor(1);
        const int result = OpenModulePort("");
        SetWaitCursor(0);
        noteShown = false;
        if (result != 0) {
            ReportOpenFailure(result);
            SetCtrlVal(panelHandle, PORT_CONN, 0);
        }
    } else if (connection.connected) {
        CloseModulePort();
    }
    return 0;
}

int ComPortSelectCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                          int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }

    uint8_t pickedPort = 0;
    GetCtrlVal(panelHandle, COMPORT_NUM, &pickedPort);
    if (pickedPort == connection.comPort) {
        return 0;
    }
    // The new port is taken at the next connect; an open connection to the old one must
    // not outlive the change of choice.
    if (connection.connected) {
        CloseModulePort();
        SetCtrlVal(panelHandle, PORT_CONN, 0);
    }
    return 0;
}

int UartBrCallBack(int /*panel*/, int control, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }

    const uint32_t previousBaudRate = connection.comBaudRate;
    const uint8_t previousFormat = connection.comFormat;

    if (control == UART_BR) {
        GetCtrlVal(panelHandle, UART_BR, &connection.comBaudRate);
        if (connection.comBaudRate == previousBaudRate) {
            return 0;
        }
    } else {
        GetCtrlVal(panelHandle, SERFMT, &connection.comFormat);
        if (connection.comFormat == previousFormat) {
            return 0;
        }
    }

    // Both lists are read again at the next connect, so the list and its field must agree
    // with the settings of the port that is open, or with the ones the user agreed to.
    auto restore = [&] {
        if (control == UART_BR) {
            connection.comBaudRate = previousBaudRate;
            SetCtrlVal(panelHandle, UART_BR, previousBaudRate);
        } else {
            connection.comFormat = previousFormat;
            SetCtrlVal(panelHandle, SERFMT, previousFormat);
        }
    };

    if (connection.connected) {
        MessagePopup("COM", kEngagedMessage);
        restore();
        return 0;
    }

    // A declined change of either list is put back: leaving a format the user said no to
    // in place would open the port with it at the next connect.
    if (!ConfirmPopup("Changing Baud Rate", kConfirmChangeMessage)) {
        restore();
    }
    return 0;
}

int ShowVerCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                    int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    // The exchange blocks the window for up to several seconds.
    SetWaitCursor(1);
    char versionReply[kMaxVersionLength + 1];
    const Exchange result = QueryFirmwareVersion(parameters.productIndex, versionReply);
    SetWaitCursor(0);
    if (result == Exchange::Done) {
        ReportExchangeDone("FirmWare Verion", versionReply);
    } else {
        ReportExchangeFailure(result, result == Exchange::NoReply ? kVersionDidNotCome : nullptr);
    }
    return 0;
}
