#include "params/config_text.h"

#include <cstdint>
#include <cstdio>

#include "app/app.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "runtime/userint.h"
#include "ui/panel_ids.h"

char configText[CONFIG_TEXT_SIZE];

namespace {

// Decimal conversion of one field of a record, the way the module's firmware and every
// hand-made file expect it: leading white space, an optional sign, then digits up to the
// first other character; no digits gives 0. The result is cut to the register's 8 bits,
// so "300" gives 44 and "-1" gives 255.
uint8_t ConvertField(const char* field, std::size_t length) {
    std::size_t position = 0;
    while (position < length &&
           (field[position] == ' ' || field[position] == '\t' || field[position] == '\n' ||
            field[position] == '\v' || field[position] == '\f' || field[position] == '\r')) {
        ++position;
    }
    bool negative = false;
    if (position < length && (field[position] == '+' || field[position] == '-')) {
        negative = field[position] == '-';
        ++position;
    }
    int value = 0;
    while (position < length && field[position] >= '0' && field[position] <= '9') {
        value = value * 10 + (field[position] - '0');
        ++position;
    }
    // A field has at most three characters, so the value is far from overflowing.
    return static_cast<uint8_t>(negative ? -value : value);
}

// The text from one position on, bounded by the buffer's end as well as by its
// terminating zero, so that even a buffer without a zero is never read past.
struct TextView {
    const char* text;
    std::size_t available;

    char At(std::size_t index) const { return index < available ? text[index] : '\0'; }
};

// Length of a value field starting at start: at most three characters, ending early
// before any of the stop characters or the end of the text.
std::size_t FieldLength(const TextView& view, std::size_t start, const char* stopCharacters) {
    std::size_t length = 0;
    while (length < 3) {
        char c = view.At(start + length);
        if (c == '\0') {
            break;
        }
        bool stop = false;
        for (const char* s = stopCharacters; *s != '\0'; ++s) {
            stop = stop || c == *s;
        }
        if (stop) {
            break;
        }
        ++length;
    }
    return length;
}

struct Record {
    uint8_t registerNumber;
    uint8_t high;
    bool hasLowPart;
    uint8_t low;
};

// Reads the record whose "S" is the first character of view. Returns the number of
// characters it spans, or 0 when the end of the text comes before its register number and
// separator are whole.
//
// A value that runs into the end of the text ends there: a hand-made file whose last line
// has no line end still loads whole. A register list cut at 300 characters can stop in the
// middle of its last value; the read drops that unfinished line before the scan.
std::size_t ReadRecord(const TextView& view, Record* record) {
    // "S", three characters of register number taken as they come, one separator.
    for (std::size_t i = 1; i <= 4; ++i) {
        if (view.At(i) == '\0') {
            return 0;
        }
    }
    record->registerNumber = ConvertField(view.text + 1, 3);
    std::size_t position = 5;

    const std::size_t highLength = FieldLength(view, position, ".\r\n");
    record->high = ConvertField(view.text + position, highLength);
    position += highLength;

    record->hasLowPart = view.At(position) == '.';
    if (record->hasLowPart) {
        ++position;
        // A second "." does not end the low part; the conversion stops at it anyway.
        const std::size_t lowLength = FieldLength(view, position, "\r\n");
        record->low = ConvertField(view.text + position, lowLength);
        position += lowLength;
    }
    return position;
}

void ApplyRecord(const Record& record, uint8_t lowPartValue, bool twoByteIdsSeen) {
    // Registers with a single value, by register number.
    struct SingleControl {
        uint8_t registerNumber;
        int control;
    };
    static const SingleControl singleControls[] = {
        {100, S100}, {101, S101}, {102, S102}, {103, S103}, {104, S104}, {105, S105},
        {110, S110}, {111, S111}, {112, S112}, {113, S113}, {124, S124}, {125, S125},
        {126, S126}, {127, S127}, {128, S128}, {129, S129},
    };
    for (const SingleControl& entry : singleControls) {
        if (entry.registerNumber == record.registerNumber) {
            SetCtrlVal(panelHandle, entry.control, record.high);
            return;
        }
    }

    // ID registers. The network ID always has two parts; the others only while the list
    // carries two-byte IDs, which the form of S121 tells.
    struct IdControls {
        uint8_t registerNumber;
        int high;
        int low;
        bool lowAlways;
    };
    static const IdControls idControls[] = {
        {120, S120_H, S120_L, true},  {121, S121_H, S121_L, false}, {122, S122_H, S122_L, false},
        {123, S123_H, S123_L, false}, {130, S130_H, S130_L, false},
    };
    for (const IdControls& entry : idControls) {
        if (entry.registerNumber == record.registerNumber) {
            SetCtrlVal(panelHandle, entry.high, record.high);
            if (entry.lowAlways || twoByteIdsSeen) {
                SetCtrlVal(panelHandle, entry.low, lowPartValue);
            }
            return;
        }
    }
    // Any other register (S106, S115, S116, ...) is not part of the set.
}

}  // namespace

