// The shared text buffer of reads, saves and loads, and the scanner of register records.
#pragma once

#include <cstddef>

constexpr std::size_t CONFIG_TEXT_SIZE = 1028;
extern char configText[CONFIG_TEXT_SIZE];

// Scans configText up to its terminating zero and sets the register controls, then ID_LEN,
// then runs the control rules.
void ParseConfigText();
// Writes the configuration text of parameters into configText, in the layout of the
// product series and ID length.
void FormatConfigText();
