// The connection, command mode, the firmware version and the write, on the wire of a
// simulated module on a virtual clock; zelkctl, whose exchanges must be the window's and
// whose exit codes tell its faults apart; and a user's session against zelksim on a real
// pseudo-terminal, in real time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
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

using link_test::kCommandError;
using link_test::Popups;
using link_test::Texts;

constexpr double kExact = 1e-6;
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

TEST_F(Link, ConnectsWithTheSettingsChosenAndFollowsThePortPicked) {
    Attach().failNextOpen();
    panel::Press(SHOW_VER);  // every exchange needs the port open
    panel::Press(UPDATE);
    EXPECT_EQ(Popups(), Texts(2, "COM error| COM disconnect!\r\n Connect it first!!  "));
    panel::Commit(PORT_CONN, 1);
    EXPECT_EQ(Popups(), Texts{kOpenError + "||simulated open failure."});
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
    EXPECT_TRUE(module().wire().empty());

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

    // The same port again keeps the connection; another one closes it and is taken at the
    // next connect.
    ComPortSelectCallBack(panelHandle, COMPORT_NUM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(connection.connected);
    panel::Commit(COMPORT_NUM, 2);
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
    EXPECT_EQ(module().closeCount(), 1);
    EXPECT_TRUE(Popups().empty());
}

// Accepted changes are taken at the next connect (above).
TEST_F(Link, BaudRateAndFormatStayWhileConnectedOrWhenTheChangeIsDeclined) {
    for (const bool connected : {true, false}) {
        for (const auto& [control, value] : {std::pair{UART_BR, 2400}, std::pair{SERFMT, 6}}) {
            SCOPED_TRACE(testing::Message() << control << connected);
            Attach();
            if (connected) {
                Connect();
            }
            panel::Commit(control, value);  // a confirmation left unanswered is declined
            EXPECT_EQ(Popups(), Texts{connected ? kEngaged : kConfirmChange});
            EXPECT_EQ(std::tuple(connection.comBaudRate, connection.comFormat, connection.connected,
                                 panel::Value(UART_BR), panel::Value(SERFMT)),
                      std::tuple(9600u, 0, connected, 9600, 0));
        }
    }
}

// Each row at its own baud rate, for the escape's guard time. The prompt is looked for one
// character per 50 ms poll, up to 60; without it the module gets a lone carriage return and
// the leave command of its series.
TEST_F(Link, EscapeWaitsTheGuardTimeAndNeedsThePromptWithinSixtyCharacters) {
    struct Row {
        uint32_t baudRate;
        double guard;
        std::string reply = ">";  // the module's answer to the escape
        int noise = 0;            // characters before it
        int productIndex = 1;
        std::string sent = "";  // everything sent for a failed escape; empty when it succeeds
        int polls = 0;          // the poll that finds the prompt
    };
    // clang-format off
    const Row rows[] = {
        {.baudRate = 300, .guard = 0.3, .reply = "\r\n>after", .polls = 3},
        {.baudRate = 600, .guard = 0.3, .noise = 59, .polls = 60},
        {.baudRate = 1200, .guard = 0.2, .noise = 60, .sent = "+++\rATX\n"},
        // No answer at all.
        {.baudRate = 2400, .guard = 0.1, .reply = "", .productIndex = 4, .sent = "+++\rATO\n"},
        {.baudRate = 115200, .guard = 0.1, .reply = "", .productIndex = 6, .sent = "+++\rATX\n"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baudRate);
        Attach({.escapeReply = row.reply, .noiseBeforePrompt = row.noise}, row.productIndex);
        ui_testing::AnswerNextConfirm(true);
        panel::Commit(UART_BR, row.baudRate);
        Popups();
        Connect();
        const double start = now();
        panel::Press(SHOW_VER);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(HostTime(i), start + (i + 1) * row.guard, kExact);
        }
        if (row.polls > 0) {
            // "AT/V" goes out at the poll that found the prompt; whatever came behind the
            // prompt was dropped and does not show in the version.
            EXPECT_EQ(module().sentByHost().substr(0, 8), "+++AT/V\n");
            EXPECT_NEAR(HostTime(3), start + 3 * row.guard + row.polls * 0.05, kExact);
            EXPECT_EQ(Popups(), Texts{"FirmWare Verion|Zelk RF module firmware V3.36"});
        } else {
            EXPECT_EQ(module().sentByHost(), row.sent);
            EXPECT_EQ(Popups(), Texts{kCommandError +
                                      "||No \">\" came back after the escape "
                                      "\"+++\" on COM1 (/dev/ttySIM1) at " +
                                      std::to_string(row.baudRate) +
                                      " bit/s, 8N1.\nCheck that COM Baud Rate and the format "
                                      "match the module's serial setting (factory setting 9600 "
                                      "bit/s, 8N1), that the module has power, and the wiring."});
            EXPECT_NEAR(HostTime(3), start + 3 * row.guard + 60 * 0.05 + 0.3, kExact);  // "\r"
            EXPECT_NEAR(HostTime(4), HostTime(3) + 0.1, kExact);
        }
    }
}

