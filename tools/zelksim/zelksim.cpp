// zelksim: a simulated Zelk module on a pseudo-terminal, for running the program and the
// end-to-end tests without hardware. Prints the device path of the pty on stdout; attach
// it as a COM port with ZELK_COMn=<path> (or --link a fixed name and point at that).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/zelksim/module_model.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

double Now() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char kUsage[] =
    "Usage: zelksim [options]\n"
    "\n"
    "Simulates a Zelk module on a pseudo-terminal. Prints the pty's device path on the\n"
    "first line of stdout, then serves the module until SIGINT or SIGTERM. Attach it to the\n"
    "program as COM1 with ZELK_COM1=<path>.\n"
    "\n"
    "Module:\n"
    "  --series NAME          T1a, T1b, T2a, T2b, M5, K8 or R3 (or 0..6); picks the\n"
    "                         registers listed (default T1b)\n"
    "  --two-byte-ids         list S121, S122, S123 and S130 with their low part\n"
    "  --set SNNN=VALUE       start register NNN at VALUE (\"50\" or \"192.168\");\n"
    "                         may be repeated\n"
    "  --guard-time S         silence needed before each '+' of the escape (default 0.05)\n"
    "  --escape-reply TEXT    what the module sends after the escape (default \"\\r\\n>\")\n"
    "  --response-delay S     delay before any reply starts (default 0.01)\n"
    "  --version-text TEXT    reply to AT/V before its '>' (default \"Zelk RF module\n"
    "                         firmware V3.36\")\n"
    "\n"
    "Faults:\n"
    "  --silent               never answer anything\n"
    "  --echo                 echo every byte received in command mode\n"
    "  --ok-prompt            acknowledge set commands with \"OK\\r\\n>\" instead of \">\"\n"
    "  --noise N              send N noise characters before the escape's prompt\n"
    "  --refuse-register N    answer \"ERROR\\r\\n>\" to a set command for register N\n"
    "  --byte-interval S      seconds between the bytes of every reply\n"
    "  --cut-reply N          stop every reply to a command after N bytes (no prompt)\n"
    "  --list-reply TEXT      answer AT/L with TEXT instead of the register list\n"
    "  --line RATE,FORMAT     understand only a line set to this rate and format (such as\n"
    "                         19200,8N2); bytes at other settings are garbage to it. A\n"
    "                         pty takes 8 data bits without parity only: 8N1 or 8N2\n"
    "\n"
    "Attachment and logging:\n"
    "  --link PATH            make PATH a symlink to the pty (removed on exit)\n"
    "  --log FILE             write every byte on the line to FILE, one per line:\n"
    "                         \"<seconds, monotonic> <host|module> 0x<hex> <char>\",\n"
    "                         and the line settings the host has set whenever bytes\n"
    "                         come at new ones: \"<seconds> line 19200 8N2\"\n"
    "  --help                 show this text\n"
    "\n"
    "TEXT arguments understand \\r, \\n, \\t and \\\\.\n";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "zelksim: %s\n", message.c_str());
    std::exit(2);
}

std::string Unescape(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        switch (next) {
            case 'r':
                result.push_back('\r');
                break;
            case 'n':
                result.push_back('\n');
                break;
            case 't':
                result.push_back('\t');
                break;
            default:
                result.push_back(next);
                break;
        }
    }
    return result;
}

double ParseSeconds(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || value < 0.0 || value > 3600.0) {
        Fail(option + " wants seconds, not \"" + text + "\"");
    }
    return value;
}

int ParseCount(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 100000) {
        Fail(option + " wants a whole number, not \"" + text + "\"");
    }
    return static_cast<int>(value);
}

// The line setting the module understands; rate 0: any.
struct LineSetting {
    long rate = 0;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
};

