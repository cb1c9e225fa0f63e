// The window program: start-up, quitting and the program as a process; the connection
// controls, the popup that ends each exchange, what a read puts into the panel and what a
// write takes from it; setting files through the file dialogs; the panel's adaptation to
// the series and its rules by mode, repeater and ID length. The exchanges themselves are
// the core's; its sessions on a real pty are zelkctl's: the same exchanges, another front
// end.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <numeric>
#include <optional>
#include <tuple>

#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "core/product/series.h"
#include "runtime/serial/serial_seam.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/scoped.h"
#include "window/app/app.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

// Rows and module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using link_test::kCommandError;
using link_test::Popups;
using link_test::Texts;

// Only a commit quits; the close box acts like EXIT, which touches no closed port and
// closes an open one once.
TEST_F(StartedProgram, CloseBoxQuitsLikeExitAndExitClosesAnOpenPortOnce) {
    sim::SimulatedModule module;
    QuitCallBack(panelHandle, QUIT, 2, nullptr, 0, 0);
    EXPECT_EQ(quitFlag, 0);
    ASSERT_EQ(ui_testing::UserClosePanel(panelHandle), 0);
    EXPECT_EQ(quitFlag, 1);
    RunEventLoop();  // returns at once: the flag is tested before the first pass
    EXPECT_EQ(module.openCount() + module.closeCount(), 0);
    EXPECT_TRUE(module.wire().empty());

    quitFlag = 0;
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    panel::Press(QUIT);
    EXPECT_EQ(std::tuple(quitFlag, connection.connected, panel::Value(PORT_CONN)),
              std::tuple(1, false, 0));
    EXPECT_EQ(StopZelkConfig(), 0);
    EXPECT_EQ(module.closeCount(), 1);
}

// The wait after the quit holds nothing up.
TEST_F(StartedProgram, AnEventEndsTheWaitAndItsCallbackRunsInTheNextPass) {
    QTimer::singleShot(100, QCoreApplication::instance(),
                       [] { ui_testing::UserPress(panelHandle, QUIT); });
    while (quitFlag == 0) {
        ASSERT_EQ(ProcessSystemEvents(), 0);
        const int before = quitFlag;
        ASSERT_EQ(WaitForSystemEvents(), 0);
        ASSERT_EQ(quitFlag, before) << "a callback ran in the wait";
    }
}

