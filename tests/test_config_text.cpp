// The configuration text: the scanner of register records and the five saved layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "params/config_text.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

// Every control that a record can set, plus the two the scanner must never touch.
const int registerControls[] = {S100,   S101,   S102,   S103,   S104,   S105,   S110,
                                S111,   S112,   S113,   S120_H, S120_L, S121_H, S121_L,
                                S122_H, S122_L, S123_H, S123_L, S124,   S125,   S126,
                                S127,   S128,   S129,   S130_H, S130_L, S115,   S116};

int Value(int control) {
    uint8_t value = 0;
    EXPECT_EQ(GetCtrlVal(panelHandle, control, &value), 0) << control;
    return value;
}

std::map<int, int> Snapshot() {
    std::map<int, int> values;
    for (int control : registerControls) {
        values[control] = Value(control);
    }
    return values;
}

// Puts the text into the buffer as a load does (the zero right after it) and scans it.
void Parse(const std::string& text) {
    ASSERT_LT(text.size(), CONFIG_TEXT_SIZE);
    std::memcpy(configText, text.data(), text.size());
    configText[text.size()] = '\0';
    ParseConfigText();
}

class Scanning : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(LoadTestPanel(), 0);
        // Low parts that no test text uses, so that a stray write shows.
        SetCtrlVal(panelHandle, S120_L, 201);
        SetCtrlVal(panelHandle, S121_L, 202);
        SetCtrlVal(panelHandle, S122_L, 203);
        SetCtrlVal(panelHandle, S123_L, 204);
        SetCtrlVal(panelHandle, S130_L, 205);
        // Start from a panel the rules agree with, so that only the text changes it.
        ApplyControlRules();
    }
    void TearDown() override { DiscardTestPanel(); }

    // Scans text and checks that exactly the expected controls changed, to the expected
    // values, and that ID_LEN tells the expected ID length.
    void Expect(const std::string& text, const std::map<int, int>& changed, int idLength) {
        SCOPED_TRACE(testing::Message() << "text: \"" << text << "\"");
        std::map<int, int> expected = Snapshot();
        for (const auto& [control, value] : changed) {
            expected[control] = value;
        }
        Parse(text);
        EXPECT_EQ(Snapshot(), expected);
        EXPECT_EQ(Value(ID_LEN), idLength);
    }
};

struct ScanCase {
    const char* name;
    std::string text;
    std::map<int, int> changed;
    int idLength;
};

