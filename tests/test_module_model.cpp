#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tools/module_model.h"

namespace {

// Sends text one byte at a time, `spacing` seconds apart, starting at `start`; returns
// the instant of the last byte.
double Send(ModuleModel& model, const std::string& text, double start, double spacing = 0.0) {
    double t = start;
    for (std::size_t i = 0; i < text.size(); ++i) {
        t = start + static_cast<double>(i) * spacing;
        model.receive(static_cast<uint8_t>(text[i]), t);
    }
    return t;
}

// Everything the module has sent by time t.
std::string Collect(ModuleModel& model, double t) {
    std::string reply;
    while (model.due(t) > 0) {
        reply.push_back(static_cast<char>(model.take(t)));
    }
    return reply;
}

// Enters command mode with generous guards; returns the instant the prompt has arrived.
double Escape(ModuleModel& model, double start = 10.0) {
    const double guard = model.options().guardTime + 0.05;
    const double last = Send(model, "+++", start + guard, guard);
    const double end = last + 1.0;
    EXPECT_EQ(Collect(model, end), model.options().escapeReply);
    return end;
}

std::string Exchange(ModuleModel& model, const std::string& line, double* t) {
    Send(model, line, *t);
    *t += 10.0;
    return Collect(model, *t);
}

struct GuardCase {
    const char* name;
    std::vector<double> gaps;  // silence before each "+"
    bool entersCommandMode;
};

class EscapeGuard : public testing::TestWithParam<GuardCase> {};

TEST_P(EscapeGuard, OnlyThreeGuardedPlusSignsEnterCommandMode) {
    ModuleOptions options;
    options.guardTime = 0.1;
    ModuleModel model(options);
    model.receive('x', 5.0);  // payload just before the escape
    double t = 5.0;
    for (double gap : GetParam().gaps) {
        t += gap;
        model.receive('+', t);
    }
    EXPECT_EQ(model.inCommandMode(), GetParam().entersCommandMode);
    EXPECT_EQ(Collect(model, t + 1.0), GetParam().entersCommandMode ? "\r\n>" : "");
}

INSTANTIATE_TEST_SUITE_P(Gaps, EscapeGuard,
                         testing::Values(GuardCase{"AllGuarded", {0.1, 0.1, 0.1}, true},
                                         GuardCase{"LongerThanGuard", {0.3, 0.2, 0.5}, true},
                                         GuardCase{"FirstTooSoon", {0.09, 0.1, 0.1}, false},
                                         GuardCase{"SecondTooSoon", {0.1, 0.099, 0.1}, false},
                                         GuardCase{"ThirdTooSoon", {0.1, 0.1, 0.0}, false},
                                         GuardCase{"BackToBack", {0.1, 0.0, 0.0}, false},
                                         GuardCase{"OnlyTwo", {0.1, 0.1}, false}),
                         [](const testing::TestParamInfo<GuardCase>& info) {
                             return info.param.name;
                         });

TEST(ModuleModelEscape, PromptIsDueResponseDelayAfterTheThirdPlus) {
    ModuleOptions options;
    options.responseDelay = 0.02;
    ModuleModel model(options);
    const double last = Send(model, "+++", 1.0, 0.1);
    EXPECT_TRUE(model.inCommandMode());
    EXPECT_DOUBLE_EQ(model.nextDueTime(), last + 0.02);
    EXPECT_EQ(model.due(last + 0.019), 0);
    EXPECT_EQ(model.due(last + 0.02), 3);
}

TEST(ModuleModelEscape, PayloadBetweenPlusSignsStartsTheCountAfresh) {
    ModuleModel model;
    double t = Send(model, "++", 1.0, 0.2);
    model.receive('A', t + 0.2);
    t = Send(model, "++", t + 0.4, 0.2);
    EXPECT_FALSE(model.inCommandMode());
    model.receive('+', t + 0.2);
    EXPECT_TRUE(model.inCommandMode());
    EXPECT_EQ(model.dataReceived(), "++A+++");
}

TEST(ModuleModelEscape, LeavingCommandModeNeedsAFreshGuardedEscape) {
    for (const char* leave : {"ATX\n", "ATO\n"}) {
        ModuleModel model;
        double t = Escape(model);
        EXPECT_EQ(Exchange(model, leave, &t), "");
        EXPECT_FALSE(model.inCommandMode());
        // In data mode the command texts are payload.
        Send(model, "AT/L\n", t);
        EXPECT_EQ(Collect(model, t + 5.0), "");
        Escape(model, t + 10.0);
        EXPECT_TRUE(model.inCommandMode());
        EXPECT_EQ(model.escapeCount(), 2);
    }
}

TEST(ModuleModelEscape, NoiseComesBeforeThePromptAndHoldsNoPrompt) {
    ModuleOptions options;
    options.noiseBeforePrompt = 61;
    ModuleModel model(options);
    const double last = Send(model, "+++", 1.0, 0.1);
    const std::string reply = Collect(model, last + 1.0);
    ASSERT_EQ(reply.size(), 61u + 3u);
    EXPECT_EQ(reply.find('>'), 63u);
    EXPECT_EQ(reply.substr(61), "\r\n>");
}

// Registers each series lists, written out independently of the model.
const std::vector<int> kTSeries = {100, 101, 102, 103, 104, 105, 110, 111, 112, 120,
                                   121, 122, 123, 124, 125, 126, 127, 128, 129, 130};
const std::vector<int> kM5 = {100, 101, 102, 103, 104, 110, 111, 112, 113,
                              120, 121, 122, 123, 124, 125, 126, 127, 128};
const std::vector<int> kK8 = {100, 101, 102, 103, 104, 110, 111, 112, 120, 121,
                              122, 123, 124, 125, 126, 127, 128, 129, 130};
const std::vector<int> kR3 = {100, 101, 102, 103, 104, 105, 110, 111, 112, 113, 120,
                              121, 122, 123, 124, 125, 126, 127, 128, 129, 130};
const std::vector<int>* const kSeriesRegisters[] = {&kTSeries, &kTSeries, &kTSeries, &kTSeries,
                                                    &kM5,      &kK8,      &kR3};

struct Record {
    int number;
    std::string value;
};

// Splits a list into its records, failing the test on anything not of the form
// "Snnn=value\r\n" ... ">".
std::vector<Record> ParseList(const std::string& list) {
    std::vector<Record> records;
    EXPECT_FALSE(list.empty());
    EXPECT_EQ(list.back(), '>');
    std::size_t position = 0;
    while (position < list.size() && list[position] == 'S') {
        const std::size_t end = list.find("\r\n", position);
        EXPECT_NE(end, std::string::npos);
        if (end == std::string::npos) {
            break;
        }
        const std::string record = list.substr(position, end - position);
        EXPECT_EQ(record[4], '=') << record;
        records.push_back({std::stoi(record.substr(1, 3)), record.substr(5)});
        position = end + 2;
    }
    EXPECT_EQ(position, list.size() - 1) << list;
    return records;
}

bool TwoPart(const std::string& value) {
    return value.find('.') != std::string::npos;
}

class RegisterListForm : public testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RegisterListForm, ListsTheSeriesRegistersInTheirFormWithinThreeHundredCharacters) {
    const auto [series, twoByteIds] = GetParam();
    ModuleOptions options;
    options.series = series;
    options.twoByteIds = twoByteIds;
    ModuleModel model(options);

