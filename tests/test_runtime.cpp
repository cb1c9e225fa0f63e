// The runtime: serial ports on the virtual clock and a real pty; the user-interface runtime's
// conventions and the panel files it refuses; the main panel as its file builds it; and its
// window on a laptop screen and a larger one, under a dark palette, from the keyboard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <thread>

#include "runtime/timing/clock.h"
#include "runtime/ui/panel_json.h"
#include "tests/support/json_oracle.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/scoped.h"

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
    module.failNextOpen();  // and the port stays closed
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
    // Each wait is measured from the start it is given; one from a start long past is none.
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
    // One byte every 0.01 s: five have come after 0.05 s.
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
    EXPECT_EQ(ComWrtByte(3, 0x1AB), 1);  // its low 8 bits
    EXPECT_EQ(module.sentByHost(), "+++AT/L\n\xAB");
    // Once the device is found gone, every call says so until the port is closed.
    module.unplugAt(Timer());
    EXPECT_EQ(std::vector<int>({GetInQLen(3), FlushInQ(3), FlushOutQ(3), ComDrainOutQ(3)}),
              std::vector<int>(4, RS232_DEVICE_GONE));
}

TEST(SerialRuntime, ComNumbersGoToAliasesElseUsbAdaptersFirstThenOtherPortsInNaturalOrder) {
    ScopedEnvironment environment;
    const OnExit realPorts{[] { serial_backend::SetPortLister({}); }};
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
        environment.Set("ZELK_COM" + std::to_string(port), port == 2 ? "/tmp/zelk-pty" : "");
        devices += ComPortDeviceName(port) + std::string(";");
    }
    EXPECT_EQ(devices, "/dev/ttyACM0;/tmp/zelk-pty;/dev/ttyUSB10;/dev/ttyS9;/dev/ttyS10;;");
    const std::string tooltip = DescribeComPorts();
    EXPECT_EQ(tooltip.substr(0, tooltip.find("COM7")),
              "COM1 = /dev/ttyACM0 (Pico)\nCOM2 = /tmp/zelk-pty (set by ZELK_COM2)\n"
              "COM3 = /dev/ttyUSB10\nCOM4 = /dev/ttyS9\nCOM5 = /dev/ttyS10\nCOM6 = no device\n");
    // The real ports name a missing device.
    environment.Set("ZELK_COM2", "/nonexistent/zelk-port");
    EXPECT_EQ(Open(2), RS232_NO_DEVICE);
    EXPECT_NE(std::string(GetComErrorText()).find("/nonexistent/zelk-port"), std::string::npos);
}

// A device another program holds is told apart from one this user may not open, and the
// holder is named; the first open is undisturbed.
TEST(SerialRuntime, ABusyDeviceNamesItsHolder) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const OnExit closed{[master] {
        CloseCom(1);
        close(master);
    }};
    const std::string device = ptsname(master);
    ScopedEnvironment environment;
    environment.Set("ZELK_COM1", device.c_str());
    environment.Set("ZELK_COM2", device.c_str());
    ASSERT_EQ(Open(1), 0);
    EXPECT_EQ(Open(2), RS232_PORT_BUSY);
    EXPECT_EQ(GetComErrorText(), device + ": held by another program (test_runtime (pid " +
                                     std::to_string(getpid()) + "))");
    EXPECT_EQ(ComWrt(1, "x", 1), 1);
}

// The controls whose callback ran, in order; each call must be a bare commit.
std::vector<int> calls;

int Record(int panel, int control, int event, void* callbackData, int eventData1, int eventData2) {
    EXPECT_TRUE(panel == panelHandle && event == EVENT_COMMIT && callbackData == nullptr &&
                eventData1 == 0 && eventData2 == 0)
        << "control " << control << ", event " << event;
    calls.push_back(control);
    return 0;
}

