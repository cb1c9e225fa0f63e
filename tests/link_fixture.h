// The real panel with the link's callbacks bound, and a simulated module on COM1 on a
// virtual clock: what the exchange tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
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
#include "tests/support/simulated_module.h"
#include "ui/panel_ids.h"

namespace link_test {

constexpr const char* kCommunicationError = " Communication Error! Please Re-try ";
constexpr const char* kDisconnected = " COM disconnect!\r\n Connect it first!!  ";

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        connection = ConnectionState{0, false, 9600, 0};
        parameters = ParameterSet{};
        RegisterCallback("PortConnCallBack", PortConnCallBack);
        RegisterCallback("ComPortSelectCallBack", ComPortSelectCallBack);
        RegisterCallback("UartBrCallBack", UartBrCallBack);
        RegisterCallback("ShowVerCallBack", ShowVerCallBack);
        RegisterCallback("UpdateCallBack", UpdateCallBack);
        ASSERT_GE(LoadTestPanel(), 0);
        ui_testing::TakePopups();
    }

    void TearDown() override {
        if (connection.connected) {
            CloseCom(connection.comPort);
            connection.connected = false;
        }
        module_.reset();
        ui_testing::TakePopups();
        DiscardTestPanel();
    }

    // Attaches a module with these options as COM1.
    sim::SimulatedModule& Attach(const ModuleOptions& options = {}) {
        // The old module must be gone first: it hands the real ports back when it goes.
        if (connection.connected) {
            CloseCom(connection.comPort);
            connection.connected = false;
            SetCtrlVal(panelHandle, PORT_CONN, 0);
        }
        module_.reset();
        module_ = std::make_unique<sim::SimulatedModule>(options, 1);
        return *module_;
    }

    // Picks a baud rate while the port is closed, agreeing to the confirmation.
    void ChooseBaudRate(int baudRate) {
        ui_testing::AnswerNextConfirm(true);
        ui_testing::UserSetValue(panelHandle, UART_BR, baudRate);
        ui_testing::TakePopups();
    }

    // Connects through the connect button, then forgets the traffic so far.
    void Connect() {
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 1);
        ASSERT_TRUE(connection.connected);
        ASSERT_TRUE(ui_testing::TakePopups().empty());
        module_->clearWire();
    }

    sim::SimulatedModule& module() { return *module_; }
    double Now() { return module_->clock().now(); }

    // The host's bytes with their instants, in order.
    std::vector<sim::WireByte> HostBytes() const {
        std::vector<sim::WireByte> bytes;
        for (const sim::WireByte& byte : module_->wire()) {
            if (byte.fromHost) {
                bytes.push_back(byte);
            }
        }
        return bytes;
    }

    // Instant of the first byte of the given text in what the host sent; negative when
    // the host never sent it.
    double HostTimeOf(const std::string& text) const {
        const std::string sent = module_->sentByHost();
        const std::size_t at = sent.find(text);
        if (at == std::string::npos) {
            return -1.0;
        }
        return HostBytes()[at].time;
    }

    // The popups since the last call, as "title|message".
    static std::vector<std::string> Popups() {
        std::vector<std::string> popups;
        for (const ui_testing::Popup& popup : ui_testing::TakePopups()) {
            popups.push_back(popup.title + "|" + popup.message);
        }
        return popups;
    }

    static std::string Popup(const std::string& title, const std::string& message) {
        return title + "|" + message;
    }

    // What the connection controls show, each read in its own data type.
    static int PortConnShown() {
        int on = -1;
        GetCtrlVal(panelHandle, PORT_CONN, &on);
        return on;
    }
    static uint32_t BaudRateShown() {
        uint32_t baudRate = 0;
        GetCtrlVal(panelHandle, UART_BR, &baudRate);
        return baudRate;
    }
    static int FormatShown() {
        uint8_t format = 255;
        GetCtrlVal(panelHandle, SERFMT, &format);
        return format;
    }

  private:
    std::unique_ptr<sim::SimulatedModule> module_;
};

}  // namespace link_test
