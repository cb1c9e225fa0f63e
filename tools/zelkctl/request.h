// A zelkctl command line as a record: what to run, where, with what. Parsing looks at the
// words alone; nothing on disk or on a port is touched, so a test can check every
// refusal without starting a process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/params/parameter_set.h"

// Exit statuses; the help text and the manual page list them for scripts.
enum ExitStatus : int {
    kExitDone = 0,
    kExitDifferent = 1,      // diff or --verify found registers that differ
    kExitUsage = 2,          // a wrong command line, or a register or value the series lacks
    kExitCannotOpen = 3,     // the port cannot be opened
    kExitNoCommandMode = 4,  // no ">" after the escape
    kExitRefused = 5,        // a set command was not acknowledged
    kExitFile = 6,           // a file cannot be read or written, or is not a setting file
    kExitDeviceGone = 7,     // the device went away during the exchange
    kExitNoReply = 8,        // a reply did not come whole, or was no answer to the command
    kExitWrongModule = 9,    // the module's register list does not fit the series
};

enum class Command : uint8_t { Ports, Version, Read, Write, Diff, Detect, Check };

struct PortChoice {
    int comPort = 0;     // 1..12; the slot a device given by path is held in
    std::string device;  // a device path given instead of a COM number; empty otherwise
    std::string label;   // how messages name the port: "COM3" or the device path
    std::string text;    // as given on the command line
};

// One --set: a register and its value, or "next:FILE" for the next ID of a counter file.
struct Assignment {
    std::string text;  // as given, for messages
    int number = 0;
    uint8_t high = 0;
    bool twoPart = false;
    uint8_t low = 0;
    std::string counter;  // the counter file of "next:FILE"; empty for a value
};

struct Request {
    Command command = Command::Ports;
    std::vector<PortChoice> ports;
    ProductSeries series{};
    uint32_t baudRate = 9600;
    uint8_t format = 0;  // index of the serial format table
    int idBytes = 0;     // 1 or 2 to say how long the IDs are; 0: as the file or module has
    std::string file;    // write, diff, check: the setting file; "-" standard input
    std::string output;  // read: the file to write instead of printing; "-" standard output
    std::string trace;
    std::string log;
    bool json = false;
    bool withVersion = false;
    bool verify = false;
    bool probe = false;
    bool quiet = false;
    bool verbose = false;
    std::vector<Assignment> assignments;
    std::vector<uint32_t> rates;   // detect: the rates to try, most likely first
    std::vector<uint8_t> formats;  // detect: the formats to try
};

// What a command line asks for.
struct CommandLine {
    enum class Kind { Run, Help, Version, Usage } kind = Kind::Usage;
    Request request;
    std::string text;  // Help: the text to print; Usage: what is wrong
};

// arguments[0] is the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The name of a command as it is typed ("read").
const char* CommandName(Command command);
// A file name for one of several ports: {port} becomes the port's short name (COM3,
// ttyUSB0).
std::string ForPort(const std::string& name, const PortChoice& port);