// Two screens side by side, scaled by 1.25 as laptops often are: 1366 x 768, less than the
// panel needs, and 1920 x 1080; the window system frames each window.
void StartOnTwoScreens() {
    static bool started = false;
    if (started) {
        return;
    }
    static QTemporaryDir directory;
    const std::string config = directory.filePath("screens.json").toStdString();
    std::ofstream(config) << R"({"windowFrameMargins": true, "screens": [
        {"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768},
        {"name": "monitor", "x": 1366, "y": 0, "width": 1920, "height": 1080}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    setenv("QT_SCALE_FACTOR", "1.25", 1);
    static char name[] = "test_ui_runtime";
    static char* arguments[] = {name, nullptr};
    ASSERT_NE(InitUserInterface(1, arguments), 0);
    started = true;
}

// The real panel with a recorder in place of each callback the tests drive, so that a test
// sees exactly which events would reach the program; the other names stay unbound.
class UiRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        StartOnTwoScreens();
        ui_testing::Enable();
        for (const char* callback : {"SelectProductCallBack", "UartBrCallBack", "PortConnCallBack",
                                     "ComPortSelectCallBack", "ReadCallBack", "QuitCallBack"}) {
            RegisterCallback(callback, Record);
        }
        ui_testing::AllowUnboundCallbacks(true);
        Load("ZelkConfig_en.uir");
        calls.clear();
    }
    void TearDown() override { DiscardTestPanel(); }
    void Load(const std::string& file) {
        DiscardTestPanel();
        panelHandle = LoadPanel(0, file.c_str(), PANEL);
        ASSERT_GE(panelHandle, 0) << GetPanelLoadError();
    }
};

TEST_F(UiRuntime, EachUserActionCommitsOnceAndNoChangeByTheProgramDoes) {
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Connect");
    EXPECT_EQ(SetCtrlVal(panelHandle, PRODUCT, 3), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, UART_BR, 115200), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(DeleteListItem(panelHandle, PRODUCT, 0, -1), 0);
    EXPECT_EQ(InsertListItem(panelHandle, PRODUCT, -1, "Zelk-X", 4), 0);
    ProcessSystemEvents();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(panel::Value(PRODUCT), 4);
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Disconnect");
    SetCtrlVal(panelHandle, PORT_CONN, 0);

    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, 4), 0);
    EXPECT_EQ(ui_testing::UserPickItem(panelHandle, UART_BR, "19.2kbps"), 0);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(ui_testing::UserPress(panelHandle, READ), 0);
    // The entry already shown, picked again, is still a pick.
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, COMPORT_NUM, 1), 0);
    EXPECT_EQ(ui_testing::UserClosePanel(panelHandle), 0);  // as EXIT, closing left to it
    // Dimmed and hidden controls are out of a user's reach.
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S103, 2), UIE_NOT_OPERABLE);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S113, 0), UIE_NOT_OPERABLE);
    EXPECT_EQ(calls, (std::vector<int>{PRODUCT, UART_BR, PORT_CONN, READ, COMPORT_NUM, QUIT}));
    EXPECT_EQ(panel::Value(UART_BR), 19200);
}

// The list conventions the program relies on (index -1 appends, count -1 deletes to the end)
// show in every series' lists.
TEST_F(UiRuntime, RefusedValuesLeaveTheControlAsItWas) {
    const struct {
        int control;
        long long value, kept;
    } rows[] = {{.control = PRODUCT, .value = 7, .kept = 1},
                {.control = UART_BR, .value = 9601, .kept = 9600},
                {.control = S104, .value = 8, .kept = 3},
                {.control = S102, .value = 4, .kept = 5}};
    for (const auto& row : rows) {
        EXPECT_EQ(SetCtrlVal(panelHandle, row.control, row.value), UIE_BAD_VALUE) << row.control;
        EXPECT_EQ(panel::Value(row.control), row.kept) << row.control;
    }
    // A value is read only into a variable of the control's own type.
    uint8_t small = 0;
    uint32_t wide = 0;
    EXPECT_EQ(GetCtrlVal(panelHandle, PRODUCT, &wide), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, UART_BR, &small), UIE_TYPE_MISMATCH);
    // Numbers are brought into their range rather than refused.
    EXPECT_EQ(SetCtrlVal(panelHandle, S100, 500), 0);
    EXPECT_EQ(panel::Value(S100), 230);
}

