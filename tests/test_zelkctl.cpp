// zelkctl: the window's exchanges on the wire, byte for byte and instant for instant, and
// every command against zelksim on a real pseudo-terminal, with the exit codes its faults
// provoke.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/params/parameter_set.h"
#include "core/params/write.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "tests/support/zelksim_process.h"
#include "tools/zelkctl/zelkctl.h"
#include "window/params/params_panel.h"

// Rows and module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// The traffic of the last exchange, from the first "+" of its escape, a line per byte (so
// that a failure shows where two part): its instant from that "+", its direction and its
// value. zelkctl's write reads the register list first; what follows is the window's.
std::string Traffic(const sim::SimulatedModule& module) {
    const std::vector<sim::WireByte>& wire = module.wire();
    std::size_t first = wire.size();
    for (std::size_t i = wire.size(), pluses = 0; i-- > 0 && pluses < 3;) {
        if (wire[i].fromHost && wire[i].byte == '+') {
            first = i;
            ++pluses;
        }
    }
    std::string traffic;
    char entry[48];
    for (std::size_t i = first; i < wire.size(); ++i) {
        std::snprintf(entry, sizeof entry, "%.6f %s %02x\n", wire[i].time - wire[first].time,
                      wire[i].fromHost ? ">" : "<", wire[i].byte);
        traffic += entry;
    }
    return traffic;
}

// Values of its own for every register the panel lets a user change, and the ID length.
void PanelValues(int series, int idLength) {
    const std::pair<int, int> values[] = {{S111, 9},   {S102, 30},  {S124, 2},   {S125, 7},
                                          {S120_L, 3}, {S121_L, 4}, {S130_H, 55}};
    for (const auto& [control, value] : values) {
        SetCtrlVal(panelHandle, control, value);
    }
    SetCtrlVal(panelHandle, S113, series == 4 ? 1 : 0);
    SetCtrlVal(panelHandle, ID_LEN, idLength);
}

// The window: the panel after start-up with the series selected (and for a write, the values
// above), connected to the module, and one button pressed.
std::string ThroughTheWindow(const ModuleOptions& options, int button, int idLength = 0) {
    sim::SimulatedModule module(options);
    EXPECT_GE(LoadTestPanel(), 0);
    panel::Commit(PRODUCT, options.series);
    if (button == UPDATE) {
        PanelValues(options.series, idLength);
    }
    panel::Commit(PORT_CONN, 1);
    module.clearWire();
    panel::Press(button);
    panel::Popups();
    const std::string traffic = Traffic(module);
    CloseModulePort();
    DiscardTestPanel();
    return traffic;
}

const char* const kSeries[] = {"T1a", "T1b", "T2a", "T2b", "M5", "K8", "R3"};

// zelkctl, in process, with these arguments for the module on COM1; it must end with this
// status.
std::string ThroughZelkctl(const ModuleOptions& options, std::vector<std::string> arguments,
                           int status = 0) {
    sim::SimulatedModule module(options);
    arguments.insert(arguments.begin(), "zelkctl");
    arguments.insert(arguments.end(), {"-p", "1", "-s", kSeries[options.series]});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    EXPECT_EQ(RunZelkctl(static_cast<int>(argv.size()), argv.data()), status);
    return Traffic(module);
}

