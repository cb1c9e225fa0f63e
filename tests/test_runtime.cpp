// The runtime: serial ports on the virtual clock and a real pty; whole files read from every
// kind of source; the user-interface runtime's conventions and the panel files it refuses;
// the main panel as its file builds it; and its window on a laptop screen and a larger one,
// under a dark palette, from the keyboard.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <set>
#include <thread>

#include "runtime/files/whole_files.h"
#include "runtime/timing/clock.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/scoped.h"

namespace {

// The system's port list replaced by these names, each with its description (or none), until
// the result goes.
auto ListPorts(const std::string& folder, std::vector<std::pair<std::string, std::string>> ports) {
    serial_backend::SetPortLister([folder, ports] {
        std::vector<serial_backend::PortInfo> listed;
        for (const auto& [name, description] : ports) {
            listed.push_back({});
            listed.back().name = name;
            listed.back().systemLocation = folder + name;
            listed.back().description = description;
        }
        return listed;
    });
    return OnExit{[] { serial_backend::SetPortLister({}); }};
}

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
    EXPECT_EQ(CloseCom(12), RS232_NOT_OPEN) << "the last port of the list is a port";
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
    EXPECT_EQ(ComRdByte(3), RS232_NOTHING_WAITING);
    EXPECT_EQ(ComWrtByte(3, 0x1AB), 1);  // its low 8 bits
    EXPECT_EQ(module.sentByHost(), "+++\xAB");
    // Once the device is found gone, every call says so until the port is closed.
    module.unplugAt(Timer());
    EXPECT_EQ(std::vector<int>({GetInQLen(3), FlushInQ(3), FlushOutQ(3), ComDrainOutQ(3)}),
              std::vector<int>(4, RS232_DEVICE_GONE));
}