TEST_F(UiRuntime, APanelFileThatCannotBeUsedIsRefusedWithItsNameAndReason) {
    ui_testing::AllowUnboundCallbacks(false);
    QTemporaryDir directory;
    const std::string head = R"({"panels": [{"constant": "P", "id": 1, "title": "t",
        "width": 100, "height": 100, "controls": [{"constant": "A", "id": 2, )";
    struct Refused {
        std::string name;      // in the test's folder
        std::string contents;  // of a regular file
        const char* why;       // what the reason says
    };
    const Refused rows[] = {
        {"p.uir", "{ \"panels\": [", "malformed panel file: missing value at offset 13"},
        {"p.uir", head + R"("kind": "decoration", "rect": [1,1,2,2], "rect": [1,1,2,2]}]}]})",
         "malformed panel file: duplicate key \"rect\" at offset 171"},
        {"p.uir", head + R"("kind": "slider", "rect": [1,1,2,2]}]}]})", "unknown kind \"slider\""},
        {"p.uir", head + R"("kind": "ring", "dataType": "int", "rect": [1,1,20,50], "value": 1,
                   "items": [{"text": "a", "value": 1}, {"text": "b", "value": 1.5}]}]}]})",
         "control A, item 2: \"value\" must be a whole number"},
        {"p.uir", head + R"("kind": "commandButton", "text": "A", "rect": [1,1,20,50],
                   "callback": "NobodysCallBack"}]}]})",
         "control A: callback NobodysCallBack is not registered"},
        {"absent/x.uir", "", "No such file or directory"},
        // A pipe would hold the program before any window; a device never ends.
        {"pipe.uir", "", "not a regular file"},
        {"zero.uir", "", "not a regular file"},
        {"sparse.uir", "", "too large for a panel file"},
    };
    for (const Refused& row : rows) {
        const std::string path = directory.filePath(QString::fromStdString(row.name)).toStdString();
        if (row.name == "pipe.uir") {
            mkfifo(path.c_str(), 0600);
        } else if (row.name == "zero.uir") {
            std::filesystem::create_symlink("/dev/zero", path);
        } else if (row.name == "sparse.uir") {
            std::ofstream{path};
            std::filesystem::resize_file(path, 16 * 1024 * 1024 + 1);
        } else if (!row.contents.empty()) {
            std::ofstream(path) << row.contents;
        }
        EXPECT_LT(LoadPanel(0, path.c_str(), 1), 0) << row.why;
        const std::string reason = GetPanelLoadError();
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_NE(reason.find(row.why), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

// The panel file's JSON reader: strict, where Qt's reader is the judge of what it accepts,
// and every refusal saying why and at which byte.
TEST(PanelJson, AcceptsStrictJsonOnlyAndSaysWhereItStopped) {
    const std::string deep(panel_json::maximumDepth, '[');
    struct Read {
        std::string text;
        std::string refused = {};  // the reason, empty when accepted
        std::size_t at = 0;
    };
    const Read rows[] = {
        {.text = R"({"a": [1, -12, -2.5E+3, 0.5e-2, -0, 1e300, true, false, null], "b": {}})"},
        {.text = R"("\u00e9\ud83d\ude00\"\\\/\b\f\n\r\t\u0000" )"},
        {.text = "\xEF\xBB\xBF [\"\xC3\xA9\xF0\x9F\x98\x80\", 123456789012345678901]\r\n\t"},
        // A string's own leading U+FEFF is kept; Qt's reader hands it out without.
        {.text = "{\"a\": 1, \"\xEF\xBB\xBFor\": [\"\xEF\xBB\xBFx\"]}"},
        {.text = deep + std::string(panel_json::maximumDepth, ']')},
        {.text = deep + "[]]", .refused = "too deeply nested", .at = 64},
        {.text = "", .refused = "missing value", .at = 0},
        {.text = "\f[]", .refused = "missing value", .at = 0},
        {.text = "[1,]", .refused = "missing value", .at = 3},
        {.text = "['a']", .refused = "missing value", .at = 1},
        {.text = "[NaN, +1]", .refused = "missing value", .at = 1},
        {.text = "[] // note", .refused = "garbage after the document", .at = 3},
        {.text = R"({"a": 1,})", .refused = "missing key", .at = 8},
        {.text = R"({"a" 1})", .refused = "missing ':' after a key", .at = 5},
        {.text = R"({"a": 1 "b": 2})", .refused = "missing ',' or '}'", .at = 8},
        {.text = R"({"x": 1, "\u0078": 2})", .refused = R"(duplicate key "\u0078")", .at = 9},
        {.text = "[-01]", .refused = "invalid number", .at = 3},
        {.text = "[1.]", .refused = "invalid number", .at = 3},
        {.text = "[1e400]", .refused = "number out of range", .at = 1},
        {.text = R"(["\ud800\u0041"])", .refused = "lone surrogate", .at = 2},
        {.text = R"(["\udbff\ue000"])", .refused = "lone surrogate", .at = 2},
        {.text = R"(["\udc00"])", .refused = "lone surrogate", .at = 2},
        {.text = R"(["\x"])", .refused = "invalid escape", .at = 2},
        {.text = R"(["\u12g4"])", .refused = "invalid escape", .at = 2},
        {.text = "[\"a\tb\"]", .refused = "control character in a string", .at = 3},
        {.text = "[\"\xE0\x80\xAF\"]", .refused = "invalid UTF-8", .at = 2},  // overlong
        {.text = "[\"\xED\xA0\x80\"]", .refused = "invalid UTF-8", .at = 2},  // a surrogate
        {.text = "[\"\xC3\"]", .refused = "invalid UTF-8", .at = 2},
        {.text = "[\"abc", .refused = "unterminated string", .at = 1},
    };
    for (const Read& row : rows) {
        panel_json::Value value;
        panel_json::ParseError error;
        const bool read = panel_json::Parse(row.text, value, error);
        EXPECT_EQ(read, row.refused.empty()) << row.text << ": " << error.reason;
        if (read) {
            EXPECT_TRUE(QtReadsTheSame(row.text, value)) << row.text;
        } else {
            EXPECT_EQ(error.reason + " at " + std::to_string(error.offset),
                      row.refused + " at " + std::to_string(row.at));
        }
    }
    // Every value of the shipped panel file as Qt reads it.
    QFile file(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray shipped = file.readAll();
    panel_json::Value document;
    panel_json::ParseError error;
    ASSERT_TRUE(panel_json::Parse(shipped.toStdString(), document, error)) << error.reason;
    EXPECT_TRUE(SameAsQt(document, QJsonDocument::fromJson(shipped).object()));
}

// The places are tried in turn: the file beside the program wins over the data
// directory's (the fall-back shows in the save dialog and a start without a panel file).
TEST_F(UiRuntime, APanelFileIsLookedForInEachPanelDirectoryInTurn) {
    QTemporaryDir directory;
    const std::filesystem::path data = directory.filePath("share").toStdString();
    std::filesystem::create_directory(data);
    std::ofstream(data / "ZelkConfig_en.uir") << R"({"panels": [{"constant": "P", "id": 1,
        "title": "t", "width": 100, "height": 100, "controls": [{"constant": "MARK", "id": 99,
        "kind": "textMessage", "text": "m", "rect": [1, 1, 20, 50]}]}]})";
    char program[MAX_PATHNAME_LEN] = {};
    ASSERT_EQ(GetProjectDir(program), 0);
    const std::string relative = std::filesystem::relative(data, program).string();
    const char* places[] = {".", relative.c_str()};
    DiscardTestPanel();
    ASSERT_EQ(SetPanelDirectories(places, 2), 0);
    panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    SetPanelDirectories(nullptr, 0);
    EXPECT_TRUE(ui_testing::InspectControl(panelHandle, READ).found) << GetPanelLoadError();
    const char* empty[] = {""};
    EXPECT_EQ(SetPanelDirectories(empty, 1), UIE_BAD_VALUE);
}