TEST(ZelkctlWire, SendsWhatTheWindowSendsWhenItSendsIt) {
    for (int series = 0; series < kProductSeriesCount; ++series) {
        SCOPED_TRACE(kSeries[series]);
        const ModuleOptions module = {.series = series, .twoByteIds = series % 2 == 0};
        EXPECT_EQ(ThroughZelkctl(module, {"read"}), ThroughTheWindow(module, READ));
        EXPECT_EQ(ThroughZelkctl(module, {"version"}), ThroughTheWindow(module, SHOW_VER));

        for (int idLength = 0; idLength < 2; ++idLength) {
            SCOPED_TRACE(idLength);
            const std::string window = ThroughTheWindow(module, UPDATE, idLength);
            // The same values on the command line: every register the write sends, as the
            // window gathers them, and the modulation its control shows.
            ASSERT_GE(LoadTestPanel(), 0);
            panel::Commit(PRODUCT, series);
            PanelValues(series, idLength);
            GatherParameters();
            std::vector<std::string> write = {"write", "--ids", std::to_string(idLength + 1)};
            for (const RegisterRow& row : kRegisterTable) {
                if (!WriteSends(static_cast<ProductSeries>(series), row.number)) {
                    continue;
                }
                std::string value = std::to_string(parameters.*row.high);
                if (WriteSendsTwoParts(parameters, row)) {
                    value += "." + std::to_string(parameters.*row.low);
                }
                write.insert(write.end(),
                             {"--set", "S" + std::to_string(row.number) + "=" +
                                           (row.number == 113 ? std::to_string(panel::Value(S113))
                                                              : value)});
            }
            DiscardTestPanel();
            EXPECT_EQ(ThroughZelkctl(module, write), window);
        }
    }
}

// A module that acknowledges every value and keeps its own: the check after the write
// names each register it sent, so that one the comparison skips shows.
TEST(ZelkctlWire, VerifyNamesEveryRegisterTheModuleHoldsOtherwise) {
    const ModuleOptions written = {.series = 1};
    const std::string file = ModuleModel(written).registerList();
    const QTemporaryDir directory;
    const std::string path = directory.filePath("written.txt").toStdString();
    std::ofstream(path, std::ios::binary) << file;
    // "S100=50" reads back as 150, "S120=192.168" as 119: no value as it was written.
    ModuleOptions holding = written;
    holding.registerListOverride = std::regex_replace(file, std::regex("="), "=1");
    testing::internal::CaptureStdout();
    ThroughZelkctl(holding, {"write", path, "--verify"}, 1);
    const std::string said = testing::internal::GetCapturedStdout();
    const std::size_t registers = std::count(file.begin(), file.end(), '\n');
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), registers) << said;
    for (std::size_t at = file.find('S'); at != std::string::npos; at = file.find('S', at + 1)) {
        EXPECT_NE(said.find(file.substr(at, 4) + ": wrote "), std::string::npos) << said;
    }
}