TEST_F(Scanning, RecordsSetTheirControlsByTheGrammar) {
    const std::vector<ScanCase> cases = {
        {"one record per line",
         "S100=60\r\nS111=9\r\nS102=8\r\n>",
         {{S100, 60}, {S111, 9}, {S102, 8}},
         0},
        {"text around the records is skipped", "\r\nAT/L\r\nS111=12\r\nOK\r\n>", {{S111, 12}}, 0},
        {"a value keeps only its low 8 bits", "S125=300\r\n>", {{S125, 44}}, 0},
        {"255 is kept whole", "S125=255\r\n>", {{S125, 255}}, 0},
        {"0 is a value", "S111=0\r\nS125=0\r\n>", {{S125, 0}}, 0},
        {"leading spaces and a sign", "S125= 42\r\nS130=-1\r\n>", {{S125, 42}, {S130_H, 255}}, 0},
        {"a non-digit ends the value", "S125=4x7\r\n>", {{S125, 4}}, 0},
        {"the separator is not examined", "S111:33\r\n>", {{S111, 33}}, 0},
        {"the register number keeps its low 8 bits too", "S356=77\r\n>", {{S100, 77}}, 0},
        {"S106, S115 and S116 are not registers of the set",
         "S106=5\r\nS115=1\r\nS116=99\r\n>",
         {},
         0},
        {"a register number that is no number is skipped", "SXYZ=5\r\n>", {}, 0},
        {"two records run together lose the second", "S100=5S101=1\r\n>", {{S100, 5}}, 0},
        {"a text without the end marker", "S100=60\r\nS111=9\r\n", {{S100, 60}, {S111, 9}}, 0},
        {"S120 without a point and no low part before it",
         "S120=7\r\n>",
         {{S120_H, 7}, {S120_L, 0}},
         0},
        {"S120 without a point takes the low part read last",
         "S122=3.44\r\nS120=9\r\n>",
         {{S122_H, 3}, {S120_H, 9}, {S120_L, 44}},
         0},
        {"S120 with its own low part", "S120=192.168\r\n>", {{S120_H, 192}, {S120_L, 168}}, 0},
        {"a low part runs past a second point", "S120=1.2.3\r\n>", {{S120_H, 1}, {S120_L, 2}}, 0},
        {"S121 with a low part gives two-byte IDs",
         "S121=10.20\r\n>",
         {{S121_H, 10}, {S121_L, 20}},
         1},
        {"S121 without a point leaves the low parts alone",
         "S121=10\r\nS122=11\r\nS123=12\r\nS130=13\r\n>",
         {{S121_H, 10}, {S122_H, 11}, {S123_H, 12}, {S130_H, 13}},
         0},
        {"two-part S121 first makes the later low parts count",
         "S121=1.2\r\nS122=3.4\r\nS123=5.6\r\nS130=7.8\r\n>",
         {{S121_H, 1},
          {S121_L, 2},
          {S122_H, 3},
          {S122_L, 4},
          {S123_H, 5},
          {S123_L, 6},
          {S130_H, 7},
          {S130_L, 8}},
         1},
        {"two-part S121 last does not reach back",
         "S122=3.4\r\nS123=5.6\r\nS130=7.8\r\nS121=1.2\r\n>",
         {{S122_H, 3}, {S123_H, 5}, {S130_H, 7}, {S121_H, 1}, {S121_L, 2}},
         1},
        {"after two-part S121 a one-part record reuses the last low part",
         "S121=1.2\r\nS130=7\r\n>",
         {{S121_H, 1}, {S121_L, 2}, {S130_H, 7}, {S130_L, 2}},
         1},
        {"no records at all", "OK\r\n>", {}, 0},
        {"an empty text", "", {}, 0},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from the same panel.
        DiscardTestPanel();
        SetUp();
        Expect(c.text, c.changed, c.idLength);
    }
}

TEST_F(Scanning, RecordsCutByTheEndAreDroppedWhole) {
    const std::vector<ScanCase> cases = {
        {"an S as the last character", "S100=60\r\nS", {{S100, 60}}, 0},
        {"inside the register number", "S100=60\r\nS11", {{S100, 60}}, 0},
        {"before the separator is read", "S100=60\r\nS111", {{S100, 60}}, 0},
        {"right after the separator", "S100=60\r\nS111=", {{S100, 60}}, 0},
        {"a value running into the end", "S100=60\r\nS111=4", {{S100, 60}}, 0},
        {"a cut low part drops the high part too", "S100=60\r\nS120=1.2", {{S100, 60}}, 0},
        {"a cut two-part S121 does not set the ID length", "S121=10.2", {}, 0},
        {"a point and then the end", "S121=10.", {}, 0},
        // Three characters end a value by themselves: such a record is whole.
        {"a three-digit value at the end", "S100=60\r\nS125=123", {{S100, 60}, {S125, 123}}, 0},
        {"a three-digit low part at the end", "S121=1.234", {{S121_H, 1}, {S121_L, 234}}, 1},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        DiscardTestPanel();
        SetUp();
        Expect(c.text, c.changed, c.idLength);
    }
}

TEST_F(Scanning, StopsAtTheTerminatingZero) {
    // A longer text left in the buffer by an earlier read must not show through.
    const std::string earlier = "S100=60\r\nS111=9\r\nS125=77\r\n>";
    std::memcpy(configText, earlier.c_str(), earlier.size() + 1);
    configText[9] = '\0';
    std::map<int, int> expected = Snapshot();
    expected[S100] = 60;
    ParseConfigText();
    EXPECT_EQ(Snapshot(), expected);
}