TEST_F(UiRuntime, ADialogLimitedToAnExtensionSavesAndLoadsOnlyFilesWithIt) {
    // What the program gets from a dialog limited to "*.txt"; the setting files' tests show
    // other extensions and none.
    auto chosen = [](int button, const std::string& answer) {
        char path[MAX_PATHNAME_LEN] = "untouched";
        ui_testing::AnswerNextFileSelect(answer);
        const int result = FileSelectPopup("/data", "", "*.txt", "", button, 0, 1, 1, 1, path);
        return std::to_string(result) + " " + path;
    };
    const int save = VAL_SAVE_BUTTON, load = VAL_LOAD_BUTTON;
    EXPECT_EQ(chosen(save, "/data/settings."), "1 /data/settings.txt");
    EXPECT_EQ(chosen(save, "/data.d/settings.cfg"), "1 /data.d/settings.cfg.txt");
    EXPECT_EQ(chosen(save, "/data/SETTINGS.TXT"), "1 /data/SETTINGS.TXT");
    EXPECT_EQ(chosen(load, "/data/settings"),
              std::to_string(UIE_BAD_FILE_TYPE) + " /data/settings");
    // The longest path that fits the buffer with its terminator, then one character more.
    const std::string fits = "/" + std::string(MAX_PATHNAME_LEN - 6, 'a') + ".txt";
    EXPECT_EQ(chosen(save, fits), "1 " + fits);
    EXPECT_EQ(chosen(save, fits.substr(0, fits.size() - 4) + "b"),
              std::to_string(UIE_PATH_TOO_LONG) + " untouched");
}

