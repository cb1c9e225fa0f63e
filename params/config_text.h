// The shared text buffer of reads, saves and loads, and the scanner of register records.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t CONFIG_TEXT_SIZE = 1028;
extern char configText[CONFIG_TEXT_SIZE];

// Scans configText up to its terminating zero and sets the register controls, then ID_LEN,
// then runs the control rules.
void ParseConfigText();
// The value (high part) that the last whole record of the register in configText gives,
// as the scan would set it; false when the text has no such record.
bool FindRegisterValue(int registerNumber, uint8_t* value);
// Writes the configuration text of parameters into configText, in the layout of the
// product series and ID length.
void FormatConfigText();