    // Default values, and the widest values the module can hold.
    double t = 10.0;
    for (bool widest : {false, true}) {
        t = Escape(model, t);
        if (widest) {
            for (int number : *kSeriesRegisters[series]) {
                const bool idPair =
                    number == 120 || (twoByteIds && (number == 121 || number == 122 ||
                                                     number == 123 || number == 130));
                const std::string command =
                    "ATS" + std::to_string(number) + "=" + (idPair ? "255.255" : "255") + "\n";
                ASSERT_EQ(Exchange(model, command, &t), ">") << command;
            }
        }
        const std::string list = model.registerList();
        EXPECT_LE(list.size(), 300u);
        const std::vector<Record> records = ParseList(list);
        std::vector<int> numbers;
        for (const Record& record : records) {
            numbers.push_back(record.number);
            const bool idRegister = record.number == 121 || record.number == 122 ||
                                    record.number == 123 || record.number == 130;
            if (record.number == 120) {
                EXPECT_TRUE(TwoPart(record.value));
            } else if (idRegister) {
                EXPECT_EQ(TwoPart(record.value), twoByteIds) << record.number;
            } else {
                EXPECT_FALSE(TwoPart(record.value)) << record.number;
            }
            if (widest) {
                EXPECT_EQ(record.value, TwoPart(record.value) ? "255.255" : "255");
            }
        }
        EXPECT_EQ(numbers, *kSeriesRegisters[series]);

        // AT/L sends exactly this list.
        EXPECT_EQ(Exchange(model, "AT/L\n", &t), list);
        Exchange(model, "ATX\n", &t);
    }
}

INSTANTIATE_TEST_SUITE_P(EverySeries, RegisterListForm,
                         testing::Combine(testing::Range(0, 7), testing::Bool()));

