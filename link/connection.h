// The serial port connection to the module.
#pragma once

#include <cstdint>

struct ConnectionState {
    uint8_t comPort;       // 1..12, taken from COMPORT_NUM at connect; 0 before the first
    bool connected;        // true while the port is open
    uint32_t comBaudRate;  // one of the UART_BR values
    uint8_t comFormat;     // SERFMT value, index into the serial format table
};

extern ConnectionState connection;

struct SerialFormat {
    int parity;
    int dataBits;
    int stopBits;
};
// Indexed by the SERFMT value 0..7.
extern const SerialFormat serialFormats[8];

int PortConnCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int ComPortSelectCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int UartBrCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