// The program as a POSIX process, and its CPU time as POSIX counts it; make windows-test
// starts the Windows build itself.
#ifndef _WIN32
// A copy of the program in a folder of its own; help and version need no display.
TEST(ProgramProcess, AnswersHelpAndVersionAndAStartThatCannotGoOnSaysWhyInOneLine) {
    ASSERT_GE(LoadTestPanel(), 0);  // the user interface, which knows the program's folder
    DiscardTestPanel();
    const QString program = QString::fromStdString(ProgramDir() + "/ZelkConfig");
    struct Run {
        const char* what;
        QStringList arguments = {};
        bool panelFile = true;
        // Set on an environment without a display or a platform set.
        std::vector<std::pair<const char*, const char*>> environment = {};
        int status = 255;         // -1 as seen by the parent
        std::string said = {};    // in the stderr line; ".../" for the program's folder
        const char* output = "";  // how stdout begins; nullptr: stdout cannot be written
    };
    const std::string noDisplay = "a graphical session is needed: ";
    const std::pair<const char*, const char*> xcb = {"QT_QPA_PLATFORM", "xcb"};
    // clang-format off
    const Run runs[] = {
        // Both places: beside itself, and the data directory of an installation.
        {.what = "no panel file", .panelFile = false, .environment = {{"QT_QPA_PLATFORM", "offscreen"}},
         .said = ".../ZelkConfig_en.uir, " + QDir::tempPath().toStdString() +
                 "/share/zelkconfig/ZelkConfig_en.uir"},
        {.what = "no display", .said = noDisplay + "no display is set"},
        {.what = "a display nobody serves", .environment = {{"DISPLAY", ":97"}},
         .said = noDisplay + "could not connect to display :97"},
        {.what = "version", .arguments = {"--version"}, .environment = {xcb}, .status = 0,
         .output = "ZelkConfig 1.0\n"},
        {.what = "help", .arguments = {"-platform", "xcb", "--help"}, .status = 0,
         .output = "Usage: ZelkConfig [--trace FILE] [--help | --version]\n"},
        {.what = "help to a full disk", .arguments = {"--help"}, .environment = {xcb}, .status = 1,
         .output = nullptr},
    };
    // clang-format on
    for (const Run& c : runs) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString copy = dir.filePath("ZelkConfig");
        ASSERT_TRUE(QFile::copy(program, copy));
        ASSERT_TRUE(!c.panelFile ||
                    QFile::copy(QFileInfo(program).dir().filePath("ZelkConfig_en.uir"),
                                dir.filePath("ZelkConfig_en.uir")));
        // Without a runtime directory Qt warns on stderr, beside the program's own line.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", dir.path());
        for (const char* name :
             {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
            environment.remove(name);
        }
        for (const auto& [name, value] : c.environment) {
            environment.insert(name, value);
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(c.output ? QString() : QStringLiteral("/dev/full"));
        process.start(copy, c.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status);
        const std::string output = process.readAllStandardOutput().toStdString();
        EXPECT_EQ(output.rfind(c.output ? c.output : "", 0), 0u) << output;
        if (c.status == 255) {
            const std::string error = process.readAllStandardError().toStdString();
            std::string said = c.said;
            if (said.starts_with(".../"))
                said.replace(0, 3, dir.path().toStdString());
            EXPECT_EQ(error.rfind("ZelkConfig: ", 0), 0u) << error;
            EXPECT_NE(error.find(said), std::string::npos) << error;
            EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
        }
    }
}

// A spinning loop takes well over a quarter of a core even on a loaded machine; one that
// sleeps 10 ms a pass wakes 100 times a second. The program has no threads of its own.
TEST_F(StartedProgram, AnIdleProgramSleepsUntilAnEventComes) {
    // From 2 s on, past start-up, until a press on EXIT.
    std::chrono::steady_clock::time_point start;
    rusage before{};
    QTimer::singleShot(2000, [&] {
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(getrusage(RUSAGE_THREAD, &before), 0);
    });
    QTimer::singleShot(4000, [] { ui_testing::UserPress(panelHandle, QUIT); });
    RunEventLoop();
    rusage after{};
    ASSERT_EQ(getrusage(RUSAGE_THREAD, &after), 0);
    const double idle =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    const double cpu = seconds(after.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_utime) - seconds(before.ru_stime);
    EXPECT_LT(cpu / idle, 0.25) << "share of a core while idle";
    EXPECT_LT(static_cast<double>(after.ru_nvcsw - before.ru_nvcsw) / idle, 10.0)
        << "wake-ups a second while idle";
}
#endif

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

class Link : public link_test::LinkTest {};

// How a failure names the simulated module's port: its device beside the COM number, but
// for a COM port itself (on Windows).
std::string OnPort(int port) {
    const std::string com = "COM" + std::to_string(port);
    return sim::DevicePath(port) == com ? com : com + " (" + sim::DevicePath(port) + ")";
}

TEST_F(Link, ConnectsWithTheSettingsChosenAndFollowsThePortPicked) {
    Attach().failNextOpen();
    for (int button : {READ, UPDATE, SHOW_VER}) {
        panel::Press(button);  // every exchange needs the port open
    }
    EXPECT_EQ(Popups(), Texts(3, "COM error| COM disconnect!\r\n Connect it first!!  "));
    panel::Commit(PORT_CONN, 1);
    EXPECT_EQ(Popups(), Texts{kOpenError + "||simulated open failure."});
    EXPECT_EQ(std::tuple(connection.connected, panel::Value(PORT_CONN), module().wire().size()),
              std::tuple(false, 0, 0u));

    ui_testing::AnswerNextConfirm(true);
    panel::Commit(UART_BR, 19200);
    ui_testing::AnswerNextConfirm(true);
    panel::Commit(SERFMT, 6);  // 7E1
    EXPECT_EQ(Popups(), Texts(2, kConfirmChange));
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    const serial_backend::Settings set = module().lastSettings();
    EXPECT_EQ(std::tuple(set.baudRate, set.parity, set.dataBits, set.stopBits, set.inputQueueSize,
                         set.outputQueueSize),
              std::tuple(19200L, 2, 7, 1, 512, 512));

    // The same port again keeps the connection; another closes it, to be taken at the next.
    ComPortSelectCallBack(panelHandle, COMPORT_NUM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(connection.connected);
    panel::Commit(COMPORT_NUM, 2);
    EXPECT_EQ(std::tuple(connection.connected, panel::Value(PORT_CONN), module().closeCount()),
              std::tuple(false, 0, 1));
    EXPECT_TRUE(Popups().empty());
}

// Accepted changes are taken at the next connect (above).
TEST_F(Link, BaudRateAndFormatStayWhileConnectedOrWhenTheChangeIsDeclined) {
    for (const bool connected : {true, false}) {
        for (const auto& [control, value] : {std::pair{UART_BR, 2400}, std::pair{SERFMT, 6}}) {
            SCOPED_TRACE(testing::Message() << control << connected);
            Attach();
            connected ? Connect() : void();
            panel::Commit(control, value);  // a confirmation left unanswered is declined
            EXPECT_EQ(Popups(), Texts{connected ? kEngaged : kConfirmChange});
            EXPECT_EQ(std::tuple(connection.comBaudRate, connection.comFormat, connection.connected,
                                 panel::Value(UART_BR), panel::Value(SERFMT)),
                      std::tuple(9600u, 0, connected, 9600, 0));
        }
    }
}

// Each exchange ends in its popup with what the program knows beside it; a vanished device
// also closes the port and puts Connect back, so that Connect works once it is back.
TEST_F(Link, EveryExchangeEndsInItsPopup) {
    const std::string gone =
        kCommandError + "||" + sim::DevicePath(1) +
        ": the device is gone (unplugged or hung up)\nThe port is closed. Plug the "
        "adapter back in and press Connect.";
    const std::string firstNotTaken =
        " (register S100): it answered something other than "
        "\">\".\nNothing was written before it.";
    struct Row {
        int button;
        ModuleOptions module;
        std::string popup;
        double unplug = -1.0;  // seconds after the press
    };
    // clang-format off
    const Row rows[] = {
        {UPDATE, {}, link_test::kDone},
        {READ, {.silent = true},
         kCommandError + "||No \">\" came back after the escape \"+++\" on " + OnPort(1) +
                         " at 9600 bit/s, 8N1.\nCheck that COM Baud Rate and the format match the "
                         "module's serial setting (factory setting 9600 bit/s, 8N1), that the "
                         "module has power, and the wiring."},
        {SHOW_VER, {.cutReplyAfter = 3},
         kCommandError + "||The firmware version (\"AT/V\") did not come: no \">\" within 5 seconds."},
        {READ, {.cutReplyAfter = 60},
         kCommandError + "||The register list (\"AT/L\") did not come whole: 60 characters and no "
                         "\">\"."},
        {UPDATE, {.refuseRegister = 100}, kCommandError + "||The module refused ATS100=50" + firstNotTaken},
        {SHOW_VER, {}, gone, 0.31},
        {UPDATE, {}, gone + "\nThe device went away before the module acknowledged ATS100=50 "
                            "(register S100); it may or may not have taken it.\nNothing was "
                            "written before it.", 0.66},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.popup);
        Attach(row.module);
        Connect();
        module().unplugAt(row.unplug < 0.0 ? -1.0 : now() + row.unplug);
        panel::Press(row.button);
        EXPECT_EQ(Popups(), Texts{row.popup});
        const bool kept = row.unplug < 0.0;
        EXPECT_EQ(std::tuple(connection.connected, panel::Value(PORT_CONN), module().isOpen()),
                  std::tuple(kept, int(kept), kept));
    }
}

// A read sets the controls of the records it finds; the series whose module reports its
// modulation then offers the rates for it. A failed read changes nothing.
TEST_F(Link, ReadTakesTheReplyIntoThePanelOrChangesNothing) {
    struct ReadCase {
        ModuleOptions module;
        std::map<int, std::string> registers = {};  // set in the module before the read
        std::map<int, int> changed = {};            // every control the read changes
        const char* lastRate = nullptr;             // the rate list rebuilt, ending with this item
    };
    // clang-format off
    const ReadCase cases[] = {
        {{.series = 4, .cutReplyAfter = 60}},
        // The M5 rebuilds its rates for the modulation read, which sets the buffer to 50,
        // and shows the rate read even where the list its set-up left lacks it.
        {{.series = 4}, {{100, "30"}, {110, "5"}}, {{S110, 5}}, "115.2kbps"},
        {{.series = 4}, {{100, "30"}, {110, "6"}, {113, "1"}}, {{S110, 6}, {S113, 1}}, "18750 bps"},
        {{.series = 6}, {{100, "30"}, {110, "5"}, {113, "0"}}, {{S100, 30}, {S110, 5}, {S113, 0}}},
    };
    // clang-format on
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.module.series);
        Attach(c.module, c.module.series);
        panel::Commit(PRODUCT, c.module.series);
        for (const auto& [number, text] : c.registers) {
            module().module().setRegister(number, text);
        }
        Connect();
        const std::map<int, int> expected = Snapshot(c.changed);
        const panel::Items rateList = panel::ListItems(S110);
        panel::Press(READ);
        Popups();
        EXPECT_EQ(Snapshot(), expected);
        EXPECT_EQ(panel::ListItems(S110).size(), c.lastRate ? 8u : rateList.size());
        EXPECT_EQ(panel::ListItems(S110).back().first,
                  c.lastRate ? c.lastRate : rateList.back().first);
    }
}

