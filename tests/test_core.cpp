// The core on its own, through the entry points the command line uses: the exchanges on the
// wire of a simulated module on a virtual clock, judged by the bytes and their instants,
// and what a register list or a configuration text gives, judged by the register set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "core/link/connection.h"
#include "core/link/messages.h"
#include "core/link/version.h"
#include "core/params/config_text.h"
#include "core/params/read.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "tests/support/simulated_module.h"

// Rows and module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Series = ProductSeries;

// A change to a register set: a register's high part and, when given, its low part; the
// number kIds stands for the ID length.
struct Change {
    int number;
    int high;
    int low = -1;
};
constexpr int kIds = 0;

ParameterSet With(ParameterSet set, const std::vector<Change>& changes) {
    for (const Change& change : changes) {
        if (change.number == kIds) {
            set.idLength = static_cast<uint8_t>(change.high);
            continue;
        }
        const RegisterRow& row = *FindRegister(change.number);
        set.*row.high = static_cast<uint8_t>(change.high);
        if (change.low >= 0) {
            set.*row.low = static_cast<uint8_t>(change.low);
        }
    }
    return set;
}

// Every field of the set, low parts included: "ids=0 S100=50 ... S130=100.100".
std::string Shown(const ParameterSet& set) {
    std::string text = "ids=" + std::to_string(set.idLength);
    for (const RegisterRow& row : kRegisterTable) {
        text += " S" + std::to_string(row.number) + "=" + std::to_string(set.*row.high);
        if (row.low != nullptr) {
            text += "." + std::to_string(set.*row.low);
        }
    }
    return text;
}

// The set after the records of the text, taken as the command line takes a register list.
ParameterSet Scanned(const std::string& text, ParameterSet set,
                     std::size_t length = std::string::npos) {
    const bool twoByteIds = ScanConfigText(
        text.data(), std::min(length, text.size()),
        [](void* context, const AppliedRecord& record) {
            auto* into = static_cast<ParameterSet*>(context);
            into->*record.row->high = record.high;
            if (record.setsLow) {
                into->*record.row->low = record.low;
            }
        },
        &set);
    set.idLength = twoByteIds ? 1 : 0;
    return set;
}

enum class Kind { Read, Version, Write };

// The module on COM1 with its port opened as the command line opens it, and the exchanges
// run on it.
class Exchanges : public ::testing::Test {
  protected:
    sim::SimulatedModule& Attach(const ModuleOptions& options = {}, uint32_t baudRate = 9600) {
        module_.reset();
        module_ = std::make_unique<sim::SimulatedModule>(options);
        connection = ConnectionState{1, false, baudRate, 0};
        EXPECT_EQ(OpenModulePort(""), 0);
        start_ = module_->clock().now();
        reply_[0] = '\0';
        return *module_;
    }
    Exchange Exchanged(Kind kind, Series series) {
        const ParameterSet set = StartingParameters(series);
        return kind == Kind::Read      ? ReadRegisterList(series, &length_)
               : kind == Kind::Version ? QueryFirmwareVersion(series, reply_)
                                       : WriteParameters(set, set.s113, &report_);
    }
    // The host's bytes since the port opened, each run written at one instant followed by
    // "@" and that instant from the open: "+@0.1 +@0.2 +@0.3 AT/V\n@0.45 ATX\n@0.65".
    std::string Wire() const {
        std::string wire;
        double last = -1.0;
        for (const sim::WireByte& byte : module_->wire()) {
            if (byte.fromHost) {
                wire += (last >= 0.0 && byte.time != last ? At(last) + " " : "") +
                        static_cast<char>(byte.byte);
                last = byte.time;
            }
        }
        return last >= 0.0 ? wire + At(last) : wire;
    }
    std::string At(double time) const {
        char text[32];
        std::snprintf(text, sizeof text, "@%g", std::round((time - start_) * 1e6) / 1e6);
        return text;
    }
    sim::SimulatedModule& module() { return *module_; }

    std::size_t length_ = 0;
    char reply_[kMaxVersionLength + 1] = "";
    WriteReport report_{};
    double start_ = 0.0;

  private:
    std::unique_ptr<sim::SimulatedModule> module_;
};

// The escape at 9600 bit/s; the prompt "\r\n>" then comes at the third poll, 0.15 s on.
const std::string kEscape = "+@0.1 +@0.2 +@0.3 ";