LineSetting ParseLine(const std::string& text) {
    LineSetting line;
    char parity = 0;
    int dataBits = 0;
    int stopBits = 0;
    if (std::sscanf(text.c_str(), "%ld,%1d%c%1d", &line.rate, &dataBits, &parity, &stopBits) != 4 ||
        (dataBits != 7 && dataBits != 8) || (parity != 'N' && parity != 'O' && parity != 'E') ||
        (stopBits != 1 && stopBits != 2) || line.rate <= 0) {
        Fail("--line wants RATE,FORMAT such as 19200,8E1, not \"" + text + "\"");
    }
    line.dataBits = dataBits;
    line.parity = parity;
    line.stopBits = stopBits;
    return line;
}

// The line settings of the pty as the program (or a server in between, such as ser2net) has
// set them from its end: the pty's two ends share one set.
LineSetting CurrentLine(int slave) {
    LineSetting line;
    termios attributes{};
    if (tcgetattr(slave, &attributes) != 0) {
        return line;
    }
    static const std::pair<speed_t, long> rates[] = {
        {B300, 300},   {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto& [speed, value] : rates) {
        if (cfgetospeed(&attributes) == speed) {
            line.rate = value;
        }
    }
    line.dataBits = (attributes.c_cflag & CSIZE) == CS7 ? 7 : 8;
    line.parity = (attributes.c_cflag & PARENB) == 0   ? 'N'
                  : (attributes.c_cflag & PARODD) != 0 ? 'O'
                                                       : 'E';
    line.stopBits = (attributes.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

bool SameLine(const LineSetting& a, const LineSetting& b) {
    return a.rate == b.rate && a.dataBits == b.dataBits && a.parity == b.parity &&
           a.stopBits == b.stopBits;
}

struct Settings {
    ModuleOptions module;
    LineSetting line;
    std::vector<std::pair<int, std::string>> registers;
    std::string linkPath;
    std::string logPath;
};

int ParseSeries(const std::string& name) {
    int series = ModuleSeriesFromName(name);
    if (series < 0 && name.size() == 1 && name[0] >= '0' && name[0] <= '6') {
        series = name[0] - '0';
    }
    if (series < 0) {
        Fail("unknown series \"" + name + "\" (T1a, T1b, T2a, T2b, M5, K8, R3)");
    }
    return series;
}

std::pair<int, std::string> ParseAssignment(const std::string& assignment) {
    const std::size_t sign = assignment.find('=');
    std::string number = assignment.substr(0, sign);
    if (!number.empty() && (number[0] == 'S' || number[0] == 's')) {
        number.erase(0, 1);
    }
    if (sign == std::string::npos || number.size() != 3 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        Fail("--set wants SNNN=VALUE, not \"" + assignment + "\"");
    }
    return {std::stoi(number), assignment.substr(sign + 1)};
}

// One option: its name, whether it takes a value, and what it does to the settings.
struct Option {
    const char* name;
    bool takesValue;
    void (*apply)(Settings& settings, const std::string& option, const std::string& value);
};

// clang-format off
const Option kOptions[] = {
    {"--series", true, [](Settings& s, const std::string&, const std::string& v) { s.module.series = ParseSeries(v); }},
    {"--two-byte-ids", false, [](Settings& s, const std::string&, const std::string&) { s.module.twoByteIds = true; }},
    {"--set", true, [](Settings& s, const std::string&, const std::string& v) { s.registers.push_back(ParseAssignment(v)); }},
    {"--guard-time", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.guardTime = ParseSeconds(o, v); }},
    {"--escape-reply", true, [](Settings& s, const std::string&, const std::string& v) { s.module.escapeReply = Unescape(v); }},
    {"--response-delay", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.responseDelay = ParseSeconds(o, v); }},
    {"--version-text", true, [](Settings& s, const std::string&, const std::string& v) { s.module.versionText = Unescape(v); }},
    {"--silent", false, [](Settings& s, const std::string&, const std::string&) { s.module.silent = true; }},
    {"--echo", false, [](Settings& s, const std::string&, const std::string&) { s.module.echo = true; }},
    {"--ok-prompt", false, [](Settings& s, const std::string&, const std::string&) { s.module.okPrompt = true; }},
    {"--noise", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.noiseBeforePrompt = ParseCount(o, v); }},
    {"--refuse-register", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.refuseRegister = ParseCount(o, v); }},
    {"--byte-interval", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.byteInterval = ParseSeconds(o, v); }},
    {"--cut-reply", true, [](Settings& s, const std::string& o, const std::string& v) { s.module.cutReplyAfter = ParseCount(o, v); }},
    {"--list-reply", true, [](Settings& s, const std::string&, const std::string& v) { s.module.registerListOverride = Unescape(v); }},
    {"--line", true, [](Settings& s, const std::string&, const std::string& v) { s.line = ParseLine(v); }},
    {"--link", true, [](Settings& s, const std::string&, const std::string& v) { s.linkPath = v; }},
    {"--log", true, [](Settings& s, const std::string&, const std::string& v) { s.logPath = v; }},
};
// clang-format on

