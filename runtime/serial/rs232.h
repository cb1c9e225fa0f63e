// Serial port operations. Ports are numbered 1 (COM1) to 12 (COM12).
//
// Results: 0 or a count/byte on success, a negative Rs232Error on failure.
#pragma once

enum Rs232Error {
    RS232_NO_ERROR = 0,
    RS232_BAD_PORT = -1,      // port number outside 1..12
    RS232_NOT_OPEN = -2,      // the port is not open
    RS232_ALREADY_OPEN = -3,  // OpenComConfig on a port this program already holds
    RS232_NO_DEVICE = -4,     // no device stands for that port number
    RS232_OPEN_FAILED = -5,   // the device exists but could not be opened or configured
    RS232_BAD_SETTINGS = -6,  // baud rate, parity, data or stop bits not supported
    RS232_WRITE_FAILED = -7,
    RS232_NOTHING_WAITING = -8,    // ComRdByte with an empty input queue
    RS232_PERMISSION_DENIED = -9,  // this user may not open the device
    RS232_PORT_BUSY = -10,         // another program holds the device
    RS232_DEVICE_GONE = -11,       // the open device went away: unplugged or hung up
};

// Parity codes.
constexpr int RS232_PARITY_NONE = 0;
constexpr int RS232_PARITY_ODD = 1;
constexpr int RS232_PARITY_EVEN = 2;

// Opens and configures the port. An empty deviceName takes the device that the port
// number stands for (see ComPortDeviceName). Returns 0 when the port is ready.
int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
// Queues the bytes and pushes them towards the wire before returning: the module tells
// an escape from data only by the silence around each byte. Returns the count written.
int ComWrt(int port, const char* buffer, int count);
// Every operation on a port whose device has gone returns RS232_DEVICE_GONE until the port
// is closed.
// Sends the low 8 bits of byte the same way; returns 1 or a negative Rs232Error.
int ComWrtByte(int port, int byte);
// The next received byte (0..255); RS232_NOTHING_WAITING when none is waiting.
int ComRdByte(int port);
// Bytes received by now and not yet read.
int GetInQLen(int port);
int FlushInQ(int port);
int FlushOutQ(int port);

// Why the last OpenComConfig failed, or why the last operation on an open port found its
// device gone: one line that names the device and gives the system's reason. Empty when
// nothing has failed since the last good open.
const char* GetComErrorText();

// What device a port number stands for on this machine (for an open port, the device it
// was opened on), and a one-line-per-port summary of the whole mapping (for the port
// list's tooltip).
const char* ComPortDeviceName(int port);
const char* DescribeComPorts();
