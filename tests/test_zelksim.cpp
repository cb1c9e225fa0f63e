// The module model that stands in for the hardware, and zelksim, which runs it on a real
// pty, reached there through the real QSerialPort backend on the steady clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"
#include "tests/support/scoped.h"
#include "tests/support/zelksim_process.h"
#include "tools/zelksim/module_model.h"

// Rows name only the options they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// Sends a line, each byte `spacing` seconds after the one before, and returns what the
// module has sent by `wait` seconds after the last, with *t moved there.
std::string Exchange(ModuleModel& model, const std::string& line, double* t, double spacing = 0,
                     double wait = 10) {
    for (char byte : line) {
        model.receive(static_cast<uint8_t>(byte), *t += spacing);
    }
    std::string reply;
    for (*t += wait; model.due(*t) > 0;) {
        reply.push_back(static_cast<char>(model.take(*t)));
    }
    return reply;
}

TEST(ModuleModel, OnlyThreeGuardedPlusSignsTakeTheEscape) {
    // Bytes after a payload "x" and the silence before each; payload between the plus signs
    // starts the count afresh.
    struct Row {
        const char* bytes;
        std::vector<double> silences;
        bool escapes;
    };
    const Row rows[] = {
        {.bytes = "+++", .silences = {.1, .1, .1}, .escapes = true},
        {.bytes = "+++", .silences = {.3, .2, .5}, .escapes = true},
        {.bytes = "+++", .silences = {.09, .1, .1}, .escapes = false},
        {.bytes = "+++", .silences = {.1, .099, .1}, .escapes = false},
        {.bytes = "+++", .silences = {.1, .1, 0}, .escapes = false},
        {.bytes = "++A+++", .silences = {.1, .1, .1, .1, .1, .1}, .escapes = true},
        {.bytes = "++A++", .silences = {.1, .1, .1, .1, .1}, .escapes = false},
    };
    for (const auto& [bytes, silences, escapes] : rows) {
        SCOPED_TRACE(testing::PrintToString(silences));
        ModuleModel model({.guardTime = 0.1, .responseDelay = 0.02});
        double t = 5.0;
        model.receive('x', t);
        for (std::size_t i = 0; i < silences.size(); ++i) {
            model.receive(static_cast<uint8_t>(bytes[i]), t += silences[i]);
        }
        EXPECT_EQ(Exchange(model, "", &t, 0, 0.0199), "");
        EXPECT_EQ(Exchange(model, "", &t, 0, 0.0001), escapes ? "\r\n>" : "");
    }
}

TEST(ModuleModel, AnswersCommandsAndSetsRegistersUnlessAFaultIsSwitchedOn) {
    struct Row {
        const char* name;
        ModuleOptions options;
        const char* command;
        const char* reply;
        int number;         // a register,
        const char* after;  // and its value afterwards
    };
    // The fault switches and the M5's unlisted S105 are pinned by the exchanges using them.
    const Row rows[] = {
        {"NetworkIdHighPartKeepsLow", {}, "ATS120=7\n", ">", 120, "7.168"},
        {"TwoPartLocalIdSwitchesIdLength", {}, "ATS121=10.20\n", ">", 130, "100.100"},
        {"OnePartLocalIdSwitchesBack", {.twoByteIds = true}, "ATS121=9\n", ">", 130, "100"},
        {"TooLarge", {}, "ATS100=256\n", "ERROR\r\n>", 100, "50"},
        {"TwoPartOnPlainRegister", {}, "ATS100=1.2\n", "ERROR\r\n>", 100, "50"},
        {"NotInSeries", {.series = 4}, "ATS129=1\n", "ERROR\r\n>", 129, ""},
    };
    for (const auto& [name, options, command, reply, number, after] : rows) {
        SCOPED_TRACE(name);
        ModuleModel model(options);
        double t = 0.0;
        EXPECT_EQ(Exchange(model, "+++", &t, 1.0), "\r\n>");
        // The whole reply, its last byte no sooner than due.
        const std::size_t length = std::max<std::size_t>(std::string(reply).size(), 1);
        const double due = options.responseDelay + options.byteInterval * (length - 1.0);
        const std::string early = Exchange(model, command, &t, 0, due - 0.001);
        EXPECT_LT(early.size(), length);
        EXPECT_EQ(early + Exchange(model, "", &t, 0, 0.001), reply);
        EXPECT_LT(model.nextDueTime(), 0.0);
        EXPECT_EQ(model.registerText(number), after);
    }
}

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

// The line the module's end sees (a pty takes neither parity nor seven data bits, so 8N2
// shows the format), and the exchanges with their guard times held on the wire.
TEST(ZelksimPty, ExchangesOverTheRealPortWithTheGuardTimesHeldOnTheWire) {
    int argc = 1;
    char name[] = "test_zelksim", *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const std::string log = "/tmp/zelksim-wire-" + std::to_string(getpid());
    std::vector<double> writes;
    std::vector<double> stamps;
    {
        ZelksimProcess zelksim({"--log", log, "--series", "R3", "--two-byte-ids",
                                "--refuse-register", "105", "--version-text", "Zelk\\r\\nV9"});
        ScopedEnvironment environment;
        environment.Set("ZELK_COM1", zelksim.link().c_str());
        ASSERT_EQ(OpenComConfig(1, "", 19200, RS232_PARITY_NONE, 8, 2, 512, 512), 0)
            << GetComErrorText();
        // Payload, then the escape as the program sends it. Each byte must reach the
        // module while the host only waits: one left in a buffer until a later call
        // defeats the guard times. How late zelksim stamps it (when it gets the processor)
        // is measured from the instant the host began to write it. 0xFF is data too.
        for (const char byte : std::string("x\xff+++")) {
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
    }
    EXPECT_EQ(LoggedHostBytes(log, stamps), "x\xff+++AT/L\nATS105=1\nAT/V\n");
    EXPECT_EQ(LoggedLines(log), std::vector<std::string>{"19200 8N2"});
    std::remove(log.c_str());
    // Each "+" no sooner than the guard time after the byte before, less the lag with
    // which that byte was stamped. How much later is the machine's load; the virtual
    // clock's tests pin the waits themselves.
    for (std::size_t i = 2; i < writes.size(); ++i) {
        const double stampingDelay = stamps[i - 1] - writes[i - 1];
        EXPECT_GE(stampingDelay, 0.0) << "stamped before it was written";
        EXPECT_GE(stamps[i] - stamps[i - 1], 0.1 - stampingDelay) << "guard before + " << i;
    }
}

}  // namespace