namespace {

// Calls visit(record) for every whole record of configText, in order.
template <typename Visit>
void ScanRecords(Visit visit) {
    std::size_t position = 0;
    while (position < CONFIG_TEXT_SIZE && configText[position] != '\0') {
        if (configText[position] != 'S') {
            ++position;
            continue;
        }
        Record record{};
        std::size_t length =
            ReadRecord(TextView{configText + position, CONFIG_TEXT_SIZE - position}, &record);
        if (length == 0) {
            break;
        }
        visit(record);
        position += length;
    }
}

}  // namespace

void ParseConfigText() {
    bool twoByteIdsSeen = false;
    // One low part for the whole scan: a record without one leaves it as it was, so a
    // one-part S120 record takes the low part read last in the text, or 0.
    uint8_t lowPartValue = 0;

    ScanRecords([&](const Record& record) {
        if (record.hasLowPart) {
            lowPartValue = record.low;
            if (record.registerNumber == 121) {
                twoByteIdsSeen = true;
            }
        }
        ApplyRecord(record, lowPartValue, twoByteIdsSeen);
    });

    SetCtrlVal(panelHandle, ID_LEN, twoByteIdsSeen ? 1 : 0);
    ApplyControlRules();
}

bool FindRegisterValue(int registerNumber, uint8_t* value) {
    bool found = false;
    ScanRecords([&](const Record& record) {
        if (record.registerNumber == static_cast<uint8_t>(registerNumber)) {
            *value = record.high;
            found = true;
        }
    });
    return found;
}

void FormatConfigText() {
    using Field = uint8_t ParameterSet::*;
    struct Line {
        int registerNumber;
        Field high;
        Field low;  // the ID registers' low parts
    };
    // Every register a text can hold, in the order texts list them.
    static const Line lines[] = {
        {100, &ParameterSet::s100, nullptr},
        {101, &ParameterSet::s101, nullptr},
        {102, &ParameterSet::s102, nullptr},
        {103, &ParameterSet::s103, nullptr},
        {104, &ParameterSet::s104, nullptr},
        {105, &ParameterSet::s105, nullptr},
        {110, &ParameterSet::s110, nullptr},
        {111, &ParameterSet::s111, nullptr},
        {112, &ParameterSet::s112, nullptr},
        {113, &ParameterSet::s113, nullptr},
        {120, &ParameterSet::s120High, &ParameterSet::s120Low},
        {121, &ParameterSet::s121High, &ParameterSet::s121Low},
        {122, &ParameterSet::s122High, &ParameterSet::s122Low},
        {123, &ParameterSet::s123High, &ParameterSet::s123Low},
        {124, &ParameterSet::s124, nullptr},
        {125, &ParameterSet::s125, nullptr},
        {126, &ParameterSet::s126, nullptr},
        {127, &ParameterSet::s127, nullptr},
        {128, &ParameterSet::s128, nullptr},
        {129, &ParameterSet::s129, nullptr},
        {130, &ParameterSet::s130High, &ParameterSet::s130Low},
    };
    const ParameterSet& p = parameters;
    const bool tSeries = p.productIndex <= 3;
    const bool r3 = p.productIndex == 6;

    std::size_t length = 0;
    for (const Line& line : lines) {
        // Texts of the M5 and K8 series leave out the serial character format (loading one
        // keeps the format the panel shows); only the R3 saves its modulation.
        if ((line.registerNumber == 105 && !tSeries && !r3) ||
            (line.registerNumber == 113 && !r3)) {
            continue;
        }
        // The network ID always has both parts. The R3 writes the other IDs one-part, so a
        // load of its text comes back with one-byte IDs.
        const bool twoPart =
            line.low != nullptr && (line.registerNumber == 120 || (p.idLength != 0 && !r3));
        char record[16];
        const int written =
            twoPart
                ? FormatRegisterRecord(record, sizeof record, line.registerNumber, p.*line.high,
                                       p.*line.low)
                : FormatRegisterRecord(record, sizeof record, line.registerNumber, p.*line.high);
        // At most 21 records of 12 characters: far below the buffer's size.
        length += static_cast<std::size_t>(std::snprintf(
            configText + length, CONFIG_TEXT_SIZE - length, "%.*s\r\n", written, record));
    }
    std::snprintf(configText + length, CONFIG_TEXT_SIZE - length, ">");
}