// The write sends the modulation its control shows, not the one the last read found: the
// series chosen again has set the control back to the series' own.
TEST_F(Link, WriteSendsTheModulationItsControlShows) {
    Attach({.series = 4}, 4);
    panel::Commit(PRODUCT, 4);
    module().module().setRegister(113, "1");
    Connect();
    panel::Press(READ);
    panel::Commit(PRODUCT, 4);
    panel::Press(UPDATE);
    EXPECT_EQ(Popups(), (Texts{"Command Ok|Done! Reading successfull! ", link_test::kDone}));
    EXPECT_EQ(module().module().registerText(113), "0");
}

// Each file and every control its load changes, ID_LEN (from two-byte IDs) included; or the
// error it gives, and then nothing changes. What the scan takes from a text is the core's.
TEST_F(SettingFiles, LoadsRecordsIntoExactlyTheirControlsAndRefusesWhatItCannotRead) {
    const auto oneByte = std::pair{ID_LEN, 0};
    // Records that change the panel if taken, filling what the text holds or one more.
    const std::string full = std::string(CONFIG_TEXT_SIZE - 10, ' ') + "S125=9\r\n>";
    std::string binary(255, '\0');
    std::iota(binary.begin(), binary.end(), 1);
    const bool pipes = MakePipe(dir_ / "pipe.txt");
    const std::string notLoaded = " Loading Error! The setting is not loaded:\r\n ";
    struct LoadCase {
        std::optional<std::string> text;  // the file's; none: made above, or missing
        std::map<int, int> changed = {};
        const char* name = "";   // "": named after its row
        std::string error = "";  // the popup's text up to the path, and after it
        const char* reason = "";
    };
    // clang-format off
    const LoadCase cases[] = {
        {.text = "", .changed = {oneByte}},
        // Low parts only after a two-part S121, then the one read last for a one-part record.
        {.text = "S122=3.4\r\nS121=1.2\r\nS123=9\r\nS120=5\r\n>",
         .changed = {{S122_H, 3}, {S121_H, 1}, {S121_L, 2}, {S123_H, 9}, {S123_L, 2}, {S120_H, 5},
                     {S120_L, 2}}},
        // The rules run after the load: a repeater node's group is its repeater ID.
        {.text = "S128=1\r\nS130=7\r\nS124=2\r\nS129=1\r\n>",
         .changed = {{S128, 1}, {S130_H, 7}, {S123_H, 7}, oneByte}},
        // A zero byte in the file is one more character; the last line needs no line end.
        {.text = binary + '\0' + "S111=19", .changed = {{S111, 19}, oneByte}},
        {.text = full, .changed = {{S125, 9}, oneByte}},
        {.text = full + " ", .name = "large.txt",
         .error = " Loading Error! This is not a setting file:\r\n ",
         .reason = "\r\n It holds more than 1027 bytes. "},
        {.text = "S111=9\r\n>", .name = "settings.cfg",
         .error = " Loading Error! This is not a setting file. ||",
         .reason = ": setting files end in .txt"},
        {.name = "gone.txt", .error = notLoaded,
         .reason = "\r\n the file cannot be opened (No such file) "},
        {.name = "pipe.txt", .error = notLoaded,
         .reason = "\r\n the file cannot be opened (Not a regular file) "},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const LoadCase& c = cases[i];
        const std::string name = *c.name ? c.name : "records" + std::to_string(i) + ".txt";
        if (name == "pipe.txt" && !pipes) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << name << ": \"" << c.text.value_or("") << '"');
        if (c.text) {
            Write(name, *c.text);
        }
        DiscardTestPanel();
        ASSERT_GE(LoadTestPanel(), 0);
        // Low parts no text uses, and two-byte IDs, so that stray writes show.
        for (int control : {S120_L, S121_L, S122_L, S123_L, S130_L, ID_LEN}) {
            SetCtrlVal(panelHandle, control, control == ID_LEN ? 1 : 201);
        }
        ApplyControlRules();
        const std::map<int, int> expected = Snapshot(c.changed);
        std::vector<std::string> popups = {loadDialog_};
        if (!c.error.empty()) {
            popups.push_back("File Error|" + c.error + (dir_ / name).string() + c.reason);
        }
        EXPECT_EQ(Use(OPEN_FILE, name), popups);
        EXPECT_EQ(Snapshot(), expected);
    }
}

