#include "tools/zelkctl/setting_file.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>

#include "core/params/parameter_set.h"

namespace {

// Lines are quoted in messages; a long one only by its start.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (text.size() > kShown) {
        return "\"" + std::string(text.substr(0, kShown)) + "...\"";
    }
    return "\"" + std::string(text) + "\"";
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "S121, S122, S123 and S130": the registers the table gives a form, in number order.
std::string NameList(const std::vector<int>& numbers) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        text += (i == 0                    ? ""
                 : i + 1 == numbers.size() ? " and "
                                           : ", ") +
                std::string("S") + std::to_string(numbers[i]);
    }
    return text;
}

// "S100 to S105, S110 to S113 and S120 to S130", from the table, so that a register added
// there is named here too.
std::string RegisterRanges() {
    std::vector<std::string> ranges;
    const std::size_t count = std::size(kRegisterTable);
    std::size_t first = 0;
    for (std::size_t i = 1; i <= count; ++i) {
        if (i < count && kRegisterTable[i].number == kRegisterTable[i - 1].number + 1) {
            continue;
        }
        const int low = kRegisterTable[first].number;
        const int high = kRegisterTable[i - 1].number;
        ranges.push_back("S" + std::to_string(low) +
                         (low == high ? "" : " to S" + std::to_string(high)));
        first = i;
    }
    std::string text;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == ranges.size() ? " and " : ", ") + ranges[i];
    }
    return text;
}

// Reads the decimal number at *position of record, moving *position past its digits.
// Returns an empty string, or what is wrong with the number.
std::string ReadNumber(std::string_view record, std::size_t* position, uint8_t* value) {
    const std::size_t start = *position;
    if (start >= record.size() || !IsDigit(record[start])) {
        if (start < record.size() && (record[start] == '+' || record[start] == '-')) {
            return "a value has no sign: it is a number 0 to 255";
        }
        return "a value is missing: it is a number 0 to 255";
    }
    std::size_t end = start;
    long number = 0;
    while (end < record.size() && IsDigit(record[end])) {
        number = std::min(number * 10 + (record[end] - '0'), 100000L);
        ++end;
    }
    const std::string_view digits = record.substr(start, end - start);
    if (digits == "0" && end < record.size() && (record[end] == 'x' || record[end] == 'X')) {
        return "values are written in decimal, not as 0x...: a number 0 to 255";
    }
    if (number > 255) {
        return std::string(digits) + " is more than 255, the largest value a register holds";
    }
    if (digits.size() > 1 && digits[0] == '0') {
        return "no leading zeros: write " + std::to_string(number) + ", not " + std::string(digits);
    }
    *position = end;
    *value = static_cast<uint8_t>(number);
    return {};
}

// Parses a record without spaces into *record. Returns an empty string, or what is wrong.
// *named receives the register once its name is whole and one of the set, even when the
// value is wrong, so that a register given twice is found whatever its lines hold.
std::string ParseRecord(std::string_view text, SettingRecord* record, int* named) {
    if (text.empty() || text[0] != 'S') {
        return !text.empty() && text[0] == 's'
                   ? "a register is written with a capital S, such as S111=5"
                   : "not a record: a record is Snnn=value, such as S111=5";
    }
    std::size_t digits = 1;
    while (digits < text.size() && IsDigit(text[digits])) {
        ++digits;
    }
    if (digits != 4) {
        return "a register number has three digits, such as S111";
    }
    const int number = std::stoi(std::string(text.substr(1, 3)));
    const RegisterRow* row = FindRegister(number);
    if (row == nullptr) {
        return "S" + std::string(text.substr(1, 3)) +
               " is not a register of the setting files, which hold " + RegisterRanges();
    }
    *named = number;
    const std::string name = "S" + std::to_string(number);
    if (digits == text.size() || text[digits] != '=') {
        return "a register is followed by \"=\" and its value, such as " + name + "=5";
    }
    std::size_t position = digits + 1;
    SettingRecord parsed{0, number, 0, false, 0};
    std::string error = ReadNumber(text, &position, &parsed.high);
    if (error.empty() && position < text.size() && text[position] == '.') {
        if (row->idForm == IdForm::None) {
            return name + " has one part: a single number, no \".\"";
        }
        ++position;
        parsed.twoPart = true;
        error = ReadNumber(text, &position, &parsed.low);
    }
    if (!error.empty()) {
        return error;
    }
    if (position < text.size()) {
        return "unexpected " + Quoted(text.substr(position)) + " after the value";
    }
    if (row->idForm == IdForm::AlwaysTwoPart && !parsed.twoPart) {
        return name + ", the network ID, has two parts: write it as high.low, such as " + name +
               "=10.20";
    }
    *record = parsed;
    return {};
}

// A record with spaces or tabs in it: refused, with the record as it would be without them
// when that one is good, so that the operator sees the fix.
std::string ParseSpacedRecord(std::string_view text, int* named) {
    std::string packed;
    for (const char c : text) {
        if (c != ' ' && c != '\t') {
            packed += c;
        }
    }
    SettingRecord unused{};
    const std::string error = ParseRecord(packed, &unused, named);
    if (error.empty()) {
        return "no spaces or tabs inside a record: write " + Quoted(packed);
    }
    return "no spaces or tabs inside a record; and without them: " + error;
}