TEST_F(Link, VersionShowsTheTextBeforeThePrompt) {
    const std::string letters = std::string(60, 'a') + std::string(60, 'b');
    const std::string shown = "FirmWare Verion|";
    struct Row {
        std::string text;  // the module's version text
        std::string popup;
        int productIndex = 1;
        int cutAfter = -1;
        double byteInterval = 0;
        std::string leave = "ATX\n";
        double after = 0.2;  // seconds from "AT/V" to the leave command
    };
    // clang-format off
    const Row rows[] = {
        {.text = "V3.36\r\n  build 17 ", .popup = shown + "V3.36\r\n  build 17 ", .productIndex = 4,
         .leave = "ATO\n"},
        {.text = "", .popup = shown},
        {.text = letters, .popup = shown + letters.substr(0, 99), .cutAfter = 120},
        // A byte every 0.25 s.
        {.text = "V3.36", .popup = shown + "V3.36", .byteInterval = 0.25, .after = 1.4},
        // No prompt within 5 s.
        {.text = "V3.36",
         .popup = kCommandError + "||The firmware version (\"AT/V\") did not come: no \">\" within "
                                  "5 seconds.",
         .cutAfter = 3, .after = 5.0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.popup);
        const ModuleOptions options = {.versionText = row.text,
                                       .byteInterval = row.byteInterval,
                                       .cutReplyAfter = row.cutAfter};
        Attach(options, row.productIndex);
        Connect();
        panel::Press(SHOW_VER);
        EXPECT_EQ(Popups(), Texts{row.popup});
        EXPECT_EQ(module().sentByHost(), "+++AT/V\n" + row.leave);
        EXPECT_NEAR(HostTime(8), HostTime(3) + row.after, kExact);  // "AT/V\n", then the leave
    }
}

