// Reading the module's register list into the panel, against the simulated module.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "link/connection.h"
#include "params/config_text.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "runtime/rs232.h"
#include "runtime/serial_backend.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "ui/panel_ids.h"

namespace {

const int registerControls[] = {S100,   S101,   S102,   S103,   S104,   S105,   S110,
                                S111,   S112,   S113,   S120_H, S120_L, S121_H, S121_L,
                                S122_H, S122_L, S123_H, S123_L, S124,   S125,   S126,
                                S127,   S128,   S129,   S130_H, S130_L, ID_LEN};

int Value(int control) {
    uint8_t value = 0;
    EXPECT_EQ(GetCtrlVal(panelHandle, control, &value), 0) << control;
    return value;
}

std::map<int, int> Snapshot() {
    std::map<int, int> values;
    for (int control : registerControls) {
        values[control] = Value(control);
    }
    return values;
}

int ItemCount(int control) {
    int count = -1;
    GetNumListItems(panelHandle, control, &count);
    return count;
}

std::string ItemLabel(int control, int index) {
    char label[64] = "";
    int value = 0;
    GetListItem(panelHandle, control, index, label, sizeof label, &value);
    return label;
}

using Popup = std::pair<std::string, std::string>;  // title, message

std::vector<Popup> Popups() {
    std::vector<Popup> popups;
    for (const ui_testing::Popup& popup : ui_testing::TakePopups()) {
        popups.emplace_back(popup.title, popup.message);
    }
    return popups;
}

const Popup readOk{"Command Ok", "Done! Reading successfull! "};
const Popup readFailed{"Command Error", " Communication Error! Please Re-try "};

// A connected port to a simulated module of the given series, and the panel set up for
// the same series, as a user would have it before pressing READ.
class Reading : public ::testing::Test {
  protected:
    void Start(ModuleOptions options, uint32_t baudRate = 9600) {
        module_ = std::make_unique<sim::SimulatedModule>(options);
        RegisterProgramCallbacks();
        ASSERT_GE(LoadTestPanel(), 0);
        ApplyControlRules();
        ASSERT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, options.series), 0);
        ASSERT_EQ(OpenComConfig(1, "", baudRate, PARITY_NONE, 8, 1, 512, 512), 0);
        connection = ConnectionState{1, true, baudRate, 0};
        ui_testing::TakePopups();
        module_->clearWire();
    }
    void TearDown() override {
        if (!module_) {
            return;
        }
        CloseCom(1);
        connection = ConnectionState{0, false, 9600, 0};
        DiscardTestPanel();
        ui_testing::Disable();
        module_.reset();
    }

    void PressRead() { ASSERT_EQ(ui_testing::UserPress(panelHandle, READ), 0); }
    ModuleModel& Module() { return module_->module(); }
    // Lines the module took in command mode after the register list request.
    std::vector<std::string> CommandsAfterList() {
        const std::vector<std::string>& all = Module().commands();
        std::vector<std::string> after;
        bool seen = false;
        for (const std::string& command : all) {
            if (seen) {
                after.push_back(command);
            }
            seen = seen || command == "AT/L";
        }
        return after;
    }

    std::unique_ptr<sim::SimulatedModule> module_;
};

