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
// characters it spans, or 0 when the end of the text cuts it short.
//
// A record cut by the end is dropped whole. A register list is cut at 300 characters, so
// its last record can stop in the middle of a value ("S130=10" of "S130=100"); applying
// the digits that made it would put a wrong number in the panel without a word, while
// dropping it leaves the control as it was. A record counts as whole once each of its
// parts has ended by its own rule: three characters read, or a stop character met. Every
// text this program writes ends with ">" after a line end, so none of its records is
// ever dropped.
std::size_t ReadRecord(const TextView& view, Record* record) {
    // "S", three characters of register number taken as they come, one separator.
    for (std::size_t i = 1; i <= 4; ++i) {
        if (view.At(i) == '\0') {
            return 0;
        }
    }
    record->registerNumber = ConvertField(view.text + 1, 3);
    std::size_t position = 5;

    std::size_t highLength = FieldLength(view, position, ".\r\n");
    if (highLength < 3 && view.At(position + highLength) == '\0') {
        return 0;
    }
    record->high = ConvertField(view.text + position, highLength);
    position += highLength;

    record->hasLowPart = view.At(position) == '.';
    if (record->hasLowPart) {
        ++position;
        // A second "." does not end the low part; the conversion stops at it anyway.
        std::size_t lowLength = FieldLength(view, position, "\r\n");
        if (lowLength < 3 && view.At(position + lowLength) == '\0') {
            return 0;
        }
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
    const ParameterSet& p = parameters;
    if (p.productIndex <= 3 && p.idLength != 0) {
        std::snprintf(configText, CONFIG_TEXT_SIZE,
                      "S100=%d\r\nS101=%d\r\nS102=%d\r\nS103=%d\r\nS104=%d\r\nS105=%d\r\n"
                      "S110=%d\r\nS111=%d\r\nS112=%d\r\nS120=%d.%d\r\nS121=%d.%d\r\n"
                      "S122=%d.%d\r\nS123=%d.%d\r\nS124=%d\r\nS125=%d\r\nS126=%d\r\n"
                      "S127=%d\r\nS128=%d\r\nS129=%d\r\nS130=%d.%d\r\n>",
                      p.s100, p.s101, p.s102, p.s103, p.s104, p.s105, p.s110, p.s111, p.s112,
                      p.s120High, p.s120Low, p.s121High, p.s121Low, p.s122High, p.s122Low,
                      p.s123High, p.s123Low, p.s124, p.s125, p.s126, p.s127, p.s128, p.s129,
                      p.s130High, p.s130Low);
    } else if (p.productIndex <= 3) {
        std::snprintf(configText, CONFIG_TEXT_SIZE,
                      "S100=%d\r\nS101=%d\r\nS102=%d\r\nS103=%d\r\nS104=%d\r\nS105=%d\r\n"
                      "S110=%d\r\nS111=%d\r\nS112=%d\r\nS120=%d.%d\r\nS121=%d\r\n"
                      "S122=%d\r\nS123=%d\r\nS124=%d\r\nS125=%d\r\nS126=%d\r\n"
                      "S127=%d\r\nS128=%d\r\nS129=%d\r\nS130=%d\r\n>",
                      p.s100, p.s101, p.s102, p.s103, p.s104, p.s105, p.s110, p.s111, p.s112,
                      p.s120High, p.s120Low, p.s121High, p.s122High, p.s123High, p.s124, p.s125,
                      p.s126, p.s127, p.s128, p.s129, p.s130High);
    } else if (p.productIndex == 6) {
        // The one series with a modulation choice saves it; its IDs are always written
        // one-part, so a load of this text comes back with one-byte IDs.
        std::snprintf(configText, CONFIG_TEXT_SIZE,
                      "S100=%d\r\nS101=%d\r\nS102=%d\r\nS103=%d\r\nS104=%d\r\nS105=%d\r\n"
                      "S110=%d\r\nS111=%d\r\nS112=%d\r\nS113=%d\r\nS120=%d.%d\r\n"
                      "S121=%d\r\nS122=%d\r\nS123=%d\r\nS124=%d\r\nS125=%d\r\n"
                      "S126=%d\r\nS127=%d\r\nS128=%d\r\nS129=%d\r\nS130=%d\r\n>",
                      p.s100, p.s101, p.s102, p.s103, p.s104, p.s105, p.s110, p.s111, p.s112,
                      p.s113, p.s120High, p.s120Low, p.s121High, p.s122High, p.s123High, p.s124,
                      p.s125, p.s126, p.s127, p.s128, p.s129, p.s130High);
    } else if (p.idLength != 0) {
        // Texts of the M5 and K8 series leave out the serial character format; loading
        // one keeps the format the panel shows.
        std::snprintf(configText, CONFIG_TEXT_SIZE,
                      "S100=%d\r\nS101=%d\r\nS102=%d\r\nS103=%d\r\nS104=%d\r\n"
                      "S110=%d\r\nS111=%d\r\nS112=%d\r\nS120=%d.%d\r\nS121=%d.%d\r\n"
                      "S122=%d.%d\r\nS123=%d.%d\r\nS124=%d\r\nS125=%d\r\nS126=%d\r\n"
                      "S127=%d\r\nS128=%d\r\nS129=%d\r\nS130=%d.%d\r\n>",
                      p.s100, p.s101, p.s102, p.s103, p.s104, p.s110, p.s111, p.s112, p.s120High,
                      p.s120Low, p.s121High, p.s121Low, p.s122High, p.s122Low, p.s123High,
                      p.s123Low, p.s124, p.s125, p.s126, p.s127, p.s128, p.s129, p.s130High,
                      p.s130Low);
    } else {
        std::snprintf(configText, CONFIG_TEXT_SIZE,
                      "S100=%d\r\nS101=%d\r\nS102=%d\r\nS103=%d\r\nS104=%d\r\n"
                      "S110=%d\r\nS111=%d\r\nS112=%d\r\nS120=%d.%d\r\nS121=%d\r\n"
                      "S122=%d\r\nS123=%d\r\nS124=%d\r\nS125=%d\r\nS126=%d\r\n"
                      "S127=%d\r\nS128=%d\r\nS129=%d\r\nS130=%d\r\n>",
                      p.s100, p.s101, p.s102, p.s103, p.s104, p.s110, p.s111, p.s112, p.s120High,
                      p.s120Low, p.s121High, p.s122High, p.s123High, p.s124, p.s125, p.s126, p.s127,
                      p.s128, p.s129, p.s130High);
    }
}