// Each format the port takes is the one its name says; an index past them opens nothing.
// Opening and closing send nothing; that no exchange runs on a closed port is the window's
// to show (its popup).
TEST_F(Exchanges, OpensThePortAsEachFormatSaysAndSendsNothingDoingSo) {
    EXPECT_STREQ(FormatNames(), "8N1, 8O1, 8E1, 8N2, 7N1, 7O1, 7E1 or 7N2");
    Attach().failNextOpen();
    CloseModulePort();
    EXPECT_EQ(OpenModulePort(""), RS232_OPEN_FAILED);
    for (uint8_t format = 0; format <= kSerialFormatCount; ++format) {
        connection = ConnectionState{1, false, 4800, format};
        const int opened = OpenModulePort("");
        EXPECT_EQ(std::pair(opened == 0, connection.connected),
                  std::pair(format < kSerialFormatCount, format < kSerialFormatCount));
        if (opened != 0) {
            continue;
        }
        const std::string name = serialFormats[format].name;
        const serial_backend::Settings set = module().lastSettings();
        EXPECT_EQ(std::tuple(set.baudRate, set.dataBits, "NOE"[set.parity], set.stopBits,
                             set.inputQueueSize, set.outputQueueSize),
                  std::tuple(4800L, name[0] - '0', name[1], name[2] - '0', 512, 512));
        CloseModulePort();
        EXPECT_EQ(std::pair(module().isOpen(), connection.connected), std::pair(false, false));
    }
    EXPECT_EQ(module().wire().size(), 0u);
}

// The guard time follows the baud rate. One character per 50 ms poll, up to 60, is looked at
// for the prompt; without it the module gets a lone carriage return and the leave command.
// What waited before the escape is no answer to it. The version is the text before the
// prompt, at most 99 characters, collected for five seconds from the command.
TEST_F(Exchanges, EscapeWaitsTheGuardTimeThenTheVersionIsTheTextBeforeThePrompt) {
    const std::string letters = std::string(60, 'a') + std::string(60, 'b');
    const std::string v336 = "Zelk RF module firmware V3.36";
    struct Row {
        ModuleOptions module;
        std::string wire;
        std::string reply;
        Exchange result = Exchange::Done;
        uint32_t baudRate = 9600;
        Series series = Series::T1b;
        std::string fromRadio = "";  // passed on to the host before the exchange
        Kind run = Kind::Version;
    };
    const Exchange done = Exchange::Done, noPrompt = Exchange::NoPrompt;
    // clang-format off
    const Row rows[] = {
        {{.escapeReply = "\r\n>after"}, "+@0.3 +@0.6 +@0.9 AT/V\n@1.05 ATX\n@1.25", v336, done, 300},
        {{.escapeReply = ">", .noiseBeforePrompt = 59}, "+@0.3 +@0.6 +@0.9 AT/V\n@3.9 ATX\n@4.1", v336,
         done, 600},
        {{.escapeReply = ">", .noiseBeforePrompt = 60}, "+@0.2 +@0.4 +@0.6 \r@3.9 ATX\n@4", "", noPrompt,
         1200},
        {{.escapeReply = ""}, kEscape + "\r@3.6 ATO\n@3.7", "", noPrompt, 2400, Series::K8},
        {{.escapeReply = ""}, kEscape + "\r@3.6 ATX\n@3.7", "", noPrompt, 115200, Series::R3},
        {{}, kEscape + "AT/V\n@0.45 ATX\n@0.65", v336, done, 9600, Series::T1b, "T=21.5>"},
        {{}, kEscape + "AT/L\n@0.45 ATX\n@0.55", "", done, 9600, Series::T1b, "T=21.5>", Kind::Read},
        {{.versionText = "V3.36\r\n  build 17 "}, kEscape + "AT/V\n@0.45 ATO\n@0.65", "V3.36\r\n  build 17 ",
         done, 9600, Series::M5},
        {{.versionText = ""}, kEscape + "AT/V\n@0.45 ATX\n@0.65", ""},
        {{.versionText = letters, .cutReplyAfter = 120}, kEscape + "AT/V\n@0.45 ATX\n@0.65",
         letters.substr(0, 99)},
        {{.versionText = "V3.36", .byteInterval = 0.25}, kEscape + "AT/V\n@0.85 ATX\n@2.25", "V3.36"},
        {{.versionText = "V3.36", .cutReplyAfter = 3}, kEscape + "AT/V\n@0.45 ATX\n@5.45", "",
         Exchange::NoReply},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wire);
        Attach(row.module, row.baudRate).module().receiveFromRadio(row.fromRadio, start_);
        ASSERT_EQ(WaitingBytes(), static_cast<int>(row.fromRadio.size()));  // before the escape
        EXPECT_EQ(Exchanged(row.run, row.series), row.result);
        EXPECT_EQ(Wire(), row.wire);
        EXPECT_EQ(reply_, row.reply);
    }
}