TEST(ModuleModelRegisters, DefaultListOfAOneByteModule) {
    ModuleOptions options;
    options.series = 0;
    EXPECT_EQ(ModuleModel(options).registerList(),
              "S100=50\r\nS101=0\r\nS102=5\r\nS103=0\r\nS104=3\r\nS105=0\r\nS110=3\r\nS111=0\r\n"
              "S112=7\r\nS120=192.168\r\nS121=10\r\nS122=11\r\nS123=127\r\nS124=0\r\nS125=2\r\n"
              "S126=0\r\nS127=0\r\nS128=0\r\nS129=0\r\nS130=100\r\n>");
}

TEST(ModuleModelRegisters, ModulationDefaultsToLoraOnlyOnTheR3) {
    ModuleOptions options;
    options.series = 6;
    EXPECT_EQ(ModuleModel(options).registerText(113), "1");
    options.series = 4;
    EXPECT_EQ(ModuleModel(options).registerText(113), "0");
    options.series = 5;
    EXPECT_EQ(ModuleModel(options).registerText(113), "");
}

struct SetCase {
    const char* name;
    int series;
    bool okPrompt;
    int refuseRegister;
    const char* command;
    const char* reply;
    int registerNumber;
    const char* valueAfter;
};

class SetCommand : public testing::TestWithParam<SetCase> {};

TEST_P(SetCommand, StoresAndAcknowledgesOrRefuses) {
    const SetCase& row = GetParam();
    ModuleOptions options;
    options.series = row.series;
    options.okPrompt = row.okPrompt;
    options.refuseRegister = row.refuseRegister;
    ModuleModel model(options);
    double t = Escape(model);
    EXPECT_EQ(Exchange(model, row.command, &t), row.reply);
    EXPECT_EQ(model.registerText(row.registerNumber), row.valueAfter);
    EXPECT_TRUE(model.inCommandMode());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SetCommand,
    testing::Values(
        SetCase{"Plain", 0, false, -1, "ATS100=60\n", ">", 100, "60"},
        SetCase{"Zero", 0, false, -1, "ATS125=0\n", ">", 125, "0"},
        SetCase{"Largest", 0, false, -1, "ATS125=255\n", ">", 125, "255"},
        SetCase{"CarriageReturnIgnored", 0, false, -1, "ATS101=1\r\n", ">", 101, "1"},
        SetCase{"NetworkId", 0, false, -1, "ATS120=10.20\n", ">", 120, "10.20"},
        SetCase{"NetworkIdHighOnlyKeepsLow", 0, false, -1, "ATS120=7\n", ">", 120, "7.168"},
        SetCase{"OkPrompt", 0, true, -1, "ATS100=60\n", "OK\r\n>", 100, "60"},
        SetCase{"Refused", 0, false, 105, "ATS105=1\n", "ERROR\r\n>", 105, "0"},
        SetCase{"OtherThanRefused", 0, false, 105, "ATS104=1\n", ">", 104, "1"},
        SetCase{"TooLarge", 0, false, -1, "ATS100=256\n", "ERROR\r\n>", 100, "50"},
        SetCase{"TwoPartOnPlainRegister", 0, false, -1, "ATS100=1.2\n", "ERROR\r\n>", 100, "50"},
        SetCase{"NoValue", 0, false, -1, "ATS100=\n", "ERROR\r\n>", 100, "50"},
        SetCase{"NotInSeries", 4, false, -1, "ATS129=1\n", "ERROR\r\n>", 129, ""},
        // Held though not listed: a full write reaches every series.
        SetCase{"UnlistedFormatOnM5", 4, false, -1, "ATS105=1\n", ">", 105, "1"},
        SetCase{"ModulationOnM5", 4, false, -1, "ATS113=1\n", ">", 113, "1"},
        SetCase{"ModulationNotOnT1a", 0, false, -1, "ATS113=1\n", "ERROR\r\n>", 113, ""},
        SetCase{"UnknownRegister", 0, false, -1, "ATS115=1\n", "ERROR\r\n>", 115, ""}),
    [](const testing::TestParamInfo<SetCase>& info) { return info.param.name; });

TEST(ModuleModelRegisters, TheFormOfTheLocalIdSwitchesTheIdLength) {
    ModuleModel model;
    double t = Escape(model);
    EXPECT_EQ(Exchange(model, "ATS121=10.20\n", &t), ">");
    EXPECT_TRUE(model.twoByteIds());
    // The other IDs now show the low parts they held all along.
    EXPECT_EQ(model.registerText(121), "10.20");
    EXPECT_EQ(model.registerText(122), "11.11");
    EXPECT_EQ(model.registerText(130), "100.100");
    EXPECT_EQ(Exchange(model, "ATS130=1.2\n", &t), ">");
    EXPECT_EQ(Exchange(model, "ATS121=9\n", &t), ">");
    EXPECT_FALSE(model.twoByteIds());
    EXPECT_EQ(model.registerText(121), "9");
    EXPECT_EQ(model.registerText(130), "1");
    EXPECT_EQ(model.registerText(120), "192.168");
    EXPECT_EQ(model.commands(),
              (std::vector<std::string>{"ATS121=10.20", "ATS130=1.2", "ATS121=9"}));
}

