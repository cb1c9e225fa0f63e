// A user's session against zelksim on a real pseudo-terminal, in real time: connect, read
// the version, write, and a write the module refuses, with the escape's guard times as the
// module saw them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "runtime/timing/utility.h"
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
    // The refused register is one only the M5 is sent.
    void StartSimulator() {
        zelksim_.emplace(std::vector<std::string>{"--log", log_, "--version-text", "E2E V9.99",
                                                  "--refuse-register", "113"});
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

    // The instants, on the steady clock, of every byte the program sent, from its trace.
    static std::vector<double> SentInstants(const std::string& trace, double start) {
        std::vector<double> instants;
        std::ifstream in(trace);
        for (std::string line; std::getline(in, line);) {
            double ms = 0;
            char port[8] = "";
            char direction[16] = "";
            if (std::sscanf(line.c_str(), "%lf %7s %15s", &ms, port, direction) == 3 &&
                std::string(direction) == "sent") {
                instants.push_back(start + ms / 1000.0);
            }
        }
        return instants;
    }

    const std::string log_ = "/tmp/zelk-e2e-" + std::to_string(getpid()) + ".log";
    std::optional<ZelksimProcess> zelksim_;
};

TEST_F(LinkEndToEnd, ConnectsReadsTheVersionWritesAndStopsAtARefusal) {
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
        {.productIndex = 4, .button = UPDATE,
         .popup = link_test::kCommandError + "||The module refused ATS113=1 (register S113): it "
                                             "answered something other than \">\".\nAlready "
                                             "written: S100, S101, S102, S103, S104, S105, S110, "
                                             "S111, S112. The module now holds these new values "
                                             "and its old ones for the rest: write again once the "
                                             "cause is fixed.",
         .begin = "+++ATS100=42\n", .end = "ATS113=1\nATO\n"},
    };
    // clang-format on
    // The program's own instants for the bytes it sends, from its wire trace, on the same
    // steady clock as zelksim's stamps.
    const std::string tracePath = log_ + ".trace";
    const double traceStart = Timer();
    ASSERT_EQ(ComTraceTo(tracePath.c_str()), 0);
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
        // The module must get each "+" a guard time after the program had sent the byte
        // before: the program stamps that byte in its trace once the write has returned,
        // and waits from there. zelksim stamps a byte when it gets round to reading it,
        // never before it was written, so a loaded machine can only make this hold more
        // easily; the exact guard is pinned on the virtual clock.
        const std::vector<double> sent = SentInstants(tracePath, traceStart);
        ASSERT_GE(sent.size(), from + 3);
        for (std::size_t i = from + 1; i < from + 3; ++i) {
            EXPECT_GE(times[i], sent[i - 1] + 0.1 - 1e-4);
            EXPECT_LE(times[i] - times[i - 1], 0.5);
        }
    }
    ComTraceTo("");
    std::remove(tracePath.c_str());
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
