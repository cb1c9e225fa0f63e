// The configuration text: the shared text buffer of reads, saves and loads, the scanner of
// register records, and the text a save writes. No panel here: the scanner hands every
// record to its caller, which puts it where it belongs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/params/parameter_set.h"

constexpr std::size_t CONFIG_TEXT_SIZE = 1028;
extern char configText[CONFIG_TEXT_SIZE];

// What one record of a register of the set gives, as the panel takes it.
struct AppliedRecord {
    const RegisterRow* row;
    uint8_t high;
    // Whether the low part is taken: always for the network ID, for the other IDs only
    // once S121 has come with a low part earlier in the same text.
    bool setsLow;
    uint8_t low;
};

using RecordSink = void (*)(void* context, const AppliedRecord& record);

// Scans the first length characters of text and calls sink for every record of a register
// of the set, in text order. Returns whether S121 came with a low part, which is what the
// ID length of the text is taken from.
bool ScanConfigText(const char* text, std::size_t length, RecordSink sink, void* context);

// How much of a text cut at its size limit to keep: all of it, or up to the start of its
// last record when the cut runs into that record (its value, or its name, is not whole).
std::size_t WholeRecordsLength(const char* text, std::size_t length);

// The value (high part) that the last whole record of the register gives, as the scan
// would set it; false when the text has no such record.
bool FindRegisterValue(const char* text, std::size_t length, int registerNumber, uint8_t* value);

// Writes the configuration text of the set, in the layout of its series and ID length,
// into text with a terminating zero. Returns its length (at most 221 characters).
std::size_t FormatConfigText(const ParameterSet& set, char* text, std::size_t size);