class PanelDefinition : public UiRuntime {};

// Every control inside the 980 by 659 window, its label whole, clear of other controls, and
// hidden and dimmed with its control.
TEST_F(PanelDefinition, EveryControlStartsInItsPlaceWithItsLabel) {
    auto overlaps = [](const ui_testing::Rect& a, const ui_testing::Rect& b) {
        return !a.empty() && !b.empty() && a.left < b.right && b.left < a.right &&
               a.top < b.bottom && b.top < a.bottom;
    };
    std::vector<ui_testing::ControlView> views;
    std::vector<int> controls;
    for (int control = PANEL + 1; control <= LED; ++control) {
        views.push_back(ui_testing::InspectControl(panelHandle, control));
        controls.push_back(control);
        ASSERT_TRUE(views.back().found) << control;
    }
    std::set<std::string> outside;
    for (std::size_t i = 0; i < views.size(); ++i) {
        const ui_testing::ControlView& view = views[i];
        if (!view.label.empty()) {
            EXPECT_EQ(view.labelHidden, panel::Visible(controls[i]) == 0) << view.constant;
            EXPECT_EQ(view.labelDimmed, panel::Dimmed(controls[i]) == 1) << view.constant;
        }
        EXPECT_TRUE(view.panelWidth == 980 && view.panelHeight == 659);
        const ui_testing::Rect& body = view.body;
        if (body.left < 0 || body.top < 0 || body.right > 980 || body.bottom > 659) {
            outside.insert(view.constant);
            continue;
        }
        EXPECT_TRUE(view.labelTextFits && view.label.left >= 0) << view.constant << "'s label";
        for (const ui_testing::ControlView& other : views) {
            if (&other != &view && other.constant.rfind("DECORATION", 0)) {
                EXPECT_FALSE(overlaps(view.label, other.body) || overlaps(view.label, other.label))
                    << view.constant << "'s label covers " << other.constant;
            }
        }
    }
    // Three controls take part in files and exchanges but lie below the window's edge.
    EXPECT_EQ(outside, (std::set<std::string>{"ID_LEN", "S101", "S115"}));
}