// The text is made from the panel before the dialog, whatever the dialog answers.
TEST_F(SettingFiles, CancellingChangesNothing) {
    panel::Commit(S111, 42);
    const std::map<int, int> before = Snapshot();
    EXPECT_EQ(Use(SAVE_TO_FILE, ""), Texts{saveDialog_});
    EXPECT_NE(std::string(configText).find("\r\nS111=42\r\n"), std::string::npos);
    EXPECT_EQ(Use(OPEN_FILE, ""), Texts{loadDialog_});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 0);
    EXPECT_EQ(Snapshot(), before);
}

// Home folders, file size limits, permissions and inodes as POSIX systems have them.
#ifndef _WIN32
// Its own folder is then no place for the user's files, even for root, who could write there.
TEST_F(SettingFiles, AnInstalledProgramSavesToTheUsersDocumentsOrHome) {
    const fs::path data = dir_ / "share";
    fs::create_directories(data);
    fs::copy_file("ZelkConfig_en.uir", data / "ZelkConfig_en.uir");
    const std::string directories[] = {"no-such-directory", data.string()};
    const char* places[] = {directories[0].c_str(), directories[1].c_str()};
    DiscardTestPanel();
    ASSERT_EQ(SetPanelDirectories(places, 2), 0);
    const int loaded = LoadTestPanel();
    SetPanelDirectories(nullptr, 0);
    ASSERT_GE(loaded, 0) << GetPanelLoadError();

    ScopedEnvironment environment;
    environment.Set("HOME", dir_.c_str());
    environment.Set("XDG_CONFIG_HOME", dir_.c_str());  // no user-dirs.dirs: Documents in HOME
    const std::vector<std::string> withoutDocuments = Use(SAVE_TO_FILE, "");
    fs::create_directory(dir_ / "Documents");
    const std::vector<std::string> withDocuments = Use(SAVE_TO_FILE, "");

    const std::string dialog = "Name of File to Save in ";
    EXPECT_EQ(withoutDocuments, Texts{dialog + dir_.string() + " *.txt only"});
    EXPECT_EQ(withDocuments, Texts{dialog + (dir_ / "Documents").string() + " *.txt only"});
}

