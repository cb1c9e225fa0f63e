#include "tools/zelkctl/request.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringList>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "core/link/connection.h"
#include "core/link/messages.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "tools/zelkctl/help.h"
#include "tools/zelkctl/setting_file.h"

namespace {

// The parser's options, in the order of kOptions, then help and version.
struct Options {
    std::vector<std::unique_ptr<QCommandLineOption>> byTable;
    QCommandLineOption help{{"h", "help"}};
    QCommandLineOption version{"version"};

    const QCommandLineOption& operator[](const char* longName) const {
        for (std::size_t i = 0; i < kOptionCount; ++i) {
            const std::string names = kOptions[i].names;
            if (names == longName || names.ends_with(std::string(",") + longName)) {
                return *byTable[i];
            }
        }
        return help;  // not reached: every name asked for is in the table
    }
};

void AddOptions(QCommandLineParser& parser, Options& options) {
    for (const OptionRow& option : kOptions) {
        const QStringList names = QString::fromLatin1(option.names).split(',');
        options.byTable.push_back(
            option.value != nullptr
                ? std::make_unique<QCommandLineOption>(names, QString(), option.value)
                : std::make_unique<QCommandLineOption>(names));
        parser.addOption(*options.byTable.back());
    }
    parser.addOption(options.help);
    parser.addOption(options.version);
}

const CommandRow* FindCommand(const std::string& name) {
    for (const CommandRow& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

#ifdef _WIN32
const char* const kComNumbers = "COM1 to COM256";
#else
const char* const kComNumbers = "COM1 to COM12";
#endif

// A COM number, a device path, or a network port's name; false, with what is wrong in
// *problem, for anything else.
bool ParsePort(const std::string& text, PortChoice* port, std::string* problem) {
    port->text = text;
    NetworkPortName network;
    if (IsNetworkPortName(text)) {
        if (!ParseNetworkPortName(text, &network, problem)) {
            return false;
        }
    } else {
        QString number = QString::fromStdString(text);
        if (number.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
            number = number.mid(3);
        }
        bool isNumber = false;
        const int value = number.toInt(&isNumber);
        if (isNumber && value >= 1 && value <= 12) {
            port->comPort = value;
            port->label = "COM" + std::to_string(value);
            return true;
        }
#ifdef _WIN32
        // Windows numbers its ports up to COM256, and USB adapters often get numbers above
        // the window's twelve: such a port is the system's COM port of that number.
        if (isNumber && value > 12 && value <= 256) {
            port->comPort = 1;  // the slot the device is held in
            port->device = "COM" + std::to_string(value);
            port->label = port->device;
            return true;
        }
#endif
        if (text.find('/') == std::string::npos && text.find('\\') == std::string::npos) {
            *problem = "no port \"" + text + "\": give " + kComNumbers +
                       ", a device path or a network port (rfc2217://HOST:PORT, "
                       "socket://HOST:PORT)";
            return false;
        }
    }
    port->comPort = 1;  // the slot the device is held in
    port->device = text;
    port->label = text;
    return true;
}

bool ParseRate(const QString& text, uint32_t* rate) {
    for (const uint32_t offered : kComBaudRates) {
        if (text == QString::number(offered)) {
            *rate = offered;
            return true;
        }
    }
    return false;
}

bool ParseFormat(const QString& text, uint8_t* format) {
    for (int index = 0; index < kSerialFormatCount; ++index) {
        if (text.compare(QLatin1String(serialFormats[index].name), Qt::CaseInsensitive) == 0) {
            *format = static_cast<uint8_t>(index);
            return true;
        }
    }
    return false;
}

// "S110=5" or "S121=10.20", spelled as a line of a setting file, or "S121=next:ids.txt".
bool ParseAssignment(const std::string& text, Assignment* assignment, std::string* error) {
    assignment->text = text;
    const bool named = text.size() > 5 && text[0] == 'S' && text[4] == '=' &&
                       text.find_first_not_of("0123456789", 1) == 4;
    const RegisterRow* row = named ? FindRegister(std::atoi(text.substr(1, 3).c_str())) : nullptr;
    if (named && text.compare(5, 5, "next:") == 0) {
        if (row == nullptr || row->idForm == IdForm::None || text.size() == 10) {
            *error = "--set " + text +
                     ": only an ID register (S120 to S123, S130) takes the next ID of a counter "
                     "file, as S121=next:ids.txt";
            return false;
        }
        assignment->number = row->number;
        assignment->counter = text.substr(10);
        return true;
    }
    const SettingFile parsed = ParseSettingFile(text);
    if (!parsed.errors.empty() || parsed.records.size() != 1) {
        *error = "--set " + text + ": " +
                 (parsed.errors.empty() ? std::string("not SNNN=V") : parsed.errors.front().second);
        return false;
    }
    const SettingRecord& record = parsed.records.front();
    assignment->number = record.number;
    assignment->high = record.high;
    assignment->twoPart = record.twoPart;
    assignment->low = record.low;
    return true;
}

// Every option of the command line that the command does not take; empty when none.
std::string UnusedOption(const QCommandLineParser& parser, const Options& options,
                         Command command) {
    for (std::size_t i = 0; i < kOptionCount; ++i) {
        if ((kOptions[i].commands & Bit(command)) == 0 && parser.isSet(*options.byTable[i])) {
            const std::string names = kOptions[i].names;
            return "--" + names.substr(names.find(',') + 1) + " is not an option of " +
                   CommandName(command);
        }
    }
    return {};
}

bool Fail(CommandLine* line, const std::string& text) {
    line->kind = CommandLine::Kind::Usage;
    line->text = text;
    return false;
}

bool TakeFile(const QStringList& positional, const CommandRow& command, CommandLine* line) {
    const bool takesFile = command.command == Command::Write || command.command == Command::Diff ||
                           command.command == Command::Check;
    if (positional.size() > (takesFile ? 2 : 1)) {
        return Fail(line, "too many arguments for " + std::string(command.name));
    }
    line->request.file = positional.value(1).toStdString();
    if (command.command == Command::Diff && line->request.file.empty()) {
        return Fail(line, "diff takes one setting file");
    }
    return true;
}

bool TakePortsAndSeries(const QCommandLineParser& parser, const Options& options,
                        CommandLine* line) {
    Request& request = line->request;
    for (const QString& text : parser.values(options["port"])) {
        PortChoice port;
        std::string problem;
        if (!ParsePort(text.toStdString(), &port, &problem)) {
            return Fail(line, problem);
        }
        request.ports.push_back(port);
    }
    const bool talks = request.command != Command::Ports && request.command != Command::Check;
    if (talks && request.ports.empty()) {
        return Fail(line, "say which port with -p (\"zelkctl ports\" lists them)");
    }
    if (request.command != Command::Ports &&
        (!parser.isSet(options["series"]) ||
         !SeriesFromName(parser.value(options["series"]).toStdString().c_str(), &request.series))) {
        return Fail(line, std::string("say the module's product series with -s: ") + SeriesNames());
    }
    return true;
}

bool TakeLineSettings(const QCommandLineParser& parser, const Options& options, CommandLine* line) {
    Request& request = line->request;
    if (parser.isSet(options["baud"]) &&
        !ParseRate(parser.value(options["baud"]), &request.baudRate)) {
        return Fail(line, std::string("-b takes ") + BaudRateNames());
    }
    if (parser.isSet(options["format"]) &&
        !ParseFormat(parser.value(options["format"]), &request.format)) {
        return Fail(line, std::string("-f takes ") + FormatNames());
    }
    if (parser.isSet(options["ids"])) {
        request.idBytes = parser.value(options["ids"]).toInt();
        if (request.idBytes != 1 && request.idBytes != 2) {
            return Fail(line, "--ids takes 1 or 2");
        }
    }
    for (const QString& rate : parser.value(options["rates"]).split(',', Qt::SkipEmptyParts)) {
        uint32_t value = 0;
        if (!ParseRate(rate, &value)) {
            return Fail(line, "--rates: no rate \"" + rate.toStdString() + "\"; the rates are " +
                                  BaudRateNames());
        }
        request.rates.push_back(value);
    }
    for (const QString& format : parser.value(options["formats"]).split(',', Qt::SkipEmptyParts)) {
        uint8_t value = 0;
        if (!ParseFormat(format, &value)) {
            return Fail(line, "--formats: no format \"" + format.toStdString() +
                                  "\"; the formats are " + FormatNames());
        }
        request.formats.push_back(value);
    }
    return true;
}

// The factory rate first, then from the fastest down; every format, 8N1 (the factory
// format) first.
void DefaultScan(Request* request) {
    if (request->rates.empty()) {
        request->rates.push_back(9600);
        for (auto rate = std::rbegin(kComBaudRates); rate != std::rend(kComBaudRates); ++rate) {
            if (*rate != 9600) {
                request->rates.push_back(*rate);
            }
        }
    }
    if (request->formats.empty()) {
        for (int format = 0; format < kSerialFormatCount; ++format) {
            request->formats.push_back(static_cast<uint8_t>(format));
        }
    }
}

bool TakeAssignments(const QCommandLineParser& parser, const Options& options, CommandLine* line) {
    Request& request = line->request;
    int counters = 0;
    for (const QString& text : parser.values(options["set"])) {
        Assignment assignment;
        std::string error;
        if (!ParseAssignment(text.toStdString(), &assignment, &error)) {
            return Fail(line, error);
        }
        for (const Assignment& earlier : request.assignments) {
            if (earlier.number == assignment.number) {
                return Fail(line, "--set " + assignment.text + ": S" +
                                      std::to_string(assignment.number) +
                                      " is set twice (also --set " + earlier.text + ")");
            }
        }
        counters += assignment.counter.empty() ? 0 : 1;
        request.assignments.push_back(assignment);
    }
    if (counters > 1) {
        return Fail(line, "only one --set may take its value from a counter file");
    }
    if ((request.command == Command::Write || request.command == Command::Check) &&
        request.file.empty() && request.assignments.empty()) {
        return Fail(line, std::string(CommandName(request.command)) +
                              " needs a setting file or --set values");
    }
    return true;
}

bool TakeOutputs(const QCommandLineParser& parser, const Options& options, CommandLine* line) {
    Request& request = line->request;
    request.output = parser.value(options["output"]).toStdString();
    request.trace = parser.value(options["trace"]).toStdString();
    request.log = parser.value(options["log"]).toStdString();
    request.json = parser.isSet(options["json"]);
    request.withVersion = parser.isSet(options["with-version"]);
    request.verify = parser.isSet(options["verify"]);
    request.probe = parser.isSet(options["probe"]);
    request.quiet = parser.isSet(options["quiet"]);
    request.verbose = parser.isSet(options["verbose"]);
    if (request.quiet && request.verbose) {
        return Fail(line, "-q and -v say opposite things; give one");
    }
    if (request.ports.size() > 1) {
        for (const std::string& name : {request.output, request.trace}) {
            if (!name.empty() && name.find("{port}") == std::string::npos) {
                return Fail(line,
                            "with several ports, -o and --trace need {port} in the file name");
            }
        }
    }
    return true;
}

// Help asked for: "zelkctl help [COMMAND]", or --help with or without a command.
bool AnswerHelp(const QCommandLineParser& parser, const Options& options, CommandLine* line) {
    const QStringList positional = parser.positionalArguments();
    const bool asked = parser.isSet(options.help) || positional.value(0) == QLatin1String("help");
    if (!asked) {
        return false;
    }
    const std::string topic =
        positional.value(positional.value(0) == QLatin1String("help") ? 1 : 0).toStdString();
    const CommandRow* command = FindCommand(topic);
    if (!topic.empty() && command == nullptr) {
        Fail(line, "no command \"" + topic + "\" to help with");
        return true;
    }
    line->kind = CommandLine::Kind::Help;
    line->text = command != nullptr ? CommandHelp(*command) : GeneralHelp();
    return true;
}

}  // namespace

const char* CommandName(Command command) {
    for (const CommandRow& row : kCommands) {
        if (row.command == command) {
            return row.name;
        }
    }
    return "";
}

std::string ForPort(const std::string& name, const PortChoice& port) {
    std::string shortName =
        port.device.empty()
            ? port.label
            : QFileInfo(QString::fromStdString(port.device)).fileName().toStdString();
    // A network port's host and port, in characters that every file system takes.
    NetworkPortName network;
    std::string problem;
    if (IsNetworkPortName(port.device) && ParseNetworkPortName(port.device, &network, &problem)) {
        shortName = network.host + "-" + std::to_string(network.port);
        for (char& c : shortName) {
            c = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' ? c : '_';
        }
    }
    std::string result = name;
    for (std::size_t at = result.find("{port}"); at != std::string::npos;
         at = result.find("{port}", at + shortName.size())) {
        result.replace(at, 6, shortName);
    }
    return result;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    Options options;
    AddOptions(parser, options);
    QStringList words;
    for (const std::string& argument : arguments) {
        words << QString::fromStdString(argument);
    }
    CommandLine line;
    if (!parser.parse(words)) {
        Fail(&line, parser.errorText().toStdString());
        return line;
    }
    if (AnswerHelp(parser, options, &line)) {
        return line;
    }
    if (parser.isSet(options.version)) {
        line.kind = CommandLine::Kind::Version;
        return line;
    }
    const std::string name = parser.positionalArguments().value(0).toStdString();
    const CommandRow* command = FindCommand(name);
    if (command == nullptr) {
        Fail(&line, name.empty() ? "say which command to run" : "unknown command \"" + name + "\"");
        return line;
    }
    line.request.command = command->command;
    const std::string unused = UnusedOption(parser, options, command->command);
    if (!unused.empty()) {
        Fail(&line, unused);
        return line;
    }
    if (TakeFile(parser.positionalArguments(), *command, &line) &&
        TakePortsAndSeries(parser, options, &line) && TakeLineSettings(parser, options, &line) &&
        TakeAssignments(parser, options, &line) && TakeOutputs(parser, options, &line)) {
        DefaultScan(&line.request);
        line.kind = CommandLine::Kind::Run;
    }
    return line;
}
