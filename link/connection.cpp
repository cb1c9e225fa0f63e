#include "link/connection.h"

#include "app/app.h"
#include "runtime/rs232.h"
#include "runtime/userint.h"
#include "ui/panel_ids.h"

ConnectionState connection = {0, false, 9600, 0};

const SerialFormat serialFormats[8] = {
    {PARITY_NONE, 8, 1},  // 8N1
    {PARITY_ODD, 8, 1},   // 8O1
    {PARITY_EVEN, 8, 1},  // 8E1
    {PARITY_NONE, 8, 2},  // 8N2
    {PARITY_NONE, 7, 1},  // 7N1
    {PARITY_ODD, 7, 1},   // 7O1
    {PARITY_EVEN, 7, 1},  // 7E1
    {PARITY_NONE, 7, 2},  // 7N2
};

namespace {

constexpr int kQueueSize = 512;

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

void ClosePort() {
    FlushOutQ(connection.comPort);
    FlushInQ(connection.comPort);
    CloseCom(connection.comPort);
}

}  // namespace

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
        // The format list only offers the eight table entries; anything else can only come
        // from a damaged panel file and must not index past the table.
        int result = RS232_BAD_SETTINGS;
        if (connection.comFormat < sizeof serialFormats / sizeof serialFormats[0]) {
            const SerialFormat& format = serialFormats[connection.comFormat];
            result = OpenComConfig(connection.comPort, "",
                                   static_cast<long>(connection.comBaudRate), format.parity,
                                   format.dataBits, format.stopBits, kQueueSize, kQueueSize);
        }
        if (result == 0) {
            FlushOutQ(connection.comPort);
            FlushInQ(connection.comPort);
            connection.connected = true;
        } else {
            MessagePopup("COM Error", kOpenErrorMessage);
            connection.connected = false;
            SetCtrlVal(panelHandle, PORT_CONN, 0);
        }
    } else {
        if (connection.connected) {
            ClosePort();
        }
        connection.connected = false;
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
        ClosePort();
        connection.connected = false;
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
