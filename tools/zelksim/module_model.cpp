#include "tools/zelksim/module_model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Floating-point instants are sums of waits; a guard time that is exactly met must count
// as met even when the subtraction comes out a hair short.
constexpr double kTimeTolerance = 1e-9;

// The module's line buffer; anything longer is not a command it knows anyway.
constexpr std::size_t kMaxLineLength = 200;

const char* const kSeriesNames[] = {"T1a", "T1b", "T2a", "T2b", "M5", "K8", "R3"};
constexpr int kSeriesCount = 7;
constexpr int kSeriesM5 = 4;
constexpr int kSeriesK8 = 5;
constexpr int kSeriesR3 = 6;

bool IsIdRegister(int number) {
    return number == 120 || number == 121 || number == 122 || number == 123 || number == 130;
}

// Registers each series holds and lists, in list order.
std::vector<int> SeriesRegisters(int series) {
    std::vector<int> numbers = {100, 101, 102, 103, 104};
    if (series != kSeriesM5 && series != kSeriesK8) {
        numbers.push_back(105);
    }
    numbers.insert(numbers.end(), {110, 111, 112});
    if (series == kSeriesM5 || series == kSeriesR3) {
        numbers.push_back(113);
    }
    const int lastId = series == kSeriesM5 ? 128 : 130;
    for (int number = 120; number <= lastId; ++number) {
        numbers.push_back(number);
    }
    return numbers;
}

struct Default {
    int number;
    int high;
    int low;
};

// The values a module leaves the factory with; they match the panel's own defaults.
constexpr Default kDefaults[] = {
    {100, 50, 0},  {101, 0, 0},     {102, 5, 0},     {103, 0, 0}, {104, 3, 0},     {105, 0, 0},
    {110, 3, 0},   {111, 0, 0},     {112, 7, 0},     {113, 0, 0}, {120, 192, 168}, {121, 10, 10},
    {122, 11, 11}, {123, 127, 127}, {124, 0, 0},     {125, 2, 0}, {126, 0, 0},     {127, 0, 0},
    {128, 0, 0},   {129, 0, 0},     {130, 100, 100},
};

// Parses "high" or "high.low", each part one to three digits no larger than maxPart.
bool ParseValue(const std::string& text, int maxPart, int* high, int* low, bool* twoPart) {
    auto parsePart = [maxPart](const std::string& part, int* value) {
        if (part.empty() || part.size() > 3) {
            return false;
        }
        int result = 0;
        for (char c : part) {
            if (!std::isdigit(static_cast<unsigned char>(c))) {
                return false;
            }
            result = result * 10 + (c - '0');
        }
        if (result > maxPart) {
            return false;
        }
        *value = result;
        return true;
    };
    const std::size_t point = text.find('.');
    *twoPart = point != std::string::npos;
    if (!*twoPart) {
        return parsePart(text, high);
    }
    return parsePart(text.substr(0, point), high) && parsePart(text.substr(point + 1), low);
}

}  // namespace

int ModuleSeriesFromName(const std::string& name) {
    for (int series = 0; series < kSeriesCount; ++series) {
        std::string known = kSeriesNames[series];
        if (known.size() == name.size() &&
            std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return series;
        }
    }
    return -1;
}

ModuleModel::ModuleModel(const ModuleOptions& options)
    : options_(options), twoByteIds_(options.twoByteIds) {
    for (int number : SeriesRegisters(options_.series)) {
        for (const Default& value : kDefaults) {
            if (value.number == number) {
                registers_[number] = {value.high, value.low};
            }
        }
    }
    // The M5 and K8 do not list their serial format, yet take a set command for it like
    // every other series, so a full write goes through.
    if (registers_.count(105) == 0) {
        registers_[105] = {0, 0};
        unlisted_.insert(105);
    }
    // Only the R3 ships with LoRa modulation; the M5 starts on FSK.
    if (options_.series == kSeriesR3) {
        registers_[113].high = 1;
    }
}

void ModuleModel::receive(uint8_t byte, double t) {
    const double silence = t - lastByteTime_;
    lastByteTime_ = t;

    if (!commandMode_) {
        // Only silence tells an escape from payload that happens to hold "+": every "+"
        // must stand alone on the line, and anything else starts the count afresh.
        if (byte == '+' && silence + kTimeTolerance >= options_.guardTime) {
            ++plusCount_;
        } else {
            plusCount_ = 0;
        }
        if (plusCount_ == 3) {
            plusCount_ = 0;
            commandMode_ = true;
            line_.clear();
            std::string reply;
            static const char kNoise[] = "~#*%$?!&";
            for (int i = 0; i < options_.noiseBeforePrompt; ++i) {
                reply.push_back(kNoise[i % (sizeof kNoise - 1)]);
            }
            reply += options_.escapeReply;
            queueReply(reply, t + options_.responseDelay, false);
        }
        return;
    }

    if (options_.echo && !options_.silent) {
        queueByte(byte, t);
    }
    if (byte == '\r') {
        return;
    }
    if (byte == '\n') {
        std::string line;
        line.swap(line_);
        if (!line.empty()) {
            commands_.push_back(line);
            handleLine(line, t);
        }
        return;
    }
    if (line_.size() < kMaxLineLength) {
        line_.push_back(static_cast<char>(byte));
    }
}