TEST_F(SettingFiles, AFailedSaveKeepsTheOldFileAndSaysSo) {
    Write("settings.txt", "S111=5\r\n>");
    std::vector<std::string> popups;
    {
        const auto fullDisk = LimitFileSize(16);
        popups = Use(SAVE_TO_FILE, "settings.txt");
    }

    EXPECT_EQ(popups,
              (Texts{saveDialog_, "File Error| Saving Error! The setting is not saved:\r\n " +
                                      (dir_ / "settings.txt").string() +
                                      "\r\n the file cannot be written (File too large) "}));
    EXPECT_EQ(ReadFile(dir_ / "settings.txt"), "S111=5\r\n>");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

// Elsewhere the file is replaced whole (a new inode); either way it keeps its permissions.
// Root writes anywhere, so as root the test runs itself again as nobody.
TEST_F(SettingFiles, SavesInPlaceWhereTheFolderTakesNoTemporaryFile) {
    if (geteuid() == 0) {
        // The checkout may lie where nobody cannot go (root's home): nobody runs a copy of
        // this program, beside a copy of its panel file, from a folder of its own.
        const fs::path copy = dir_ / "nobody";
        fs::create_directory(copy);
        fs::copy_file("/proc/self/exe", copy / "test_window");
        fs::copy_file(ProgramDir() + "/ZelkConfig_en.uir", copy / "ZelkConfig_en.uir");
        fs::permissions(dir_, fs::perms(0755));
        const std::string command =
            "cd " + copy.string() + " && setpriv --reuid=65534 --regid=65534 --clear-groups " +
            "./test_window "
            "--gtest_filter=SettingFiles.SavesInPlaceWhereTheFolderTakesNoTemporaryFile 2>&1";
        QProcess child;
        child.start("sh", {"-c", QString::fromStdString(command)});
        child.waitForFinished(120000);
        const std::string output = child.readAll().toStdString();
        // No setpriv, or nobody may run nothing here: nothing to learn.
        if (output.find("[==========]") == std::string::npos ||
            output.find("[  SKIPPED ]") != std::string::npos) {
            GTEST_SKIP() << "not run as nobody: " << output;
        }
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }
    for (const char* folder : {"open", "shut"}) {
        fs::create_directory(dir_ / folder);
        Write(std::string(folder) + "/settings.txt", "S111=5\r\n>");
        fs::permissions(dir_ / folder / "settings.txt", fs::perms(0640));
    }
    fs::permissions(dir_ / "shut", fs::perms(0555));
    if (mkdir((dir_ / "shut" / "probe").c_str(), 0700) == 0) {
        GTEST_SKIP() << "this user may write a read-only folder";
    }
    for (const auto& [folder, replaced] : {std::pair{"open", true}, std::pair{"shut", false}}) {
        SCOPED_TRACE(folder);
        const fs::path file = dir_ / folder / "settings.txt";
        struct stat before {};
        struct stat after {};
        stat(file.c_str(), &before);
        // The dialog and no error; where it starts depends on what this user may write.
        EXPECT_EQ(Use(SAVE_TO_FILE, std::string(folder) + "/settings.txt").size(), 1u);
        stat(file.c_str(), &after);
        EXPECT_EQ(ReadFile(file), configText);
        EXPECT_EQ(after.st_mode & 0777, 0640u);
        EXPECT_EQ(after.st_ino != before.st_ino, replaced);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / folder), {}), 1);
    }
    fs::permissions(dir_ / "shut", fs::perms(0755));
}
#endif

using namespace panel;

// A list as "text=value|text=value", so that stray or missing spaces show.
std::string Joined(int control) {
    std::string joined;
    for (const auto& [text, value] : ListItems(control))
        joined += (joined.empty() ? "" : "|") + text + "=" + std::to_string(value);
    return joined;
}

// The names of those controls, in the order given, that are in the state `read` tells.
std::string Which(int (*read)(int), const std::vector<int>& controls) {
    std::string names;
    for (int control : controls)
        if (read(control) == 1)
            names += (names.empty() ? "" : " ") +
                     ui_testing::InspectControl(panelHandle, control).constant;
    return names;
}

std::pair<int, int> Range(int control) {
    return {Minimum(control), Maximum(control)};
}

const std::string kT1Power =
    " +1 dB=0| +2 dB=1| +5 dB=2| +8 dB=3|+11 dB=4|+14 dB=5|+17 dB=6|+20 dB=7";
const std::string kT2Power = " +18 dB=0| +20 dB=1| +21 dB=2| +23 dB=3|+25 dB=4|+30 dB=5";
const std::string kM5Power = " -5 dB=0|  0 dB=1| +5 dB=2|+10 dB=3";
const std::string kK8Power = " -6 dB=0| -4 dB=1| -2 dB=2|  0 dB=3";
const std::string kR3Power =
    " +1 dB=0| +2 dB=1| +5 dB=2| +8 dB=3|+10 dB=4|+15 dB=5|+18 dB=6|+21 dB=7";
