// zelksim on a real pseudo-terminal, reached through the real QSerialPort backend and the
// steady clock, in real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/serial/rs232.h"
#include "runtime/timing/utility.h"
#include "tests/support/zelksim_process.h"
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
    // Each byte must reach the module while the host only waits, without any further call
    // to the port: a byte left in a buffer until some later call defeats the guard times.
    // Its stamp is taken then; how late zelksim stamps it (when it gets the processor) is
    // measured against the instant the host began to write it.
    std::vector<double> writes;
    std::vector<double> stamps;
    for (const char byte : std::string("x+++")) {
        writes.push_back(Timer());
        ComWrtByte(1, static_cast<unsigned char>(byte));
        const double written = Timer();
        for (int poll = 0; poll < 5000 && LoggedHostBytes(log, stamps).size() < writes.size();
             ++poll) {
            usleep(1000);
        }
        ASSERT_EQ(stamps.size(), writes.size()) << "the byte never reached the module";
        SyncWait(written, 0.1);
    }
    EXPECT_EQ(Command(""), "\r\n>");
    EXPECT_EQ(Command("AT/L\n"), ModuleModel({.series = 6, .twoByteIds = true}).registerList());
    EXPECT_EQ(Command("ATS105=1\n"), "ERROR\r\n>");
    EXPECT_EQ(Command("AT/V\n"), "Zelk\r\nV9>");
    EXPECT_EQ(CloseCom(1), 0);
    kill(pid, SIGTERM);
    EXPECT_EQ(pclose(simulator), 0);
    EXPECT_EQ(LoggedHostBytes(log, stamps), "x+++AT/L\nATS105=1\nAT/V\n");
    std::remove(log.c_str());

    // The module sees each "+" no sooner than the guard time after the byte before, less
    // the lag with which that byte was stamped; the exact guard is pinned on the virtual
    // clock. The upper bound only catches a wait gone far astray.
    for (std::size_t i = 1; i < writes.size(); ++i) {
        const double stampingDelay = stamps[i - 1] - writes[i - 1];
        EXPECT_GE(stampingDelay, 0.0) << "stamped before it was written";
        EXPECT_GE(stamps[i] - stamps[i - 1], 0.1 - stampingDelay) << "guard before + " << i;
        EXPECT_LE(stamps[i] - stamps[i - 1], 0.5) << "guard before + " << i;
    }
}

}  // namespace