void ModuleModel::receiveFromRadio(const std::string& data, double t) {
    for (const char c : data) {
        queueByte(static_cast<uint8_t>(c), t);
    }
}

void ModuleModel::handleLine(const std::string& line, double t) {
    std::string upper = line;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const double start = t + options_.responseDelay;
    if (upper == "AT/L") {
        queueReply(registerList(), start, true);
    } else if (upper == "AT/V") {
        queueReply(options_.versionText + ">", start, true);
    } else if (upper == "ATX" || upper == "ATO") {
        commandMode_ = false;
        plusCount_ = 0;
    } else if (upper.rfind("ATS", 0) == 0) {
        handleSetCommand(upper, t);
    } else if (upper == "AT") {
        queueReply(options_.okPrompt ? "OK\r\n>" : ">", start, true);
    } else {
        queueReply("ERROR\r\n>", start, true);
    }
}

void ModuleModel::handleSetCommand(const std::string& line, double t) {
    const double start = t + options_.responseDelay;
    // "ATS", three digits, "=", the value.
    bool wellFormed = line.size() > 7 && line[6] == '=';
    int number = 0;
    for (std::size_t i = 3; wellFormed && i < 6; ++i) {
        wellFormed = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        number = number * 10 + (line[i] - '0');
    }
    if (!wellFormed || number == options_.refuseRegister || registers_.count(number) == 0 ||
        !storeRegister(number, line.substr(7), 255)) {
        queueReply("ERROR\r\n>", start, true);
        return;
    }
    queueReply(options_.okPrompt ? "OK\r\n>" : ">", start, true);
}

bool ModuleModel::storeRegister(int registerNumber, const std::string& text, int maxPart) {
    int high = 0;
    int low = 0;
    bool twoPart = false;
    if (!ParseValue(text, maxPart, &high, &low, &twoPart)) {
        return false;
    }
    if (twoPart && !IsIdRegister(registerNumber)) {
        return false;
    }
    RegisterValue& value = registers_[registerNumber];
    value.high = high;
    if (twoPart) {
        value.low = low;
    }
    // The form of the local ID decides the ID length of the whole module.
    if (registerNumber == 121) {
        twoByteIds_ = twoPart;
    }
    return true;
}

void ModuleModel::queueReply(const std::string& text, double start, bool mayBeCut) {
    if (options_.silent) {
        return;
    }
    std::size_t length = text.size();
    if (mayBeCut && options_.cutReplyAfter >= 0) {
        length = std::min(length, static_cast<std::size_t>(options_.cutReplyAfter));
    }
    for (std::size_t i = 0; i < length; ++i) {
        queueByte(static_cast<uint8_t>(text[i]),
                  start + static_cast<double>(i) * options_.byteInterval);
    }
}

void ModuleModel::queueByte(uint8_t byte, double when) {
    // One transmitter: a byte never overtakes one queued before it.
    if (!pending_.empty()) {
        when = std::max(when, pending_.back().time);
    }
    pending_.push_back({when, byte});
}

int ModuleModel::due(double t) const {
    int count = 0;
    for (const TimedByte& pending : pending_) {
        if (pending.time > t + kTimeTolerance) {
            break;
        }
        ++count;
    }
    return count;
}

uint8_t ModuleModel::take(double t) {
    (void)t;
    const uint8_t byte = pending_.front().byte;
    pending_.pop_front();
    return byte;
}

double ModuleModel::nextDueTime() const {
    return pending_.empty() ? -1.0 : pending_.front().time;
}

bool ModuleModel::inCommandMode() const {
    return commandMode_;
}

const std::vector<std::string>& ModuleModel::commands() const {
    return commands_;
}

bool ModuleModel::listsLowPart(int registerNumber) const {
    if (registerNumber == 120) {
        return true;
    }
    return twoByteIds_ && IsIdRegister(registerNumber);
}

std::string ModuleModel::registerText(int registerNumber) const {
    auto found = registers_.find(registerNumber);
    if (found == registers_.end()) {
        return {};
    }
    std::string text = std::to_string(found->second.high);
    if (listsLowPart(registerNumber)) {
        text += "." + std::to_string(found->second.low);
    }
    return text;
}

void ModuleModel::setRegister(int registerNumber, const std::string& text) {
    if (registerNumber < 0 || registerNumber > 999) {
        return;
    }
    storeRegister(registerNumber, text, 999);
}

std::string ModuleModel::registerList() const {
    if (!options_.registerListOverride.empty()) {
        return options_.registerListOverride;
    }
    std::string list;
    char number[8];
    for (const auto& entry : registers_) {
        if (unlisted_.count(entry.first) != 0) {
            continue;
        }
        std::snprintf(number, sizeof number, "%03d", entry.first);
        list += "S";
        list += number;
        list += "=" + registerText(entry.first) + "\r\n";
    }
    list += ">";
    return list;
}
