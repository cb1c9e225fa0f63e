// Serial port operations. Ports are numbered 1 (COM1) to 12 (COM12).
//
// Results: 0 or a count/byte on success, a negative Rs232Error on failure.
#pragma once

#include <string>
#include <vector>

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
    RS232_BAD_NAME = -12,          // a network port's name that is no rfc2217:// or socket:// URL
    RS232_SERVER_FAILED = -13,     // a network port's server did not serve the port as asked
};

// Parity codes.
constexpr int RS232_PARITY_NONE = 0;
constexpr int RS232_PARITY_ODD = 1;
constexpr int RS232_PARITY_EVEN = 2;

// A device name may name a network port: "rfc2217://HOST:PORT" is a serial port served over
// TCP with RFC 2217, whose rate and format are set as on a local port; "socket://HOST:PORT"
// carries the bytes unchanged, and the server's own line settings hold. HOST is a name, an
// IPv4 address or an IPv6 address in brackets.
struct NetworkPortName {
    bool rfc2217 = false;  // else raw TCP
    std::string host;      // an IPv6 address without its brackets
    int port = 0;
};
// Whether the name is meant as a network port's ("://" in it), well-formed or not.
bool IsNetworkPortName(const std::string& name);
// Reads a network port's name; false when it is malformed, with what is wrong in *problem.
bool ParseNetworkPortName(const std::string& name, NetworkPortName* parsed, std::string* problem);
// The addresses a network port's name stands for, as "ADDRESS port N" ("127.0.0.1 port
// 4001"), so that two spellings of one port can be told apart; its host as written when it
// cannot be resolved within a few seconds; none when the name is malformed.
std::vector<std::string> NetworkPortAddresses(const std::string& name);

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
// Returns once every byte written has left the port, so that a flush of the output that
// follows cannot discard the end of the last command.
int ComDrainOutQ(int port);

// What the program should know of an open port although nothing failed, as one line to put
// after the port's name: that it is a raw TCP port, which could not take the rate and format
// asked for. Empty for most ports.
const char* GetComNoteText(int port);

// Why the last OpenComConfig failed, or why the last operation on an open port found its
// device gone: one line that names the device and gives the system's reason. Empty when
// nothing has failed since the last good open.
const char* GetComErrorText();

// The wire trace: every byte sent, read or discarded on any port, with its instant in
// milliseconds since the trace began and the step of the exchange it belongs to, as text a
// person can read (and send along when asking for help). ComTraceTo starts writing it to
// the file at path (replacing it) and returns 0, or -1 when the file cannot be written; an
// empty path ends it. ComTraceStep names the step of the bytes that follow ("escape",
// "AT/L", "ATS110="); it costs nothing while no trace is written.
int ComTraceTo(const char* path);
void ComTraceStep(const char* step);
// Calls listener with every step ComTraceStep names, whether or not a trace is written
// (the command line's -v); nullptr ends it.
void ComStepListener(void (*listener)(const char* step));

// What device a port number stands for on this machine (for an open port, the device it
// was opened on), and a one-line-per-port summary of the whole mapping (for the port
// list's tooltip).
const char* ComPortDeviceName(int port);
const char* DescribeComPorts();
// The environment variable that names the device of a port ("ZELK_COM2"), so that a failure
// can say where the device's name came from; empty when the port's device is the system's
// own. On Windows the variable names a COM port, often one above 12: "ZELK_COM1=COM17".
const char* ComPortAlias(int port);

// A serial port of this machine, as the port map numbers it.
struct ComPortEntry {
    int port = 0;              // COM number 1..12; 0 for a port the map does not reach
    std::string device;        // what is opened: "/dev/ttyUSB0", "COM3"
    std::string alias;         // "ZELK_COM1" when that variable names the device
    std::string description;   // "FT232R USB UART"; empty when the system has none
    std::string manufacturer;  // empty when unknown
    std::string serialNumber;  // empty when unknown
    int vendorId = -1;         // USB vendor and product ID; -1 when unknown
    int productId = -1;
    // Only when probed: 0 when this user can open it now (it is opened and closed to see),
    // else why not: RS232_NO_DEVICE, RS232_PERMISSION_DENIED, RS232_PORT_BUSY or
    // RS232_OPEN_FAILED, with the reason and what to do in problem.
    int access = 0;
    std::string problem;
};
// COM1 to COM12 where they stand for a device, then the system's other serial ports. With
// probe, each is opened and closed to tell whether it can be; opening toggles the modem
// lines, which resets some boards, so only when asked.
std::vector<ComPortEntry> ListComPorts(bool probe);