// A file that parses but was not made for this program: a misfit of a control the program
// relies on fails the load, naming the control and what is wrong.
TEST_F(PanelDefinition, AFileThatDoesNotFitTheProgramIsRefusedNamingTheControl) {
    DiscardTestPanel();
    ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError();  // the program's controls registered
    DiscardTestPanel();
    QFile real(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray original = real.readAll();
    struct Misfit {
        const char* from;  // a piece of the real file, and what it becomes
        const char* to;
        const char* said;
    };
    // clang-format off
    const Misfit misfits[] = {
        {.from = R"("S100", "id": 4, "kind": "numeric", "dataType": "uint8")",
         .to = R"("S100", "id": 4, "kind": "numeric", "dataType": "uint32")",
         .said = "control S100 holds uint32 in the file, the program reads it as uint8"},
        {.from = R"("READ", "id": 35,)", .to = R"("ELSE", "id": 99,)",
         .said = "control READ (identifier 35) is missing"},
        {.from = R"("UPDATE", "id": 36, "kind": "commandButton",)",
         .to = R"("UPDATE", "id": 36, "kind": "toggleButton", "dataType": "int", "offText": "",
                 "onText": "",)",
         .said = "control UPDATE is a toggleButton control in the file, the program needs a "
                 "commandButton"},
        {.from = R"("callback": "SetModeCallBack")", .to = R"("callback": "S126CallBack")",
         .said = "control S124 calls S126CallBack in the file, the program needs SetModeCallBack"},
    };
    // clang-format on
    QTemporaryDir directory;
    const std::string path = directory.filePath(QStringLiteral("misfit.uir")).toStdString();
    for (const Misfit& misfit : misfits) {
        QByteArray changed = original;
        ASSERT_TRUE(changed.contains(misfit.from)) << misfit.from;
        QFile out(QString::fromStdString(path));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(changed.replace(misfit.from, misfit.to));
        out.close();
        EXPECT_LT(LoadPanel(0, path.c_str(), PANEL), 0) << misfit.said;
        EXPECT_EQ(GetPanelLoadError(), path + ": " + misfit.said);
    }
}

class Window : public UiRuntime {
  protected:
    // Widgets are named after their control's constant.
    QWidget* Widget(const char* constant) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* found = window->findChild<QWidget*>(QLatin1String(constant))) {
                return found;
            }
        }
        ADD_FAILURE() << "no widget " << constant;
        return nullptr;
    }
};

// Every control a user sees: not hidden, no decoration, not below the panel's edge.
std::vector<int> ShownControls() {
    std::vector<int> shown;
    for (int control = PANEL + 1; control <= LED; ++control) {
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        if (view.found && panel::Visible(control) && view.constant.rfind("DECORATION", 0) &&
            view.body.bottom <= view.panelHeight) {
            shown.push_back(control);
        }
    }
    return shown;
}

bool Inside(const ui_testing::Rect& inner, const ui_testing::Rect& outer) {
    return inner.top >= outer.top && inner.left >= outer.left && inner.bottom <= outer.bottom &&
           inner.right <= outer.right;
}

bool WhollyShown(const ui_testing::ControlView& view) {
    return view.shown.bottom - view.shown.top == view.body.bottom - view.body.top &&
           view.shown.right - view.shown.left == view.body.right - view.body.left &&
           Inside(view.shown, view.screen);
}