TEST_F(Reading, ACompleteListSetsTheControlsAndEndsWithCommandOk) {
    struct Register {
        int number;
        const char* text;
        std::map<int, int> controls;
    };
    const Register registers[] = {
        {100, "120", {{S100, 120}}},
        {102, "15", {{S102, 15}}},
        {104, "5", {{S104, 5}}},
        {105, "2", {{S105, 2}}},
        {110, "12", {{S110, 12}}},
        {111, "42", {{S111, 42}}},
        {112, "4", {{S112, 4}}},
        {120, "10.20", {{S120_H, 10}, {S120_L, 20}}},
        {121, "30.40", {{S121_H, 30}, {S121_L, 40}, {ID_LEN, 1}}},
        {122, "50.60", {{S122_H, 50}, {S122_L, 60}}},
        {123, "70.80", {{S123_H, 70}, {S123_L, 80}}},
        {124, "2", {{S124, 2}}},
        {125, "9", {{S125, 9}}},
        {126, "2", {{S126, 2}}},
        {127, "1", {{S127, 1}}},
        {129, "1", {{S129, 1}}},
        {130, "90.99", {{S130_H, 90}, {S130_L, 99}}},
    };
    ModuleOptions options;
    options.twoByteIds = true;
    Start(options);
    for (const Register& r : registers) {
        Module().setRegister(r.number, r.text);
    }

    PressRead();

    for (const Register& r : registers) {
        for (const auto& [control, value] : r.controls) {
            EXPECT_EQ(Value(control), value) << "S" << r.number;
        }
    }
    EXPECT_EQ(Popups(), std::vector<Popup>{readOk});
    EXPECT_EQ(CommandsAfterList(), std::vector<std::string>{"ATX"});
    // The reply stays in the buffer, end marker included.
    EXPECT_EQ(std::string(configText), Module().registerList());
}

TEST_F(Reading, NoReplyGivesUpAfterSevenEmptyPolls) {
    // From the line feed of "AT/L" to the leave command: seven polls, each as long as the
    // line's baud rate asks for.
    struct RateCase {
        uint32_t baudRate;
        double giveUp;
    };
    for (RateCase c : {RateCase{9600, 0.35}, RateCase{2400, 0.35}, RateCase{1200, 0.7},
                       RateCase{600, 0.7}, RateCase{300, 1.05}}) {
        SCOPED_TRACE(c.baudRate);
        ModuleOptions options;
        options.cutReplyAfter = 0;
        Start(options, c.baudRate);
        const std::map<int, int> before = Snapshot();

        PressRead();

        EXPECT_EQ(Popups(), std::vector<Popup>{readFailed});
        EXPECT_EQ(Snapshot(), before);
        EXPECT_EQ(CommandsAfterList(), std::vector<std::string>{"ATX"});
        std::vector<double> leaves = module_->hostByteTimes('X');
        ASSERT_EQ(leaves.size(), 1u);
        double listSent = 0;
        for (double t : module_->hostByteTimes('\n')) {
            listSent = t < leaves[0] ? t : listSent;
        }
        EXPECT_NEAR(leaves[0] - listSent, c.giveUp, 0.01);
        TearDown();
    }
}

TEST_F(Reading, ACutReplyChangesNothing) {
    ModuleOptions options;
    options.series = 4;
    options.cutReplyAfter = 60;  // a few records, then silence
    Start(options);
    Module().setRegister(100, "20");
    Module().setRegister(111, "7");
    const std::map<int, int> before = Snapshot();

    PressRead();

    EXPECT_EQ(Popups(), std::vector<Popup>{readFailed});
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(CommandsAfterList(), std::vector<std::string>{"ATO"});
}

TEST_F(Reading, ThreeHundredCharactersWithoutEndMarkerAreAWholeReply) {
    // Records padded with spaces so that the 300th character falls at the end of S125's
    // value; S130 comes after it and is never seen.
    struct CutCase {
        const char* name;
        const char* lastRecord;  // ends at the 300th character
        int s125;
    };
    const CutCase cases[] = {
        {"a value whose three digits end the reply is whole", "S125=123", 123},
        {"a value cut by the 300th character is dropped", "S125=12", -1},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string head = "S111=9\r\n";
        const std::string middle = "\r\nS100=77\r\n";
        const std::string last = c.lastRecord;
        std::string reply = head;
        reply += std::string(300 - head.size() - middle.size() - last.size(), ' ');
        reply += middle + last + "0\r\nS130=5\r\n>";
        ModuleOptions options;
        options.registerListOverride = reply;
        Start(options);
        std::map<int, int> expected = Snapshot();

        PressRead();

        EXPECT_EQ(Popups(), std::vector<Popup>{readOk});
        EXPECT_EQ(std::string(configText), reply.substr(0, 300));
        expected[S111] = 9;
        expected[S100] = 77;
        if (c.s125 >= 0) {
            expected[S125] = c.s125;
        }
        EXPECT_EQ(Snapshot(), expected);
        TearDown();
    }
}

