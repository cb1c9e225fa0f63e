// zelksim on a real pseudo-terminal, reached through the real QSerialPort backend and the
// steady clock, in real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/serial/rs232.h"
#include "runtime/timing/utility.h"
#include "tools/module_model.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // options by name

namespace {

// Sends a command and collects the reply up to its ">", polling every 0.05 s for 4 s.
std::string Command(const std::string& command) {
    ComWrt(1, command.data(), static_cast<int>(command.size()));
    std::string reply;
    for (int poll = 0; poll < 80 && (reply.empty() || reply.back() != '>'); ++poll) {
        SyncWait(Timer(), 0.05);
        while (GetInQLen(1) > 0) {
            reply.push_back(static_cast<char>(ComRdByte(1)));
        }
    }
    return reply;
}

TEST(ZelksimPty, ExchangesOverTheRealPortWithTheGuardTimesHeldOnTheWire) {
    int argc = 1;
    char name[] = "test_zelksim_pty", *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const std::string log = "/tmp/zelksim-wire-" + std::to_string(getpid());
    // The shell prints its process id and becomes zelksim, which prints its pty's path.
    const std::string command = "echo $$; exec \"${ZELKSIM:-./zelksim}\" --log " + log +
                                " --series R3 --two-byte-ids --refuse-register 105" +
                                " --version-text 'Zelk\\r\\nV9'";
    std::FILE* simulator = popen(command.c_str(), "r");
    int pid = 0;
    char device[256] = "";
    ASSERT_EQ(std::fscanf(simulator, "%d %255s", &pid, device), 2);
    setenv("ZELK_COM1", device, 1);
    EXPECT_EQ(OpenComConfig(1, "", 9600, RS232_PARITY_NONE, 8, 1, 512, 512), 0);

    // Payload, then the escape as the program sends it: a guard time before each "+".
    ComWrtByte(1, 'x');
    for (int i = 0; i < 3; ++i) {
        SyncWait(Timer(), 0.1);
        ComWrtByte(1, '+');
    }
    EXPECT_EQ(Command(""), "\r\n>");
    EXPECT_EQ(Command("AT/L\n"), ModuleModel({.series = 6, .twoByteIds = true}).registerList());
    EXPECT_EQ(Command("ATS105=1\n"), "ERROR\r\n>");
    EXPECT_EQ(Command("AT/V\n"), "Zelk\r\nV9>");
    EXPECT_EQ(CloseCom(1), 0);
    kill(pid, SIGTERM);
    EXPECT_EQ(pclose(simulator), 0);

    // Each "+" follows the byte before by the guard time. zelksim stamps a byte when it reads
    // it, which may lag by a scheduling delay: hence a millisecond of slack below.
    std::ifstream wire(log);
    wire.ignore(256, '\n');  // the heading
    std::string sent;
    std::vector<double> times;
    double time = 0.0;
    for (std::string direction, hex, shown; wire >> time >> direction >> hex >> shown;) {
        if (direction == "host") {
            sent.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
            times.push_back(time);
        }
    }
    std::remove(log.c_str());
    EXPECT_EQ(sent, "x+++AT/L\nATS105=1\nAT/V\n");
    // zelksim stamps a byte when it reads it; under load a late stamp on one "+" makes the
    // next gap look a few milliseconds short.
    for (std::size_t i = 1; i <= 3 && i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 0.1 - 0.005);
        EXPECT_LE(times[i] - times[i - 1], 0.1 + 0.01);
    }
}

}  // namespace
