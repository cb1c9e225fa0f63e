// Entering and leaving command mode, and the prompt after a register command, measured on
// the wire of a simulated module.
#include <gtest/gtest.h>
#include <QGuiApplication>

#include <string>
#include <vector>

#include "link/command_mode.h"
#include "runtime/serial_backend.h"
#include "tests/link_fixture.h"

namespace {

using link_test::kCommunicationError;
using link_test::kDisconnected;
using link_test::LinkTest;

constexpr double kExact = 1e-9;

class CommandMode : public LinkTest {};

TEST_F(CommandMode, EscapeWaitsTheGuardTimeOfTheBaudRateBeforeEachPlus) {
    struct Row {
        int baudRate;
        double guardTime;
    };
    const Row rows[] = {{300, 0.3}, {600, 0.3}, {1200, 0.2}, {2400, 0.1}, {115200, 0.1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baudRate);
        Attach();
        if (row.baudRate != 9600) {
            ChooseBaudRate(row.baudRate);
        }
        Connect();
        const double start = Now();
        ASSERT_EQ(EnterCommandMode(), 1);

        EXPECT_EQ(module().sentByHost(), "+++");
        const std::vector<double> plusTimes = module().hostByteTimes('+');
        ASSERT_EQ(plusTimes.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(plusTimes[i], start + (i + 1) * row.guardTime, kExact);
        }
        EXPECT_TRUE(module().module().inCommandMode());
        EXPECT_TRUE(Popups().empty());

        LeaveCommandMode(0);
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(CommandMode, PromptBehindALineBreakIsFoundAtTheThirdPoll) {
    ModuleOptions options;
    options.escapeReply = "\r\n>after";
    Attach(options);
    Connect();
    ASSERT_EQ(EnterCommandMode(), 1);
    const double lastPlus = module().hostByteTimes('+').back();
    EXPECT_NEAR(Now(), lastPlus + 3 * 0.05, kExact);
    // What came behind the prompt is not left for the next command.
    EXPECT_EQ(GetInQLen(connection.comPort), 0);
}

TEST_F(CommandMode, PromptMustComeWithinSixtyCharacters) {
    struct Row {
        int noise;
        int expected;
    };
    // One byte is read per poll, so the prompt as the 60th character is the last found.
    const Row rows[] = {{59, 1}, {60, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.noise);
        ModuleOptions options;
        options.escapeReply = ">";
        options.noiseBeforePrompt = row.noise;
        Attach(options);
        Connect();
        EXPECT_EQ(EnterCommandMode(), row.expected);
        if (row.expected == 1) {
            EXPECT_TRUE(Popups().empty());
            LeaveCommandMode(0);
        } else {
            EXPECT_EQ(Popups(),
                      std::vector<std::string>{Popup("Command Error", kCommunicationError)});
        }
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(CommandMode, SilentModuleGetsCarriageReturnAndLeaveCommandOfItsSeries) {
    struct Row {
        int productIndex;
        const char* leave;
    };
    const Row rows[] = {{5, "ATO\n"}, {6, "ATX\n"}, {4, "ATO\n"}, {0, "ATX\n"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.productIndex);
        ModuleOptions options;
        options.silent = true;
        Attach(options);
        SetCtrlVal(panelHandle, PRODUCT, row.productIndex);
        Connect();
        EXPECT_EQ(EnterCommandMode(), 0);

        EXPECT_EQ(module().sentByHost(), std::string("+++\r") + row.leave);
        const double lastPlus = module().hostByteTimes('+').back();
        const double carriageReturn = HostTimeOf("\r");
        EXPECT_NEAR(carriageReturn, lastPlus + 60 * 0.05 + 0.3, 1e-6);
        EXPECT_NEAR(HostTimeOf(row.leave), carriageReturn + 0.1, 1e-6);
        EXPECT_EQ(parameters.productIndex, row.productIndex);
        EXPECT_EQ(Popups(), std::vector<std::string>{Popup("Command Error", kCommunicationError)});
        EXPECT_TRUE(connection.connected);  // the user may simply try again
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(CommandMode, RegisterCommandCountsOnlyAReplyThatStartsWithThePrompt) {
    struct Row {
        bool okPrompt;
        int expected;
        double duration;  // from the command to the verdict
    };
    const Row rows[] = {
        {false, 1, 0.02},  // ">" arrives before the first poll
        {true, 0, 1.0},    // "OK\r\n>": the prompt goes out with the rest
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.okPrompt);
        ModuleOptions options;
        options.okPrompt = row.okPrompt;
        Attach(options);
        Connect();
        ASSERT_EQ(EnterCommandMode(), 1);
        ComWrt(connection.comPort, "ATS100=77\n", 10);
        const double sent = Now();
        EXPECT_EQ(WaitForPrompt(), row.expected);
        EXPECT_NEAR(Now() - sent, row.duration, 1e-6);
        EXPECT_EQ(GetInQLen(connection.comPort), 0);
        EXPECT_EQ(module().module().registerText(100), "77");
        LeaveCommandMode(0);
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(CommandMode, NothingIsSentWhileThePortIsClosed) {
    Attach();
    EXPECT_EQ(EnterCommandMode(), 0);
    EXPECT_EQ(Popups(), std::vector<std::string>{Popup("COM error", kDisconnected)});

    ui_testing::UserPress(panelHandle, SHOW_VER);
    EXPECT_EQ(Popups(), std::vector<std::string>{Popup("COM error", kDisconnected)});
    ui_testing::UserPress(panelHandle, UPDATE);
    EXPECT_EQ(Popups(), std::vector<std::string>{Popup("COM error", kDisconnected)});

    EXPECT_TRUE(module().wire().empty());
    EXPECT_EQ(module().openCount(), 0);
}

}  // namespace

// Watches the mouse cursor whenever the program waits on the clock.
class CursorWatchingClock : public serial_backend::Clock {
  public:
    explicit CursorWatchingClock(serial_backend::Clock& inner) : inner_(inner) {}
    double now() override { return inner_.now(); }
    void waitUntil(double when) override {
        ++waits;
        if (QGuiApplication::overrideCursor() == nullptr) {
            ++waitsWithoutBusyCursor;
        }
        inner_.waitUntil(when);
    }
    int waits = 0;
    int waitsWithoutBusyCursor = 0;

  private:
    serial_backend::Clock& inner_;
};

TEST_F(CommandMode, BusyCursorWhileAnExchangeWaitsAndNeverAfter) {
    struct Row {
        const char* what;
        int button;
        bool connected;
        bool silent;
        int refuseRegister;
    };
    const Row rows[] = {
        {"version", SHOW_VER, true, false, -1},
        {"version, no escape", SHOW_VER, true, true, -1},
        {"version, port closed", SHOW_VER, false, false, -1},
        {"update", UPDATE, true, false, -1},
        {"update, refused", UPDATE, true, false, 101},
        {"update, no escape", UPDATE, true, true, -1},
        {"update, port closed", UPDATE, false, false, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ModuleOptions options;
        options.silent = row.silent;
        options.refuseRegister = row.refuseRegister;
        Attach(options);
        if (row.connected) {
            Connect();
        }
        CursorWatchingClock clock(module().clock());
        serial_backend::SetClock(&clock);
        ui_testing::UserPress(panelHandle, row.button);
        serial_backend::SetClock(&module().clock());

        EXPECT_EQ(Popups().size(), 1u);
        EXPECT_EQ(clock.waitsWithoutBusyCursor, 0);
        EXPECT_EQ(clock.waits > 0, row.connected);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}