// A reply whose 300th character ends `last`: S111, spaces, S100, each record after
// `separator`, then `last`; `rest` follows but is never taken.
std::string Padded(const std::string& last, const std::string& separator = "\r\n",
                   const std::string& rest = "0\r\nS130=5\r\n>") {
    const std::string head = "S111=9" + separator;
    const std::string middle = separator + "S100=77" + separator;
    return head + std::string(300 - head.size() - middle.size() - last.size(), ' ') + middle +
           last + rest;
}

// The list is collected until its ">" or its 300th character, and scanned into the
// series' starting set as the command line reads a module; an incomplete one gives how
// many characters came.
TEST_F(Exchanges, ReadingCollectsTheRegisterListUntilItsEndOrGivesUp) {
    struct Row {
        const char* name;
        ModuleOptions module;
        std::vector<Change> changed;  // the set read, from the series' starting set
        std::string wire;             // after the escape
        Exchange result = Exchange::Done;
        std::size_t length = 0;  // of an incomplete list
        uint32_t baudRate = 9600;
        std::map<int, std::string> held = {};  // set in the module before the read
    };
    const ModuleOptions silent = {.cutReplyAfter = 0};
    // clang-format off
    const Row rows[] = {
        {"a whole list", {.twoByteIds = true},
         {{100, 50}, {110, 3}, {111, 7}, {120, 10, 20}, {121, 30, 40}, {130, 90, 99}, {kIds, 1}},
         "AT/L\n@0.45 ATX\n@0.55",
         Exchange::Done, 0, 9600, {{111, "7"}, {120, "10.20"}, {121, "30.40"}, {130, "90.99"}}},
        // The M5 lists its modulation and not its serial format.
        {"M5", {.series = 4}, {{100, 30}, {110, 6}, {112, 7}, {113, 1}}, "AT/L\n@0.45 ATO\n@0.55",
         Exchange::Done, 0, 9600, {{100, "30"}, {105, "3"}, {110, "6"}, {113, "1"}}},
        // Seven empty polls, each as long as the line's baud rate asks for.
        {"no reply", silent, {}, "AT/L\n@0.45 ATX\n@0.8", Exchange::NoReply},
        {"no reply, 1200 baud", silent, {}, "AT/L\n@0.75 ATX\n@1.45", Exchange::NoReply, 0, 1200},
        {"no reply, 300 baud", silent, {}, "AT/L\n@1.05 ATX\n@2.1", Exchange::NoReply, 0, 300},
        // Six empty polls after the one that took the last character.
        {"a cut reply", {.series = 4, .cutReplyAfter = 60}, {}, "AT/L\n@0.45 ATO\n@0.85",
         Exchange::NoReply, 60},
        // A byte every fourth poll keeps it going for no more than 80 polls.
        {"a trickle", {.byteInterval = 0.2}, {}, "AT/L\n@0.75 ATX\n@4.75", Exchange::NoReply, 20},
        // The record the 300th character cuts is dropped, however it ends; every whole one
        // before it is kept, line ends or not.
        {"300 characters", {.registerListOverride = Padded("S125=12")}, {{111, 9}, {100, 77}},
         "AT/L\n@0.45 ATX\n@0.55"},
        {"300 characters without line ends",
         {.registerListOverride = Padded("S125=12", "   ", "3   S130=5>")}, {{111, 9}, {100, 77}},
         "AT/L\n@0.45 ATX\n@0.55"},
        // A reply that ends exactly at its limit is whole, with or without ">".
        {"300 characters, then silence", {.registerListOverride = Padded("S125=1\r", "\r\n", "")},
         {{111, 9}, {100, 77}, {125, 1}}, "AT/L\n@0.45 ATX\n@0.55"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Attach(row.module, row.baudRate);
        for (const auto& [number, text] : row.held) {
            module().module().setRegister(number, text);
        }
        const auto series = static_cast<Series>(row.module.series);
        ASSERT_EQ(ReadRegisterList(series, &length_), row.result);
        EXPECT_EQ(Wire().substr(Wire().find('A')), row.wire);
        if (row.result == Exchange::Done) {
            EXPECT_EQ(Shown(Scanned(std::string(configText, length_), StartingParameters(series))),
                      Shown(With(StartingParameters(series), row.changed)));
            EXPECT_EQ(configText[length_], '\0');
        } else {
            EXPECT_EQ(length_, row.length);
        }
    }
}

// Every register at a value of its own, so that one sent with another's shows.
const std::vector<Change> kDistinct = {
    {100, 230},     {101, 1},       {102, 30},     {103, 2},   {104, 9},      {105, 6},
    {110, 5},       {111, 77},      {112, 4},      {113, 1},   {120, 0, 255}, {121, 21, 121},
    {122, 22, 122}, {123, 23, 123}, {124, 22},     {125, 255}, {126, 3},      {127, 1},
    {128, 0},       {129, 1},       {130, 30, 130}};

TEST_F(Exchanges, WritingSendsTheSequenceOfTheSeriesAndIdLengthUntilACommandIsNotAcknowledged) {
    const std::string first = "+++ATS100=230\n";
    const std::string upTo105 = first + "ATS101=1\nATS102=30\nATS103=2\nATS104=9\nATS105=6\n";
    const std::string upTo112 = upTo105 + "ATS110=5\nATS111=77\nATS112=4\n";
    const std::string middle =
        "ATS120=0.255\nATS124=22\nATS125=255\nATS126=3\nATS127=1\nATS128=0\n";
    const std::string oneByteIds = "ATS129=1\nATS121=21\nATS122=22\nATS123=23\nATS130=30\nATO\n";
    const std::string mix =
        ". The module now holds these new values and its old ones for the rest: write again "
        "once the cause is fixed.";
    struct Row {
        Series series;
        int idLength;
        std::string sent;
        ModuleOptions module = {};
        std::string failure = "";  // what the report says; empty for success
    };
    // clang-format off
    const Row rows[] = {
        {Series::T1a, 0, upTo112 + middle + oneByteIds},
        {Series::T2a, 1, upTo112 + middle +
                         "ATS129=1\nATS121=21.121\nATS122=22.122\nATS123=23.123\nATS130=30.130\nATO\n"},
        // The M5 is sent its modulation as given, has no repeater and one-byte node IDs.
        {Series::M5, 1, upTo112 + "ATS113=0\n" + middle + "ATS121=21\nATS122=22\nATS123=23\nATO\n"},
        // The R3 shows its modulation but does not take it from the write.
        {Series::R3, 0, upTo112 + middle + oneByteIds},
        {Series::T1a, 0, upTo105 + "ATX\n", {.refuseRegister = 105},
         "The module refused ATS105=6 (register S105): it answered something other than \">\".\n"
         "Already written: S100, S101, S102, S103, S104" + mix},
        {Series::K8, 0, first + "ATO\n", {.okPrompt = true},
         "The module refused ATS100=230 (register S100): it answered something other than \">\".\n"
         "Nothing was written before it."},
        {Series::T1b, 0, first + "ATX\n", {.cutReplyAfter = 0},
         "The module did not acknowledge ATS100=230 (register S100) within 1 second.\n"
         "Nothing was written before it."},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sent);
        ModuleOptions options = row.module;
        options.series = static_cast<int>(row.series);
        Attach(options);
        const ParameterSet set = With(ParameterSet{row.series}, kDistinct);
        const bool refused = !row.failure.empty();
        EXPECT_EQ(WriteParameters(With(set, {{kIds, row.idLength}}), 0, &report_),
                  refused ? Exchange::NotAcknowledged : Exchange::Done);
        if (refused) {
            char said[512];
            DescribeWriteFailure(report_, said, sizeof said);
            EXPECT_EQ(said, row.failure);
        }
        // The first command 0.2 s after the prompt (third poll), each next at the first poll
        // after the prompt before it, the leave command a second after one without a prompt.
        std::string expected = kEscape;
        double at = 0.65;
        for (std::size_t begin = 3, end; (end = row.sent.find('\n', begin)) != std::string::npos;
             begin = end + 1) {
            at += refused && end + 1 == row.sent.size() ? 1.0 - 0.02 : 0.0;
            expected += row.sent.substr(begin, end + 1 - begin) + At(start_ + at) + " ";
            at += 0.02;
        }
        EXPECT_EQ(Wire() + " ", expected);
    }
}