// On the laptop the window scrolls and every control can be brought into view; on the
// monitor it is the panel itself, where its file puts it.
TEST_F(Window, FitsTheScreenItIsOn) {
    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    ProcessSystemEvents();
    const ui_testing::ControlView first = ui_testing::InspectControl(panelHandle, QUIT);
    EXPECT_TRUE(Inside(first.frame, first.screen));
    EXPECT_LT(first.window.bottom - first.window.top, 659);  // 768 / 1.25 is less
    EXPECT_EQ(first.frame.bottom, first.screen.bottom);      // as large as the screen allows

    const std::vector<int> controls = ShownControls();
    ASSERT_GT(controls.size(), 30u);
    for (const int control : controls) {
        const int scrolled = ui_testing::UserScrollTo(panelHandle, control);
        if (scrolled == UIE_NOT_OPERABLE) {
            continue;  // dimmed: seen but out of reach, wherever it is
        }
        ASSERT_EQ(scrolled, 0) << control;
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        EXPECT_TRUE(WhollyShown(view)) << view.constant;
    }

    const QScreen* monitor = nullptr;
    for (const QScreen* screen : QGuiApplication::screens()) {
        monitor = screen->name() == QLatin1String("monitor") ? screen : monitor;
    }
    ASSERT_NE(monitor, nullptr);
    QFile original(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const int left = monitor->geometry().left() + 45;
    QTemporaryDir directory;
    QFile moved(directory.filePath(QStringLiteral("panel.uir")));
    ASSERT_TRUE(moved.open(QIODevice::WriteOnly));
    moved.write(
        original.readAll().replace("\"left\": 45,", "\"left\": " + QByteArray::number(left) + ","));
    moved.close();
    Load(moved.fileName().toStdString());

    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    ProcessSystemEvents();
    const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, QUIT);
    EXPECT_EQ(view.frame.left, left);
    EXPECT_EQ(view.frame.top, 42);
    EXPECT_EQ(view.window.right - view.window.left, 980);
    EXPECT_EQ(view.window.bottom - view.window.top, 659);
    for (const int control : ShownControls()) {
        EXPECT_TRUE(WhollyShown(ui_testing::InspectControl(panelHandle, control))) << control;
    }
}

// The panel as it draws itself now.
QImage Drawn(QWidget* surface) {
    QImage image(surface->size(), QImage::Format_RGB32);
    surface->render(&image);
    return image;
}

// The panel keeps its own colours: under a dark desktop palette, both a panel up when it came
// and one loaded under it draw every pixel as under the default one. A dimmed label and field
// draw otherwise than an operable one.
TEST_F(Window, DrawsTheSameUnderADarkDesktopPaletteAsUnderTheDefaultOne) {
    const QPalette standard = QApplication::palette();
    const QImage light = Drawn(Widget("S100")->parentWidget());
    QApplication::setPalette(QPalette(QColor(53, 53, 53)));  // as Qt derives a dark theme
    const QImage switched = Drawn(Widget("S100")->parentWidget());
    Load("ZelkConfig_en.uir");
    const QImage loaded = Drawn(Widget("S100")->parentWidget());
    QApplication::setPalette(standard);
    EXPECT_TRUE(switched == light);
    EXPECT_TRUE(loaded == light);

    const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, S102);
    for (const ui_testing::Rect& area : {view.label, view.body}) {
        const QRect rect(area.left, area.top, area.right - area.left, area.bottom - area.top);
        SetCtrlAttribute(panelHandle, S102, ATTR_DIMMED, 0);
        const QImage operable = Drawn(Widget("S100")->parentWidget()).copy(rect);
        SetCtrlAttribute(panelHandle, S102, ATTR_DIMMED, 1);
        EXPECT_FALSE(Drawn(Widget("S100")->parentWidget()).copy(rect) == operable);
    }
}

