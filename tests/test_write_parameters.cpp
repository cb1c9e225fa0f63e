// Writing the panel's registers into a simulated module with the update button.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/link_fixture.h"

namespace {

using link_test::kCommunicationError;
using link_test::LinkTest;

// Every register control at a value of its own, so that a register sent with another's
// value shows; 0 and 255 are among them.
struct PanelValue {
    int control;
    int value;
};
constexpr PanelValue kDistinctValues[] = {
    {S100, 230},  {S101, 1},     {S102, 30},   {S103, 2},     {S104, 9},    {S105, 6},
    {S110, 5},    {S111, 77},    {S112, 4},    {S113, 0},     {S120_H, 0},  {S120_L, 255},
    {S121_H, 21}, {S121_L, 121}, {S122_H, 22}, {S122_L, 122}, {S123_H, 23}, {S123_L, 123},
    {S124, 22},   {S125, 255},   {S126, 3},    {S127, 1},     {S128, 0},    {S129, 1},
    {S130_H, 30}, {S130_L, 130},
};

std::string Joined(const std::vector<std::string>& commands) {
    std::string text;
    for (const std::string& command : commands) {
        text += command + "\n";
    }
    return text;
}

class WriteParameters : public LinkTest {
  protected:
    // A module of the series, connected, with the panel showing the series, the ID length
    // and the distinct values.
    void Prepare(int productIndex, int idLength, ModuleOptions options = {}) {
        options.series = productIndex;
        Attach(options);
        for (const PanelValue& entry : kDistinctValues) {
            ASSERT_EQ(SetCtrlVal(panelHandle, entry.control, entry.value), 0) << entry.control;
        }
        SetCtrlVal(panelHandle, PRODUCT, productIndex);
        SetCtrlVal(panelHandle, ID_LEN, idLength);
        Connect();
    }
};

TEST_F(WriteParameters, SendsTheSequenceOfTheSeriesAndIdLengthThenLeavesWithO) {
    struct Row {
        int productIndex;
        int idLength;
        std::vector<std::string> commands;
    };
    const Row rows[] = {
        {0, 0, {"ATS100=230", "ATS101=1",   "ATS102=30", "ATS103=2",  "ATS104=9",
                "ATS105=6",   "ATS110=5",   "ATS111=77", "ATS112=4",  "ATS120=0.255",
                "ATS124=22",  "ATS125=255", "ATS126=3",  "ATS127=1",  "ATS128=0",
                "ATS129=1",   "ATS121=21",  "ATS122=22", "ATS123=23", "ATS130=30"}},
        {2, 1, {"ATS100=230", "ATS101=1",      "ATS102=30",     "ATS103=2",      "ATS104=9",
                "ATS105=6",   "ATS110=5",      "ATS111=77",     "ATS112=4",      "ATS120=0.255",
                "ATS124=22",  "ATS125=255",    "ATS126=3",      "ATS127=1",      "ATS128=0",
                "ATS129=1",   "ATS121=21.121", "ATS122=22.122", "ATS123=23.123", "ATS130=30.130"}},
        // The M5 sends its modulation, has no repeater registers and one-byte node IDs.
        {4,
         1,
         {"ATS100=230", "ATS101=1", "ATS102=30", "ATS103=2", "ATS104=9", "ATS105=6", "ATS110=5",
          "ATS111=77", "ATS112=4", "ATS113=0", "ATS120=0.255", "ATS124=22", "ATS125=255",
          "ATS126=3", "ATS127=1", "ATS128=0", "ATS121=21", "ATS122=22", "ATS123=23"}},
        // The R3 shows its modulation but does not take it from the write.
        {6, 0, {"ATS100=230", "ATS101=1",   "ATS102=30", "ATS103=2",  "ATS104=9",
                "ATS105=6",   "ATS110=5",   "ATS111=77", "ATS112=4",  "ATS120=0.255",
                "ATS124=22",  "ATS125=255", "ATS126=3",  "ATS127=1",  "ATS128=0",
                "ATS129=1",   "ATS121=21",  "ATS122=22", "ATS123=23", "ATS130=30"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.productIndex) + "/" + std::to_string(row.idLength));
        Prepare(row.productIndex, row.idLength);
        if (row.productIndex == 6) {
            SetCtrlVal(panelHandle, S113, 1);
        }
        ui_testing::UserPress(panelHandle, UPDATE);

        EXPECT_EQ(module().sentByHost(), "+++" + Joined(row.commands) + "ATO\n");
        EXPECT_EQ(Popups(), std::vector<std::string>{
                                Popup("Command Ok", " Done! The Updating is successfull!")});
        EXPECT_EQ(module().module().registerText(125), "255");
        EXPECT_FALSE(module().module().inCommandMode());
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(WriteParameters, CommandsFollowEachAcknowledgementWithoutPause) {
    Prepare(1, 0);
    ui_testing::UserPress(panelHandle, UPDATE);
    ASSERT_EQ(Popups().size(), 1u);

    // The prompt after the escape is read at the third poll; 0.2 s later the first
    // command goes out, and each next one at the first poll after its predecessor.
    const double lastPlus = module().hostByteTimes('+').back();
    double expected = lastPlus + 3 * 0.05 + 0.2;
    const std::string sent = module().sentByHost();
    const std::vector<sim::WireByte> bytes = HostBytes();
    for (std::size_t at = sent.find("ATS"); at != std::string::npos; at = sent.find("AT", at + 1)) {
        SCOPED_TRACE(sent.substr(at, 7));
        EXPECT_NEAR(bytes[at].time, expected, 1e-6);
        expected += 0.02;
    }
}

TEST_F(WriteParameters, StopsAtTheFirstCommandNotAcknowledged) {
    struct Row {
        int productIndex;
        const char* leave;
    };
    const Row rows[] = {{0, "ATX\n"}, {5, "ATO\n"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.productIndex);
        ModuleOptions options;
        options.refuseRegister = 105;
        Prepare(row.productIndex, 0, options);
        ui_testing::UserPress(panelHandle, UPDATE);

        EXPECT_EQ(module().sentByHost(),
                  std::string("+++ATS100=230\nATS101=1\nATS102=30\nATS103=2\nATS104=9\n"
                              "ATS105=6\n") +
                      row.leave);
        EXPECT_NEAR(HostTimeOf(row.leave), HostTimeOf("ATS105") + 50 * 0.02, 1e-6);
        EXPECT_EQ(Popups(), std::vector<std::string>{Popup("Command Error", kCommunicationError)});
        // What was acknowledged stays in the module; nothing after the refusal reached it.
        EXPECT_EQ(module().module().registerText(104), "9");
        EXPECT_EQ(module().module().registerText(110), "3");
        EXPECT_FALSE(module().module().inCommandMode());
        EXPECT_TRUE(connection.connected);
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(WriteParameters, NoEscapeNoSetCommand) {
    ModuleOptions options;
    options.silent = true;
    Prepare(5, 0, options);
    ui_testing::UserPress(panelHandle, UPDATE);
    EXPECT_EQ(module().sentByHost(), "+++\rATO\n");
    EXPECT_EQ(Popups(), std::vector<std::string>{Popup("Command Error", kCommunicationError)});
}

TEST_F(WriteParameters, OnlyTheCommitEventWrites) {
    Prepare(1, 0);
    UpdateCallBack(panelHandle, UPDATE, 2, nullptr, 0, 0);
    EXPECT_TRUE(module().wire().empty());
    EXPECT_TRUE(Popups().empty());
}

}  // namespace
