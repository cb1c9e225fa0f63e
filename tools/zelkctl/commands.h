// The commands of zelkctl on one port, over the same exchanges as the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/params/parameter_set.h"

// Exit statuses; the help text lists them for scripts.
enum ExitStatus {
    kExitDone = 0,
    kExitDifferent = 1,      // diff or --verify found registers that differ
    kExitUsage = 2,          // a wrong command line, or a value the series does not offer
    kExitCannotOpen = 3,     // the port cannot be opened
    kExitNoCommandMode = 4,  // no ">" after the escape
    kExitRefused = 5,        // a set command was not acknowledged
    kExitFile = 6,           // a file cannot be read or written
    kExitDeviceGone = 7,     // the device went away during the exchange
    kExitNoReply = 8,        // a reply did not come whole
};

struct PortChoice {
    int comPort = 0;     // 1..12
    std::string device;  // a device path given instead of a COM number; empty otherwise
    std::string label;   // how messages name the port: "COM3" or the device path
};

struct Request {
    std::string command;  // version, read, write, diff, detect
    PortChoice port;
    uint32_t baudRate = 9600;
    uint8_t format = 0;  // index of the serial format table
    ProductSeries series{};
    int idBytes = 0;           // 1 or 2 to say how long the IDs are; 0: as the file or module has
    std::string file;          // write, diff
    std::string output;        // read: the file to write instead of printing
    bool json = false;         // read: JSON instead of the setting file's text
    bool withVersion = false;  // read: the firmware version too
    std::vector<std::string> assignments;  // write: "S110=5"
    bool verify = false;                   // write: read back and compare
    std::vector<uint32_t> rates;           // detect: the rates to try, most likely first
    std::vector<uint8_t> formats;          // detect: the formats to try
};

// Runs a command on the request's port; returns the exit status. Results go to stdout,
// failures to stderr as one line each.
int RunPortCommand(const Request& request);
// Lists the serial ports; returns the exit status.
int ListPorts(bool json);
