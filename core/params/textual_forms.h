// How a register value is spelled on the wire and in texts.
#pragma once

#include <cstddef>
#include <cstdint>

// Each returns the length written (without the terminating zero), or -1 when it does not
// fit in size bytes; out always ends with a zero when size > 0.
// Set command: "ATSnnn=<value>\n" or, two-part, "ATSnnn=<high>.<low>\n".
int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t value);
int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t high, uint8_t low);
// Register record: "Snnn=<value>" or "Snnn=<high>.<low>", without a line end.
int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t value);
int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t high,
                         uint8_t low);