TEST_F(Scanning, StopsAtTheEndOfABufferWithoutZero) {
    const std::string record = "S125=9\r\n";
    for (std::size_t i = 0; i < CONFIG_TEXT_SIZE; ++i) {
        configText[i] = record[i % record.size()];
    }
    ParseConfigText();
    EXPECT_EQ(Value(S125), 9);
}

// Values chosen so that each field is told from every other.
ParameterSet Distinct(uint8_t productIndex, uint8_t idLength) {
    ParameterSet p{};
    p.productIndex = productIndex;
    p.idLength = idLength;
    p.s100 = 101;
    p.s101 = 1;
    p.s102 = 102;
    p.s103 = 3;
    p.s104 = 104;
    p.s105 = 5;
    p.s110 = 110;
    p.s111 = 111;
    p.s112 = 112;
    p.s113 = 113;
    p.s120High = 192;
    p.s120Low = 168;
    p.s121High = 21;
    p.s121Low = 121;
    p.s122High = 22;
    p.s122Low = 122;
    p.s123High = 23;
    p.s123Low = 123;
    p.s124 = 124;
    p.s125 = 125;
    p.s126 = 126;
    p.s127 = 127;
    p.s128 = 128;
    p.s129 = 129;
    p.s130High = 30;
    p.s130Low = 130;
    return p;
}

std::string Formatted(const ParameterSet& p) {
    parameters = p;
    std::memset(configText, 'x', CONFIG_TEXT_SIZE);
    FormatConfigText();
    return configText;
}

struct LayoutCase {
    const char* layout;
    uint8_t productIndex;
    uint8_t idLength;
    const char* text;
};

TEST(ConfigTextLayouts, EachSeriesAndIdLengthWritesItsLayout) {
    const char* layoutA =
        "S100=101\r\nS101=1\r\nS102=102\r\nS103=3\r\nS104=104\r\nS105=5\r\nS110=110\r\n"
        "S111=111\r\nS112=112\r\nS120=192.168\r\nS121=21.121\r\nS122=22.122\r\n"
        "S123=23.123\r\nS124=124\r\nS125=125\r\nS126=126\r\nS127=127\r\nS128=128\r\n"
        "S129=129\r\nS130=30.130\r\n>";
    const char* layoutB =
        "S100=101\r\nS101=1\r\nS102=102\r\nS103=3\r\nS104=104\r\nS105=5\r\nS110=110\r\n"
        "S111=111\r\nS112=112\r\nS120=192.168\r\nS121=21\r\nS122=22\r\nS123=23\r\n"
        "S124=124\r\nS125=125\r\nS126=126\r\nS127=127\r\nS128=128\r\nS129=129\r\n"
        "S130=30\r\n>";
    const char* layoutC =
        "S100=101\r\nS101=1\r\nS102=102\r\nS103=3\r\nS104=104\r\nS105=5\r\nS110=110\r\n"
        "S111=111\r\nS112=112\r\nS113=113\r\nS120=192.168\r\nS121=21\r\nS122=22\r\n"
        "S123=23\r\nS124=124\r\nS125=125\r\nS126=126\r\nS127=127\r\nS128=128\r\n"
        "S129=129\r\nS130=30\r\n>";
    const char* layoutD =
        "S100=101\r\nS101=1\r\nS102=102\r\nS103=3\r\nS104=104\r\nS110=110\r\n"
        "S111=111\r\nS112=112\r\nS120=192.168\r\nS121=21.121\r\nS122=22.122\r\n"
        "S123=23.123\r\nS124=124\r\nS125=125\r\nS126=126\r\nS127=127\r\nS128=128\r\n"
        "S129=129\r\nS130=30.130\r\n>";
    const char* layoutE =
        "S100=101\r\nS101=1\r\nS102=102\r\nS103=3\r\nS104=104\r\nS110=110\r\n"
        "S111=111\r\nS112=112\r\nS120=192.168\r\nS121=21\r\nS122=22\r\nS123=23\r\n"
        "S124=124\r\nS125=125\r\nS126=126\r\nS127=127\r\nS128=128\r\nS129=129\r\n"
        "S130=30\r\n>";
    const std::vector<LayoutCase> cases = {
        {"A", 0, 1, layoutA}, {"A", 3, 1, layoutA}, {"B", 1, 0, layoutB}, {"B", 2, 0, layoutB},
        {"C", 6, 1, layoutC}, {"C", 6, 0, layoutC}, {"D", 4, 1, layoutD}, {"D", 5, 1, layoutD},
        {"E", 4, 0, layoutE}, {"E", 5, 0, layoutE},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "layout " << c.layout << ", series " << int{c.productIndex}
                     << ", ID length " << int{c.idLength});
        EXPECT_EQ(Formatted(Distinct(c.productIndex, c.idLength)), c.text);
    }
}