Settings ParseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        const std::size_t equals = option.find('=');
        const bool hasInlineValue = option.rfind("--", 0) == 0 && equals != std::string::npos;
        if (hasInlineValue) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        const Option* known = nullptr;
        for (const Option& candidate : kOptions) {
            known = option == candidate.name ? &candidate : known;
        }
        if (known == nullptr) {
            Fail("unknown option \"" + option + "\" (see --help)");
        }
        if (known->takesValue && !hasInlineValue) {
            if (i + 1 >= argc) {
                Fail(option + " needs a value");
            }
            value = argv[++i];
        }
        known->apply(settings, option, value);
    }
    return settings;
}

class WireLog {
  public:
    explicit WireLog(const std::string& path) {
        if (path.empty()) {
            return;
        }
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr) {
            Fail("cannot write the log " + path + ": " + std::strerror(errno));
        }
        std::fputs("# time direction byte char\n", file_);
        std::fflush(file_);
    }
    ~WireLog() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    // The line settings, each time they are not those logged last: "<time> line 19200 8N2".
    void recordLine(double time, const LineSetting& line) {
        if (file_ == nullptr || SameLine(line, lastLine_)) {
            return;
        }
        lastLine_ = line;
        std::fprintf(file_, "%.6f line %ld %d%c%d\n", time, line.rate, line.dataBits, line.parity,
                     line.stopBits);
        std::fflush(file_);
    }

    void record(double time, bool fromHost, uint8_t byte) {
        if (file_ == nullptr) {
            return;
        }
        char shown[8];
        if (byte == '\r') {
            std::strcpy(shown, "\\r");
        } else if (byte == '\n') {
            std::strcpy(shown, "\\n");
        } else if (byte > 0x20 && byte < 0x7F) {
            shown[0] = static_cast<char>(byte);
            shown[1] = '\0';
        } else {
            std::snprintf(shown, sizeof shown, "\\x%02x", byte);
        }
        std::fprintf(file_, "%.6f %s 0x%02x %s\n", time, fromHost ? "host" : "module", byte, shown);
        // Tests read the log while zelksim runs.
        std::fflush(file_);
    }

  private:
    std::FILE* file_ = nullptr;
    LineSetting lastLine_{-1};
};

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

Pty OpenPty() {
    Pty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        Fail(std::string("cannot create a pty: ") + std::strerror(errno));
    }
    const char* name = ptsname(pty.master);
    if (name == nullptr) {
        Fail(std::string("cannot name the pty: ") + std::strerror(errno));
    }
    pty.slaveName = name;
    // Holding the slave open keeps the master from seeing a hang-up each time the program
    // closes the port, and keeps the line settings between the program's opens.
    pty.slave = open(name, O_RDWR | O_NOCTTY);
    if (pty.slave < 0) {
        Fail("cannot open " + pty.slaveName + ": " + std::strerror(errno));
    }
    // Raw: no echo, no line editing, no CR/LF translation; the module sees the bytes the
    // program sends and nothing else.
    termios attributes{};
    if (tcgetattr(pty.slave, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(pty.slave, TCSANOW, &attributes);
    }
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    return pty;
}