// An adapter pulled mid-exchange: the first write or poll that finds it gone ends the
// exchange, with nothing more sent.
TEST_F(Exchanges, AVanishedDeviceEndsTheExchangeAtOnce) {
    struct Row {
        Kind run;
        double unplug;  // from the open
        std::string wire;
        double end;
        ModuleOptions module = {};
        std::string failure = "";  // what the write's report says
    };
    // clang-format off
    const Row rows[] = {
        {Kind::Read, 0.0, "", 0.1},
        {Kind::Version, 0.31, kEscape.substr(0, kEscape.size() - 1), 0.35},
        // Before the first set command, which then does not go out.
        {Kind::Write, 0.6, kEscape.substr(0, kEscape.size() - 1), 0.65, {},
         "The device went away before the module acknowledged ATS100=200 (register S100); it may "
         "or may not have taken it.\nNothing was written before it."},
        // In the middle of a slow reply.
        {Kind::Read, 0.58, kEscape + "AT/L\n@0.45", 0.6, {.byteInterval = 0.01}},
        {Kind::Version, 0.5, kEscape + "AT/V\n@0.45", 0.55, {.byteInterval = 0.05}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wire);
        Attach(row.module).unplugAt(start_ + row.unplug);
        EXPECT_EQ(Exchanged(row.run, Series::T1b), Exchange::DeviceGone);
        EXPECT_EQ(Wire(), row.wire);
        EXPECT_NEAR(module().clock().now() - start_, row.end, 1e-6);
        if (row.run == Kind::Write) {
            char said[512];
            DescribeWriteFailure(report_, said, sizeof said);
            EXPECT_EQ(said, row.failure);
        }
    }
}

