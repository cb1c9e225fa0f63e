// End to end: zelksim on a real pseudo-terminal, reached through the real QSerialPort
// backend and the steady clock, in real time.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/rs232.h"
#include "runtime/utility.h"
#include "tools/module_model.h"

extern char** environ;

namespace {

struct LoggedByte {
    double time;
    bool fromHost;
    int byte;
};

// One zelksim process, stopped with SIGTERM when the object goes.
class Zelksim {
  public:
    explicit Zelksim(const std::vector<std::string>& options) {
        char directory[] = "/tmp/zelksim-test-XXXXXX";
        directory_ = mkdtemp(directory) != nullptr ? directory : "";
        logPath_ = directory_ + "/wire.log";
        const char* program = std::getenv("ZELKSIM");
        const std::string path = program != nullptr ? program : "./zelksim";

        std::vector<std::string> arguments = {path, "--log", logPath_};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        int output[2];
        if (pipe(output) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);

        // The first line is the pty's path.
        char c = 0;
        pollfd watch{output[0], POLLIN, 0};
        while (pid_ > 0 && poll(&watch, 1, 5000) == 1 && read(output[0], &c, 1) == 1 && c != '\n') {
            device_.push_back(c);
        }
        close(output[0]);
    }

    ~Zelksim() {
        stop();
        std::remove(logPath_.c_str());
        rmdir(directory_.c_str());
    }

    Zelksim(const Zelksim&) = delete;
    Zelksim& operator=(const Zelksim&) = delete;

    const std::string& device() const { return device_; }

    // Stops the simulator; returns its exit status.
    int stop() {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<LoggedByte> log() const {
        std::vector<LoggedByte> bytes;
        std::ifstream file(logPath_);
        for (std::string line; std::getline(file, line);) {
            if (line.empty() || line[0] == '#') {
                continue;
            }
            std::istringstream fields(line);
            LoggedByte entry{};
            std::string direction;
            std::string hex;
            fields >> entry.time >> direction >> hex;
            entry.fromHost = direction == "host";
            entry.byte = std::stoi(hex, nullptr, 16);
            bytes.push_back(entry);
        }
        return bytes;
    }

  private:
    pid_t pid_ = -1;
    std::string device_;
    std::string directory_;
    std::string logPath_;
};

class ZelksimPty : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_zelksim_pty";
        static char* argv[] = {name, nullptr};
        application_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete application_;
        application_ = nullptr;
    }
    void TearDown() override {
        CloseCom(1);
        unsetenv("ZELK_COM1");
    }

    static void Attach(const Zelksim& simulator) {
        ASSERT_FALSE(simulator.device().empty()) << "zelksim did not start";
        setenv("ZELK_COM1", simulator.device().c_str(), 1);
        ASSERT_EQ(std::string(ComPortDeviceName(1)), simulator.device());
        ASSERT_EQ(OpenComConfig(1, "", 9600, PARITY_NONE, 8, 1, 512, 512), 0);
        FlushOutQ(1);
        FlushInQ(1);
    }

    // The escape the way the program sends it, then up to `polls` polls of 0.05 s for the
    // prompt, one byte per poll.
    static bool Escape(double guard, int polls = 60) {
        FlushInQ(1);
        FlushOutQ(1);
        for (int i = 0; i < 3; ++i) {
            SyncWait(Timer(), guard);
            ComWrtByte(1, '+');
        }
        for (int poll = 0; poll < polls; ++poll) {
            SyncWait(Timer(), 0.05);
            if (GetInQLen(1) > 0 && ComRdByte(1) == '>') {
                FlushInQ(1);
                FlushOutQ(1);
                return true;
            }
        }
        return false;
    }

    // Sends a command and collects the reply up to and including ">", for at most `cycles`
    // polls of 0.05 s.
    static std::string Command(const std::string& command, int cycles = 80) {
        ComWrt(1, command.data(), static_cast<int>(command.size()));
        std::string reply;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            while (GetInQLen(1) > 0) {
                reply.push_back(static_cast<char>(ComRdByte(1)));
                if (reply.back() == '>') {
                    return reply;
                }
            }
            SyncWait(Timer(), 0.05);
        }
        return reply;
    }

    static QCoreApplication* application_;
};