const std::string kFourSleep = " OFF =0| Sleep Mode1 =1| Sleep Mode2 =2| Sleep Mode3 =3";
const std::string kOneSleep = " OFF =0| Sleep Mode1 =1";
const std::string kNoSleep = " OFF =0";
const std::string kSixRates = "1200 bps=0|2400 bps=1|4800 bps=2|9600 bps=3|19.2 kbps=4|38.4 kbps=5";
const std::string kStandardRates = kSixRates + "|57.6 kbps=6|115.2kbps=7";
const std::string kDsss = kStandardRates + "|4.8kbps-DSSS=8|9.6kbps-DSSS=9|19.2kbps-DSSS=10";
const std::string kNarrowRates = kDsss + "|4.8kbps-NB=12|9.6kbps-NB(MSK)=13";
const std::string kFastRates = kDsss + "|38.4kbps-DSSS=11|100kbps-DSSS=12|200kbps-DSSS=13";
const std::string kLoraRates =
    "448 bps=0|1098 bps=1|1464 bps=2|2604 bps=3|4557 bps=4|9375 bps=5|15625 bps=6|18750 bps=7";

struct Series {
    const std::string &power, &sleep, &rates;
    int powerValue, rate;
    int lora;       // S113's value; shown and operable only when 1
    int bufferMax;  // S100 ranges from 5; 0: the range the series before left
    int buffer, channelMax;
};

const Series kSeries[] = {
    {kT1Power, kFourSleep, kNarrowRates, 7, 9, 0, 230, 200, 100},  // T1a
    {kT1Power, kFourSleep, kFastRates, 7, 9, 0, 230, 200, 100},    // T1b
    {kT2Power, kNoSleep, kNarrowRates, 5, 9, 0, 230, 200, 100},    // T2a
    {kT2Power, kNoSleep, kFastRates, 5, 9, 0, 230, 200, 100},      // T2b
    {kM5Power, kOneSleep, kSixRates, 3, 3, 0, 50, 50, 17},         // M5
    {kK8Power, kOneSleep, kStandardRates, 3, 3, 0, 0, 50, 225},    // K8
    {kR3Power, kNoSleep, kLoraRates, 7, 1, 1, 50, 50, 100},        // R3
};

// The channel comes down to the series' maximum before the maximum does, so that the control
// never clamps it behind the register copy's back.
void ExpectSeries(int index, std::pair<int, int> bufferRangeBefore, int channelBefore) {
    const Series& s = kSeries[index];
    EXPECT_EQ(std::tuple(Joined(S112), Joined(S103), Joined(S110)),
              std::tuple(s.power, s.sleep, s.rates));
    EXPECT_EQ(std::tuple(Value(S112), Value(S103), Value(S110), Value(S100), Value(S113),
                         Dimmed(S103), Visible(S113), Dimmed(S113)),
              std::tuple(s.powerValue, 0, s.rate, s.buffer, s.lora, 1, s.lora, 1 - s.lora));
    EXPECT_EQ(Range(S100), s.bufferMax == 0 ? bufferRangeBefore : std::pair(5, s.bufferMax));
    EXPECT_EQ(Range(S111), std::pair(0, s.channelMax));
    EXPECT_EQ(
        std::pair(Value(S111), int(parameters.s111)),
        std::pair(std::min(channelBefore, s.channelMax), std::min(channelBefore, s.channelMax)));
}

const std::vector<int> kLowParts = {S121_L, S122_L, S123_L, S130_L, DOT1, DOT3, DOT4, DOT5};
const std::string kLowPartNames = "S121_L S122_L S123_L S130_L DOT1 DOT3 DOT4 DOT5";
// The controls the working mode and the repeater rules dim.
const std::vector<int> kRuled = {S121_H, S122_H, S123_H, S124, S125, S126, S127, S129, S130_H};

using ProductAdaptation = StartedProgram;

// What a read from the module or a file load leaves: values set, then the full pass.
void Parsed(std::initializer_list<std::pair<int, int>> values) {
    for (const auto& [control, value] : values)
        SetCtrlVal(panelHandle, control, value);
    ApplyControlRules();
}

// The program starts as a T1b with the rules applied; each series gives its own set-up.
TEST_F(ProductAdaptation, StartsAsT1bAndEachSeriesGivesItsSetUpWhateverCameBefore) {
    ExpectSeries(1, {}, 0);
    EXPECT_EQ(Value(S127), 0);
    EXPECT_EQ(Which(Visible, kLowParts), "");
    EXPECT_EQ(Which(Dimmed, kRuled), "S121_H S122_H S125 S126 S127 S130_H");
    for (int previous = 0; previous < 7; ++previous) {
        for (int product = 0; product < 7; ++product) {
            SCOPED_TRACE(testing::Message() << previous << " then " << product);
            Commit(PRODUCT, previous);
            // Choices the set-up replaces, also for the same series again, and the highest
            // channel the series before took.
            if (previous == 6)
                Commit(S113, 0);
            Commit(S112, 0);
            Commit(S110, 0);
            Commit(S111, Maximum(S111));
            const std::pair<int, int> bufferRangeBefore = Range(S100);
            Commit(PRODUCT, product);
            ExpectSeries(product, bufferRangeBefore, kSeries[previous].channelMax);
        }
    }
}

