#include "tools/zelkctl/output.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/product/series.h"
#include "tools/zelkctl/log_file.h"

namespace {

struct State {
    std::string label;
    bool json = false;
    bool quiet = false;
    std::string log;
    QJsonObject result;
    std::string error;
    int stdoutError = 0;  // errno of the first failed write to stdout
};
State state;

void Line(const char* kind, const std::string& text) {
    std::string line = "zelkctl: ";
    if (!state.label.empty()) {
        line += state.label + ": ";
    }
    std::fprintf(stderr, "%s%s%s\n", line.c_str(), kind, text.c_str());
    std::fflush(stderr);
}

void WriteStdout(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        if (state.stdoutError == 0) {
            state.stdoutError = errno != 0 ? errno : EIO;
        }
    }
}

}  // namespace

void BeginOutput(const Request& request, const std::string& label) {
    state = State{};
    state.label = label;
    state.json = request.json;
    state.quiet = request.quiet;
    state.log = request.log;
    state.result[QStringLiteral("schema")] = kJsonSchema;
    state.result[QStringLiteral("command")] = QString::fromLatin1(CommandName(request.command));
    if (!label.empty()) {
        state.result[QStringLiteral("port")] = QString::fromStdString(label);
    }
    if (request.command != Command::Ports) {
        state.result[QStringLiteral("series")] =
            QString::fromLatin1(ProfileOf(request.series).shortName);
    }
}

void Say(const std::string& text) {
    if (!state.quiet) {
        Line("", text);
    }
}

void Warn(const std::string& text) {
    Line("warning: ", text);
}

int Failure(int status, const std::string& text) {
    Line("", text);
    if (state.error.empty()) {
        state.error = text;
    }
    return status;
}

void Print(const std::string& text) {
    if (!state.json) {
        WriteStdout(text);
    }
}

QJsonObject& Result() {
    return state.result;
}

int EndOutput(int status) {
    state.result[QStringLiteral("exit")] = status;
    if (!state.error.empty()) {
        state.result[QStringLiteral("error")] = QString::fromStdString(state.error);
    }
    const std::string line =
        QJsonDocument(state.result).toJson(QJsonDocument::Compact).toStdString();
    if (state.json) {
        WriteStdout(line + "\n");
    }
    int ended = status;
    if (!state.log.empty()) {
        QJsonObject logged = state.result;
        logged[QStringLiteral("time")] =
            QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        std::string error;
        if (!AppendLogLine(state.log,
                           QJsonDocument(logged).toJson(QJsonDocument::Compact).toStdString(),
                           &error)) {
            Line("", "cannot add to the log: " + error);
            ended = status == kExitDone ? kExitFile : status;
        }
    }
    if (state.stdoutError != 0) {
        Line("",
             std::string("cannot write to standard output: ") + std::strerror(state.stdoutError));
        ended = status == kExitDone ? kExitFile : status;
    }
    return ended;
}