TEST(ModuleModelRegisters, SetRegisterReachesValuesSetCommandsRefuse) {
    ModuleModel model;
    model.setRegister(100, "300");
    model.setRegister(116, "4");
    model.setRegister(101, "x");
    EXPECT_EQ(model.registerText(100), "300");
    EXPECT_EQ(model.registerText(101), "0");
    const std::string list = model.registerList();
    EXPECT_NE(list.find("S100=300\r\n"), std::string::npos);
    EXPECT_NE(list.find("S112=7\r\nS116=4\r\nS120="), std::string::npos);
}

TEST(ModuleModelCommands, VersionListAndUnknownCommands) {
    ModuleOptions options;
    options.versionText = "V1.0\r\n";
    ModuleModel model(options);
    double t = Escape(model);
    EXPECT_EQ(Exchange(model, "AT/V\n", &t), "V1.0\r\n>");
    EXPECT_EQ(Exchange(model, "at/v\n", &t), "V1.0\r\n>");
    EXPECT_EQ(Exchange(model, "ATZ\n", &t), "ERROR\r\n>");
    options.registerListOverride = "S100=5S101=7\r\n";
    model.options() = options;
    EXPECT_EQ(Exchange(model, "AT/L\n", &t), "S100=5S101=7\r\n");
}

TEST(ModuleModelFaults, SilentModuleTakesTheEscapeButNeverAnswers) {
    ModuleOptions options;
    options.silent = true;
    options.echo = true;
    ModuleModel model(options);
    const double last = Send(model, "+++", 1.0, 0.1);
    EXPECT_TRUE(model.inCommandMode());
    double t = last + 1.0;
    Exchange(model, "AT/L\n", &t);
    Exchange(model, "ATS100=1\n", &t);
    EXPECT_EQ(Collect(model, t + 100.0), "");
    EXPECT_LT(model.nextDueTime(), 0.0);
    EXPECT_EQ(model.registerText(100), "1");
}

TEST(ModuleModelFaults, EchoIsImmediateAndPrecedesTheReply) {
    ModuleOptions options;
    options.echo = true;
    ModuleModel model(options);
    double t = Escape(model);
    model.receive('A', t);
    EXPECT_EQ(model.due(t), 1);
    EXPECT_EQ(model.take(t), 'A');
    const double end = Send(model, "TS100=9\r\n", t + 0.1);
    EXPECT_EQ(Collect(model, end), "TS100=9\r\n");
    EXPECT_EQ(Collect(model, end + 1.0), ">");
    EXPECT_EQ(model.registerText(100), "9");
    // The escape itself is data, never echoed.
    ModuleModel fresh(options);
    const double last = Send(fresh, "+++", 1.0, 0.1);
    EXPECT_EQ(Collect(fresh, last + 1.0), "\r\n>");
}

TEST(ModuleModelFaults, SlowReplySpacesEveryByte) {
    ModuleOptions options;
    options.byteInterval = 0.02;
    options.responseDelay = 0.01;
    ModuleModel model(options);
    const double last = Send(model, "+++", 1.0, 0.1);
    EXPECT_DOUBLE_EQ(model.nextDueTime(), last + 0.01);
    EXPECT_EQ(model.due(last + 0.01), 1);
    EXPECT_EQ(model.due(last + 0.03), 2);
    EXPECT_EQ(model.due(last + 0.05), 3);
    Collect(model, last + 0.05);
    const double sent = Send(model, "AT/L\n", last + 1.0);
    const std::size_t length = model.registerList().size();
    EXPECT_EQ(model.due(sent + 0.01 + 0.02 * static_cast<double>(length - 1) - 0.001),
              static_cast<int>(length) - 1);
    EXPECT_EQ(model.due(sent + 0.01 + 0.02 * static_cast<double>(length - 1)),
              static_cast<int>(length));
}

TEST(ModuleModelFaults, CutReplyStopsBeforeThePromptButSparesTheEscape) {
    ModuleOptions options;
    options.cutReplyAfter = 40;
    ModuleModel model(options);
    double t = Escape(model);
    const std::string list = Exchange(model, "AT/L\n", &t);
    EXPECT_EQ(list, model.registerList().substr(0, 40));
    EXPECT_EQ(list.find('>'), std::string::npos);
    options.cutReplyAfter = 0;
    model.options() = options;
    EXPECT_EQ(Exchange(model, "ATS100=1\n", &t), "");
    EXPECT_EQ(model.registerText(100), "1");
}

}  // namespace