// Each series' own rate list is pinned above; the R3 switches between two.
TEST_F(ProductAdaptation, RateListFollowsTheModulation) {
    Commit(PRODUCT, 6);
    Commit(S110, 5);
    Commit(S113, 0);
    EXPECT_EQ(Joined(S110), kStandardRates);
    EXPECT_EQ(std::pair(Value(S110), Value(S100)), std::pair(3, 50));
    Commit(S100, 20);
    Commit(S113, 1);
    EXPECT_EQ(Joined(S110), kLoraRates);
    EXPECT_EQ(std::pair(Value(S110), Value(S100)), std::pair(1, 50));
}

TEST_F(ProductAdaptation, WorkingModeDecidesBetweenAddressesAndGroup) {
    // Every step changes the kind of mode, and the echo is on whenever it can be.
    for (int mode : {2, 0, 3, 1, 2, 10, 3, 21, 2, 22, 3, 23, 2}) {
        SCOPED_TRACE(mode);
        const bool address = mode == 2 || mode == 3;
        Commit(S124, mode);
        EXPECT_EQ(Which(Dimmed, {S121_H, S122_H, S123_H, S125, S126, S127}),
                  address ? "S123_H" : "S121_H S122_H S125 S126 S127");
        EXPECT_EQ(Value(S127), 0);
        if (address)
            Commit(S127, 1);
    }
    Commit(S124, 3);
    EXPECT_EQ(Value(S127), 1);
    for (int control : {1, 0, 3, 2, 1}) {
        Commit(S126, control);
        EXPECT_EQ(Dimmed(S122_H), control % 2) << control;
    }

    // Committing a mode runs the working-mode rule alone; a read or load runs the full pass.
    Commit(S124, 2);
    Commit(S126, 1);
    Commit(S124, 0);
    Commit(S124, 2);
    EXPECT_EQ(Dimmed(S122_H), 0);
    ApplyControlRules();
    EXPECT_EQ(Dimmed(S122_H), 1);

    for (int mode : {0, 1, 10, 21, 22, 23}) {
        for (int control : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", address control " << control);
            Parsed({{S124, mode}, {S126, control}});
            EXPECT_EQ(Which(Dimmed, {S121_H, S122_H, S123_H}),
                      mode > 1 && control % 2 == 0 ? "S121_H" : "S121_H S122_H");
            Commit(S124, mode);
            EXPECT_EQ(Dimmed(S122_H), 1);
        }
    }
}

TEST_F(ProductAdaptation, RepeaterNodeTakesOverModeViaRepeaterAndGroup) {
    // Committed by the user or found by the full pass; the group's low part is copied even
    // while IDs are one byte long.
    Parsed({{S130_H, 33}, {S130_L, 44}});
    for (const auto& [idLength, fullPass] : {std::pair{1, false}, {1, true}, {0, false}}) {
        SCOPED_TRACE(testing::Message() << "idLength " << idLength << ", full pass " << fullPass);
        Parsed({{ID_LEN, idLength}, {S128, 0}, {S124, 2}, {S129, 1}, {S123_H, 0}, {S123_L, 0}});
        fullPass ? Parsed({{S128, 1}}) : Commit(S128, 1);
        EXPECT_EQ(Which(Dimmed, kRuled), "S121_H S122_H S124 S125 S126 S127 S129 S130_H");
        EXPECT_EQ(Dimmed(S128), 0);
        EXPECT_EQ(std::tuple(Value(S129), Value(S124), Value(S123_H), Value(S123_L)),
                  std::tuple(0, 0, 33, 44));
        Commit(S128, 0);
        EXPECT_EQ(Which(Dimmed, {S124, S128, S129, S130_H}), "S130_H");
        EXPECT_EQ(std::tuple(Value(S129), Value(S124), Value(S123_H), Value(S123_L)),
                  std::tuple(0, 0, 33, 44));
        Commit(S129, 1);
        EXPECT_EQ(Dimmed(S130_H), 0);
        Commit(S129, 0);
        EXPECT_EQ(Dimmed(S130_H), 1);
    }
}

