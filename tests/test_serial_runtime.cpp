#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/rs232.h"
#include "runtime/serial_backend.h"
#include "runtime/utility.h"
#include "tests/support/simulated_module.h"

namespace {

int Open(int port = 1, long baudRate = 9600, int parity = PARITY_NONE, int dataBits = 8,
         int stopBits = 1) {
    return OpenComConfig(port, "", baudRate, parity, dataBits, stopBits, 512, 512);
}

// The escape as the program sends it: a guard time, then one "+", three times.
void SendEscape(int port, double guard) {
    for (int i = 0; i < 3; ++i) {
        SyncWait(Timer(), guard);
        ComWrtByte(port, '+');
    }
}

std::string ReadWaiting(int port) {
    std::string bytes;
    while (GetInQLen(port) > 0) {
        bytes.push_back(static_cast<char>(ComRdByte(port)));
    }
    return bytes;
}

TEST(SerialRuntimeOpen, SettingsReachTheDeviceAndThePortOpensOnce) {
    sim::SimulatedModule module({}, 3);
    ASSERT_EQ(Open(3, 2400, PARITY_EVEN, 7, 2), 0);
    const serial_backend::Settings settings = module.lastSettings();
    EXPECT_EQ(settings.baudRate, 2400);
    EXPECT_EQ(settings.parity, PARITY_EVEN);
    EXPECT_EQ(settings.dataBits, 7);
    EXPECT_EQ(settings.stopBits, 2);
    EXPECT_EQ(settings.inputQueueSize, 512);
    EXPECT_EQ(settings.outputQueueSize, 512);
    EXPECT_EQ(module.lastDeviceName(), "");
    EXPECT_TRUE(module.isOpen());

    EXPECT_EQ(Open(3), RS232_ALREADY_OPEN);
    EXPECT_EQ(module.openCount(), 1);
    EXPECT_EQ(CloseCom(3), 0);
    EXPECT_EQ(module.closeCount(), 1);
    EXPECT_FALSE(module.isOpen());
    EXPECT_EQ(CloseCom(3), RS232_NOT_OPEN);
    EXPECT_EQ(GetInQLen(3), RS232_NOT_OPEN);
    EXPECT_EQ(ComWrtByte(3, '+'), RS232_NOT_OPEN);
    EXPECT_EQ(module.sentByHost(), "");
}

TEST(SerialRuntimeOpen, FailuresAreNonZeroAndLeaveThePortClosed) {
    sim::SimulatedModule module;
    module.failNextOpen();
    EXPECT_EQ(Open(1), RS232_OPEN_FAILED);
    EXPECT_FALSE(serial_backend::LastOpenFailure().empty());
    EXPECT_EQ(GetInQLen(1), RS232_NOT_OPEN);
    EXPECT_EQ(module.openCount(), 0);
    module.failNextOpen(RS232_NO_DEVICE);
    EXPECT_EQ(Open(1), RS232_NO_DEVICE);
    // Only the next open fails.
    EXPECT_EQ(Open(1), 0);
    EXPECT_TRUE(serial_backend::LastOpenFailure().empty());
    EXPECT_EQ(CloseCom(1), 0);
    // Another port number stands for no simulated module.
    EXPECT_EQ(Open(2), RS232_NO_DEVICE);
}

TEST(SerialRuntimeOpen, UnsupportedSettingsNeverReachTheDevice) {
    sim::SimulatedModule module;
    EXPECT_EQ(Open(1, 0), RS232_BAD_SETTINGS);
    EXPECT_EQ(Open(1, 9600, 3), RS232_BAD_SETTINGS);
    EXPECT_EQ(Open(1, 9600, PARITY_NONE, 9), RS232_BAD_SETTINGS);
    EXPECT_EQ(Open(1, 9600, PARITY_NONE, 8, 3), RS232_BAD_SETTINGS);
    EXPECT_EQ(module.openCount(), 0);
}

TEST(SerialRuntimeOpen, PortNumbersOutsideOneToTwelveAreRefusedEverywhere) {
    sim::SimulatedModule module;
    char byte = 'x';
    for (int port : {0, -1, 13, 255}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Open(port), RS232_BAD_PORT);
        EXPECT_EQ(CloseCom(port), RS232_BAD_PORT);
        EXPECT_EQ(ComWrt(port, &byte, 1), RS232_BAD_PORT);
        EXPECT_EQ(ComWrtByte(port, 'x'), RS232_BAD_PORT);
        EXPECT_EQ(ComRdByte(port), RS232_BAD_PORT);
        EXPECT_EQ(GetInQLen(port), RS232_BAD_PORT);
        EXPECT_EQ(FlushInQ(port), RS232_BAD_PORT);
        EXPECT_EQ(FlushOutQ(port), RS232_BAD_PORT);
        EXPECT_STREQ(ComPortDeviceName(port), "");
    }
    EXPECT_EQ(module.openCount(), 0);
}