TEST_F(Link, WriteSendsTheSequenceOfTheSeriesAndIdLengthUntilACommandIsNotAcknowledged) {
    // Every register control at a value of its own, so that one sent with another's shows.
    const std::pair<int, int> panelValues[] = {
        {S100, 230},  {S101, 1},     {S102, 30},   {S103, 2},     {S104, 9},    {S105, 6},
        {S110, 5},    {S111, 77},    {S112, 4},    {S113, 1},     {S120_H, 0},  {S120_L, 255},
        {S121_H, 21}, {S121_L, 121}, {S122_H, 22}, {S122_L, 122}, {S123_H, 23}, {S123_L, 123},
        {S124, 22},   {S125, 255},   {S126, 3},    {S127, 1},     {S128, 0},    {S129, 1},
        {S130_H, 30}, {S130_L, 130}};
    const std::string first = "+++ATS100=230\n";
    const std::string upTo105 = first + "ATS101=1\nATS102=30\nATS103=2\nATS104=9\nATS105=6\n";
    const std::string upTo112 = upTo105 + "ATS110=5\nATS111=77\nATS112=4\n";
    const std::string middle =
        "ATS120=0.255\nATS124=22\nATS125=255\nATS126=3\nATS127=1\nATS128=0\n";
    const std::string oneByteIds = "ATS129=1\nATS121=21\nATS122=22\nATS123=23\nATS130=30\nATO\n";
    const std::string mix =
        ". The module now holds these new values and its old ones for the rest: write again "
        "once the cause is fixed.";
    struct Row {
        int productIndex;
        int idLength;
        std::string sent;
        bool okPrompt = false;     // the module acknowledges with "OK\r\n>"
        int refuse = -1;           // the register it refuses
        std::string failure = "";  // what the popup says beside its text; empty for success
    };
    // clang-format off
    const Row rows[] = {
        {.productIndex = 0, .idLength = 0, .sent = upTo112 + middle + oneByteIds},
        {.productIndex = 2, .idLength = 1,
         .sent = upTo112 + middle +
                 "ATS129=1\nATS121=21.121\nATS122=22.122\nATS123=23.123\nATS130=30.130\nATO\n"},
        // The M5 sends its modulation, has no repeater registers and one-byte node IDs.
        {.productIndex = 4, .idLength = 1,
         .sent = upTo112 + "ATS113=1\n" + middle + "ATS121=21\nATS122=22\nATS123=23\nATO\n"},
        // The R3 shows its modulation but does not take it from the write.
        {.productIndex = 6, .idLength = 0, .sent = upTo112 + middle + oneByteIds},
        {.productIndex = 0, .idLength = 0, .sent = upTo105 + "ATX\n", .refuse = 105,
         .failure = "The module refused ATS105=6 (register S105): it answered something other "
                    "than \">\".\nAlready written: S100, S101, S102, S103, S104" + mix},
        {.productIndex = 5, .idLength = 0, .sent = first + "ATO\n", .okPrompt = true,
         .failure = "The module refused ATS100=230 (register S100): it answered something other "
                    "than \">\".\nNothing was written before it."},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.productIndex << "/" << row.idLength);
        const std::string& sent = row.sent;
        Attach({.series = row.productIndex, .okPrompt = row.okPrompt, .refuseRegister = row.refuse},
               row.productIndex);
        for (const auto& [control, value] : panelValues) {
            ASSERT_EQ(SetCtrlVal(panelHandle, control, value), 0) << control;
        }
        SetCtrlVal(panelHandle, ID_LEN, row.idLength);
        Connect();
        panel::Press(UPDATE);
        const bool refused = !row.failure.empty();
        EXPECT_EQ(module().sentByHost(), sent);
        EXPECT_EQ(Popups(), Texts{refused ? kCommandError + "||" + row.failure : link_test::kDone});
        // The first command 0.2 s after the escape's prompt (third poll); the leave command at
        // the first poll after the last prompt, or a second after a command without one.
        const std::size_t leave = sent.rfind("AT"), last = sent.rfind("AT", leave - 1);
        EXPECT_NEAR(HostTime(3), HostTime(2) + 3 * 0.05 + 0.2, kExact);
        EXPECT_NEAR(HostTime(leave), HostTime(last) + (refused ? 1.0 : 0.02), kExact);
    }
}