TEST_F(ProductAdaptation, TwoByteIdsShowLowPartsDimmedLikeTheirHighParts) {
    // Each state follows the one before, so that every low part changes at some point.
    struct State {
        int mode, addressControl, repeaterNode, viaRepeater;
    };
    const State states[] = {{0, 0, 0, 0}, {2, 1, 0, 1}, {3, 2, 0, 0}, {21, 0, 0, 1}, {3, 0, 1, 1}};
    for (const State& s : states) {
        SCOPED_TRACE(testing::Message() << "mode " << s.mode << ", repeater " << s.repeaterNode);
        Parsed({{ID_LEN, 1},
                {S124, s.mode},
                {S126, s.addressControl},
                {S128, s.repeaterNode},
                {S129, s.viaRepeater}});
        EXPECT_EQ(Which(Visible, kLowParts), kLowPartNames);
        for (const auto& [high, low] :
             {std::pair{S121_H, S121_L}, {S122_H, S122_L}, {S123_H, S123_L}, {S130_H, S130_L}}) {
            EXPECT_EQ(Dimmed(low), Dimmed(high)) << low;
        }
        Parsed({{ID_LEN, 0}});
        EXPECT_EQ(Which(Visible, kLowParts), "");
    }
}

// What the command line checks a value against, as the panel shows it: a list, or
// "min..max".
std::string Offered(const AllowedValues& allowed) {
    if (allowed.list == nullptr) {
        return std::to_string(allowed.minimum) + ".." + std::to_string(allowed.maximum);
    }
    std::string joined;
    for (std::size_t i = 0; i < allowed.count; ++i) {
        joined += (i == 0 ? "" : "|") + std::string(allowed.list->items[i].text) + "=" +
                  std::to_string(allowed.list->items[i].value);
    }
    return joined;
}

// What the panel offers for a register control right now, in the same form.
std::string PanelOffers(int control) {
    int count = 0;
    return GetNumListItems(panelHandle, control, &count) == 0
               ? Joined(control)
               : std::to_string(Minimum(control)) + ".." + std::to_string(Maximum(control));
}

// The command line never shows the panel, yet must start from what it holds after start-up.
TEST_F(ProductAdaptation, CommandLineOffersWhatThePanelOffers) {
    for (int series = 0; series < kProductSeriesCount; ++series) {
        SCOPED_TRACE(series);
        ASSERT_EQ(StartZelkConfig(0, nullptr), 0);
        Commit(PRODUCT, series);
        const auto productSeries = static_cast<ProductSeries>(series);
        uint8_t modulation = 0;
        GetCtrlVal(panelHandle, S113, &modulation);
        for (const RegisterRow& row : kRegisterTable) {
            SCOPED_TRACE(row.number);
            EXPECT_EQ(Offered(AllowedFor(productSeries, modulation, row)),
                      PanelOffers(ControlsOf(row).high));
        }
        SetCtrlVal(panelHandle, ID_LEN, 1);  // so that the low parts are gathered too
        GatherParameters();
        parameters.idLength = 0;
        const ParameterSet starting = StartingParameters(productSeries);
        EXPECT_EQ(std::memcmp(&parameters, &starting, sizeof starting), 0);
        DiscardTestPanel();
    }
}

// In the popup's details and on stderr. A COM number that no variable names and the system
// does not list stands for no device.
TEST_F(StartedProgram, AFailedConnectNamesTheDeviceItTriedAndWhereItsNameCameFrom) {
    struct Row {
        const char* name;
        const char* variable;  // ZELK_COM2; nullptr: unset
        std::string begins;    // the details: the system's own words lie between
        std::string ends;
    };
    const std::string alias =
        "\nCOM2 is the device that ZELK_COM2 names: set it to the module's device, or unset it to "
        "take the ports the system lists.";
#ifdef _WIN32
    // Every COM number names a port there, one that the system may not have.
    const std::string missing = "COM99";
    const Row rows[] = {
        {"named by the variable", missing.c_str(), missing + ": ", alias},
        {"named by nobody", nullptr, "COM2: ", "\nHover Port Number to see the list."},
    };
#else
    const std::string missing = "/nonexistent/zelk-com2";
    const Row rows[] = {
        {"named by the variable", missing.c_str(), missing + ": No such file or directory.", alias},
        {"named by nobody", nullptr,
         "COM2 stands for no device: hover Port Number to see the list.", ""},
    };
#endif
    // The system lists no port, so that COM2 is the variable's or nobody's.
    serial_backend::SetPortLister([] { return std::vector<serial_backend::PortInfo>{}; });
    const OnExit realPorts{[] { serial_backend::SetPortLister({}); }};
    panel::Commit(COMPORT_NUM, 2);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnvironment environment;
        environment.Set("ZELK_COM2", row.variable);
        testing::internal::CaptureStderr();
        panel::Commit(PORT_CONN, 1);
        const std::string said = testing::internal::GetCapturedStderr();
        const std::vector<std::string> popups = panel::Popups();
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0].substr(0, popups[0].find('|')), "COM Error");
        const std::string details = popups[0].substr(popups[0].find("||") + 2);
        EXPECT_TRUE(details.starts_with(row.begins) && details.ends_with(row.ends)) << details;
        EXPECT_EQ(details.find(".."), std::string::npos) << "a sentence ends twice";
        // On stderr as one line, its line breaks made "; ".
        std::string line = details;
        if (const std::size_t end = line.find('\n'); end != std::string::npos) {
            line.replace(end, 1, "; ");
        }
        EXPECT_NE(said.find(": COM Error: " + line + "\n"), std::string::npos) << said;
        EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
    }
}

}  // namespace
