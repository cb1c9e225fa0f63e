// Connecting, disconnecting, and changing port, baud rate and format through the panel.
#include <gtest/gtest.h>

#include <string>

#include "tests/link_fixture.h"

namespace {

using link_test::LinkTest;

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

class Connection : public LinkTest {};

TEST_F(Connection, OpensWithTheChosenBaudRateAndEveryFormat) {
    struct Row {
        int format;
        int parity, dataBits, stopBits;
    };
    const Row rows[] = {
        {0, 0, 8, 1}, {1, 1, 8, 1}, {2, 2, 8, 1}, {3, 0, 8, 2},
        {4, 0, 7, 1}, {5, 1, 7, 1}, {6, 2, 7, 1}, {7, 0, 7, 2},
    };
    Attach();
    ChooseBaudRate(19200);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format);
        if (row.format != FormatShown()) {
            ui_testing::AnswerNextConfirm(true);
            ui_testing::UserSetValue(panelHandle, SERFMT, row.format);
            EXPECT_EQ(Popups(), std::vector<std::string>{kConfirmChange});
        }
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 1);
        ASSERT_TRUE(connection.connected);
        EXPECT_EQ(PortConnShown(), 1);
        const serial_backend::Settings settings = module().lastSettings();
        EXPECT_EQ(settings.baudRate, 19200);
        EXPECT_EQ(settings.parity, row.parity);
        EXPECT_EQ(settings.dataBits, row.dataBits);
        EXPECT_EQ(settings.stopBits, row.stopBits);
        EXPECT_EQ(settings.inputQueueSize, 512);
        EXPECT_EQ(settings.outputQueueSize, 512);
        EXPECT_EQ(connection.comPort, 1);

        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
        EXPECT_FALSE(connection.connected);
        EXPECT_TRUE(Popups().empty());
    }
    EXPECT_EQ(module().openCount(), 8);
    EXPECT_EQ(module().closeCount(), 8);
}

TEST_F(Connection, FailedOpenReportsAndTurnsTheButtonBackOff) {
    Attach();
    module().failNextOpen();
    ui_testing::UserSetValue(panelHandle, PORT_CONN, 1);
    EXPECT_EQ(Popups(), std::vector<std::string>{kOpenError});
    EXPECT_FALSE(connection.connected);
    EXPECT_EQ(PortConnShown(), 0);

    // Ready for another attempt.
    ui_testing::UserSetValue(panelHandle, PORT_CONN, 1);
    EXPECT_TRUE(connection.connected);
    EXPECT_EQ(PortConnShown(), 1);
}

TEST_F(Connection, PickingTheSamePortKeepsTheConnection) {
    Attach();
    Connect();
    ComPortSelectCallBack(panelHandle, COMPORT_NUM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(connection.connected);
    EXPECT_EQ(PortConnShown(), 1);
    EXPECT_EQ(module().closeCount(), 0);
}

TEST_F(Connection, PickingAnotherPortClosesAnOpenConnection) {
    Attach();
    Connect();
    ui_testing::UserSetValue(panelHandle, COMPORT_NUM, 2);
    EXPECT_FALSE(connection.connected);
    EXPECT_EQ(PortConnShown(), 0);
    EXPECT_EQ(module().closeCount(), 1);
    EXPECT_EQ(connection.comPort, 1);  // the new port is taken at the next connect
    EXPECT_TRUE(Popups().empty());
}

TEST_F(Connection, PickingAnotherPortWhileClosedChangesNothing) {
    Attach();
    ui_testing::UserSetValue(panelHandle, COMPORT_NUM, 3);
    EXPECT_EQ(connection.comPort, 0);
    EXPECT_FALSE(connection.connected);
    EXPECT_EQ(module().openCount(), 0);
    EXPECT_EQ(module().closeCount(), 0);
    EXPECT_TRUE(Popups().empty());
}

TEST_F(Connection, BaudRateOrFormatCannotChangeWhileConnected) {
    Attach();
    Connect();
    ui_testing::UserSetValue(panelHandle, UART_BR, 2400);
    EXPECT_EQ(Popups(), std::vector<std::string>{kEngaged});
    EXPECT_EQ(BaudRateShown(), 9600u);
    EXPECT_EQ(connection.comBaudRate, 9600u);

    ui_testing::UserSetValue(panelHandle, SERFMT, 6);
    EXPECT_EQ(Popups(), std::vector<std::string>{kEngaged});
    EXPECT_EQ(FormatShown(), 0);
    EXPECT_EQ(connection.comFormat, 0);
    EXPECT_TRUE(connection.connected);
}

TEST_F(Connection, ConfirmationDecidesAChangeWhileClosed) {
    struct Row {
        int control;
        int newValue;
        bool accept;
        uint32_t baudRateAfter;
        int formatAfter;
    };
    const Row rows[] = {
        {UART_BR, 2400, false, 9600, 0},
        {UART_BR, 2400, true, 2400, 0},
        {SERFMT, 6, false, 9600, 0},
        {SERFMT, 6, true, 9600, 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.control) + (row.accept ? " yes" : " no"));
        SetCtrlVal(panelHandle, UART_BR, 9600);
        SetCtrlVal(panelHandle, SERFMT, 0);
        connection.comBaudRate = 9600;
        connection.comFormat = 0;

        ui_testing::AnswerNextConfirm(row.accept);
        ui_testing::UserSetValue(panelHandle, row.control, row.newValue);
        EXPECT_EQ(Popups(), std::vector<std::string>{kConfirmChange});
        EXPECT_EQ(connection.comBaudRate, row.baudRateAfter);
        EXPECT_EQ(BaudRateShown(), row.baudRateAfter);
        EXPECT_EQ(connection.comFormat, row.formatAfter);
        EXPECT_EQ(FormatShown(), row.formatAfter);
    }
}

TEST_F(Connection, OnlyTheCommitEventActs) {
    Attach();
    SetCtrlVal(panelHandle, PORT_CONN, 1);
    PortConnCallBack(panelHandle, PORT_CONN, 2, nullptr, 0, 0);
    EXPECT_FALSE(connection.connected);
    SetCtrlVal(panelHandle, UART_BR, 2400);
    UartBrCallBack(panelHandle, UART_BR, 2, nullptr, 0, 0);
    EXPECT_EQ(connection.comBaudRate, 9600u);
    EXPECT_TRUE(Popups().empty());
    EXPECT_EQ(module().openCount(), 0);
}

}  // namespace