QCoreApplication* ZelksimPty::application_ = nullptr;

TEST_F(ZelksimPty, EscapeListAndVersionOverTheRealPortWithGuardsOnTheWire) {
    Zelksim simulator({"--series", "R3", "--two-byte-ids", "--version-text", "Zelk\\r\\nV9"});
    Attach(simulator);

    ASSERT_TRUE(Escape(0.1));
    ModuleOptions options;
    options.series = 6;
    options.twoByteIds = true;
    EXPECT_EQ(Command("AT/L\n"), ModuleModel(options).registerList());
    EXPECT_EQ(Command("ATS100=77\n"), ">");
    ComWrt(1, "ATX\n", 4);
    ASSERT_EQ(CloseCom(1), 0);

    // The simulator keeps serving across a close and a new open of the port.
    ASSERT_EQ(OpenComConfig(1, "", 9600, PARITY_NONE, 8, 1, 512, 512), 0);
    ASSERT_TRUE(Escape(0.1));
    EXPECT_EQ(Command("AT/V\n"), "Zelk\r\nV9>");
    const std::string list = Command("AT/L\n");
    EXPECT_NE(list.find("S100=77\r\n"), std::string::npos) << list;
    ComWrt(1, "ATX\n", 4);
    ASSERT_EQ(CloseCom(1), 0);
    EXPECT_EQ(simulator.stop(), 0);

    // Each "+" after the first of an escape follows its predecessor by the guard time on
    // the wire: not less (the write was not held back and sent with the next), and not
    // much more. zelksim stamps a byte when it reads it, which can lag by a scheduling
    // delay; a millisecond of slack absorbs that on the low side.
    const std::vector<LoggedByte> wire = simulator.log();
    std::vector<double> gaps;
    double previousHostByte = -1.0;
    int plusInEscape = 0;
    for (const LoggedByte& entry : wire) {
        if (!entry.fromHost) {
            continue;
        }
        if (entry.byte == '+') {
            if (++plusInEscape > 1) {
                gaps.push_back(entry.time - previousHostByte);
            }
            if (plusInEscape == 3) {
                plusInEscape = 0;
            }
        }
        previousHostByte = entry.time;
    }
    ASSERT_EQ(gaps.size(), 4u);
    for (double gap : gaps) {
        EXPECT_GE(gap, 0.1 - 0.001);
        EXPECT_LE(gap, 0.1 + 0.01);
    }
    std::string sent;
    for (const LoggedByte& entry : wire) {
        if (entry.fromHost) {
            sent.push_back(static_cast<char>(entry.byte));
        }
    }
    EXPECT_EQ(sent, "+++AT/L\nATS100=77\nATX\n+++AT/V\nAT/L\nATX\n");
}

TEST_F(ZelksimPty, TheSimulatorHoldsTheGuardTimeInRealTime) {
    Zelksim simulator({"--guard-time", "0.25"});
    Attach(simulator);
    EXPECT_FALSE(Escape(0.1, 8));
    ASSERT_TRUE(Escape(0.3));
    EXPECT_EQ(Command("ATS999=1\n"), "ERROR\r\n>");
    ComWrt(1, "ATO\n", 4);
}

TEST_F(ZelksimPty, FaultOptionsReachTheModule) {
    Zelksim simulator({"--ok-prompt", "--refuse-register", "105", "--cut-reply", "12"});
    Attach(simulator);
    ASSERT_TRUE(Escape(0.1));
    EXPECT_EQ(Command("ATS100=5\n"), "OK\r\n>");
    EXPECT_EQ(Command("ATS105=1\n"), "ERROR\r\n>");
    // The cut reply never brings its prompt.
    EXPECT_EQ(Command("AT/L\n", 10), "S100=5\r\nS101");
}

}  // namespace
