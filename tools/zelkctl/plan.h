// Everything zelkctl checks before a port opens: the setting file, read strictly; every
// --set and file register against what the series has and offers; the counter file; the
// files it will write; the ports themselves.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tools/zelkctl/id_counter.h"
#include "tools/zelkctl/request.h"

struct PlannedValue {
    bool given = false;
    uint8_t high = 0;
    bool twoPart = false;
    uint8_t low = 0;
    bool fromSet = false;  // --set, which the series must offer; else the file's
    std::string source;    // "saved.txt line 12" or "--set S111=7", for messages
};

struct Plan {
    std::array<PlannedValue, 256> values;  // by register number
    std::string counter;                   // the counter file of a --set S121=next:FILE
    int counterRegister = 0;
    DeviceId nextId{};  // what the counter would give now
    // What "-" held: standard input can be read once, and each port's process needs it.
    std::string standardInput;
};

// Reads the request's setting file strictly and lays the --set values over it, checked
// against the series. Says every problem; returns kExitDone, kExitFile (the file or the
// counter file) or kExitUsage (a register or value the series lacks).
int MakePlan(const Request& request, Plan* plan);

// The ID length the plan gives, 1 or 2, or 0 when it gives no ID register whose form
// follows the ID length; -1, after saying so, when its ID registers disagree.
int PlannedIdBytes(const Request& request, const Plan& plan);

// Whether value may go into the register under the series with this modulation, and if
// not, what the series offers ("one of 0 (1200 bps), ..."), for a message.
bool Offered(ProductSeries series, uint8_t modulation, const RegisterRow& row, uint8_t value,
             std::string* offered);

// The ports and the files the request will write, before anything opens: the same device
// given twice (by path, symlink or COM number), two ports whose {port} file names are the
// same, and an output, trace or log file that cannot be written. Returns kExitDone,
// kExitUsage or kExitFile, after saying why.
int CheckBeforeOpening(const Request& request);

// Both: everything checked before a port opens.
int CheckRequest(const Request& request, Plan* plan);
