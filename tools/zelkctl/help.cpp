#include "tools/zelkctl/help.h"

#include <iterator>

#include "core/link/messages.h"

namespace {

constexpr unsigned kTalksToModule = Bit(Command::Version) | Bit(Command::Read) |
                                    Bit(Command::Write) | Bit(Command::Diff) | Bit(Command::Detect);
constexpr unsigned kAll = kTalksToModule | Bit(Command::Ports) | Bit(Command::Check);
constexpr unsigned kAtOneRate =
    Bit(Command::Version) | Bit(Command::Read) | Bit(Command::Write) | Bit(Command::Diff);

const char kExitStatuses[] =
    "Exit status:\n"
    "  0    done\n"
    "  1    differences found (diff, write --verify)\n"
    "  2    usage: a wrong command line, or a register or value the series does not have\n"
    "  3    the port cannot be opened (the system's reason is printed)\n"
    "  4    no command mode: no \">\" after the escape (check rate, format, power, wiring)\n"
    "  5    the module did not acknowledge a register (it and the registers already\n"
    "       written are named: the module now holds a mix)\n"
    "  6    a file cannot be read or written, or is not a setting file (file and line\n"
    "       are named)\n"
    "  7    the device went away during the exchange\n"
    "  8    a reply did not come whole, or was no answer to the command (\"ERROR\", an\n"
    "       echo)\n"
    "  9    the module's register list lacks a register of the series given with -s\n"
    "  129, 130, 143\n"
    "       stopped by SIGHUP, SIGINT or SIGTERM (on Windows the console's closing,\n"
    "       Ctrl+C or Ctrl+Break): the command on the wire was finished, the module\n"
    "       left command mode, and what was written was said\n"
    "With several ports: the status of the first port, in the order given, that failed.\n";

// Replaces each "{name}" of text by the list it stands for.
std::string WithLists(std::string text) {
    const std::pair<const char*, const char*> lists[] = {
        {"{series}", SeriesNames()}, {"{rates}", BaudRateNames()}, {"{formats}", FormatNames()}};
    for (const auto& [name, value] : lists) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
            text.replace(at, std::string(name).size(), value);
        }
    }
    return text;
}

// "  -p, --port PORT    text", the text wrapped under itself.
std::string OptionLine(const OptionRow& option) {
    const std::string names = option.names;
    const std::size_t comma = names.find(',');
    std::string line = comma == std::string::npos
                           ? "      --" + names
                           : "  -" + names.substr(0, comma) + ", --" + names.substr(comma + 1);
    if (option.value != nullptr) {
        line += std::string(" ") + option.value;
    }
    line.resize(std::max<std::size_t>(line.size() + 1, 22), ' ');
    std::string text = WithLists(option.help);
    std::size_t width = 22;
    std::string wrapped;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(start, end - start);
        if (width + word.size() + 1 > 90 && width > 22) {
            wrapped += "\n" + std::string(22, ' ');
            width = 22;
        } else if (width > 22) {
            wrapped += ' ';
            ++width;
        }
        wrapped += word;
        width += word.size();
        start = end + 1;
    }
    return line + wrapped + "\n";
}

}  // namespace

const OptionRow kOptions[kOptionCount] = {
    {"p,port", "PORT", kTalksToModule,
     "COM1 to COM12 (or 1 to 12) as the window numbers them, on Windows any COM port "
     "(COM17), a device path such as /dev/ttyUSB0, or a network port served by ser2net: "
     "rfc2217://HOST:PORT (the line set through the server) or socket://HOST:PORT (raw "
     "TCP); repeat it to run the command on "
     "several ports at once"},
    {"s,series", "NAME", kAll & ~Bit(Command::Ports), "the module's product series: {series}"},
    {"b,baud", "RATE", kAtOneRate, "the port's rate: {rates} (default 9600)"},
    {"f,format", "FMT", kAtOneRate, "the port's format: {formats} (default 8N1)"},
    {"ids", "N", Bit(Command::Write) | Bit(Command::Check),
     "1 or 2: one-byte or two-byte IDs (S121, S122, S123, S130 in one or two parts); by "
     "default as the file, --set or the module has them"},
    {"o,output", "FILE", Bit(Command::Read),
     "write the registers to FILE in the window's file format (replaced only once it is "
     "whole; a FIFO or device is written in place); - is standard output"},
    {"json", nullptr, kAll,
     "print one JSON object (one line) instead of text, also for a failure; several ports "
     "give one line each (see the manual page for the fields)"},
    {"with-version", nullptr, Bit(Command::Read) | Bit(Command::Write) | Bit(Command::Diff),
     "ask for the firmware version too (printed on stderr, in the JSON and in the log)"},
    {"set", "SNNN=V", Bit(Command::Write) | Bit(Command::Check),
     "set register NNN to V (S121=10.20 for two parts; S121=next:FILE for the next free ID "
     "of the counter file FILE); may be repeated"},
    {"verify", nullptr, Bit(Command::Write),
     "read the module back and compare every register written"},
    {"rates", "LIST", Bit(Command::Detect), "the rates to try, such as 9600,19200"},
    {"formats", "LIST", Bit(Command::Detect), "the formats to try, such as 8N1,8E1"},
    {"trace", "FILE", kTalksToModule,
     "write every byte sent and received, with its instant in ms and the step it belongs "
     "to, to FILE: the text to send when asking for help"},
    {"log", "FILE", kTalksToModule,
     "append one JSON line per port to FILE: the time, port, device, its USB serial number "
     "and IDs, series, firmware version, what was written and verified, the outcome"},
    {"probe", nullptr, Bit(Command::Ports),
     "open each port to tell whether it can be opened (opening toggles DTR, which resets "
     "some boards)"},
    {"q,quiet", nullptr, kAll, "say nothing on stderr but warnings and errors"},
    {"v,verbose", nullptr, kAll, "say each step of the exchanges on stderr"},
};

