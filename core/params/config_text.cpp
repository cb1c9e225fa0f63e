#include "core/params/config_text.h"

#include <algorithm>
#include <cstdio>

#include "core/params/textual_forms.h"
#include "core/product/series.h"

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

constexpr int kEndOfText = -1;

// The text from one position on, bounded by its length and nothing else: a zero byte in
// the text is a character like any other, and the end is never read past.
struct TextView {
    const char* text;
    std::size_t available;

    int At(std::size_t index) const {
        return index < available ? static_cast<unsigned char>(text[index]) : kEndOfText;
    }
};

// Length of a value field starting at start: at most three characters, ending early
// before any of the stop characters or the end of the text.
std::size_t FieldLength(const TextView& view, std::size_t start, const char* stopCharacters) {
    std::size_t length = 0;
    while (length < 3) {
        const int c = view.At(start + length);
        if (c == kEndOfText) {
            break;
        }
        bool stop = false;
        for (const char* s = stopCharacters; *s != '\0'; ++s) {
            stop = stop || c == static_cast<unsigned char>(*s);
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
// has no line end still loads whole.
std::size_t ReadRecord(const TextView& view, Record* record) {
    // "S", three characters of register number taken as they come, one separator.
    if (view.available < 5) {
        return 0;
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

// Calls visit(record, start, end) for every whole record of the text, in order, with the
// positions of its "S" and just past its value. Returns where the scan stopped: the end of
// the text, or the start of a record whose name the end cuts.
template <typename Visit>
std::size_t ScanRecords(const char* text, std::size_t length, Visit visit) {
    std::size_t position = 0;
    while (position < length) {
        if (text[position] != 'S') {
            ++position;
            continue;
        }
        Record record{};
        const std::size_t span = ReadRecord(TextView{text + position, length - position}, &record);
        if (span == 0) {
            return position;
        }
        visit(record, position, position + span);
        position += span;
    }
    return length;
}

}  // namespace

bool ScanConfigText(const char* text, std::size_t length, RecordSink sink, void* context) {
    bool twoByteIdsSeen = false;
    // One low part for the whole scan: a record without one leaves it as it was, so a
    // one-part S120 record takes the low part read last in the text, or 0.
    uint8_t lowPartValue = 0;

    ScanRecords(text, length, [&](const Record& record, std::size_t, std::size_t) {
        if (record.hasLowPart) {
            lowPartValue = record.low;
            if (record.registerNumber == 121) {
                twoByteIdsSeen = true;
            }
        }
        // Any other register (S106, S115, S116, ...) is not part of the set.
        const RegisterRow* row = FindRegister(record.registerNumber);
        if (row == nullptr) {
            return;
        }
        const bool setsLow = row->idForm == IdForm::AlwaysTwoPart ||
                             (row->idForm == IdForm::FollowsIdLength && twoByteIdsSeen);
        sink(context, AppliedRecord{row, record.high, setsLow, lowPartValue});
    });
    return twoByteIdsSeen;
}

std::size_t WholeRecordsLength(const char* text, std::size_t length) {
    std::size_t whole = length;
    const std::size_t stopped =
        ScanRecords(text, length, [&](const Record&, std::size_t start, std::size_t end) {
            if (end >= length) {
                whole = start;  // the value runs into the end: it may be cut
            }
        });
    return std::min(stopped, whole);
}

bool FindRegisterValue(const char* text, std::size_t length, int registerNumber, uint8_t* value) {
    bool found = false;
    ScanRecords(text, length, [&](const Record& record, std::size_t, std::size_t) {
        if (record.registerNumber == static_cast<uint8_t>(registerNumber)) {
            *value = record.high;
            found = true;
        }
    });
    return found;
}

std::size_t FormatConfigText(const ParameterSet& set, char* text, std::size_t size) {
    const SeriesProfile& profile = ProfileOf(set.productIndex);
    std::size_t length = 0;
    text[0] = '\0';
    for (const RegisterRow& row : kRegisterTable) {
        // A register the text leaves out keeps what the panel shows when the text is loaded.
        if (profile.unsaved.Contains(row.number)) {
            continue;
        }
        // The network ID always has both parts.
        const bool twoPart =
            row.idForm == IdForm::AlwaysTwoPart ||
            (row.idForm == IdForm::FollowsIdLength && set.idLength != 0 && profile.savesTwoPartIds);
        char record[16];
        const int written =
            twoPart ? FormatRegisterRecord(record, sizeof record, row.number, set.*row.high,
                                           set.*row.low)
                    : FormatRegisterRecord(record, sizeof record, row.number, set.*row.high);
        const int added = std::snprintf(text + length, size - length, "%.*s\r\n", written, record);
        if (added < 0 || static_cast<std::size_t>(added) >= size - length) {
            return length;  // a buffer this small holds no whole text; callers give 1028
        }
        length += static_cast<std::size_t>(added);
    }
    const int added = std::snprintf(text + length, size - length, ">");
    if (added > 0 && static_cast<std::size_t>(added) < size - length) {
        length += static_cast<std::size_t>(added);
    }
    return length;
}
