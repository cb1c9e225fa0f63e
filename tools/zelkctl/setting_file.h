// The strict reader of setting files. The window loads a setting file leniently because a
// person sees every value before it is written; on a production line nobody looks, so
// zelkctl takes a file only when every line of it is exactly a record, and says what is
// wrong with each line that is not. Which registers and values a series offers is checked
// elsewhere, with the series' profile; here only what holds for every series.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SettingRecord {
    int line;    // 1-based line of the file
    int number;  // the register, 100..130, always a row of kRegisterTable
    uint8_t high;
    bool twoPart;  // written as high.low
    uint8_t low;   // 0 when one part
};

struct SettingFile {
    // The well-formed records, in file order; also those of a file with errors elsewhere.
    std::vector<SettingRecord> records;
    // What is wrong, each as {line (0 for the whole file), text}, in line order; empty when
    // the file is good. The text names neither the file nor the line: the caller says both.
    std::vector<std::pair<int, std::string>> errors;
};

// At most this many errors are listed; one more entry says how many were left out.
constexpr std::size_t kSettingFileErrorLimit = 20;

// Parses a setting file's bytes strictly; never reads past them.
//
// A record is "Snnn=value" or, for an ID register, "Snnn=high.low", alone on its line:
// capital S, three digits naming a register of the set, "=", and decimal numbers 0 to 255
// without sign, spaces or leading zeros. Lines end with CRLF or LF (the last one may have
// none); blank lines may hold spaces and tabs. A ">" alone on the last line, with or
// without a line end, closes the file as the window writes it.
SettingFile ParseSettingFile(const std::string& bytes);
