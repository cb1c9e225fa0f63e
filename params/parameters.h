// The module's configuration registers as the program holds them, and their textual forms.
#pragma once

#include <cstddef>
#include <cstdint>

struct ParameterSet {
    uint8_t productIndex;
    uint8_t idLength;
    uint8_t s100, s101, s102, s103, s104, s105;
    uint8_t s110, s111, s112, s113;
    uint8_t s120High, s120Low, s121High, s121Low, s122High, s122Low, s123High, s123Low;
    uint8_t s124, s125, s126, s127, s128, s129;
    uint8_t s130High, s130Low;
};

// The one record, alive for the whole run.
extern ParameterSet parameters;

// Reads the panel's register controls into parameters.
void GatherParameters();

// Textual forms. Each returns the length written (without the terminating zero), or -1
// when it does not fit in size bytes; out always ends with a zero when size > 0.
// Set command: "ATSnnn=<value>\n" or, two-part, "ATSnnn=<high>.<low>\n".
int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t value);
int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t high, uint8_t low);
// Register record: "Snnn=<value>" or "Snnn=<high>.<low>", without a line end.
int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t value);
int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t high,
                         uint8_t low);
