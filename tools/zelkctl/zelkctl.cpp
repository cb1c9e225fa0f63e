#include "tools/zelkctl/zelkctl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <io.h>
#define ZELK_ISATTY(stream) _isatty(_fileno(stream))
#else
#include <unistd.h>
#define ZELK_ISATTY(stream) isatty(fileno(stream))
#endif

#include "core/link/connection.h"
#include "core/product/series.h"
#include "runtime/serial/rs232.h"
#include "tools/zelkctl/commands.h"

namespace {

const char kHelp[] =
    "Usage: zelkctl COMMAND [options]\n"
    "\n"
    "Configures Zelk Series RF modules from a shell: the same exchanges as the ZelkConfig\n"
    "window, byte for byte and wait for wait.\n"
    "\n"
    "Commands:\n"
    "  ports              list the serial ports with their COM numbers, devices, USB\n"
    "                     descriptions and IDs, and whether you can open them (if not:\n"
    "                     why, and what to do)\n"
    "  version            print the module's firmware version\n"
    "  read               print the module's settings in the layout of the window's\n"
    "                     setting files (or as JSON with --json)\n"
    "  write [FILE]       write a setting file (as the window saves them, or hand-made)\n"
    "                     and the --set values over it into the module; without FILE the\n"
    "                     --set values go over what the module holds now. Registers the\n"
    "                     file and --set leave open are first read from the module.\n"
    "  diff FILE          print one line per register that differs between the module and\n"
    "                     FILE (\"S110: module 3, file 5\"); registers the module does not\n"
    "                     list are not compared\n"
    "  detect             find the module's serial rate and format by trying the escape at\n"
    "                     each rate the window offers, 8N1 first and 9600 bit/s first; each\n"
    "                     try that gets no answer takes about 3.7 s (4.3 s at 300 bit/s),\n"
    "                     so the 8N1 rates take about 40 s and all 80 rates and formats\n"
    "                     about 5 minutes (--rates and --formats shorten the scan)\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT    COM1 to COM12 (or 1 to 12) as the window numbers them, or a\n"
    "                     device path such as /dev/ttyUSB0; repeat it to run the command on\n"
    "                     several ports at once (output lines then start with the port)\n"
    "  -s, --series NAME  the module's product series: T1a, T1b, T2a, T2b, M5, K8 or R3\n"
    "                     (needed by every command that talks to the module)\n"
    "  -b, --baud RATE    the port's rate: 300, 600, 1200, 2400, 4800, 9600 (default),\n"
    "                     19200, 38400, 57600 or 115200\n"
    "  -f, --format FMT   the port's format: 8N1 (default), 8O1, 8E1, 8N2, 7N1, 7O1, 7E1\n"
    "                     or 7N2\n"
    "      --ids N        1 or 2: one-byte or two-byte IDs (S121, S122, S123, S130 in one\n"
    "                     or two parts); by default as the file or the module has them\n"
    "  -o, --output FILE  read: write the setting file to FILE (replaced only once it is\n"
    "                     whole) instead of printing it\n"
    "      --json         read, ports: JSON (IDs as \"192.168\"); read lists only the\n"
    "                     registers the module listed\n"
    "      --with-version read: ask for the firmware version too\n"
    "      --set SNNN=V   write: set register NNN to V (\"S121=10.20\" for two parts);\n"
    "                     may be repeated\n"
    "      --verify       write: read the module back and compare every register written\n"
    "      --rates LIST   detect: the rates to try, such as 9600,19200\n"
    "      --formats LIST detect: the formats to try, such as 8N1,8E1\n"
    "      --trace FILE   write every byte sent and received, with its instant in ms and\n"
    "                     the step it belongs to, to FILE: the text to send when asking for\n"
    "                     help\n"
    "  -h, --help         show this text\n"
    "      --version      show zelkctl's own version\n"
    "\n"
    "With several ports, -o and --trace need {port} in the file name, which becomes the\n"
    "port (COM3, ttyUSB0).\n"
    "\n"
    "Every value is checked against what the series offers before a byte is sent.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  differences found (diff, write --verify)\n"
    "  2  usage: a wrong command line, or a value the series does not offer\n"
    "  3  the port cannot be opened (the system's reason is printed)\n"
    "  4  no command mode: no \">\" after the escape (check rate, format, series, power,\n"
    "     wiring)\n"
    "  5  the module did not acknowledge a register (it and the registers already\n"
    "     written are named: the module now holds a mix)\n"
    "  6  a file cannot be read or written\n"
    "  7  the device went away during the exchange\n"
    "  8  a reply did not come whole\n"
    "With several ports: the status of the first port, in the order given, that failed.\n"
    "\n"
    "Example:\n"
    "  zelkctl read -p COM1 -s T1b -o saved.txt\n"
    "  zelkctl write saved.txt -p /dev/ttyUSB0 -s T1b --set S111=7 --verify\n";

void Usage(const std::string& text) {
    std::fprintf(stderr, "zelkctl: %s (see zelkctl --help)\n", text.c_str());
}

bool ParsePort(const QString& text, PortChoice* port) {
    QString number = text;
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
    if (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\'))) {
        port->comPort = 1;  // the slot the device is held in
        port->device = text.toStdString();
        port->label = port->device;
        return true;
    }
    return false;
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

// The file name for one of several ports: {port} becomes the port's short name.
QString ForPort(QString name, const PortChoice& port) {
    const QString shortName = port.device.empty()
                                  ? QString::fromStdString(port.label)
                                  : QFileInfo(QString::fromStdString(port.device)).fileName();
    return name.replace(QLatin1String("{port}"), shortName);
}

// Runs the same command line once per port, in parallel, each in a process of its own (the
// exchanges hold their state in program-wide records). Output lines start with the port.
int RunOnEveryPort(const QStringList& arguments, const std::vector<PortChoice>& ports,
                   const QStringList& portTexts) {
    struct Child {
        PortChoice port;
        std::unique_ptr<QProcess> process;
        QByteArray output[2];
        int status = -1;
    };
    std::vector<Child> children(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        QStringList childArguments;
        // Every argument as given, but one port, and the port's own file names.
        for (qsizetype a = 1; a < arguments.size(); ++a) {
            const QString& argument = arguments[a];
            if (argument == QLatin1String("-p") || argument == QLatin1String("--port")) {
                ++a;
                continue;
            }
            // "--port=X" and "-pX" carry their value themselves.
            if (argument.startsWith(QLatin1String("--port=")) ||
                (argument.startsWith(QLatin1String("-p")) && argument.size() > 2)) {
                continue;
            }
            childArguments << ForPort(argument, ports[i]);
        }
        childArguments << QStringLiteral("--port") << portTexts[static_cast<qsizetype>(i)];
        children[i].port = ports[i];
        children[i].process = std::make_unique<QProcess>();
        // A child that still saw several ports would start children of its own, without end.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZELKCTL_ONE_PORT"), QStringLiteral("1"));
        children[i].process->setProcessEnvironment(environment);
        children[i].process->start(QCoreApplication::applicationFilePath(), childArguments);
    }

    const bool progress = ZELK_ISATTY(stderr) != 0;
    std::size_t finished = 0;
    const auto pass = [progress](Child& child, int channel, bool all) {
        QProcess& process = *child.process;
        process.setReadChannel(channel == 0 ? QProcess::StandardOutput : QProcess::StandardError);
        child.output[channel] += process.readAll();
        qsizetype end = 0;
        while ((end = child.output[channel].indexOf('\n')) >= 0 ||
               (all && !child.output[channel].isEmpty())) {
            const QByteArray line =
                end >= 0 ? child.output[channel].left(end) : child.output[channel];
            child.output[channel].remove(0, end >= 0 ? end + 1 : line.size());
            std::fprintf(channel == 0 ? stdout : stderr, "%s%s: %s\n", progress ? "\r\033[K" : "",
                         child.port.label.c_str(), line.constData());
        }
    };
    while (finished < children.size()) {
        for (Child& child : children) {
            if (child.status >= 0) {
                continue;
            }
            const bool done = child.process->waitForFinished(20);
            pass(child, 0, done);
            pass(child, 1, done);
            if (done) {
                child.status = child.process->exitStatus() == QProcess::NormalExit
                                   ? child.process->exitCode()
                                   : kExitUsage;
                ++finished;
            }
        }
        if (progress) {
            std::fprintf(stderr, "\r\033[K%zu of %zu ports finished", finished, children.size());
            std::fflush(stderr);
        }
        std::fflush(stdout);
    }

    int status = kExitDone;
    std::size_t failed = 0;
    std::string failures;
    for (const Child& child : children) {
        if (child.status != kExitDone) {
            failures += (failed++ == 0 ? "" : ", ") + child.port.label + " (exit " +
                        std::to_string(child.status) + ")";
            status = status == kExitDone ? child.status : status;
        }
    }
    std::fprintf(stderr, "%szelkctl: %zu ports: %zu done%s%s\n", progress ? "\r\033[K" : "",
                 children.size(), children.size() - failed,
                 failed == 0 ? "" : ", failed: ", failures.c_str());
    return status;
}

int Run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption portOption({"p", "port"}, "", "PORT");
    const QCommandLineOption seriesOption({"s", "series"}, "", "NAME");
    const QCommandLineOption baudOption({"b", "baud"}, "", "RATE");
    const QCommandLineOption formatOption({"f", "format"}, "", "FMT");
    const QCommandLineOption idsOption("ids", "", "N");
    const QCommandLineOption outputOption({"o", "output"}, "", "FILE");
    const QCommandLineOption jsonOption("json", "");
    const QCommandLineOption withVersionOption("with-version", "");
    const QCommandLineOption setOption("set", "", "SNNN=V");
    const QCommandLineOption verifyOption("verify", "");
    const QCommandLineOption ratesOption("rates", "", "LIST");
    const QCommandLineOption formatsOption("formats", "", "LIST");
    const QCommandLineOption traceOption("trace", "", "FILE");
    const QCommandLineOption helpOption({"h", "help"}, "");
    const QCommandLineOption versionOption("version", "");
    parser.addOptions({portOption, seriesOption, baudOption, formatOption, idsOption, outputOption,
                       jsonOption, withVersionOption, setOption, verifyOption, ratesOption,
                       formatsOption, traceOption, helpOption, versionOption});
    if (!parser.parse(arguments)) {
        Usage(parser.errorText().toStdString());
        return kExitUsage;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(kHelp, stdout);
        return kExitDone;
    }
    if (parser.isSet(versionOption)) {
        std::printf("zelkctl %s\n", ZELK_VERSION);
        return kExitDone;
    }

    const QStringList positional = parser.positionalArguments();
    Request request;
    request.command = positional.value(0).toStdString();
    const bool takesFile = request.command == "write" || request.command == "diff";
    const bool known = request.command == "ports" || request.command == "version" ||
                       request.command == "read" || takesFile || request.command == "detect";
    if (!known) {
        Usage(request.command.empty() ? "say which command to run"
                                      : "unknown command \"" + request.command + "\"");
        return kExitUsage;
    }
    if (positional.size() > (takesFile ? 2 : 1) ||
        (request.command == "diff" && positional.size() < 2)) {
        Usage(request.command == "diff" ? "diff takes one setting file"
                                        : "too many arguments for " + request.command);
        return kExitUsage;
    }
    request.file = positional.value(1).toStdString();
    if (request.command == "ports") {
        return ListPorts(parser.isSet(jsonOption));
    }
    if (request.command == "write" && request.file.empty() && !parser.isSet(setOption)) {
        Usage("write needs a setting file or --set values");
        return kExitUsage;
    }

    const QStringList portTexts = parser.values(portOption);
    std::vector<PortChoice> ports;
    for (const QString& text : portTexts) {
        PortChoice port;
        if (!ParsePort(text, &port)) {
            Usage("no port \"" + text.toStdString() + "\": give COM1 to COM12 or a device path");
            return kExitUsage;
        }
        ports.push_back(port);
    }
    if (ports.empty()) {
        Usage("say which port with -p (\"zelkctl ports\" lists them)");
        return kExitUsage;
    }
    if (!parser.isSet(seriesOption) ||
        !SeriesFromName(parser.value(seriesOption).toStdString().c_str(), &request.series)) {
        Usage("say the module's product series with -s: T1a, T1b, T2a, T2b, M5, K8 or R3");
        return kExitUsage;
    }
    if (parser.isSet(baudOption) && !ParseRate(parser.value(baudOption), &request.baudRate)) {
        Usage("-b takes 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200");
        return kExitUsage;
    }
    if (parser.isSet(formatOption) && !ParseFormat(parser.value(formatOption), &request.format)) {
        Usage("-f takes 8N1, 8O1, 8E1, 8N2, 7N1, 7O1, 7E1 or 7N2");
        return kExitUsage;
    }
    if (parser.isSet(idsOption)) {
        request.idBytes = parser.value(idsOption).toInt();
        if (request.idBytes != 1 && request.idBytes != 2) {
            Usage("--ids takes 1 or 2");
            return kExitUsage;
        }
    }
    for (const QString& rate : parser.value(ratesOption).split(',', Qt::SkipEmptyParts)) {
        uint32_t value = 0;
        if (!ParseRate(rate, &value)) {
            Usage("--rates: no rate \"" + rate.toStdString() + "\"");
            return kExitUsage;
        }
        request.rates.push_back(value);
    }
    for (const QString& format : parser.value(formatsOption).split(',', Qt::SkipEmptyParts)) {
        uint8_t value = 0;
        if (!ParseFormat(format, &value)) {
            Usage("--formats: no format \"" + format.toStdString() + "\"");
            return kExitUsage;
        }
        request.formats.push_back(value);
    }
    if (request.rates.empty()) {
        // The factory rate first, then from the fastest down.
        request.rates.push_back(9600);
        for (auto rate = std::rbegin(kComBaudRates); rate != std::rend(kComBaudRates); ++rate) {
            if (*rate != 9600) {
                request.rates.push_back(*rate);
            }
        }
    }
    if (request.formats.empty()) {  // all of them, 8N1 (the factory format) first
        for (int format = 0; format < kSerialFormatCount; ++format) {
            request.formats.push_back(static_cast<uint8_t>(format));
        }
    }
    request.output = parser.value(outputOption).toStdString();
    request.json = parser.isSet(jsonOption);
    request.withVersion = parser.isSet(withVersionOption);
    request.verify = parser.isSet(verifyOption);
    for (const QString& assignment : parser.values(setOption)) {
        request.assignments.push_back(assignment.toStdString());
    }

    const QString trace = parser.value(traceOption);
    if (ports.size() > 1) {
        if (qEnvironmentVariableIsSet("ZELKCTL_ONE_PORT")) {
            Usage("a port of several was given more than one port");
            return kExitUsage;
        }
        for (const QString& name : {parser.value(outputOption), trace}) {
            if (!name.isEmpty() && !name.contains(QLatin1String("{port}"))) {
                Usage("with several ports, -o and --trace need {port} in the file name");
                return kExitUsage;
            }
        }
        return RunOnEveryPort(arguments, ports, portTexts);
    }
    request.port = ports.front();
    if (!trace.isEmpty() && ComTraceTo(trace.toLocal8Bit().constData()) != 0) {
        std::fprintf(stderr, "zelkctl: cannot write the trace %s\n", trace.toLocal8Bit().data());
        return kExitFile;
    }
    const int status = RunPortCommand(request);
    ComTraceTo("");
    return status;
}

}  // namespace

int RunZelkctl(int argc, char** argv) {
    // QtCore only: the port, the files and the child processes need no window system.
    std::unique_ptr<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return Run(arguments);
}
