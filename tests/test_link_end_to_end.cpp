// A user's session against zelksim on a real pseudo-terminal, in real time: connect, read
// the version and write. zelksim takes the escape only with its guard times held; their
// exact lengths are pinned on the virtual clock, the real clock's waits and writes by the
// test of zelksim on a pty, and a refusal over a pty by zelkctl's tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "tests/support/link_fixture.h"
#include "tests/support/zelksim_process.h"

namespace {

class LinkEndToEnd : public link_test::LinkTest {
  protected:
    void SetUp() override {
        if (access(ZelksimPath().c_str(), X_OK) != 0) {
            GTEST_SKIP() << "ZELKSIM does not name the simulator";
        }
        LinkTest::SetUp();
        StartSimulator();
    }
    void StartSimulator() {
        zelksim_.emplace(std::vector<std::string>{"--log", log_, "--version-text", "E2E V9.99"});
        setenv("ZELK_COM1", zelksim_->link().c_str(), 1);
    }
    void TearDown() override {
        zelksim_.reset();
        std::remove(log_.c_str());
        LinkTest::TearDown();
    }
    // The host's bytes and their instants from the log, once they end with `tail` (the
    // module may still be reading them when the callback returns).
    std::string HostBytes(const std::string& tail, std::vector<double>& times) {
        std::string host;
        for (int i = 0; i < 100 && !host.ends_with(tail); ++i) {
            usleep(20000);
            host = LoggedHostBytes(log_, times);
        }
        return host;
    }

    const std::string log_ = "/tmp/zelk-e2e-" + std::to_string(getpid()) + ".log";
    std::optional<ZelksimProcess> zelksim_;
};

TEST_F(LinkEndToEnd, ConnectsReadsTheVersionAndWrites) {
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    SetCtrlVal(panelHandle, S100, 42);
    // How the host's bytes of each exchange begin and end.
    struct Step {
        int productIndex;
        int button;
        std::string popup;
        std::string begin;
        std::string end;
    };
    // clang-format off
    const Step steps[] = {
        {.productIndex = 1, .button = SHOW_VER, .popup = "FirmWare Verion|E2E V9.99",
         .begin = "+++AT/V\n", .end = "ATX\n"},
        {.productIndex = 1, .button = UPDATE, .popup = link_test::kDone, .begin = "+++ATS100=42\n",
         .end = "ATS123=127\nATS130=100\nATO\n"},
    };
    // clang-format on
    std::string host;
    std::vector<double> times;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.popup);
        const std::size_t from = host.size();
        SetCtrlVal(panelHandle, PRODUCT, step.productIndex);
        panel::Press(step.button);
        EXPECT_EQ(link_test::Popups(), link_test::Texts{step.popup});
        host = HostBytes(step.end, times);
        ASSERT_GE(times.size(), from + 3);
        EXPECT_TRUE(host.substr(from).starts_with(step.begin) && host.ends_with(step.end)) << host;
    }
}

// The module's end of the line goes (a pty's master closing is what an adapter pulled
// looks like to the port): the exchange ends at the first write or read that finds it
// gone, the port is closed, and Connect works again once the device is back.
TEST_F(LinkEndToEnd, AVanishedDeviceEndsTheExchangeAndClosesThePort) {
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    zelksim_->Kill();
    panel::Press(SHOW_VER);
    const link_test::Texts popups = link_test::Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_TRUE(popups[0].starts_with(link_test::kCommandError + "||" + zelksim_->link() +
                                      ": the device is gone (unplugged or hung up)\nThe port is "
                                      "closed. Plug the adapter back in and press Connect."))
        << popups[0];
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));

    StartSimulator();
    panel::Commit(PORT_CONN, 1);
    panel::Press(SHOW_VER);
    EXPECT_EQ(link_test::Popups(), link_test::Texts{"FirmWare Verion|E2E V9.99"});
}

}  // namespace