class SerialRuntimeExchange : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Open(), 0); }
    void TearDown() override { CloseCom(1); }

    sim::SimulatedModule module_{[] {
        ModuleOptions options;
        options.guardTime = 0.1;
        options.responseDelay = 0.01;
        return options;
    }()};
};

TEST_F(SerialRuntimeExchange, WritesReachTheModuleAtTheInstantOfTheCall) {
    const double start = Timer();
    SendEscape(1, 0.1);
    EXPECT_EQ(module_.sentByHost(), "+++");
    const std::vector<double> times = module_.hostByteTimes('+');
    ASSERT_EQ(times.size(), 3u);
    EXPECT_DOUBLE_EQ(times[0], start + 0.1);
    EXPECT_DOUBLE_EQ(times[1], start + 0.2);
    EXPECT_DOUBLE_EQ(times[2], start + 0.3);
    EXPECT_TRUE(module_.module().inCommandMode());
    EXPECT_EQ(ComWrt(1, "AT/V\n", 5), 5);
    EXPECT_EQ(module_.module().commands(), std::vector<std::string>{"AT/V"});
}

TEST_F(SerialRuntimeExchange, BytesAreReadOnlyOnceTheyHaveArrived) {
    EXPECT_EQ(ComRdByte(1), RS232_NOTHING_WAITING);
    SendEscape(1, 0.1);
    // The prompt is due 0.01 s after the last "+".
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(ComRdByte(1), RS232_NOTHING_WAITING);
    Delay(0.009);
    EXPECT_EQ(GetInQLen(1), 0);
    Delay(0.001);
    EXPECT_EQ(GetInQLen(1), 3);
    EXPECT_EQ(ComRdByte(1), '\r');
    EXPECT_EQ(GetInQLen(1), 2);
    EXPECT_EQ(ReadWaiting(1), "\n>");
    EXPECT_EQ(ComRdByte(1), RS232_NOTHING_WAITING);
}

TEST_F(SerialRuntimeExchange, FlushDiscardsWhatHasArrivedNotWhatIsStillComing) {
    SendEscape(1, 0.1);
    Delay(0.05);
    module_.module().options().byteInterval = 0.01;
    ComWrt(1, "AT/L\n", 5);
    const std::string list = module_.module().registerList();
    // Reply starts 0.01 s after the command; five bytes have arrived after 0.05 s.
    Delay(0.05);
    EXPECT_EQ(GetInQLen(1), 5 + 3);  // the prompt of the escape is still unread
    EXPECT_EQ(FlushInQ(1), 0);
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(FlushOutQ(1), 0);
    Delay(0.02);
    EXPECT_EQ(ReadWaiting(1), list.substr(5, 2));
    Delay(10.0);
    EXPECT_EQ(ReadWaiting(1), list.substr(7));
    EXPECT_EQ(module_.sentByModule(), "\r\n>" + list);
}

TEST_F(SerialRuntimeExchange, ReopenedPortHoldsNothingFromBefore) {
    SendEscape(1, 0.1);
    Delay(0.1);
    ASSERT_EQ(CloseCom(1), 0);
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(module_.openCount(), 2);
}

TEST(SerialRuntimeClock, WaitsAdvanceTheVirtualClockExactly) {
    sim::SimulatedModule module;
    sim::VirtualClock& clock = module.clock();
    const double begin = Timer();
    EXPECT_EQ(begin, clock.now());
    SyncWait(begin, 0.1);
    EXPECT_EQ(Timer(), begin + 0.1);
    // Measured from the start it was given, not from the call.
    SyncWait(begin, 0.25);
    EXPECT_EQ(Timer(), begin + 0.25);
    // A start long past asks for no wait, and time never runs back.
    SyncWait(begin, 0.05);
    EXPECT_EQ(Timer(), begin + 0.25);
    const double beforeDelay = Timer();
    Delay(0.35);
    EXPECT_EQ(Timer(), beforeDelay + 0.35);
    Delay(0.0);
    EXPECT_EQ(Timer(), beforeDelay + 0.35);
}

