// The real panel with a simulated module on COM1 on a virtual clock, and the popups as
// "title|message": what the link tests share.
#pragma once

#include <gtest/gtest.h>
#include <QGuiApplication>

#include <memory>
#include <string>
#include <vector>

#include "core/link/connection.h"
#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "window/link/link_panel.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"

namespace link_test {

using Texts = std::vector<std::string>;
const std::string kCommandError = "Command Error| Communication Error! Please Re-try ";
const std::string kDone = "Command Ok| Done! The Updating is successfull!";

using panel::Popups;

// Also the clock the program waits on: the module's, and the busy cursor must be up at every
// wait of an exchange.
class LinkTest : public ::testing::Test, public timing::Clock {
  protected:
    void SetUp() override {
        connection = ConnectionState{0, false, 9600, 0};
        ASSERT_GE(LoadTestPanel(), 0);
    }
    void TearDown() override {
        Detach();
        ui_testing::TakePopups();
        DiscardTestPanel();
    }
    // Closes the port the program left open, then removes the module.
    void Detach() {
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // no exchange leaves it busy
        if (connection.connected) {
            CloseCom(connection.comPort);
            connection.connected = false;
            SetCtrlVal(panelHandle, PORT_CONN, 0);
        }
        module_.reset();
    }
    // A new module with these options as COM1, and the panel showing this series.
    sim::SimulatedModule& Attach(const ModuleOptions& options = {}, int productIndex = 1) {
        Detach();
        module_ = std::make_unique<sim::SimulatedModule>(options, 1);
        timing::SetClock(this);
        SetCtrlVal(panelHandle, PRODUCT, productIndex);
        return *module_;
    }
    // Connects with the button, then forgets the traffic so far.
    void Connect() {
        panel::Commit(PORT_CONN, 1);
        ASSERT_TRUE(connection.connected);
        ASSERT_TRUE(Popups().empty());
        module_->clearWire();
    }
    sim::SimulatedModule& module() { return *module_; }
    double now() override { return module_->clock().now(); }
    void waitUntil(double when) override {
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr) << "waiting without the busy cursor";
        module_->clock().waitUntil(when);
    }
    // Instant of the host's byte at this index of all it sent; negative when there is none.
    double HostTime(std::size_t index) const {
        for (const sim::WireByte& byte : module_->wire()) {
            if (byte.fromHost && index-- == 0) {
                return byte.time;
            }
        }
        return -1.0;
    }

  private:
    std::unique_ptr<sim::SimulatedModule> module_;
};

}  // namespace link_test