#ifndef _WIN32
TEST(SerialRuntime, ComNumbersGoToAliasesElseUsbAdaptersFirstThenOtherPortsInNaturalOrder) {
    ScopedEnvironment environment;
    const auto listed = ListPorts(
        "/dev/",
        {{"ttyS10", ""}, {"ttyUSB10", ""}, {"ttyS9", ""}, {"ttyACM0", "Pico"}, {"ttyUSB2", ""}});
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

#else
// Windows numbers the ports itself; ZELK_COMn reaches those above the list's twelve, which
// USB adapters often get, and the tooltip and a failed open say so.
TEST(SerialRuntime, ComNumbersAreTheSystemsUnlessAVariableNamesAnotherComPort) {
    ScopedEnvironment environment;
    const auto system = ListPorts("\\\\.\\", {{"COM3", ""}, {"COM17", "USB Serial Port"}});
    environment.Set("ZELK_COM1", "COM17");
    environment.Set("ZELK_COM2", "");  // an empty variable is no alias
    environment.Set("ZELK_COM4", "COM99");
    std::string devices;
    std::string aliases;
    for (int port = 1; port <= 4; ++port) {
        devices += ComPortDeviceName(port) + std::string(";");
        aliases += ComPortAlias(port) + std::string(";");
    }
    EXPECT_EQ(devices, "COM17;COM2;COM3;COM99;");
    EXPECT_EQ(aliases, "ZELK_COM1;;;ZELK_COM4;");
    const std::string tooltip = DescribeComPorts();
    EXPECT_EQ(tooltip.substr(0, tooltip.find("COM5")),
              "COM1 = COM17 (set by ZELK_COM1)\nCOM2 = no device\nCOM3 = COM3\n"
              "COM4 = COM99 (set by ZELK_COM4)\n");
    // COM17 is reached through COM1 only; zelkctl lists it by its own name to take it as -p.
    const auto listed = [] {
        std::string text;
        for (const ComPortEntry& entry : ListComPorts(false)) {
            text += std::to_string(entry.port) + " " + entry.device + " " + entry.alias + ";";
        }
        return text;
    };
    EXPECT_EQ(listed(), "1 COM17 ZELK_COM1;3 COM3 ;4 COM99 ZELK_COM4;");
    environment.Set("ZELK_COM1", nullptr);
    EXPECT_EQ(listed(), "3 COM3 ;4 COM99 ZELK_COM4;0 COM17 ;");
    EXPECT_NE(Open(4), 0);
    EXPECT_EQ(std::string(GetComErrorText()).rfind("COM99: ", 0), 0u) << GetComErrorText();
}
#endif

// FIFOs, pipes on standard input, /proc and /dev as POSIX systems have them.
#ifndef _WIN32
// Writes text to the FIFO at path in three pieces with pauses between, as a slow writer
// does, then closes it.
std::thread SlowWriter(const std::string& path, std::string text) {
    return std::thread([path, text = std::move(text)] {
        const int out = open(path.c_str(), O_WRONLY);
        for (std::size_t at = 0; at < text.size(); at += text.size() / 3 + 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            (void)!write(out, text.data() + at, std::min(text.size() - at, text.size() / 3 + 1));
        }
        close(out);
    });
}

TEST(FileRuntime, ReadsWholeFilesUpToTheLimitAndRefusesWhatIsNoFile) {
    const QTemporaryDir folder;
    const std::string dir = folder.path().toStdString();
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    enum Source { Named, Fifo, FolderIn };  // a path; "-" is a folder on fd 0
    struct Row {
        const char* name;
        std::string path;
        Source source;
        std::string text;  // the file's, or what the writer writes; what is read when read
        int error = FILEIO_NO_ERROR;
        long long size = -1;      // as the system reported it
        const char* reason = "";  // in the system's words
    };
    constexpr std::size_t limit = 64;
    const std::string full(limit, 'S');
    const std::string record = "S111=5\r\nS112=7\r\n>";
    const Row rows[] = {
        {"at the limit", dir + "/full.txt", Named, full, FILEIO_NO_ERROR, limit},
        {"beyond it", dir + "/over.txt", Named, full + ">", FILEIO_TOO_LARGE, limit + 1},
        // Files of /proc report no size, and the bytes read decide.
        {"a file that reports 0 bytes", "/proc/self/comm", Named, "test_runtime\n", 0, 0},
        {"and is larger", "/proc/self/maps", Named, "", FILEIO_TOO_LARGE, 0},
        {"a FIFO", dir + "/fifo", Fifo, record},
        {"a folder as standard input", "-", FolderIn, "", FILEIO_IS_FOLDER, -1, "Is a directory"},
        {"a device", "/dev/null", Named, "", FILEIO_IS_DEVICE},
        {"a missing file", dir + "/none.txt", Named, "", FILEIO_CANNOT_OPEN, -1,
         "No such file or directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.path.starts_with(dir + "/") && row.source == Named && !row.text.empty()) {
            std::ofstream(row.path, std::ios::binary) << row.text;
        }
        const int standardInput = dup(0);
        std::thread writer;
        if (row.source == FolderIn) {
            const int in = open(dir.c_str(), O_RDONLY);
            dup2(in, 0);
            close(in);
        } else if (row.source == Fifo) {
            writer = SlowWriter(row.path, row.text);
        }
        std::string bytes = "left over";
        long long size = -2;
        const int error = ReadWholeFile(row.path.c_str(), limit, &bytes, &size);
        // A writer that the read never let in gets a reader, so that the test ends.
        const int unblock = row.source == Fifo ? open(row.path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        if (writer.joinable()) {
            writer.join();
        }
        close(unblock);
        dup2(standardInput, 0);
        close(standardInput);
        EXPECT_EQ(error, row.error) << FileIoErrorText(error);
        EXPECT_EQ(bytes, error == FILEIO_NO_ERROR ? row.text : "");
        EXPECT_EQ(size, row.size);
        if (*row.reason != '\0') {
            EXPECT_STREQ(FileIoReason(error), row.reason);
        }
    }
}
#endif

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
    // Named relative to the working directory: Qt parts the platform's options at colons,
    // which a Windows path holds after its drive letter.
    static QTemporaryDir directory(QDir::current().filePath("screens-XXXXXX"));
    const std::string config =
        QDir::current().relativeFilePath(directory.filePath("screens.json")).toStdString();
    std::ofstream(config) << R"({"windowFrameMargins": true, "screens": [
        {"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768},
        {"name": "monitor", "x": 1366, "y": 0, "width": 1920, "height": 1080}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString("offscreen:configfile=" + config));
    qputenv("QT_SCALE_FACTOR", "1.25");
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

// A toggle set by the program fires nothing and shows its state on its face; dimmed and
// hidden controls are out of a user's reach; the close box commits EXIT.
TEST_F(UiRuntime, AToggleSetByTheProgramCommitsNothingAndTheCloseBoxCommitsExit) {
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Connect");
    EXPECT_EQ(SetCtrlVal(panelHandle, PORT_CONN, 1), 0);
    ProcessSystemEvents();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Disconnect");
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S103, 2), UIE_NOT_OPERABLE);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S113, 0), UIE_NOT_OPERABLE);
    EXPECT_EQ(ui_testing::UserClosePanel(panelHandle), 0);  // as EXIT, closing left to it
    EXPECT_EQ(calls, std::vector<int>{QUIT});
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
        {"p.uir", "{ \"panels\": [", "malformed panel file: unterminated array at offset 13"},
        {"p.uir", head + R"("kind": "slider", "rect": [1,1,2,2]}]}]})", "unknown kind \"slider\""},
        {"p.uir", head + R"("kind": "ring", "dataType": "int", "rect": [1,1,20,50], "value": 1,
                   "items": [{"text": "a", "value": 1}, {"text": "b", "value": 1.5}]}]}]})",
         "control A, item 2: \"value\" must be a whole number"},
        {"p.uir", head + R"("kind": "commandButton", "text": "A", "rect": [1,1,20,50],
                   "callback": "NobodysCallBack"}]}]})",
         "control A: callback NobodysCallBack is not registered"},
