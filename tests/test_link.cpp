// The connection, command mode, the firmware version and the write, on the wire of a
// simulated module on a virtual clock.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "link/command_mode.h"
#include "tests/link_fixture.h"

namespace {

using link_test::kCommandError;
using link_test::Popups;
using link_test::Texts;

constexpr double kExact = 1e-6;
const std::string kOpenError =
    "COM Error|COM Port Open error! \r\n Please confirm the selected port is ready, \r\n and "
    "it's resource is not occupied by other applications \r\n Then press the \"Connect\" "
    "button!!  ";
const std::string kEngaged =
    "COM| COM Port in engaged\r\n PLease disconnect the COM port before changing the Baud Rate "
    "or format";
const std::string kConfirmChange =
    "Changing Baud Rate|Confirm to change the Baud Rate? \n\nThe COM port Baud Rate & Format "
    "should match to the module's serial setting \nDefault baud rate =9600bps "
    "\xE3\x80\x80\xE3\x80\x80\r\nDefault format =8N1 \xE3\x80\x80\xE3\x80\x80\r\nClick "
    "\"YES\" to confirm";

class Link : public link_test::LinkTest {};

TEST_F(Link, ConnectsWithTheSettingsChosenAndFollowsThePortPicked) {
    Attach().failNextOpen();
    panel::Press(SHOW_VER);  // every exchange needs the port open
    panel::Press(UPDATE);
    EXPECT_EQ(Popups(), Texts(2, "COM error| COM disconnect!\r\n Connect it first!!  "));
    panel::Commit(PORT_CONN, 1);
    EXPECT_EQ(Popups(), Texts{kOpenError});
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
    EXPECT_TRUE(module().wire().empty());

    ui_testing::AnswerNextConfirm(true);
    panel::Commit(UART_BR, 19200);
    ui_testing::AnswerNextConfirm(true);
    panel::Commit(SERFMT, 6);  // 7E1
    EXPECT_EQ(Popups(), Texts(2, kConfirmChange));
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    const serial_backend::Settings set = module().lastSettings();
    EXPECT_EQ(std::tuple(set.baudRate, set.parity, set.dataBits, set.stopBits, set.inputQueueSize,
                         set.outputQueueSize),
              std::tuple(19200L, 2, 7, 1, 512, 512));

    // The same port again keeps the connection; another one closes it and is taken at the
    // next connect.
    ComPortSelectCallBack(panelHandle, COMPORT_NUM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(connection.connected);
    panel::Commit(COMPORT_NUM, 2);
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
    EXPECT_EQ(module().closeCount(), 1);
    EXPECT_TRUE(Popups().empty());
}

// Accepted changes are taken at the next connect (above).
TEST_F(Link, BaudRateAndFormatStayWhileConnectedOrWhenTheChangeIsDeclined) {
    for (const bool connected : {true, false}) {
        for (const auto& [control, value] : {std::pair{UART_BR, 2400}, std::pair{SERFMT, 6}}) {
            SCOPED_TRACE(testing::Message() << control << connected);
            Attach();
            if (connected) {
                Connect();
            }
            panel::Commit(control, value);  // a confirmation left unanswered is declined
            EXPECT_EQ(Popups(), Texts{connected ? kEngaged : kConfirmChange});
            EXPECT_EQ(std::tuple(connection.comBaudRate, connection.comFormat, connection.connected,
                                 panel::Value(UART_BR), panel::Value(SERFMT)),
                      std::tuple(9600u, 0, connected, 9600, 0));
        }
    }
}

// Each row at its own baud rate, for the escape's guard time. The prompt is looked for one
// character per 50 ms poll, up to 60; without it the module gets a lone carriage return and
// the leave command of its series.
TEST_F(Link, EscapeWaitsTheGuardTimeAndNeedsThePromptWithinSixtyCharacters) {
    const std::tuple<int, double, std::string, int, int, std::string, int> rows[] = {
        {300, 0.3, "\r\n>after", 0, 1, "+++", 3},
        {600, 0.3, ">", 59, 1, "+++", 60},
        {1200, 0.2, ">", 60, 1, "+++\rATX\n", 0},
        {2400, 0.1, "", 0, 4, "+++\rATO\n", 0},  // no answer at all
        {115200, 0.1, "", 0, 6, "+++\rATX\n", 0},
    };
    for (const auto& [baudRate, guard, reply, noise, productIndex, sent, polls] : rows) {
        SCOPED_TRACE(baudRate);
        ModuleOptions options;
        options.escapeReply = reply;
        options.noiseBeforePrompt = noise;
        Attach(options, productIndex);
        ui_testing::AnswerNextConfirm(true);
        panel::Commit(UART_BR, baudRate);
        Popups();
        Connect();
        const double start = now();
        SetWaitCursor(1);  // as every exchange does
        EXPECT_EQ(EnterCommandMode(), polls > 0 ? 1 : 0);
        EXPECT_EQ(module().sentByHost(), sent);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(HostTime(i), start + (i + 1) * guard, kExact);
        }
        EXPECT_EQ(Popups(), polls > 0 ? Texts{} : Texts{kCommandError});
        if (polls > 0) {
            EXPECT_NEAR(now(), start + 3 * guard + polls * 0.05, kExact);
            EXPECT_EQ(GetInQLen(connection.comPort), 0);  // nothing left for the next command
            SetWaitCursor(0);
        } else {
            EXPECT_NEAR(HostTime(3), start + 3 * guard + 60 * 0.05 + 0.3, kExact);  // "\r"
            EXPECT_NEAR(HostTime(4), HostTime(3) + 0.1, kExact);
        }
    }
}

TEST_F(Link, VersionShowsTheTextBeforeThePrompt) {
    const std::string letters = std::string(60, 'a') + std::string(60, 'b');
    const std::string shown = "FirmWare Verion|";
    // Product, version text, reply cut after, seconds between bytes, popup, leave command and
    // its instant after "AT/V".
    const std::tuple<int, std::string, int, double, std::string, std::string, double> rows[] = {
        {4, "V3.36\r\n  build 17 ", -1, 0, shown + "V3.36\r\n  build 17 ", "ATO\n", 0.2},
        {1, "", -1, 0, shown, "ATX\n", 0.2},
        {1, letters, 120, 0, shown + letters.substr(0, 99), "ATX\n", 0.2},
        {1, "V3.36", -1, 0.25, shown + "V3.36", "ATX\n", 1.4},  // a byte every 0.25 s
        {1, "V3.36", 3, 0, kCommandError, "ATX\n", 5.0},        // no prompt within 5 s
    };
    for (const auto& [productIndex, text, cutAfter, byteInterval, popup, leave, after] : rows) {
        SCOPED_TRACE(popup);
        ModuleOptions options;
        options.versionText = text;
        options.cutReplyAfter = cutAfter;
        options.byteInterval = byteInterval;
        Attach(options, productIndex);
        Connect();
        panel::Press(SHOW_VER);
        EXPECT_EQ(Popups(), Texts{popup});
        EXPECT_EQ(module().sentByHost(), "+++AT/V\n" + leave);
        EXPECT_NEAR(HostTime(8), HostTime(3) + after, kExact);  // "AT/V\n", then the leave
    }
}

TEST_F(Link, WriteSendsTheSequenceOfTheSeriesAndIdLengthUntilACommandIsNotAcknowledged) {
    // Every register control at a value of its own, so that one sent with another's shows.
    const std::pair<int, int> panelValues[] = {
        {S100, 230},  {S101, 1},     {S102, 30},   {S103, 2},     {S104, 9},    {S105, 6},
        {S110, 5},    {S111, 77},    {S112, 4},    {S113, 1},     {S120_H, 0},  {S120_L, 255},
        {S121_H, 21}, {S121_L, 121}, {S122_H, 22}, {S122_L, 122}, {S123_H, 23}, {S123_L, 123},
        {S124, 22},   {S125, 255},   {S126, 3},    {S127, 1},     {S128, 0},    {S129, 1},
        {S130_H, 30}, {S130_L, 130}};
    const std::string first = "+++ATS100=230\n";
    const std::string upTo105 = first + "ATS101=1\nATS102=30\nATS103=2\nATS104=9\nATS105=6\n";
    const std::string upTo112 = upTo105 + "ATS110=5\nATS111=77\nATS112=4\n";
    const std::string middle =
        "ATS120=0.255\nATS124=22\nATS125=255\nATS126=3\nATS127=1\nATS128=0\n";
    const std::string oneByteIds = "ATS129=1\nATS121=21\nATS122=22\nATS123=23\nATS130=30\nATO\n";
    // Product, ID length, "OK\r\n>" acknowledgements, register refused, bytes sent.
    const std::tuple<int, int, bool, int, std::string> rows[] = {
        {0, 0, false, -1, upTo112 + middle + oneByteIds},
        {2, 1, false, -1,
         upTo112 + middle +
             "ATS129=1\nATS121=21.121\nATS122=22.122\nATS123=23.123\nATS130=30.130\nATO\n"},
        // The M5 sends its modulation, has no repeater registers and one-byte node IDs.
        {4, 1, false, -1,
         upTo112 + "ATS113=1\n" + middle + "ATS121=21\nATS122=22\nATS123=23\nATO\n"},
        // The R3 shows its modulation but does not take it from the write.
        {6, 0, false, -1, upTo112 + middle + oneByteIds},
        {0, 0, false, 105, upTo105 + "ATX\n"},
        {5, 0, true, -1, first + "ATO\n"},
    };
    for (const auto& [productIndex, idLength, okPrompt, refuse, sent] : rows) {
        SCOPED_TRACE(testing::Message() << productIndex << "/" << idLength);
        ModuleOptions options;
        options.series = productIndex;
        options.okPrompt = okPrompt;
        options.refuseRegister = refuse;
        Attach(options, productIndex);
        for (const auto& [control, value] : panelValues) {
            ASSERT_EQ(SetCtrlVal(panelHandle, control, value), 0) << control;
        }
        SetCtrlVal(panelHandle, ID_LEN, idLength);
        Connect();
        panel::Press(UPDATE);
        const bool refused = okPrompt || refuse > 0;
        EXPECT_EQ(module().sentByHost(), sent);
        EXPECT_EQ(Popups(), Texts{refused ? kCommandError : link_test::kDone});
        // The first command 0.2 s after the escape's prompt (third poll); the leave command at
        // the first poll after the last prompt, or a second after a command without one.
        const std::size_t leave = sent.rfind("AT"), last = sent.rfind("AT", leave - 1);
        EXPECT_NEAR(HostTime(3), module().hostByteTimes('+').back() + 3 * 0.05 + 0.2, kExact);
        EXPECT_NEAR(HostTime(leave), HostTime(last) + (refused ? 1.0 : 0.02), kExact);
    }
}

}  // namespace