// The first byte that has no place in a text file, as a whole-file error; empty when there
// is none. Tabs and line ends are text.
std::string FindBinary(const std::string& bytes) {
    int line = 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            ++line;
        }
        if (c == 0 || (c < 32 && c != '\t' && c != '\r' && c != '\n') || c > 126) {
            char what[64];
            std::snprintf(what, sizeof what, c == 0 ? "a zero byte" : "the byte 0x%02X", c);
            std::string text = "not a setting file: it holds " + std::string(what) + " at line " +
                               std::to_string(line) + " (byte " + std::to_string(i + 1) +
                               " of the file); a setting file is plain text";
            if (i == 0 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
                text += ": save it without the byte order mark that some editors add";
            }
            return text;
        }
    }
    return {};
}

struct Parser {
    SettingFile file;
    std::map<int, int> firstLine;  // register -> the line that first named it
    bool anyRecordLine = false;

    void Error(int line, std::string text) { file.errors.emplace_back(line, std::move(text)); }
    void Line(int line, std::string_view text);
    void CheckIdForms();
    void Finish();
};

void Parser::Line(int line, std::string_view text) {
    if (text.find_first_not_of(" \t") == std::string_view::npos) {
        return;
    }
    anyRecordLine = true;
    SettingRecord record{};
    int named = 0;
    const bool spaced = text.find_first_of(" \t") != std::string_view::npos;
    const std::string error =
        spaced ? ParseSpacedRecord(text, &named) : ParseRecord(text, &record, &named);
    if (!error.empty()) {
        Error(line, Quoted(text) + ": " + error);
    } else {
        record.line = line;
        file.records.push_back(record);
    }
    if (named != 0) {
        const auto [first, isNew] = firstLine.emplace(named, line);
        if (!isNew) {
            Error(line, "S" + std::to_string(named) + " is given twice, on lines " +
                            std::to_string(first->second) + " and " + std::to_string(line) +
                            ": give each register once");
        }
    }
}

// The IDs that follow the ID length are all written in one form: one number each for
// one-byte IDs, high.low for two-byte IDs. A file that mixes them says neither.
void Parser::CheckIdForms() {
    std::vector<int> following;
    for (const RegisterRow& row : kRegisterTable) {
        if (row.idForm == IdForm::FollowsIdLength) {
            following.push_back(row.number);
        }
    }
    std::string forms[2];
    const SettingRecord* firstId = nullptr;
    const SettingRecord* firstOther = nullptr;
    for (const SettingRecord& record : file.records) {
        if (FindRegister(record.number)->idForm != IdForm::FollowsIdLength) {
            continue;
        }
        firstId = firstId == nullptr ? &record : firstId;
        if (firstOther == nullptr && record.twoPart != firstId->twoPart) {
            firstOther = &record;
        }
        std::string& list = forms[record.twoPart ? 1 : 0];
        list += (list.empty() ? "" : ", ") + std::string("S") + std::to_string(record.number) +
                " (line " + std::to_string(record.line) + ")";
    }
    if (firstOther != nullptr) {
        Error(firstOther->line, "the IDs " + NameList(following) +
                                    " are either all high.low (two-byte IDs) or all one number "
                                    "(one-byte IDs); here high.low: " +
                                    forms[1] + "; one number: " + forms[0]);
    }
}

void Parser::Finish() {
    CheckIdForms();
    if (!anyRecordLine && file.errors.empty()) {
        Error(0, "the file holds no record: a record is Snnn=value, such as S111=5");
    }
    std::stable_sort(file.errors.begin(), file.errors.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    if (file.errors.size() > kSettingFileErrorLimit) {
        const std::size_t more = file.errors.size() - kSettingFileErrorLimit;
        file.errors.resize(kSettingFileErrorLimit);
        Error(0, "and " + std::to_string(more) + " more error" + (more == 1 ? "" : "s"));
    }
}

}  // namespace

SettingFile ParseSettingFile(const std::string& bytes) {
    Parser parser;
    if (bytes.empty()) {
        parser.Error(0, "the file is empty");
        return parser.file;
    }
    const std::string binary = FindBinary(bytes);
    if (!binary.empty()) {
        parser.Error(0, binary);
        return parser.file;
    }
    std::size_t position = 0;
    int line = 1;
    while (position < bytes.size()) {
        const std::size_t newline = bytes.find('\n', position);
        const std::size_t end = newline == std::string::npos ? bytes.size() : newline;
        std::string_view text(bytes.data() + position, end - position);
        position = newline == std::string::npos ? bytes.size() : newline + 1;
        if (newline != std::string::npos && !text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        if (text.find('\r') != std::string_view::npos) {
            parser.Error(line,
                         "a carriage return (CR) without a line feed (LF) after it: lines "
                         "end with CRLF or LF");
        } else if (text == ">" && position < bytes.size()) {
            parser.Error(line + 1, "the file goes on after the \">\" on line " +
                                       std::to_string(line) + ", which ends it");
            break;
        } else if (!text.empty() && text[0] == '>' && text != ">") {
            parser.Error(line, Quoted(text) + ": nothing may follow the closing \">\"");
            break;
        } else if (text != ">") {
            parser.Line(line, text);
        }
        ++line;
    }
    parser.Finish();
    return parser.file;
}