// The adapter is pulled in the middle of an exchange: the first write or poll that finds the
// device gone ends the exchange at once, closes the port and puts Connect back; a later
// Connect to the device that is back works.
TEST_F(Link, AVanishedDeviceEndsTheExchangeAtOnceAndClosesThePort) {
    const std::string gone =
        "||/dev/ttySIM1: the device is gone (unplugged or hung up)\nThe port is closed. Plug the "
        "adapter back in and press Connect.";
    struct Row {
        int button;
        int unplugAfter;   // host bytes
        std::string sent;  // all that reached the module
        double lastWait;   // seconds from the last byte sent to the end of the exchange
        std::string more;  // what the popup adds for the exchange
    };
    // clang-format off
    const Row rows[] = {
        {.button = READ, .unplugAfter = 0, .sent = "", .lastWait = 0.1, .more = ""},
        {.button = SHOW_VER, .unplugAfter = 3, .sent = "+++", .lastWait = 0.05, .more = ""},
        {.button = UPDATE, .unplugAfter = 13, .sent = "+++ATS100=50\n", .lastWait = 0.02,
         .more = "\nThe device went away before the module acknowledged ATS100=50 (register S100); "
                 "it may or may not have taken it.\nNothing was written before it."},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sent);
        Attach();
        Connect();
        const double start = now();
        module().unplugAfter(row.unplugAfter);
        panel::Press(row.button);
        EXPECT_EQ(Popups(), Texts{kCommandError + gone + row.more});
        EXPECT_EQ(module().sentByHost(), row.sent);
        const double lastByte = row.sent.empty() ? start : HostTime(row.sent.size() - 1);
        EXPECT_NEAR(now(), lastByte + row.lastWait, kExact);
        EXPECT_EQ(std::tuple(connection.connected, panel::Value(PORT_CONN), module().isOpen()),
                  std::tuple(false, 0, false));

        Attach();  // plugged in again
        Connect();
        panel::Press(SHOW_VER);
        EXPECT_EQ(Popups(), Texts{"FirmWare Verion|Zelk RF module firmware V3.36"});
    }
}

// zelkctl: the window's exchanges on the wire, byte for byte and instant for instant, and
// every command against zelksim on a real pty, with the exit codes its faults provoke.
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

// zelkctl, in process, with these arguments for the module on COM1.
std::string ThroughZelkctl(const ModuleOptions& options, std::vector<std::string> arguments) {
    sim::SimulatedModule module(options);
    const double start = module.clock().now();
    arguments.insert(arguments.begin(), "zelkctl");
    arguments.insert(arguments.end(), {"-p", "1", "-s", kSeries[options.series]});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    EXPECT_EQ(RunZelkctl(static_cast<int>(argv.size()), argv.data()), 0);
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

// A user's session against zelksim on a real pseudo-terminal, in real time: connect, read
// the version, write, lose the device and connect again. zelksim takes the escape only with its
// guard times held; their exact lengths are pinned on the virtual clock, the real clock's waits and
// writes by the test of zelksim on a pty, and a refusal over a pty by zelkctl's tests.
class LinkEndToEnd : public link_test::LinkTest {
  protected:
    void SetUp() override {
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
        unsetenv("ZELK_COM1");  // COM1 is the simulated module's again
        LinkTest::TearDown();
    }
    // The host's bytes from the log, once they end with `tail` (the module may still be
    // reading them when the callback returns).
    std::string HostBytes(const std::string& tail) {
        std::string host;
        std::vector<double> times;
        for (int i = 0; i < 100 && !host.ends_with(tail); ++i) {
            usleep(20000);
            host = LoggedHostBytes(log_, times);
        }
        return host;
    }

    const std::string log_ = "/tmp/zelk-e2e-" + std::to_string(getpid()) + ".log";
    std::optional<ZelksimProcess> zelksim_;
};

// The module's end of the line goes (a pty's master closing is what an adapter pulled
// looks like to the port): the exchange ends at the first write or read that finds it gone,
// the port is closed, and Connect works again once the device is back.
TEST_F(LinkEndToEnd, ConnectsReadsTheVersionWritesAndSeesTheDeviceGo) {
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected);
    SetCtrlVal(panelHandle, S100, 42);
    // How the host's bytes of each exchange begin and end.
    struct Step {
        int button;
        std::string popup;
        std::string begin;
        std::string end;
    };
    // clang-format off
    const Step steps[] = {
        {.button = SHOW_VER, .popup = "FirmWare Verion|E2E V9.99", .begin = "+++AT/V\n",
         .end = "ATX\n"},
        {.button = UPDATE, .popup = link_test::kDone, .begin = "+++ATS100=42\n",
         .end = "ATS123=127\nATS130=100\nATO\n"},
    };
    // clang-format on
    std::string host;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.popup);
        const std::size_t from = host.size();
        panel::Press(step.button);
        EXPECT_EQ(link_test::Popups(), link_test::Texts{step.popup});
        host = HostBytes(step.end);
        EXPECT_TRUE(host.substr(from).starts_with(step.begin) && host.ends_with(step.end)) << host;
    }

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