void MakeLink(const std::string& linkPath, const std::string& target) {
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0) {
        // Replace a stale link from an earlier run, never anything else.
        if (!S_ISLNK(existing.st_mode)) {
            Fail(linkPath + " exists and is not a symlink");
        }
        unlink(linkPath.c_str());
    }
    if (symlink(target.c_str(), linkPath.c_str()) != 0) {
        Fail("cannot link " + linkPath + ": " + std::strerror(errno));
    }
}

// The signals are let through only while waiting in ppoll, so a stop request can never slip
// in between the check and the wait. Returns the mask to wait with.
sigset_t CatchStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return waitMask;
}

// Hands the module's due reply bytes to the pty, as many as it takes.
void SendDue(ModuleModel& model, const Pty& pty, WireLog& log, std::string& outgoing) {
    const double now = Now();
    while (model.due(now) > 0) {
        outgoing.push_back(static_cast<char>(model.take(now)));
    }
    while (!outgoing.empty()) {
        const ssize_t written = write(pty.master, outgoing.data(), 1);
        if (written != 1) {
            break;
        }
        log.record(Now(), false, static_cast<uint8_t>(outgoing[0]));
        outgoing.erase(0, 1);
    }
}

// Waits for the host's bytes, or until the module's next reply byte is due; hands what
// came to the module.
void ServeOnce(ModuleModel& model, const Pty& pty, WireLog& log, const std::string& outgoing,
               const Settings& settings, const sigset_t& waitMask) {
    pollfd watch{pty.master, POLLIN, 0};
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (!outgoing.empty()) {
        // The pty is full: nobody reads the port. Try again shortly.
        watch.events |= POLLOUT;
        timeout.tv_nsec = 10L * 1000 * 1000;
        timeoutPointer = &timeout;
    } else if (model.nextDueTime() >= 0.0) {
        const double wait = std::max(0.0, model.nextDueTime() - Now());
        timeout.tv_sec = static_cast<time_t>(wait);
        timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
        timeoutPointer = &timeout;
    }
    const int ready = ppoll(&watch, 1, timeoutPointer, &waitMask);
    if (ready < 0 && errno != EINTR) {
        Fail(std::string("poll: ") + std::strerror(errno));
    }
    if (ready <= 0) {
        return;
    }
    if ((watch.revents & POLLIN) != 0) {
        uint8_t buffer[256];
        const ssize_t count = read(pty.master, buffer, sizeof buffer);
        const double arrival = Now();
        // At the wrong rate or format every byte arrives garbled; none reaches the module's
        // command parser as the host meant it.
        const LineSetting line = CurrentLine(pty.slave);
        log.recordLine(arrival, line);
        const bool understood = settings.line.rate == 0 || SameLine(line, settings.line);
        for (ssize_t i = 0; i < count; ++i) {
            log.record(arrival, true, buffer[i]);
            model.receive(understood ? buffer[i] : 0xFF, arrival);
        }
    } else if ((watch.revents & (POLLHUP | POLLERR)) != 0) {
        // Should not happen while the slave is held open; do not spin if it does.
        timespec pause{0, 10L * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = ParseArguments(argc, argv);
    ModuleModel model(settings.module);
    for (const auto& [number, text] : settings.registers) {
        model.setRegister(number, text);
    }
    WireLog log(settings.logPath);
    const sigset_t waitMask = CatchStopSignals();

    Pty pty = OpenPty();
    if (!settings.linkPath.empty()) {
        MakeLink(settings.linkPath, pty.slaveName);
    }
    std::printf("%s\n", pty.slaveName.c_str());
    std::fflush(stdout);

    std::string outgoing;  // due reply bytes the pty has not taken yet
    while (stopRequested == 0) {
        SendDue(model, pty, log, outgoing);
        ServeOnce(model, pty, log, outgoing, settings, waitMask);
    }

    if (!settings.linkPath.empty()) {
        unlink(settings.linkPath.c_str());
    }
    close(pty.slave);
    close(pty.master);
    return 0;
}
