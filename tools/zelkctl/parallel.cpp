#include "tools/zelkctl/parallel.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryFile>
#include <csignal>
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <io.h>
#define ZELK_ISATTY(stream) _isatty(_fileno(stream))
#else
#include <unistd.h>
#define ZELK_ISATTY(stream) isatty(fileno(stream))
#endif

#include "tools/zelkctl/interrupt.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/plan.h"

namespace {

struct Child {
    const PortChoice* port = nullptr;
    std::unique_ptr<QProcess> process;
    QByteArray pending[2];  // what came on stdout and stderr after the last line end
    int status = -1;
};

// Every argument as given, but one port, and the port's own file names.
QStringList ChildArguments(const std::vector<std::string>& arguments, const PortChoice& port) {
    QStringList list;
    for (std::size_t a = 1; a < arguments.size(); ++a) {
        const std::string& argument = arguments[a];
        if (argument == "-p" || argument == "--port") {
            ++a;
            continue;
        }
        // "--port=X" and "-pX" carry their value themselves.
        if (argument.starts_with("--port=") ||
            (argument.starts_with("-p") && argument.size() > 2 && !argument.starts_with("--"))) {
            continue;
        }
        list << QString::fromStdString(ForPort(argument, port));
    }
    return list << QStringLiteral("--port") << QString::fromStdString(port.text);
}

void Start(Child& child, const std::vector<std::string>& arguments, const QString& input) {
    child.process = std::make_unique<QProcess>();
    // A child that still saw several ports would start children of its own, without end.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELKCTL_ONE_PORT"), QStringLiteral("1"));
    child.process->setProcessEnvironment(environment);
    child.process->setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    child.process->start(QCoreApplication::applicationFilePath(),
                         ChildArguments(arguments, *child.port));
}

// Passes on the child's whole lines (all of it once it has ended): results on stdout with
// the port in front (JSON lines as they are), its stderr lines, which name their port.
void PassOn(Child& child, int channel, bool all, bool json, bool progress) {
    QProcess& process = *child.process;
    process.setReadChannel(channel == 0 ? QProcess::StandardOutput : QProcess::StandardError);
    QByteArray& pending = child.pending[channel];
    pending += process.readAll();
    qsizetype end = 0;
    while ((end = pending.indexOf('\n')) >= 0 || (all && !pending.isEmpty())) {
        const QByteArray line = end >= 0 ? pending.left(end) : pending;
        pending.remove(0, end >= 0 ? end + 1 : line.size());
        const std::string prefix = channel == 0 && !json ? child.port->label + ": " : "";
        std::fprintf(channel == 0 ? stdout : stderr, "%s%s%s\n", progress ? "\r\033[K" : "",
                     prefix.c_str(), line.constData());
    }
}

// On Windows the children share the console and get its Ctrl+C, Ctrl+Break and closing
// themselves; without a console there is nothing to pass on.
#ifndef _WIN32
void PassStopOn(std::vector<Child>& children, int* passed) {
    if (StopSignal() == 0 || StopSignal() == *passed) {
        return;
    }
    *passed = StopSignal();
    for (Child& child : children) {
        if (child.status < 0 && child.process->processId() > 0) {
            ::kill(static_cast<pid_t>(child.process->processId()), *passed);
        }
    }
}
#endif

int Summary(const std::vector<Child>& children, bool progress) {
    int status = kExitDone;
    std::size_t failed = 0;
    std::string failures;
    for (const Child& child : children) {
        if (child.status != kExitDone) {
            failures += (failed++ == 0 ? "" : ", ") + child.port->label + " (exit " +
                        std::to_string(child.status) + ")";
            status = status == kExitDone ? child.status : status;
        }
    }
    if (progress) {
        std::fprintf(stderr, "\r\033[K");
    }
    const std::string summary = std::to_string(children.size()) +
                                " ports: " + std::to_string(children.size() - failed) + " done" +
                                (failed == 0 ? "" : ", failed: " + failures);
    if (failed == 0) {
        Say(summary);
    } else {
        Warn(summary);
    }
    return StopSignal() != 0 ? StopStatus() : status;
}

}  // namespace

int RunOnEveryPort(const Request& request, const std::vector<std::string>& arguments) {
    BeginOutput(request, "");
    if (qEnvironmentVariableIsSet("ZELKCTL_ONE_PORT")) {
        return EndOutput(Failure(kExitUsage, "a port of several was given more than one port"));
    }
    Plan plan;
    const int status = CheckRequest(request, &plan);
    if (status != kExitDone) {
        return EndOutput(status);
    }
    // Each port's process gets a copy of what standard input held.
    QTemporaryFile input;
    if (request.file == "-") {
        if (!input.open() ||
            input.write(plan.standardInput.data(), qint64(plan.standardInput.size())) < 0 ||
            !input.flush()) {
            return EndOutput(Failure(kExitFile, "cannot keep standard input for the ports: " +
                                                    input.errorString().toStdString()));
        }
    }
    std::vector<Child> children(request.ports.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        children[i].port = &request.ports[i];
        Start(children[i], arguments, request.file == "-" ? input.fileName() : QString());
    }
    const bool progress = ZELK_ISATTY(stderr) != 0 && !request.quiet;
    std::size_t finished = 0;
    int passed = 0;
    while (finished < children.size()) {
#ifndef _WIN32
        PassStopOn(children, &passed);
#endif
        for (Child& child : children) {
            if (child.status >= 0) {
                continue;
            }
            const bool done = child.process->waitForFinished(20);
            PassOn(child, 0, done, request.json, progress);
            PassOn(child, 1, done, request.json, progress);
            if (done) {
                child.status = child.process->exitStatus() == QProcess::NormalExit
                                   ? child.process->exitCode()
                                   : 128 + (passed != 0 ? passed : SIGTERM);
                ++finished;
            }
        }
        if (progress) {
            std::fprintf(stderr, "\r\033[K%zu of %zu ports finished", finished, children.size());
            std::fflush(stderr);
        }
        std::fflush(stdout);
    }
    return Summary(children, progress);
}
