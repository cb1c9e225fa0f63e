// Start-up, quitting and the program as a process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <thread>

#include "app/app.h"
#include "link/connection.h"
#include "link/link_panel.h"
#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

class StartedProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        static char name[] = "ZelkConfig";
        static char* argv[] = {name, nullptr};
        quitFlag = 0;
        ui_testing::Enable();
        ASSERT_EQ(StartZelkConfig(1, argv), 0);
    }
    void TearDown() override {
        if (panelHandle >= 0) {
            DiscardPanel(panelHandle);
            panelHandle = -1;
        }
        connection = ConnectionState{0, false, 9600, 0};
        ui_testing::TakePopups();
    }
};

TEST_F(StartedProgram, CloseBoxQuitsLikeExit) {
    ASSERT_EQ(ui_testing::UserClosePanel(panelHandle), 0);
    EXPECT_EQ(quitFlag, 1);
    RunEventLoop();  // returns at once: the flag is tested before the first pass
    EXPECT_EQ(StopZelkConfig(), 0);
}

TEST_F(StartedProgram, ExitWhileClosedMakesNoSerialCall) {
    sim::SimulatedModule module;
    ASSERT_EQ(ui_testing::UserPress(panelHandle, QUIT), 0);
    EXPECT_EQ(quitFlag, 1);
    EXPECT_EQ(module.openCount(), 0);
    EXPECT_EQ(module.closeCount(), 0);
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

TEST_F(StartedProgram, EventsOtherThanCommitOnExitDoNothing) {
    QuitCallBack(panelHandle, QUIT, 2, nullptr, 0, 0);
    EXPECT_EQ(quitFlag, 0);
}

std::string ProgramPath() {
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    InitUserInterface(1, argv);
    return QCoreApplication::applicationDirPath().toStdString() + "/ZelkConfig";
}

TEST(ProgramProcess, WithoutItsPanelFileExitsWithMinusOneAndSaysWhy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.filePath("ZelkConfig");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(ProgramPath()), copy));
    QProcess process;
    // Without a runtime directory Qt warns on stderr; give it one so that the program's
    // own line is all there is.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", dir.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(copy, {});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 255);  // -1 as seen by the parent
    // Both places it looked: beside itself, and the data directory of an installation.
    const QString error = QString::fromUtf8(process.readAllStandardError());
    const QString data = QDir::cleanPath(dir.path() + "/../share/zelkconfig/ZelkConfig_en.uir");
    EXPECT_TRUE(error.contains(dir.filePath("ZelkConfig_en.uir"))) << error.toStdString();
    EXPECT_TRUE(error.contains(data)) << error.toStdString();
    EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
}

// Help and version come without the user interface: a display that cannot be reached
// makes no difference.
TEST(ProgramProcess, AnswersHelpAndVersionWithoutADisplay) {
    const struct {
        QStringList arguments;
        const char* output;  // nullptr: stdout cannot be written
        int status;
        const char* begins;
    } rows[] = {
        {.arguments = {"--version"}, .output = "", .status = 0, .begins = "ZelkConfig 1.0\n"},
        {.arguments = {"-platform", "xcb", "--help"},
         .output = "",
         .status = 0,
         .begins = "Usage: ZelkConfig [--help | --version]\n"},
        {.arguments = {"--help"}, .output = nullptr, .status = 1, .begins = ""},
    };
    for (const auto& row : rows) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(environment);
        if (row.output == nullptr) {
            process.setStandardOutputFile("/dev/full");
        }
        process.start(QString::fromStdString(ProgramPath()), row.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        const QString said = QString::fromUtf8(process.readAllStandardOutput());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit)
            << row.arguments.join(' ').toStdString();
        EXPECT_EQ(process.exitCode(), row.status) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(said.toStdString().rfind(row.begins, 0), 0u) << said.toStdString();
    }
}

// CPU time of every thread of a process, in seconds, from the scheduler's own nanosecond
// accounting (the tick counts of /proc/PID/stat are too coarse for a few seconds).
double CpuSeconds(pid_t pid) {
    double total = 0.0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream schedstat((tasks + "/" + task + "/schedstat").toStdString());
        double nanoseconds = 0.0;
        schedstat >> nanoseconds;
        total += nanoseconds / 1e9;
    }
    return total;
}

TEST(ProgramProcess, AnIdleProgramSleepsInItsLoop) {
    QProcess process;
    process.start(QString::fromStdString(ProgramPath()), {});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // past start-up
    ASSERT_EQ(process.state(), QProcess::Running);
    const auto pid = static_cast<pid_t>(process.processId());
    const double before = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const double after = CpuSeconds(pid);
    process.kill();
    process.waitForFinished(5000);
    EXPECT_GT(after, 0.0);
    // A loop that spins takes a whole core. One that sleeps 10 ms a pass costs about 0.5 %
    // on a virtual machine, where each wake-up is dear, and less on real hardware; the
    // margin keeps a sanitizer build from failing on that cost alone.
    EXPECT_LT((after - before) / 4.0, 0.02) << "share of a core while idle";
}

}  // namespace
