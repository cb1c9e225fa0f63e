// Start-up, quitting and the program as a process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app.h"
#include "link/connection.h"
#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

// Only a commit quits; the close box acts like EXIT, which makes no serial call while the
// port is closed.
TEST_F(StartedProgram, CloseBoxQuitsLikeExit) {
    sim::SimulatedModule module;
    QuitCallBack(panelHandle, QUIT, 2, nullptr, 0, 0);
    EXPECT_EQ(quitFlag, 0);
    ASSERT_EQ(ui_testing::UserClosePanel(panelHandle), 0);
    EXPECT_EQ(quitFlag, 1);
    RunEventLoop();  // returns at once: the flag is tested before the first pass
    EXPECT_EQ(StopZelkConfig(), 0);
    EXPECT_EQ(module.openCount() + module.closeCount(), 0);
    EXPECT_TRUE(module.wire().empty());
}

TEST_F(StartedProgram, ExitWhileConnectedClosesThePortOnceAndTurnsTheButtonOff) {
    sim::SimulatedModule module;
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, PORT_CONN, 1), 0);
    ASSERT_TRUE(connection.connected);

    ASSERT_EQ(ui_testing::UserPress(panelHandle, QUIT), 0);
    EXPECT_EQ(quitFlag, 1);
    EXPECT_FALSE(connection.connected);
    EXPECT_EQ(panel::Value(PORT_CONN), 0);
    EXPECT_EQ(StopZelkConfig(), 0);
    EXPECT_EQ(module.closeCount(), 1);
}

// The loop's passes with a press on EXIT arriving while it waits: the wait ends, the
// callback runs in the next pass, never in the wait, and the wait after the quit holds
// nothing up.
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

std::string ProgramPath() {
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    InitUserInterface(1, argv);
    return QCoreApplication::applicationDirPath().toStdString() + "/ZelkConfig";
}

// The program as a process, run as a copy in a folder of its own beside its panel file.
// Starts that cannot go on exit -1 before any window, without an abort, with one line on
// stderr that says why; help and version come without the user interface, so a display that
// cannot be reached makes no difference to them.
TEST(ProgramProcess, AnswersHelpAndVersionAndAStartThatCannotGoOnSaysWhyInOneLine) {
    const QString program = QString::fromStdString(ProgramPath());
    struct Run {
        const char* what;
        QStringList arguments = {};
        bool panelFile = true;
        // The variables set for the case; an empty value removes the variable.
        std::vector<std::pair<const char*, const char*>> environment = {};
        int status = 255;         // -1 as seen by the parent
        std::string said = {};    // the stderr line names this; ".../" for the program's folder
        const char* output = "";  // how stdout begins; nullptr: stdout cannot be written
    };
    const char* noDisplay = "a graphical session is needed: ";
    const std::pair<const char*, const char*> unreachable[] = {
        {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    // clang-format off
    const Run runs[] = {
        // Both places it looked: beside itself, and the data directory of an installation.
        {.what = "no panel file", .panelFile = false,
         .said = ".../ZelkConfig_en.uir, " + QDir::tempPath().toStdString() +
                 "/share/zelkconfig/ZelkConfig_en.uir"},
        {.what = "no display",
         .environment = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                         {"XDG_SESSION_TYPE", ""}},
         .said = std::string(noDisplay) + "no display is set"},
        {.what = "a display nobody serves",
         .environment = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", ""},
                         {"XDG_SESSION_TYPE", ""}},
         .said = std::string(noDisplay) + "could not connect to display :97"},
        {.what = "no such window system", .environment = {{"QT_QPA_PLATFORM", "nosuch"}},
         .said = noDisplay},
        {.what = "version", .arguments = {"--version"},
         .environment = {std::begin(unreachable), std::end(unreachable)}, .status = 0,
         .output = "ZelkConfig 1.0\n"},
        {.what = "help", .arguments = {"-platform", "xcb", "--help"},
         .environment = {std::begin(unreachable), std::end(unreachable)}, .status = 0,
         .output = "Usage: ZelkConfig [--trace FILE] [--help | --version]\n"},
        {.what = "help to a full disk", .arguments = {"--help"},
         .environment = {std::begin(unreachable), std::end(unreachable)}, .status = 1,
         .output = nullptr},
    };
    // clang-format on
    for (const Run& c : runs) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString copy = dir.filePath("ZelkConfig");
        ASSERT_TRUE(QFile::copy(program, copy));
        if (c.panelFile) {
            ASSERT_TRUE(QFile::copy(QFileInfo(program).dir().filePath("ZelkConfig_en.uir"),
                                    dir.filePath("ZelkConfig_en.uir")));
        }
        // Without a runtime directory Qt warns on stderr; give it one so that the
        // program's own line is all there is.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", dir.path());
        for (const auto& [name, value] : c.environment) {
            *value == '\0' ? environment.remove(name) : environment.insert(name, value);
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        if (c.output == nullptr) {
            process.setStandardOutputFile("/dev/full");
        }
        process.start(copy, c.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status);
        const std::string output = process.readAllStandardOutput().toStdString();
        EXPECT_EQ(output.rfind(c.output ? c.output : "", 0), 0u) << output;
        if (c.status == 255) {
            const std::string error = process.readAllStandardError().toStdString();
            std::string said = c.said;
            if (said.starts_with(".../")) {
                said.replace(0, 3, dir.path().toStdString());
            }
            EXPECT_EQ(error.rfind("ZelkConfig: ", 0), 0u) << error;
            EXPECT_NE(error.find(said), std::string::npos) << error;
            EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
        }
    }
}

// CPU time in seconds, from the scheduler's own nanosecond accounting, and the times a
// thread went to sleep of its own accord, over every thread of a process.
std::pair<double, long> CpuAndWakeUps(pid_t pid) {
    double seconds = 0.0;
    long wakeUps = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream schedstat((tasks + "/" + task + "/schedstat").toStdString());
        double nanoseconds = 0.0;
        schedstat >> nanoseconds;
        seconds += nanoseconds / 1e9;
        std::ifstream status((tasks + "/" + task + "/status").toStdString());
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("voluntary_ctxt_switches:")) {
                wakeUps += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return {seconds, wakeUps};
}

// An idle program sleeps until an event comes. A loop that spins takes a core (well over
// a quarter of one even on a loaded machine); one that sleeps 10 ms a pass wakes about
// 100 times a second. Neither figure grows for a sleeping program on a loaded machine.
TEST(ProgramProcess, AnIdleProgramSleepsUntilAnEventComes) {
    QProcess process;
    process.start(QString::fromStdString(ProgramPath()), {});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // past start-up
    ASSERT_EQ(process.state(), QProcess::Running);
    const auto pid = static_cast<pid_t>(process.processId());
    const auto [cpuBefore, wakeUpsBefore] = CpuAndWakeUps(pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto [cpuAfter, wakeUpsAfter] = CpuAndWakeUps(pid);
    process.kill();
    process.waitForFinished(5000);
    EXPECT_GT(cpuAfter, 0.0);
    EXPECT_LT((cpuAfter - cpuBefore) / 3.0, 0.25) << "share of a core while idle";
    EXPECT_LT((wakeUpsAfter - wakeUpsBefore) / 3.0, 10.0) << "wake-ups a second while idle";
}

}  // namespace