TEST(SerialRuntimeClock, TheSteadyClockComesBackWithTheRealPorts) {
    { sim::SimulatedModule module; }
    const auto realStart = std::chrono::steady_clock::now();
    const double begin = Timer();
    Delay(0.02);
    const double elapsed = Timer() - begin;
    const std::chrono::duration<double> realElapsed = std::chrono::steady_clock::now() - realStart;
    EXPECT_GE(elapsed, 0.02);
    EXPECT_GE(realElapsed.count(), 0.02);
    EXPECT_LT(elapsed, 1.0);
}

// Port mapping on systems without COM names.
class SerialRuntimePortMapping : public testing::Test {
  protected:
    void SetUp() override {
        serial_backend::SetPortLister([] {
            return std::vector<serial_backend::PortInfo>{
                {"ttyS1", "/dev/ttyS1", ""},
                {"ttyUSB10", "/dev/ttyUSB10", "CP2102 USB to UART Bridge Controller"},
                {"ttyS0", "/dev/ttyS0", ""},
                {"ttyACM0", "/dev/ttyACM0", "Pico"},
                {"ttyUSB2", "/dev/ttyUSB2", "FT232R USB UART"},
            };
        });
        for (int port = 1; port <= 12; ++port) {
            unsetenv(("ZELK_COM" + std::to_string(port)).c_str());
        }
    }
    void TearDown() override {
        serial_backend::SetPortLister({});
        unsetenv("ZELK_COM3");
        unsetenv("ZELK_COM9");
    }
};

TEST_F(SerialRuntimePortMapping, UsbAdaptersFirstThenTheRestInNameOrder) {
    const char* expected[] = {"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyS0",
                              "/dev/ttyS1"};
    for (int port = 1; port <= 5; ++port) {
        EXPECT_STREQ(ComPortDeviceName(port), expected[port - 1]) << port;
    }
    for (int port = 6; port <= 12; ++port) {
        EXPECT_STREQ(ComPortDeviceName(port), "") << port;
    }
}

TEST_F(SerialRuntimePortMapping, AnAliasInTheEnvironmentTakesThePortNumber) {
    setenv("ZELK_COM3", "/tmp/zelk-pty", 1);
    setenv("ZELK_COM9", "/dev/pts/7", 1);
    EXPECT_STREQ(ComPortDeviceName(3), "/tmp/zelk-pty");
    EXPECT_STREQ(ComPortDeviceName(9), "/dev/pts/7");
    // The others keep their place in the system's list.
    EXPECT_STREQ(ComPortDeviceName(4), "/dev/ttyS0");
    // An empty variable is no alias.
    setenv("ZELK_COM3", "", 1);
    EXPECT_STREQ(ComPortDeviceName(3), "/dev/ttyUSB10");
}

TEST_F(SerialRuntimePortMapping, DescriptionHasOneLinePerComNumber) {
    setenv("ZELK_COM9", "/dev/pts/7", 1);
    std::istringstream text(DescribeComPorts());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "COM1 = /dev/ttyACM0 (Pico)");
    EXPECT_EQ(lines[1], "COM2 = /dev/ttyUSB2 (FT232R USB UART)");
    EXPECT_EQ(lines[3], "COM4 = /dev/ttyS0");
    EXPECT_EQ(lines[5], "COM6 = no device");
    EXPECT_EQ(lines[8], "COM9 = /dev/pts/7 (set by ZELK_COM9)");
    EXPECT_EQ(lines[11], "COM12 = no device");
}

TEST_F(SerialRuntimePortMapping, RealPortsReportMissingDevices) {
    int argc = 1;
    char name[] = "test_serial_runtime";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    // COM6 stands for nothing in the listed ports.
    EXPECT_EQ(Open(6), RS232_NO_DEVICE);
    setenv("ZELK_COM3", "/nonexistent/zelk-port", 1);
    EXPECT_EQ(Open(3), RS232_NO_DEVICE);
    EXPECT_NE(serial_backend::LastOpenFailure().find("/nonexistent/zelk-port"), std::string::npos);
    EXPECT_EQ(GetInQLen(3), RS232_NOT_OPEN);
}

TEST(SerialRuntimePortOrder, NumbersInNamesCompareByValue) {
    std::vector<serial_backend::PortInfo> ports = {
        {"ttyS10", "", ""},  {"ttyS9", "", ""},   {"ttyACM1", "", ""}, {"ttyUSB0", "", ""},
        {"ttyS09a", "", ""}, {"rfcomm0", "", ""}, {"ttyACM0", "", ""}};
    std::vector<std::string> names;
    for (const serial_backend::PortInfo& port : serial_backend::OrderPorts(ports)) {
        names.push_back(port.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyUSB0", "rfcomm0", "ttyS9",
                                               "ttyS09a", "ttyS10"}));
}

}  // namespace