TEST_F(Reading, TheM5RebuildsItsRadioRatesForTheModulationRead) {
    // After the M5 set-up the rate list has six items. The read rebuilds the whole list
    // for the modulation reported, which also sets the buffer to 50, and shows the rate
    // reported, even one the six lack.
    struct ModulationCase {
        const char* s113;
        const char* s110;
        int rate;
        const char* lastItem;
    };
    for (ModulationCase c :
         {ModulationCase{"0", "5", 5, "115.2kbps"}, ModulationCase{"1", "6", 6, "18750 bps"}}) {
        SCOPED_TRACE(c.s113);
        ModuleOptions options;
        options.series = 4;
        Start(options);
        ASSERT_EQ(ItemCount(S110), 6);
        Module().setRegister(100, "30");
        Module().setRegister(110, c.s110);
        Module().setRegister(113, c.s113);

        PressRead();

        EXPECT_EQ(Popups(), std::vector<Popup>{readOk});
        EXPECT_EQ(Value(S100), 50);
        EXPECT_EQ(Value(S110), c.rate);
        EXPECT_EQ(ItemCount(S110), 8);
        EXPECT_EQ(ItemLabel(S110, 7), c.lastItem);
        EXPECT_EQ(CommandsAfterList(), std::vector<std::string>{"ATO"});
        TearDown();
    }
}

TEST_F(Reading, TheR3KeepsItsRateListWhateverModulationIsRead) {
    ModuleOptions options;
    options.series = 6;
    Start(options);
    const int items = ItemCount(S110);
    const std::string first = ItemLabel(S110, 0);
    Module().setRegister(100, "30");
    Module().setRegister(110, "5");
    Module().setRegister(113, "0");

    PressRead();

    EXPECT_EQ(Popups(), std::vector<Popup>{readOk});
    EXPECT_EQ(Value(S113), 0);
    EXPECT_EQ(ItemCount(S110), items);
    EXPECT_EQ(ItemLabel(S110, 0), first);
    EXPECT_EQ(Value(S110), 5);
    EXPECT_EQ(Value(S100), 30);
}

TEST_F(Reading, LeavesCommandModeByProductSeries) {
    const char* expected[] = {"ATX", "ATX", "ATX", "ATX", "ATO", "ATO", "ATX"};
    for (int series = 0; series <= 6; ++series) {
        SCOPED_TRACE(series);
        ModuleOptions options;
        options.series = series;
        Start(options);
        PressRead();
        EXPECT_EQ(Popups(), std::vector<Popup>{readOk});
        EXPECT_EQ(CommandsAfterList(), std::vector<std::string>{expected[series]});
        EXPECT_FALSE(Module().inCommandMode());
        TearDown();
    }
}

// Notes whether the busy cursor is up each time the program waits on the clock.
class CursorWatchingClock : public serial_backend::Clock {
  public:
    explicit CursorWatchingClock(serial_backend::Clock& inner) : inner_(inner) {}
    double now() override { return inner_.now(); }
    void waitUntil(double when) override {
        ++waits;
        if (QGuiApplication::overrideCursor() == nullptr) {
            ++waitsWithoutBusyCursor;
        }
        inner_.waitUntil(when);
    }
    int waits = 0;
    int waitsWithoutBusyCursor = 0;

  private:
    serial_backend::Clock& inner_;
};

TEST_F(Reading, BusyCursorWhileTheReadWaitsAndNeverAfter) {
    struct CursorCase {
        const char* name;
        int cutReplyAfter;
    };
    for (CursorCase c : {CursorCase{"a whole list", -1}, CursorCase{"no reply", 0}}) {
        SCOPED_TRACE(c.name);
        ModuleOptions options;
        options.cutReplyAfter = c.cutReplyAfter;
        Start(options);
        CursorWatchingClock clock(module_->clock());
        serial_backend::SetClock(&clock);
        PressRead();
        serial_backend::SetClock(&module_->clock());

        EXPECT_EQ(Popups().size(), 1u);
        EXPECT_GT(clock.waits, 0);
        EXPECT_EQ(clock.waitsWithoutBusyCursor, 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        TearDown();
    }
}

}  // namespace