TEST_F(Window, ButtonsAnswerEnterAndSpaceAndCtrlQActsAsExit) {
    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    QWidget* window = Widget("QUIT")->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QWidget* read = Widget("READ");
    read->setFocus();
    QTest::keyClick(read, Qt::Key_Return);
    QTest::keyClick(read, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(read, Qt::Key_Space);
    Widget("PORT_CONN")->setFocus();
    QTest::keyClick(Widget("PORT_CONN"), Qt::Key_Return);
    EXPECT_EQ(panel::Value(PORT_CONN), 1);
    // From anywhere in the window, a field included; not while EXIT is hidden or dimmed.
    QTest::keyClick(Widget("S100"), Qt::Key_Q, Qt::ControlModifier);
    for (const int attribute : {ATTR_VISIBLE, ATTR_DIMMED}) {
        SetCtrlAttribute(panelHandle, QUIT, attribute, attribute == ATTR_DIMMED);
        QTest::keyClick(Widget("S100"), Qt::Key_Q, Qt::ControlModifier);
        SetCtrlAttribute(panelHandle, QUIT, attribute, attribute == ATTR_VISIBLE);
    }
    EXPECT_EQ(calls, (std::vector<int>{READ, READ, READ, PORT_CONN, QUIT}));
}

TEST_F(Window, TakesTheProgramsIconOnceFirstPainted) {
    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    QWidget* window = Widget("QUIT")->window();
    EXPECT_TRUE(QTest::qWaitFor([window] { return !window->windowIcon().isNull(); }));
}

// The toggle's value each time its callback ran, which works a while, as an exchange does.
std::string toggles;

int SlowToggle(int panel, int control, int /*event*/, void* /*data*/, int, int) {
    int on = 0;
    GetCtrlVal(panel, control, &on);
    toggles += on != 0 ? '1' : '0';
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    return 0;
}

// The program's side: its own loop of wait and dispatch over a real X server, Connect in
// the focus, until every press has run its callback; then what the callbacks read.
void RunTheProgramsLoop(std::size_t presses) {
    static char name[] = "test_runtime";
    static char* arguments[] = {name, nullptr};
    ASSERT_NE(InitUserInterface(1, arguments), 0);
    RegisterCallback("PortConnCallBack", SlowToggle);
    ui_testing::AllowUnboundCallbacks(true);
    panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    ASSERT_GE(panelHandle, 0) << GetPanelLoadError();
    DisplayPanel(panelHandle);
    QWidget* button = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        button = button != nullptr ? button : window->findChild<QWidget*>("PORT_CONN");
    }
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(button->window()));
    button->setFocus();
    std::cout << "ready" << std::endl;
    while (toggles.size() < presses) {
        WaitForSystemEvents();
        ProcessSystemEvents();
    }
    std::cout << "toggles " << toggles << std::endl;
}

// Presses that come while a callback still works, as from a hurried user or on a machine
// too busy to keep up, go through the X server and the program's own loop: each one runs
// its callback in turn, which reads the toggle as that press left it. Space and Enter take
// turns, so that no release and press of one key read as a key held down.
TEST(RealWindowSystem, PressesThatComeWhileACallbackWorksRunInTurn) {
    constexpr std::size_t kPresses = 40;
    if (std::getenv("ZELK_PROGRAMS_LOOP") != nullptr) {
        RunTheProgramsLoop(kPresses);
        return;
    }
    StartOnTwoScreens();
    QTemporaryDir dir;
    QProcess server;
    server.start("sh",
                 {"-c", "exec Xvfb -displayfd 3 -nolisten tcp 3>\"$0\"", dir.filePath("display")});
    const OnExit serverStopped{[&server] {
        server.terminate();
        server.waitForFinished(10000);
    }};
    QFile display(dir.filePath("display"));
    while (display.size() == 0 && server.state() != QProcess::NotRunning) {
        server.waitForFinished(50);
    }
    ASSERT_TRUE(display.size() > 0 && display.open(QIODevice::ReadOnly))
        << "Xvfb, which make test installs, did not start";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":" + QString::fromLatin1(display.readAll().trimmed()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("ZELK_PROGRAMS_LOOP", "1");
    environment.insert("XDG_RUNTIME_DIR", dir.path());

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=RealWindowSystem.*"});
    QByteArray line;  // its test runner speaks first
    while (line != "ready\n" && (program.canReadLine() || program.waitForReadyRead(60000))) {
        line = program.readLine();
    }
    ASSERT_EQ(line.toStdString(), "ready\n") << program.readAllStandardError().toStdString();
    QStringList keys{"key", "--delay", "15"};
    std::string expected;
    for (std::size_t i = 0; i < kPresses; ++i) {
        keys << (i % 2 == 0 ? "space" : "Return");
        expected += i % 2 == 0 ? '1' : '0';
    }
    QProcess typist;
    typist.setProcessEnvironment(environment);
    typist.start("xdotool", keys);
    ASSERT_TRUE(typist.waitForFinished(60000) && typist.exitCode() == 0)
        << "xdotool, which make test installs: " << typist.readAllStandardError().toStdString();
    program.waitForFinished(60000);
    const QString said = QString::fromLatin1(program.readAllStandardOutput());
    EXPECT_EQ(said.section("toggles ", 1).section('\n', 0, 0).toStdString(), expected)
        << program.readAllStandardError().toStdString();
}

}  // namespace
