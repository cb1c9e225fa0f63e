// zelkctl: the window's exchanges on the wire, byte for byte and instant for instant, and
// every command against zelksim on a real pseudo-terminal, with the exit codes its faults
// provoke.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "core/params/parameter_set.h"
#include "tests/support/link_fixture.h"
#include "tests/support/zelksim_process.h"
#include "tools/zelkctl/zelkctl.h"
#include "window/params/params_panel.h"

// Rows and module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// The traffic of one exchange, a line per byte (so that a failure shows where two part): its
// instant from the start, its direction and its value.
std::string Traffic(const sim::SimulatedModule& module, double start) {
    std::string traffic;
    char entry[48];
    for (const sim::WireByte& byte : module.wire()) {
        std::snprintf(entry, sizeof entry, "%.6f %s %02x\n", byte.time - start,
                      byte.fromHost ? ">" : "<", byte.byte);
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
    const double start = module.clock().now();
    panel::Press(button);
    panel::Popups();
    const std::string traffic = Traffic(module, start);
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
    const double start = module.clock().now();
    arguments.insert(arguments.begin(), "zelkctl");
    arguments.insert(arguments.end(), {"-p", "1", "-s", kSeries[options.series]});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    EXPECT_EQ(RunZelkctl(static_cast<int>(argv.size()), argv.data()), status);
    return Traffic(module, start);
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
            // The same values on the command line: every register, as the window gathers
            // them, and the modulation its control shows.
            ASSERT_GE(LoadTestPanel(), 0);
            panel::Commit(PRODUCT, series);
            PanelValues(series, idLength);
            GatherParameters();
            std::vector<std::string> write = {"write", "--ids", std::to_string(idLength + 1)};
            for (const RegisterRow& row : kRegisterTable) {
                std::string value = std::to_string(parameters.*row.high);
                if (row.low != nullptr) {
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

TEST(ZelkctlOnAPty, ListsReadsWritesVerifiesAndDiffs) {
    ZelksimProcess module({"--series", "R3", "--version-text", "E2E V1"});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZELK_COM1", QString::fromStdString(module.link()));
    const Result ports = Zelkctl({"ports"}, environment);
    EXPECT_EQ(ports.status, 0);
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
    EXPECT_NE(write.err.find("verified: the module holds all 20 registers written"),
              std::string::npos);
    const Result diff = Zelkctl({"diff", saved, "-p", link, "-s", "R3"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out, "S111: module 9, file 0\n");
    const Result json = Zelkctl({"read", "--json", "--with-version", "-p", link, "-s", "R3"});
    EXPECT_NE(json.out.find("\"S111\": 9,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"S120\": \"192.168\","), std::string::npos);
    EXPECT_NE(json.out.find("\"version\": \"E2E V1\""), std::string::npos);
    EXPECT_EQ(Zelkctl({"version", "-p", link, "-s", "R3"}).out, "E2E V1\n");
}

TEST(ZelkctlOnAPty, FailuresSayWhatHappenedInTheirExitCodes) {
    struct Row {
        const char* name;
        std::vector<std::string> module;  // zelksim's options
        std::vector<std::string> command;
        int status;
        const char* says;
    };
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
        {.name = "no file", .module = {}, .command = {"write", "/nonexistent/zelk.txt"},
         .status = 6, .says = "cannot read /nonexistent/zelk.txt"},
        {.name = "a cut reply", .module = {"--cut-reply", "40"}, .command = {"read"}, .status = 8,
         .says = "did not come whole: 40 characters"},
        {.name = "a value the series does not offer", .module = {},
         .command = {"write", "--set", "S110=14"}, .status = 2,
         .says = "S110=14 is not offered for Zelk-T1b: it takes one of 0 (1200 bps)"},
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
    EXPECT_EQ(detect.out, "19200 bit/s 8N2, firmware V7\n");

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

}  // namespace
