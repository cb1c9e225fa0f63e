// The link against zelksim on a real pseudo-terminal, in real time: connect, version,
// write, a refused write, and the escape's guard times as the module saw them.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "link/connection.h"
#include "link/version.h"
#include "params/parameters.h"
#include "params/write.h"
#include "runtime/rs232.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

extern char** environ;

namespace {

struct LoggedByte {
    double time;
    bool fromHost;
    char byte;
};

class LinkEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* zelksim = std::getenv("ZELKSIM");
        if (zelksim == nullptr || access(zelksim, X_OK) != 0) {
            GTEST_SKIP() << "ZELKSIM does not name the simulator";
        }
        zelksim_ = zelksim;
        connection = ConnectionState{0, false, 9600, 0};
        RegisterCallback("PortConnCallBack", PortConnCallBack);
        RegisterCallback("ComPortSelectCallBack", ComPortSelectCallBack);
        RegisterCallback("UartBrCallBack", UartBrCallBack);
        RegisterCallback("ShowVerCallBack", ShowVerCallBack);
        RegisterCallback("UpdateCallBack", UpdateCallBack);
        ASSERT_GE(LoadTestPanel(), 0);
        char logName[] = "/tmp/zelksim-log-XXXXXX";
        const int logFile = mkstemp(logName);
        ASSERT_GE(logFile, 0);
        close(logFile);
        logPath_ = logName;
    }

    void TearDown() override {
        if (connection.connected) {
            CloseCom(connection.comPort);
            connection.connected = false;
        }
        if (simulator_ > 0) {
            kill(simulator_, SIGTERM);
            waitpid(simulator_, nullptr, 0);
        }
        if (output_ != nullptr) {
            std::fclose(output_);
        }
        if (!logPath_.empty()) {
            std::remove(logPath_.c_str());
        }
        unsetenv("ZELK_COM1");
        if (!zelksim_.empty()) {
            ui_testing::TakePopups();
            DiscardTestPanel();
        }
    }

    // Starts the simulator with these options, attaches its pty as COM1 and connects.
    void StartAndConnect(const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {zelksim_, "--log", logPath_};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        ASSERT_EQ(
            posix_spawn(&simulator_, zelksim_.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        output_ = fdopen(pipeEnds[0], "r");
        ASSERT_NE(output_, nullptr);

        char line[512] = {};
        ASSERT_NE(std::fgets(line, sizeof line, output_), nullptr) << "zelksim printed nothing";
        std::string device = line;
        while (!device.empty() && (device.back() == '\n' || device.back() == '\r')) {
            device.pop_back();
        }
        ASSERT_FALSE(device.empty());
        setenv("ZELK_COM1", device.c_str(), 1);

        ui_testing::UserSetValue(panelHandle, PORT_CONN, 1);
        ASSERT_TRUE(connection.connected) << "could not open " << device;
        ASSERT_TRUE(ui_testing::TakePopups().empty());
    }

    // The log, read until the host's bytes end with `tail` (zelksim may still be taking
    // the last bytes when the callback returns).
    std::vector<LoggedByte> LogEndingWith(const std::string& tail) {
        std::vector<LoggedByte> bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        do {
            bytes = ReadLog();
            std::string host;
            for (const LoggedByte& byte : bytes) {
                if (byte.fromHost) {
                    host.push_back(byte.byte);
                }
            }
            if (host.size() >= tail.size() &&
                host.compare(host.size() - tail.size(), tail.size(), tail) == 0) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return bytes;
    }

    static std::string HostText(const std::vector<LoggedByte>& bytes) {
        std::string text;
        for (const LoggedByte& byte : bytes) {
            if (byte.fromHost) {
                text.push_back(byte.byte);
            }
        }
        return text;
    }

    static double HostTimeOf(const std::vector<LoggedByte>& bytes, const std::string& text) {
        const std::string host = HostText(bytes);
        std::size_t at = host.find(text);
        if (at == std::string::npos) {
            return -1.0;
        }
        for (const LoggedByte& byte : bytes) {
            if (byte.fromHost && at-- == 0) {
                return byte.time;
            }
        }
        return -1.0;
    }

    // The gaps before the second and third "+" of the escape, as the module saw them.
    static std::vector<double> EscapeGaps(const std::vector<LoggedByte>& bytes) {
        std::vector<double> plusTimes;
        for (const LoggedByte& byte : bytes) {
            if (byte.fromHost && byte.byte == '+') {
                plusTimes.push_back(byte.time);
            }
        }
        std::vector<double> gaps;
        for (std::size_t i = 1; i < plusTimes.size(); ++i) {
            gaps.push_back(plusTimes[i] - plusTimes[i - 1]);
        }
        return gaps;
    }

    static std::vector<std::string> Popups() {
        std::vector<std::string> popups;
        for (const ui_testing::Popup& popup : ui_testing::TakePopups()) {
            popups.push_back(popup.title + "|" + popup.message);
        }
        return popups;
    }

  private:
    std::vector<LoggedByte> ReadLog() const {
        std::vector<LoggedByte> bytes;
        std::ifstream log(logPath_);
        std::string line;
        while (std::getline(log, line)) {
            if (line.empty() || line[0] == '#') {
                continue;
            }
            std::istringstream fields(line);
            double time = 0.0;
            std::string direction;
            std::string hex;
            if (!(fields >> time >> direction >> hex)) {
                continue;
            }
            bytes.push_back(
                {time, direction == "host", static_cast<char>(std::stoi(hex, nullptr, 16))});
        }
        return bytes;
    }

    std::string zelksim_;
    std::string logPath_;
    pid_t simulator_ = 0;
    std::FILE* output_ = nullptr;
};

// The module sees the byte when its read wakes up, a fraction of a millisecond after the
// program wrote it; the guard time itself is never cut short.
constexpr double kMeasuringSlack = 0.0005;
constexpr double kLateAtMost = 0.010;

void ExpectGuardTimes(const std::vector<double>& gaps, double nominal) {
    ASSERT_EQ(gaps.size(), 2u);
    for (double gap : gaps) {
        EXPECT_GE(gap, nominal - kMeasuringSlack);
        EXPECT_LE(gap, nominal + kLateAtMost);
    }
}

TEST_F(LinkEndToEnd, ShowsTheVersionOfTheModule) {
    StartAndConnect({"--version-text", "Zelk E2E firmware V9.99"});
    ui_testing::UserPress(panelHandle, SHOW_VER);
    EXPECT_EQ(Popups(), std::vector<std::string>{"FirmWare Verion|Zelk E2E firmware V9.99"});
    const std::vector<LoggedByte> log = LogEndingWith("ATX\n");
    EXPECT_EQ(HostText(log), "+++AT/V\nATX\n");
    ExpectGuardTimes(EscapeGaps(log), 0.1);
}

TEST_F(LinkEndToEnd, WritesThePanelIntoTheModule) {
    StartAndConnect({"--series", "T1b"});
    SetCtrlVal(panelHandle, S111, 42);
    ui_testing::UserPress(panelHandle, UPDATE);
    EXPECT_EQ(Popups(), std::vector<std::string>{"Command Ok| Done! The Updating is successfull!"});
    const std::vector<LoggedByte> log = LogEndingWith("ATO\n");
    const std::string host = HostText(log);
    EXPECT_EQ(host.substr(0, 13), "+++ATS100=50\n");
    EXPECT_NE(host.find("ATS111=42\nATS112="), std::string::npos);
    EXPECT_NE(host.find("ATS123=127\nATS130=100\nATO\n"), std::string::npos);
    ExpectGuardTimes(EscapeGaps(log), 0.1);
}

TEST_F(LinkEndToEnd, RefusedRegisterEndsTheWrite) {
    StartAndConnect({"--refuse-register", "105"});
    ui_testing::UserPress(panelHandle, UPDATE);
    EXPECT_EQ(Popups(),
              std::vector<std::string>{"Command Error| Communication Error! Please Re-try "});
    const std::vector<LoggedByte> log = LogEndingWith("ATX\n");
    const std::string host = HostText(log);
    EXPECT_EQ(host.substr(host.size() - 13), "ATS105=0\nATX\n");
    EXPECT_EQ(host.find("ATS110"), std::string::npos);
    // The leave command waits for the prompt to time out, a second after the command.
    const double waited = HostTimeOf(log, "ATX") - HostTimeOf(log, "ATS105");
    EXPECT_GE(waited, 1.0 - kMeasuringSlack);
    EXPECT_LE(waited, 1.0 + 0.1);
}

}  // namespace