// The command line takes a series by its short name in any case, and nothing else.
TEST(Series, IsNamedByItsShortNameInAnyCase) {
    const std::pair<const char*, int> names[] = {{"t1A", 0},  {"T2B", 3}, {"m5", 4}, {"R3", 6},
                                                 {"K8 ", -1}, {"T1", -1}, {"", -1}};
    for (const auto& [name, expected] : names) {
        Series series = Series::K8;
        EXPECT_EQ(SeriesFromName(name, &series) ? static_cast<int>(series) : -1, expected) << name;
    }
}

// Each text and every field its records change, the ID length included, over a set whose
// fields all hold 201, so that a stray write shows.
TEST(Scanning, TakesEachRecordIntoExactlyItsRegister) {
    struct Row {
        std::string text;
        std::vector<Change> changed;
        std::size_t scanned = std::string::npos;  // how much of the text is scanned
    };
    std::string binary(255, '\0');
    std::iota(binary.begin(), binary.end(), 1);
    // clang-format off
    const Row rows[] = {
        {"", {}},
        // No end marker; text that is no record is skipped.
        {"S100=60\r\nAT/L\r\nS111=9\r\nOK\r\n", {{100, 60}, {111, 9}}},
        // A value is cut to its low 8 bits, takes its sign and ends at its third character
        // or at the first that is no digit.
        {"S125=300\r\n>", {{125, 44}}},
        {"S125=-1\r\nS111= 7\r\n", {{125, 255}, {111, 7}}},
        {"S111=1234\r\n", {{111, 123}}},
        {"S111=123S100=7", {{111, 123}, {100, 7}}},
        {"S106=5\r\nS115=1\r\nS116=99\r\n>", {}},
        {"S111=5\r\nS111=6\r\n", {{111, 6}}},
        // Run together: the second is lost.
        {"S100=5S101=1\r\n>", {{100, 5}}},
        // A one-part S120 takes the low part read last in the text, or 0.
        {"S120=7\r\n>", {{120, 7, 0}}},
        // The form of S121 tells the ID length; low parts count only after a two-part S121.
        {"S121=10.20\r\n>", {{121, 10, 20}, {kIds, 1}}},
        {"S121=10\r\nS122=11\r\nS130=13\r\n>", {{121, 10}, {122, 11}, {130, 13}}},
        {"S121=1.2\r\nS122=3.4\r\nS130=7\r\n>", {{121, 1, 2}, {122, 3, 4}, {130, 7, 4}, {kIds, 1}}},
        {"S122=3.4\r\nS121=1.2\r\n>", {{122, 3}, {121, 1, 2}, {kIds, 1}}},
        // A zero byte is one more character.
        {binary + '\0' + "S111=9\r\n", {{111, 9}}},
        // A value ends at the end of the text, as a last line without a line end does, and
        // a record the end cuts before its separator is dropped. The end is the text's
        // length, whatever the byte after it holds: a digit there must not lengthen the
        // last value, nor a separator complete a record the end cuts.
        {"S100=60", {{100, 6}}, 6},
        {"S100=60\r\nS125=", {{100, 60}}, 13},
        {"S121=10.25", {{121, 10, 2}, {kIds, 1}}, 9},
    };
    // clang-format on
    ParameterSet start;
    std::memset(&start, 201, sizeof start);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const ParameterSet scanned = Scanned(row.text, start, row.scanned);
        EXPECT_EQ(Shown(scanned), Shown(With(With(start, {{kIds, 0}}), row.changed)));
        // The value a register's records give, which a read looks up, is the one the scan sets.
        uint8_t value = 201;
        FindRegisterValue(row.text.data(), std::min(row.scanned, row.text.size()), 111, &value);
        EXPECT_EQ(value, scanned.s111);
    }
}

