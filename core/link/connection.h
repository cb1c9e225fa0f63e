// The serial port connection to the module: which port, at which rate and format, and
// whether it is open.
#pragma once

#include <cstdint>

struct ConnectionState {
    uint8_t comPort;       // 1..12, taken from COMPORT_NUM at connect; 0 before the first
    bool connected;        // true while the port is open
    uint32_t comBaudRate;  // one of the UART_BR values
    uint8_t comFormat;     // SERFMT value, index into the serial format table
};

extern ConnectionState connection;

// The baud rates the port can be opened at, as the COM Baud Rate list offers them.
inline constexpr uint32_t kComBaudRates[] = {300,  600,   1200,  2400,  4800,
                                             9600, 19200, 38400, 57600, 115200};

struct SerialFormat {
    const char* name;  // "8N1", as the format list shows it
    int parity;
    int dataBits;
    int stopBits;
};
// Indexed by the SERFMT value 0..7.
constexpr int kSerialFormatCount = 8;
extern const SerialFormat serialFormats[kSerialFormatCount];

// Opens connection.comPort at connection's baud rate and format, on deviceName or, when
// it is empty, on the device the port number stands for; discards anything waiting and
// sets connected. Returns 0, or the serial runtime's error (connected stays false).
int OpenModulePort(const char* deviceName);
// Discards waiting output and input, closes the port and clears connected.
void CloseModulePort();