const CommandRow kCommands[kCommandCount] = {
    {Command::Ports, "ports", "[--probe]",
     "list the serial ports with their COM numbers, devices and USB descriptions",
     "Lists the serial ports with their COM numbers, devices, USB descriptions, serial\n"
     "numbers and IDs, and the network ports that ZELK_COMn variables name, without opening\n"
     "any of them; --probe opens each (a network port with one connection) to tell whether\n"
     "it can be opened, and if not, why and what to do.\n"},
    {Command::Version, "version", "-p PORT -s SERIES", "print the module's firmware version",
     "Prints the module's firmware version. A reply that is no version (\"ERROR\", an echo of\n"
     "the command) is a failure.\n"},
    {Command::Read, "read", "-p PORT -s SERIES [-o FILE]", "print the module's registers",
     "Prints the registers the module lists, one \"Snnn=value\" line each (or JSON), after\n"
     "checking that its register list fits the series. -o writes them in the window's file\n"
     "format, which the window loads and write takes back unchanged. A value the series\n"
     "would not offer is printed as the module holds it, with a warning on stderr.\n"},
    {Command::Write, "write", "[FILE] -p PORT -s SERIES [--set SNNN=V]... [--verify]",
     "write a setting file and --set values into the module",
     "Writes FILE (a setting file: one \"Snnn=value\" or \"Snnn=high.low\" line per register,\n"
     "an optional closing \">\") and the --set values over it into the module. FILE and\n"
     "--set are checked whole before the port opens: a malformed line (exit 6), a register\n"
     "the series does not have or a --set value it does not offer (exit 2) stop it before\n"
     "any byte. The module's register list is read first and must hold the series' (exit 9);\n"
     "registers FILE and --set leave open keep the values the module lists, and a value of\n"
     "FILE the series would not offer is taken only when the module holds it already.\n"},
    {Command::Diff, "diff", "FILE -p PORT -s SERIES",
     "print the registers that differ between the module and a setting file",
     "Prints one line per register that differs between the module and FILE\n"
     "(\"S110: module 3, file 5\"); registers the module does not list are not compared.\n"},
    {Command::Detect, "detect", "-p PORT -s SERIES [--rates LIST] [--formats LIST]",
     "find the module's serial rate and format",
     "Finds the module's serial rate and format by trying the escape at each rate the window\n"
     "offers, 8N1 first and 9600 bit/s first, and prints them as options to paste\n"
     "(\"-b 19200 -f 8N2\"). Each try that gets no answer takes about 3.7 s (4.3 s at 300\n"
     "bit/s): the 8N1 rates take about 40 s, all 80 rates and formats about 5 minutes.\n"
     "A format the device cannot take is skipped.\n"},
    {Command::Check, "check", "[FILE] -s SERIES [--set SNNN=V]...",
     "check a setting file and --set values offline; print what write would write",
     "Runs every check write runs before it opens a port, without a port, and prints what\n"
     "write would write in its order; registers it would keep from the module are named.\n"
     "A production line validates its recipe files with it.\n"},
};

std::string GeneralHelp() {
    std::string text =
        "Usage: zelkctl COMMAND [FILE] [options]\n"
        "       zelkctl help COMMAND\n"
        "\n"
        "Configures Zelk Series RF modules from a shell, for benches, production lines and\n"
        "scripts: the same exchanges as the ZelkConfig window, byte for byte and wait for\n"
        "wait. The command line and its files are checked whole before a port is opened.\n"
        "\n"
        "Commands:\n";
    for (const CommandRow& command : kCommands) {
        std::string line = std::string("  ") + command.name;
        line.resize(12, ' ');
        text += line + command.summary + "\n";
    }
    text += "\nOptions (zelkctl help COMMAND lists those of a command):\n";
    for (const OptionRow& option : kOptions) {
        text += OptionLine(option);
    }
    text +=
        "  -h, --help          show this text; with a command, its own\n"
        "      --version       show zelkctl's own version\n"
        "\n"
        "With several ports, -o and --trace need {port} in the file name, which becomes the\n"
        "port (COM3, ttyUSB0, 192.168.1.20-4001).\n\n";
    return text + kExitStatuses +
           "\nExamples:\n"
           "  zelkctl read -p COM1 -s T1b -o saved.txt\n"
           "  zelkctl check saved.txt -s T1b --set S111=7\n"
           "  zelkctl write saved.txt -p /dev/ttyUSB0 -s T1b --set S121=next:ids.txt --verify "
           "--log line.jsonl\n";
}

std::string CommandHelp(const CommandRow& command) {
    std::string text = std::string("Usage: zelkctl ") + command.name + " " + command.arguments +
                       " [options]\n\n" + command.details + "\nOptions:\n";
    for (const OptionRow& option : kOptions) {
        if ((option.commands & Bit(command.command)) != 0) {
            text += OptionLine(option);
        }
    }
    return text + "  -h, --help          show this text\n\n" + kExitStatuses;
}