#ifdef _WIN32
        {"absent/x.uir", "", ""},  // in Windows' own words
#else
        {"absent/x.uir", "", "No such file or directory"},
#endif
        // A pipe would hold the program before any window.
        {"pipe.uir", "", "not a regular file"},
        {"sparse.uir", "", "too large for a panel file"},
    };
    for (const Refused& row : rows) {
        const std::string path = directory.filePath(QString::fromStdString(row.name)).toStdString();
        if (row.name == "pipe.uir") {
            if (!MakePipe(path)) {
                continue;
            }
        } else if (row.name == "sparse.uir") {
            std::ofstream{path};
            std::filesystem::resize_file(path, 16 * 1024 * 1024 + 1);
        } else if (!row.contents.empty()) {
            std::ofstream(path, std::ios::binary) << row.contents;
        }
        EXPECT_LT(LoadPanel(0, path.c_str(), 1), 0) << row.why;
        const std::string reason = GetPanelLoadError();
        EXPECT_NE(reason.find(Native(path)), std::string::npos) << reason;
        EXPECT_NE(reason.find(row.why), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

// Qt's reader keeps the last of a key given twice in one object: a panel file with two
// "rect"s for a control would be a mistake that nothing reports. Every key of the shipped
// file, found in its text, is one member of the document Qt reads.
TEST(ShippedPanelFile, GivesEachKeyOnceInItsObject) {
    QFile file(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    // A string followed by a colon is a key: no value is.
    const QRegularExpression key(QStringLiteral(R"("(?:[^"\\]|\\.)*"\s*:)"));
    qsizetype keysInText = 0;
    for (auto match = key.globalMatch(QString::fromUtf8(text)); match.hasNext(); match.next()) {
        ++keysInText;
    }
    const std::function<qsizetype(const QJsonValue&)> members = [&](const QJsonValue& value) {
        qsizetype count = 0;
        for (const QJsonValue member : value.toObject()) {
            count += 1 + members(member);
        }
        for (const QJsonValue item : value.toArray()) {
            count += members(item);
        }
        return count;
    };
    EXPECT_GT(keysInText, 500);
    EXPECT_EQ(members(document.object()), keysInText);
}

// The places are tried in turn: the file beside the program wins over the data
// directory's (the fall-back shows in the save dialog and a start without a panel file).
TEST_F(UiRuntime, APanelFileIsLookedForInEachPanelDirectoryInTurn) {
    char program[MAX_PATHNAME_LEN] = {};
    ASSERT_EQ(GetProjectDir(program), 0);
    // On the program's drive: a Windows path to another has no relative form.
    QTemporaryDir directory(QDir(program).filePath("share-XXXXXX"));
    const std::filesystem::path data = directory.path().toStdString();
    std::ofstream(data / "ZelkConfig_en.uir") << R"({"panels": [{"constant": "P", "id": 1,
        "title": "t", "width": 100, "height": 100, "controls": [{"constant": "MARK", "id": 99,
        "kind": "textMessage", "text": "m", "rect": [1, 1, 20, 50]}]}]})";
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
    EXPECT_EQ(chosen(save, "/data/settings."), "1 " + Native("/data/settings.txt"));
    EXPECT_EQ(chosen(save, "/data.d/settings.cfg"), "1 " + Native("/data.d/settings.cfg.txt"));
    EXPECT_EQ(chosen(save, "/data/SETTINGS.TXT"), "1 " + Native("/data/SETTINGS.TXT"));
    EXPECT_EQ(chosen(load, "/data/settings"),
              std::to_string(UIE_BAD_FILE_TYPE) + " " + Native("/data/settings"));
    // The longest path that fits the buffer with its terminator, then one character more.
    const std::string fits = "/" + std::string(MAX_PATHNAME_LEN - 6, 'a') + ".txt";
    EXPECT_EQ(chosen(save, fits), "1 " + Native(fits));
    EXPECT_EQ(chosen(save, fits.substr(0, fits.size() - 4) + "b"),
              std::to_string(UIE_PATH_TOO_LONG) + " untouched");
}

class PanelDefinition : public UiRuntime {};

// Every control inside the 980 by 659 window, its label whole, clear of other controls, and
// hidden and dimmed with its control.
TEST_F(PanelDefinition, EveryControlStartsInItsPlaceWithItsLabel) {
    [[maybe_unused]] auto overlaps = [](const ui_testing::Rect& a, const ui_testing::Rect& b) {
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
#ifndef _WIN32
        // Qt's offscreen platform has no font of the system's on Windows; the labels' room
        // there shows in the window under Wine.
        EXPECT_TRUE(view.labelTextFits && view.label.left >= 0) << view.constant << "'s label";
        for (const ui_testing::ControlView& other : views) {
            if (&other != &view && other.constant.rfind("DECORATION", 0)) {
                EXPECT_FALSE(overlaps(view.label, other.body) || overlaps(view.label, other.label))
                    << view.constant << "'s label covers " << other.constant;
            }
        }
#endif
    }
    // Three controls take part in files and exchanges but lie below the window's edge.
    EXPECT_EQ(outside, (std::set<std::string>{"ID_LEN", "S101", "S115"}));
}

// The shipped panel file with `from` replaced by `to`, written to `path`.
void WriteChangedPanel(const QString& path, const QByteArray& from, const QByteArray& to) {
    QFile real(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    QByteArray text = real.readAll();
    ASSERT_TRUE(text.contains(from)) << from.toStdString();
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(text.replace(from, to));
}

// A file that parses but was not made for this program: a misfit of a control the program
// relies on fails the load, naming the control and what is wrong.
TEST_F(PanelDefinition, AFileThatDoesNotFitTheProgramIsRefusedNamingTheControl) {
    DiscardTestPanel();
    ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError();  // the program's controls registered
    DiscardTestPanel();
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
        WriteChangedPanel(QString::fromStdString(path), misfit.from, misfit.to);
        EXPECT_LT(LoadPanel(0, path.c_str(), PANEL), 0) << misfit.said;
        EXPECT_EQ(GetPanelLoadError(), Native(path) + ": " + misfit.said);
    }
}

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

class Window : public UiRuntime {};

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
    const int left = monitor->geometry().left() + 45;
    QTemporaryDir directory;
    const QString moved = directory.filePath(QStringLiteral("panel.uir"));
    WriteChangedPanel(moved, "\"left\": 45,", "\"left\": " + QByteArray::number(left) + ",");
    Load(moved.toStdString());

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

// An X server and xdotool, as POSIX desktops have them.
#ifndef _WIN32
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
    QWidget* button = Widget("PORT_CONN");
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
#endif

}  // namespace