TEST(ConfigTextLayouts, WritesTheShortExampleOfLayoutB) {
    ParameterSet p{};
    p.productIndex = 0;
    p.idLength = 0;
    p.s100 = 50;
    p.s102 = 5;
    p.s104 = 3;
    p.s110 = 3;
    p.s112 = 7;
    p.s120High = 192;
    p.s120Low = 168;
    p.s121High = 10;
    p.s121Low = 99;  // not written with one-byte IDs
    p.s122High = 11;
    p.s123High = 127;
    p.s125 = 2;
    p.s130High = 100;
    EXPECT_EQ(Formatted(p),
              "S100=50\r\nS101=0\r\nS102=5\r\nS103=0\r\nS104=3\r\nS105=0\r\nS110=3\r\n"
              "S111=0\r\nS112=7\r\nS120=192.168\r\nS121=10\r\nS122=11\r\nS123=127\r\n"
              "S124=0\r\nS125=2\r\nS126=0\r\nS127=0\r\nS128=0\r\nS129=0\r\nS130=100\r\n>");
}

TEST(ConfigTextLayouts, LengthsRunFromAllZeroToAll255) {
    struct LengthCase {
        const char* layout;
        uint8_t productIndex;
        uint8_t idLength;
        std::size_t shortest;
        std::size_t longest;
    };
    const LengthCase cases[] = {
        {"A", 0, 1, 171, 221}, {"B", 0, 0, 163, 205}, {"C", 6, 1, 171, 215},
        {"D", 4, 1, 163, 211}, {"E", 5, 0, 155, 195},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.layout);
        ParameterSet p{};
        std::memset(&p, 0, sizeof p);
        p.productIndex = c.productIndex;
        p.idLength = c.idLength;
        std::string zeros = Formatted(p);
        EXPECT_EQ(zeros.size(), c.shortest);
        EXPECT_EQ(zeros.find("=00"), std::string::npos);

        std::memset(&p, 255, sizeof p);
        p.productIndex = c.productIndex;
        p.idLength = c.idLength;
        std::string full = Formatted(p);
        EXPECT_EQ(full.size(), c.longest);
        EXPECT_NE(full.find("S100=255\r\n"), std::string::npos);
        EXPECT_EQ(full.back(), '>');
    }
}

}  // namespace

namespace {

TEST(FindingARegister, TakesTheLastWholeRecordAsTheScanWould) {
    uint8_t value = 0;
    std::strcpy(configText, "S110=3\r\nS110=6\r\nS110=7");  // the last one is cut
    EXPECT_TRUE(FindRegisterValue(110, &value));
    EXPECT_EQ(value, 6);
    std::strcpy(configText, "S110=300\r\n>");
    EXPECT_TRUE(FindRegisterValue(110, &value));
    EXPECT_EQ(value, 44);
    value = 9;
    std::strcpy(configText, "S111=3\r\nS011=5\r\n>");
    EXPECT_FALSE(FindRegisterValue(110, &value));
    EXPECT_EQ(value, 9);
}

}  // namespace
