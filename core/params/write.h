// Writing the register set into the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "core/link/command_mode.h"

// What a write got done: the registers the module acknowledged, in sending order, and the
// one it did not (0 when every command was acknowledged or none was sent) with how the
// module answered that one.
struct WriteReport {
    int written[std::size(kRegisterTable)];
    int writtenCount;
    int failedRegister;
    Answer failedAnswer;
    char failedCommand[32];  // the command not acknowledged, as sent
};

// Whether the write sequence of the series sends the register, and whether it sends it
// in two-part form for the set's series and ID length.
bool WriteSends(ProductSeries series, int registerNumber);
// The registers the write sequence of the series sends, in sending order; returns how many.
int WriteOrder(ProductSeries series, int (&numbers)[std::size(kRegisterTable)]);
bool WriteSendsTwoParts(const ParameterSet& set, const RegisterRow& row);

// Enters command mode and sends one set command per register of the write sequence, each
// acknowledged before the next, then leaves command mode. A stop requested on the way ends
// it after the command on the wire has been answered (Stopped). modulation is the S113 value the
// M5 is sent. Done only when the last command was acknowledged.
Exchange WriteParameters(const ParameterSet& set, uint8_t modulation, WriteReport* report);

// What a write that stopped got done, for the user: the command not acknowledged and how
// the module answered it, and the registers it had already taken, since the module now
// holds new values for those and old ones for the rest. Several lines, no line end last.
void DescribeWriteFailure(const WriteReport& report, char* text, std::size_t size);