// The records of a text in order with their values left out: "120." for a two-part one.
std::string Shape(const std::string& text) {
    const std::regex record(R"(S(\d{3})=\d{1,3}(?:(\.)\d{1,3})?\r\n)");
    return std::regex_replace(text, record, "$1$2 ");
}

// The layout of every series and ID length, and a round trip through the scanner: what the
// layout carries comes back, the rest keeps what the set held.
TEST(ConfigText, EverySeriesWritesItsLayoutAndReadsBackWhatItCarries) {
    // The layouts A to E: the records in order, "." for a two-part one.
    const char* layouts[] = {
        "100 101 102 103 104 105 110 111 112 120. 121. 122. 123. 124 125 126 127 128 129 130. >",
        "100 101 102 103 104 105 110 111 112 120. 121 122 123 124 125 126 127 128 129 130 >",
        "100 101 102 103 104 105 110 111 112 113 120. 121 122 123 124 125 126 127 128 129 130 >",
        "100 101 102 103 104 110 111 112 120. 121. 122. 123. 124 125 126 127 128 129 130. >",
        "100 101 102 103 104 110 111 112 120. 121 122 123 124 125 126 127 128 129 130 >",
    };
    // By series T1a, T1b, T2a, T2b, M5, K8, R3: the layout for one-byte and two-byte IDs.
    const char* bySeries[] = {"BA", "BA", "BA", "BA", "ED", "ED", "CC"};
    std::mt19937 random(20240611);
    const auto randomSet = [&random](int series, int idLength) {
        ParameterSet set{static_cast<Series>(series), static_cast<uint8_t>(idLength)};
        for (const RegisterRow& row : kRegisterTable) {
            set.*row.high = static_cast<uint8_t>(random());
            if (row.low != nullptr) {
                set.*row.low = static_cast<uint8_t>(random());
            }
        }
        return set;
    };
    for (int series = 0; series < kProductSeriesCount; ++series) {
        for (int idLength = 0; idLength < 2; ++idLength) {
            SCOPED_TRACE(testing::Message() << "series " << series << ", ID " << idLength);
            const ParameterSet saved = randomSet(series, idLength);
            char text[CONFIG_TEXT_SIZE];
            const std::size_t length = FormatConfigText(saved, text, sizeof text);
            const std::string layout = layouts[bySeries[series][idLength] - 'A'];
            EXPECT_EQ(Shape(std::string(text, length)), layout);
            EXPECT_EQ(text[length], '\0');

            const ParameterSet before = randomSet(series, 1 - idLength);
            ParameterSet expected = With(before, {{kIds, layout.find("121.") != layout.npos}});
            for (const RegisterRow& row : kRegisterTable) {
                const std::string number = std::to_string(row.number);
                if (layout.find(number + ".") != layout.npos) {
                    expected = With(expected, {{row.number, saved.*row.high, saved.*row.low}});
                } else if (layout.find(number) != layout.npos) {
                    expected = With(expected, {{row.number, saved.*row.high}});
                }
            }
            EXPECT_EQ(Shown(Scanned(std::string(text, length), before)), Shown(expected));
        }
    }
}

}  // namespace
