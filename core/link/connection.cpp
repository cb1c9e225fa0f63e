#include "core/link/connection.h"

#include "runtime/serial/serial_ports.h"

ConnectionState connection = {0, false, 9600, 0};

const SerialFormat serialFormats[kSerialFormatCount] = {
    {"8N1", RS232_PARITY_NONE, 8, 1}, {"8O1", RS232_PARITY_ODD, 8, 1},
    {"8E1", RS232_PARITY_EVEN, 8, 1}, {"8N2", RS232_PARITY_NONE, 8, 2},
    {"7N1", RS232_PARITY_NONE, 7, 1}, {"7O1", RS232_PARITY_ODD, 7, 1},
    {"7E1", RS232_PARITY_EVEN, 7, 1}, {"7N2", RS232_PARITY_NONE, 7, 2},
};

namespace {

constexpr int kQueueSize = 512;

}  // namespace

int OpenModulePort(const char* deviceName) {
    connection.connected = false;
    // The format list only offers the eight table entries; anything else can only come
    // from a damaged panel file and must not index past the table.
    if (connection.comFormat >= kSerialFormatCount) {
        return RS232_BAD_SETTINGS;
    }
    const SerialFormat& format = serialFormats[connection.comFormat];
    const int result =
        OpenComConfig(connection.comPort, deviceName, static_cast<long>(connection.comBaudRate),
                      format.parity, format.dataBits, format.stopBits, kQueueSize, kQueueSize);
    if (result != 0) {
        return result;
    }
    FlushOutQ(connection.comPort);
    FlushInQ(connection.comPort);
    connection.connected = true;
    return 0;
}

void CloseModulePort() {
    FlushOutQ(connection.comPort);
    FlushInQ(connection.comPort);
    CloseCom(connection.comPort);
    connection.connected = false;
}