// zelkctl is built beside zelksim.
std::string ZelkctlPath() {
    const std::string zelksim = ZelksimPath();
    return zelksim.substr(0, zelksim.rfind('/') + 1) + "zelkctl";
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs the zelkctl program beside the simulator, as a shell would.
Result Zelkctl(const std::vector<std::string>& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(ZelkctlPath()), list);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The JSON object, the ports and the version as printed are seen in process below.
TEST(ZelkctlOnAPty, ListsReadsWritesVerifiesAndDiffs) {
    ZelksimProcess module({"--series", "R3", "--version-text", "E2E V1"});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZELK_COM1", QString::fromStdString(module.link()));
    const Result ports = Zelkctl({"ports", "--probe"}, environment);
    EXPECT_NE(ports.out.find("COM1  " + module.link() + " (ZELK_COM1)\n      ready\n"),
              std::string::npos)
        << ports.out;

    const QTemporaryDir files;
    const std::string saved = files.filePath("saved.txt").toStdString();
    const std::string trace = files.filePath("trace.txt").toStdString();
    const Result read =
        Zelkctl({"read", "-p", "COM1", "-s", "R3", "-o", saved, "--trace", trace}, environment);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(FileText(saved).starts_with("S100=50\r\nS101=0\r\n")) << FileText(saved);
    EXPECT_TRUE(FileText(saved).ends_with("S130=100\r\n>"));
    const std::string traced = FileText(trace);
    for (const char* line : {"sent       2b  +     escape", "sent       0a  \\n    AT/L",
                             "read       3e  >     AT/L", "sent       58  X     ATX"}) {
        EXPECT_NE(traced.find(line), std::string::npos) << line << "\n" << traced;
    }

    const std::string& link = module.link();
    EXPECT_EQ(Zelkctl({"diff", saved, "-p", link, "-s", "R3"}).status, 0);
    const Result write =
        Zelkctl({"write", saved, "--set", "S111=9", "--verify", "-p", link, "-s", "R3"});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_NE(write.err.find("verified: the module holds all 20 registers checked"),
              std::string::npos);
    const Result diff = Zelkctl({"diff", saved, "-p", link, "-s", "R3"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out, "S111: module 9, file 0\n");
    const Result json = Zelkctl({"read", "--json", "--with-version", "-p", link, "-s", "R3"});
    EXPECT_NE(json.out.find("\"S111\":9,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"version\":\"E2E V1\""), std::string::npos);
}

TEST(ZelkctlOnAPty, FailuresSayWhatHappenedInTheirExitCodes) {
    struct Row {
        const char* name;
        std::vector<std::string> module;  // zelksim's options
        std::vector<std::string> command;
        int status;
        const char* says;
    };
    // The checks before a port opens are seen in process below.
    // clang-format off
    const Row rows[] = {
        {.name = "no such port", .module = {}, .command = {"version", "-p", "/dev/zelk-none"},
         .status = 3, .says = "cannot open the port: /dev/zelk-none"},
        {.name = "no command mode", .module = {"--silent"}, .command = {"version"}, .status = 4,
         .says = "no \">\" came back after the escape"},
        {.name = "a register refused", .module = {"--refuse-register", "105"},
         .command = {"write", "--set", "S105=1"}, .status = 5,
         .says = "refused ATS105=1 (register S105): it answered something other than "
                 "\">\".\nAlready written: S100, S101, S102, S103, S104. The module now holds"},
        {.name = "a cut reply", .module = {"--cut-reply", "40"}, .command = {"read"}, .status = 8,
         .says = "did not come whole: 40 characters"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ZelksimProcess module(row.module);
        std::vector<std::string> command = row.command;
        if (command.size() < 3 || command[1] != "-p") {
            command.insert(command.end(), {"-p", module.link()});
        }
        command.insert(command.end(), {"-s", "T1b"});
        const Result result = Zelkctl(command);
        EXPECT_EQ(result.status, row.status);
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
    }

    // The module's end goes in the middle of a slow register list.
    ZelksimProcess slow({"--byte-interval", "0.05"});
    QProcess process;
    process.start(QString::fromStdString(ZelkctlPath()),
                  {"read", "-p", QString::fromStdString(slow.link()), "-s", "T1b"});
    ASSERT_TRUE(process.waitForStarted());
    usleep(1500000);
    slow.Kill();
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 7);
    EXPECT_NE(process.readAllStandardError().toStdString().find("the device is gone"),
              std::string::npos);
}

TEST(ZelkctlOnAPty, DetectsRateAndFormatAndRunsOnSeveralPortsAtOnce) {
    // A pty takes neither parity nor seven data bits, so the module insists on two stop
    // bits; the scan must find the rate.
    ZelksimProcess picky({"--line", "19200,8N2", "--version-text", "V7"});
    const Result detect = Zelkctl(
        {"detect", "-p", picky.link(), "-s", "K8", "--rates", "9600,19200", "--formats", "8N2"});
    EXPECT_EQ(detect.status, 0) << detect.err;
    EXPECT_EQ(detect.out, "-b 19200 -f 8N2\n");

    ZelksimProcess first({"--version-text", "ONE"});
    ZelksimProcess second({"--version-text", "TWO"});
    const Result both = Zelkctl(
        {"version", "-p", first.link(), "-p", second.link(), "-p", "/dev/zelk-none", "-s", "T1b"});
    EXPECT_EQ(both.status, 3);
    EXPECT_NE(both.out.find(first.link() + ": ONE\n"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find(second.link() + ": TWO\n"), std::string::npos);
    EXPECT_NE(both.err.find("3 ports: 2 done, failed: /dev/zelk-none (exit 3)"), std::string::npos)
        << both.err;
}

// zelkctl in this process, on the simulated module of the test, with stdout and stderr
// caught: what a shell would see, on the virtual clock.
Result InProcess(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "zelkctl");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* caught[2] = {std::tmpfile(), std::tmpfile()};
    const int saved[2] = {dup(1), dup(2)};
    dup2(fileno(caught[0]), 1);
    dup2(fileno(caught[1]), 2);
    const int status = RunZelkctl(static_cast<int>(argv.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text[2];
    for (int i = 0; i < 2; ++i) {
        dup2(saved[i], i + 1);
        close(saved[i]);
        std::rewind(caught[i]);
        for (int c = 0; (c = std::fgetc(caught[i])) != EOF;) {
            text[i].push_back(static_cast<char>(c));
        }
        std::fclose(caught[i]);
    }
    return {status, text[0], text[1]};
}

std::string Write(const QTemporaryDir& folder, const std::string& name, const std::string& text) {
    const std::string path = folder.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(ZelkctlChecks, RefusesBeforeAnyPortOpensWhatItCannotBeSureOf) {
    struct Row {
        const char* name;
        std::string file;  // the setting file's text, written to f.txt ("" for none)
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    // clang-format off
    const Row rows[] = {
        {"spaces in a record", "S111 = 5\n>", {"write", "f.txt"}, 6, "f.txt:1: \"S111 = 5\": no spaces"},
        {"characters after the value", "S100=50\r\nS111=5x\r\n", {"write", "f.txt"}, 6, "f.txt:2:"},
        {"hexadecimal", "S111=0x10\n", {"write", "f.txt"}, 6, "f.txt:1:"},
        {"a register twice", "S111=5\nS111=6\n", {"diff", "f.txt"}, 6, "given twice, on lines 1 and 2"},
        {"a zero byte", std::string("S111=5\n\0S112=1\n", 15), {"write", "f.txt"}, 6, "zero byte"},
        {"an empty file", "\n", {"diff", "f.txt"}, 6, "f.txt"},
        {"a register of no series", "", {"write", "--set", "S999=1"}, 2, "S999 is not a register"},
        {"a register the series lacks", "", {"write", "--set", "S113=4"}, 2, "a Zelk-T1b has no S113"},
        {"the same in a file", "S113=1\n", {"write", "f.txt"}, 2, "f.txt:1: a Zelk-T1b has no S113"},
        {"a value the series does not offer", "", {"write", "--set", "S110=14"}, 2, "S110=14 is not offered"},
        {"IDs of two lengths", "", {"write", "--set", "S121=10.20", "--set", "S122=11"}, 2, "share one length"},
        {"--set on a read", "", {"read", "--set", "S111=1"}, 2, "--set is not an option of read"},
        {"-o on version", "", {"version", "-o", "v.txt"}, 2, "--output is not an option of version"},
        {"no such file", "", {"write", "none.txt"}, 6, "cannot read none.txt"},
        {"an output in no folder", "", {"read", "-o", "/nonexistent/r.txt"}, 6, "cannot write /nonexistent/r.txt"},
        {"a missing counter file", "", {"write", "--set", "S121=next:none.txt"}, 6, "none.txt"},
        {"one device twice", "", {"read", "-p", "COM1"}, 2, "are the same device"},
    };
    // clang-format on
    const QTemporaryDir folder;
    ASSERT_EQ(chdir(folder.path().toLocal8Bit().constData()), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimulatedModule module;
        Write(folder, "f.txt", row.file);
        std::vector<std::string> arguments = row.arguments;
        arguments.insert(arguments.end(), {"-p", "1", "-s", "T1b"});
        const Result result = InProcess(arguments);
        EXPECT_EQ(result.status, row.status);
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        EXPECT_EQ(module.openCount(), 0);
    }
}

TEST(ZelkctlModule, TakesOnlyWhatTheModuleSaid) {
    struct Row {
        const char* name;
        ModuleOptions module;
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    // clang-format off
    const Row rows[] = {
        {"an M5 read as a T1b", {.series = 4}, {"read", "-s", "T1b"}, 9,
         "does not fit a Zelk-T1b: it lacks S105, S129, S130 and it lists S113; its list is that of -s M5"},
        {"an M5 written as a T1b", {.series = 4}, {"write", "--set", "S111=3", "-s", "T1b"}, 9, "does not fit"},
        {"a list that is an error", {.registerListOverride = "ERROR\r\n>"}, {"diff", "f.txt", "-s", "T1b"}, 9,
         "holds no register: it answered \"ERROR\\r\\n>\""},
        {"a version that is an echo", {.echo = true}, {"version", "-s", "T1b"}, 8, "which is no firmware version"},
        {"a version that is an error", {.versionText = "ERROR\r\n"}, {"version", "-s", "T1b"}, 8, "no firmware version"},
        {"a new value the series does not offer", {.series = 4}, {"write", "f.txt", "-s", "M5"}, 2,
         "f.txt:1: S112=6 is not offered for a Zelk-M5"},
    };
    // clang-format on
    const QTemporaryDir folder;
    ASSERT_EQ(chdir(folder.path().toLocal8Bit().constData()), 0);
    Write(folder, "f.txt", "S112=6\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimulatedModule module(row.module);
        std::vector<std::string> arguments = row.arguments;
        arguments.insert(arguments.end(), {"-p", "1"});
        const Result result = InProcess(arguments);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        EXPECT_EQ(module.sentByHost().find("ATS"), std::string::npos);
    }

    // What read saves, write takes back unchanged, values the series would not offer
    // included; the read names only what the module listed, with LF line ends on stdout
    // and the window's format in the file.
    sim::SimulatedModule m5({.series = 4});
    const Result read = InProcess({"read", "-p", "1", "-s", "M5", "-o", "m5.txt"});
    EXPECT_EQ(read.status, 0);
    EXPECT_NE(read.err.find("warning: S112=7 is not offered"), std::string::npos) << read.err;
    EXPECT_EQ(FileText("m5.txt"),
              "S100=50\r\nS101=0\r\nS102=5\r\nS103=0\r\nS104=3\r\nS110=3\r\nS111=0\r\nS112=7\r\n"
              "S113=0\r\nS120=192.168\r\nS121=10\r\nS122=11\r\nS123=127\r\nS124=0\r\nS125=2\r\n"
              "S126=0\r\nS127=0\r\nS128=0\r\n>");
    EXPECT_EQ(InProcess({"write", "m5.txt", "-p", "1", "-s", "M5", "--verify"}).status, 0);
    const Result printed = InProcess({"read", "-p", "1", "-s", "M5"});
    EXPECT_EQ(printed.out,
              "S100=50\nS101=0\nS102=5\nS103=0\nS104=3\nS110=3\nS111=0\nS112=7\n"
              "S113=0\nS120=192.168\nS121=10\nS122=11\nS123=127\nS124=0\nS125=2\n"
              "S126=0\nS127=0\nS128=0\n");
}

TEST(ZelkctlModule, BringsBackAModuleLeftInCommandMode) {
    sim::SimulatedModule module;
    // An earlier run stopped in the middle: the module took an escape, answered it, and
    // holds the start of a line.
    for (const double at : {1000.1, 1000.2, 1000.3}) {
        module.module().receive('+', at);
    }
    while (module.module().due(1000.4) > 0) {
        module.module().take(1000.4);
    }
    module.module().receive('A', 1000.5);
    module.clock().waitUntil(1001.0);
    ASSERT_TRUE(module.module().inCommandMode());
    const Result result = InProcess({"version", "-p", "1", "-s", "T1b"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Zelk RF module firmware V3.36\n");
    EXPECT_NE(result.err.find("in command mode still"), std::string::npos) << result.err;
    EXPECT_FALSE(module.module().inCommandMode());
}

TEST(ZelkctlOutput, HasUnixMannersAndADocumentedJsonObject) {
    const QTemporaryDir folder;
    ASSERT_EQ(chdir(folder.path().toLocal8Bit().constData()), 0);
    sim::SimulatedModule module({.series = 6});
    // Listing the ports opens none of them (an open resets some boards); --probe does.
    EXPECT_EQ(InProcess({"ports"}).status, 0);
    EXPECT_EQ(module.openCount(), 0);
    EXPECT_NE(InProcess({"ports", "--probe"}).out.find("ready"), std::string::npos);
    EXPECT_EQ(module.openCount(), 1);

    // A FIFO is written in place, not replaced by a file.
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const int reader = open("fifo", O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(InProcess({"read", "-p", "1", "-s", "R3", "-o", "fifo"}).status, 0);
    char head[9] = "";
    EXPECT_EQ(::read(reader, head, 8), 8);
    EXPECT_STREQ(head, "S100=50\r");
    close(reader);
    struct stat status {};
    ASSERT_EQ(stat("fifo", &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // One object per port and command, failures too: the fields the manual page names.
    const auto keys = [](const std::string& line) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_EQ(object.value("schema").toInt(), 1);
        return object.keys().join(',').toStdString();
    };
    const Result json = InProcess({"read", "--json", "-p", "1", "-s", "R3"});
    EXPECT_EQ(keys(json.out), "command,device,exit,idBytes,port,registers,schema,series");
    EXPECT_TRUE(json.out.ends_with("}\n"));
    module.module().options().silent = true;
    const Result failed = InProcess({"version", "--json", "-p", "1", "-s", "R3"});
    EXPECT_EQ(failed.status, 4);
    EXPECT_EQ(keys(failed.out), "command,device,error,exit,port,schema,series");
}

// A production line: every module its own ID from one counter, one record per module, and
// a signal that stops every port with its module out of command mode.
TEST(ZelkctlOnAPty, KeepsARecordAndGivesEachModuleItsOwnId) {
    ZelksimProcess first;
    ZelksimProcess second;
    ZelksimProcess refusing({"--refuse-register", "121"});
    const QTemporaryDir folder;
    const std::string ids = Write(folder, "ids.txt", "40\n");
    const std::string log = folder.filePath("line.jsonl").toStdString();
    const Result result = Zelkctl({"write", "--set", "S121=next:" + ids, "--log", log, "-s", "T1b",
                                   "-p", first.link(), "-p", second.link(), "-p", refusing.link()});
    EXPECT_EQ(result.status, 5) << result.err;
    std::set<std::string> held;
    for (const ZelksimProcess* module : {&first, &second}) {
        const Result read = Zelkctl({"read", "-p", module->link(), "-s", "T1b"});
        held.insert(read.out.substr(read.out.find("S121=") + 5, 2));
    }
    // The refused ID went back and comes out first next time.
    std::string given = FileText(ids);
    given = given.substr(given.find("43\n") + 3, 2);
    held.insert(given);
    EXPECT_EQ(held, (std::set<std::string>{"40", "41", "42"})) << FileText(ids);
    std::istringstream lines(FileText(log));
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_EQ(object.contains("id"), object.value("exit").toInt() == 0) << line;
        EXPECT_TRUE(object.contains("time") && object.contains("written")) << line;
    }
    EXPECT_EQ(records, 3);
}

TEST(ZelkctlOnAPty, StopsOnASignalWithTheModuleOutOfCommandMode) {
    for (const int ports : {1, 2}) {
        SCOPED_TRACE(ports);
        std::vector<std::unique_ptr<ZelksimProcess>> modules;
        std::vector<std::string> logs;
        const QTemporaryDir folder;
        QStringList arguments = {"write", "--set", "S111=7", "-s", "T1b"};
        for (int i = 0; i < ports; ++i) {
            logs.push_back(folder.filePath(QString::number(i)).toStdString());
            modules.push_back(std::make_unique<ZelksimProcess>(
                std::vector<std::string>{"--response-delay", "0.1", "--log", logs.back()}));
            arguments << "-p" << QString::fromStdString(modules.back()->link());
        }
        QProcess process;
        process.start(QString::fromStdString(ZelkctlPath()), arguments);
        ASSERT_TRUE(process.waitForStarted());
        // Once every module has taken its first set command, the line is stopped.
        std::vector<double> times;
        for (const std::string& log : logs) {
            while (LoggedHostBytes(log, times).find("ATS101") == std::string::npos) {
                usleep(10000);
            }
        }
        kill(static_cast<pid_t>(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 130);
        const std::string err = process.readAllStandardError().toStdString();
        EXPECT_NE(err.find("written: S100, S101"), std::string::npos) << err;
        EXPECT_NE(err.find("not written:"), std::string::npos);
        for (const std::string& log : logs) {
            EXPECT_TRUE(LoggedHostBytes(log, times).ends_with("\nATX\n"));
        }
    }
}

}  // namespace
