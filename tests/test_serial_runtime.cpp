#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/serial/rs232.h"
#include "runtime/serial/serial_seam.h"
#include "runtime/timing/utility.h"
#include "tests/support/simulated_module.h"

namespace {

int Open(int port, long baud = 9600, int parity = RS232_PARITY_NONE, int dataBits = 8,
         int stopBits = 1) {
    return OpenComConfig(port, "", baud, parity, dataBits, stopBits, 512, 512);
}

TEST(SerialRuntime, OpensWritesReadsAndFlushesThePortOnTheVirtualClock) {
    sim::SimulatedModule module({}, 3);
    for (int port : {0, -1, 13}) {
        for (int result : {Open(port), CloseCom(port), ComWrt(port, "x", 1), ComRdByte(port),
                           GetInQLen(port), FlushInQ(port), FlushOutQ(port)}) {
            EXPECT_EQ(result, RS232_BAD_PORT) << port;
        }
        EXPECT_STREQ(ComPortDeviceName(port), "");
    }
    // A failed open leaves the port closed.
    module.failNextOpen();
    EXPECT_EQ(Open(3), RS232_OPEN_FAILED);
    ASSERT_EQ(Open(3, 2400, RS232_PARITY_EVEN, 7, 2), 0);
    const serial_backend::Settings s = module.lastSettings();
    EXPECT_EQ((std::vector<long>{s.baudRate, s.parity, s.dataBits, s.stopBits}),
              (std::vector<long>{2400, RS232_PARITY_EVEN, 7, 2}));
    EXPECT_EQ(Open(3), RS232_ALREADY_OPEN);
    EXPECT_EQ(CloseCom(3), 0);
    EXPECT_FALSE(module.isOpen());
    for (int result : {CloseCom(3), GetInQLen(3), ComWrtByte(3, '+'), ComRdByte(3)}) {
        EXPECT_EQ(result, RS232_NOT_OPEN);
    }

    ASSERT_EQ(Open(3), 0);
    // The escape on the virtual clock: each wait is measured from the start it is given,
    // and one from a start long past takes no time.
    const double start = Timer();
    for (int i = 1; i <= 3; ++i) {
        SyncWait(start, 0.1 * i);
        SyncWait(start, 0.05);
        ComWrtByte(3, '+');
        EXPECT_DOUBLE_EQ(module.hostByteTimes('+').back(), start + 0.1 * i);
    }
    // The prompt is due 0.01 s after the last "+".
    Delay(0.009);
    EXPECT_EQ(ComRdByte(3), RS232_NOTHING_WAITING);
    Delay(0.001);
    EXPECT_EQ(GetInQLen(3), 3);
    EXPECT_EQ(ComRdByte(3), '\r');
    // A reply of one byte every 0.01 s: after 0.05 s five have arrived.
    module.module().options().byteInterval = 0.01;
    EXPECT_EQ(ComWrt(3, "AT/L\n", 5), 5);
    Delay(0.05);
    EXPECT_EQ(GetInQLen(3), 2 + 5);
    EXPECT_EQ(FlushInQ(3), 0);
    EXPECT_EQ(GetInQLen(3), 0);
    Delay(0.02);
    EXPECT_EQ(GetInQLen(3), 2);
    Delay(10.0);
    EXPECT_EQ(GetInQLen(3), static_cast<int>(module.module().registerList().size()) - 5);
    EXPECT_EQ(module.sentByHost(), "+++AT/L\n");
}

TEST(SerialRuntime, ComNumbersGoToAliasesElseUsbAdaptersFirstThenOtherPortsInNaturalOrder) {
    serial_backend::SetPortLister([] {
        std::vector<serial_backend::PortInfo> ports;
        for (std::string name : {"ttyS10", "ttyUSB10", "ttyS9", "ttyACM0", "ttyUSB2"}) {
            serial_backend::PortInfo info;
            info.name = name;
            info.systemLocation = "/dev/" + name;
            info.description = name == "ttyACM0" ? "Pico" : "";
            ports.push_back(info);
        }
        return ports;
    });
    std::string devices;
    for (int port = 1; port <= 6; ++port) {
        // An empty variable is no alias.
        setenv(("ZELK_COM" + std::to_string(port)).c_str(), port == 2 ? "/tmp/zelk-pty" : "", 1);
        devices += ComPortDeviceName(port) + std::string(";");
    }
    EXPECT_EQ(devices, "/dev/ttyACM0;/tmp/zelk-pty;/dev/ttyUSB10;/dev/ttyS9;/dev/ttyS10;;");
    const std::string tooltip = DescribeComPorts();
    EXPECT_EQ(tooltip.substr(0, tooltip.find("COM7")),
              "COM1 = /dev/ttyACM0 (Pico)\nCOM2 = /tmp/zelk-pty (set by ZELK_COM2)\n"
              "COM3 = /dev/ttyUSB10\nCOM4 = /dev/ttyS9\nCOM5 = /dev/ttyS10\nCOM6 = no device\n");
    // The real ports name a missing device.
    setenv("ZELK_COM2", "/nonexistent/zelk-port", 1);
    EXPECT_EQ(Open(2), RS232_NO_DEVICE);
    EXPECT_NE(std::string(GetComErrorText()).find("/nonexistent/zelk-port"), std::string::npos);
    serial_backend::SetPortLister({});
}

// A device that another program holds is told apart from one this user may not open, and
// the holder is named; the first open is undisturbed.
TEST(SerialRuntime, ABusyDeviceNamesItsHolder) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string device = ptsname(master);
    setenv("ZELK_COM1", device.c_str(), 1);
    setenv("ZELK_COM2", device.c_str(), 1);
    ASSERT_EQ(Open(1), 0);
    EXPECT_EQ(Open(2), RS232_PORT_BUSY);
    EXPECT_EQ(GetComErrorText(), device + ": held by another program (test_serial_run (pid " +
                                     std::to_string(getpid()) + "))");
    EXPECT_EQ(ComWrt(1, "x", 1), 1);
    CloseCom(1);
    close(master);
}

}  // namespace
