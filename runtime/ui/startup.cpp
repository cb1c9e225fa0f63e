// Start-up and the display: the runtime's records, starting Qt with the program's
// arguments, and one line instead of Qt's abort when no window system can be reached.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

Runtime& State() {
    // Never destroyed: a program that ends without CloseUserInterface would otherwise tear
    // down its QApplication after Qt's own globals are gone.
    static Runtime* runtime = new Runtime;
    return *runtime;
}

namespace {

// Starting without a display. Qt ends the process with an abort and a page of its own
// messages when no window system can be reached; a person who started the program from a
// terminal or a service needs one line that says what is missing instead.
QString startingProgram;

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;

void SayNoDisplay(const QString& reason) {
    QString line = reason.trimmed();
    line.replace(QLatin1Char('\n'), QLatin1String("; "));
    const QByteArray text =
        (startingProgram + QLatin1String(": a graphical session is needed: ") + line).toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}

// Without an explicit platform, the window systems Qt tries on Linux and the BSDs are X11
// and Wayland; with neither announced, there is nothing to try. Elsewhere the platform's
// own window system is always there.
bool DisplayMayBeThere(const std::vector<std::string>& arguments) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    for (const std::string& argument : arguments) {
        if (argument == "-platform" || argument == "--platform") {
            return true;
        }
    }
    for (const char* variable :
         {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        if (!qEnvironmentVariableIsEmpty(variable)) {
            return true;
        }
    }
    // A Wayland session may leave the compositor's socket to its default name.
    return qEnvironmentVariable("XDG_SESSION_TYPE")
               .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
#else
    (void)arguments;
    return true;
#endif
}

// Installed only while QApplication starts. Qt's fatal message is its last word before
// it aborts: nothing of the program has started yet, so the process ends there as a
// failed start does, with status -1 and the first reason Qt gave.
void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        QString reason = text.section(QLatin1Char('\n'), 0, 0);
        for (const HeldMessage& held : heldMessages) {
            if (held.type == QtWarningMsg || held.type == QtCriticalMsg) {
                reason = held.text;
                break;
            }
        }
        SayNoDisplay(reason);
        std::_Exit(255);
    }
    heldMessages.push_back({type, QByteArray(context.category), text});
}

// Starts QApplication with the fatal message caught; Qt's other messages of the start go
// out afterwards, as they would have.
void StartApplication(Runtime& runtime) {
    const QtMessageHandler previous = qInstallMessageHandler(HoldStartupMessage);
    runtime.application = std::make_unique<QApplication>(runtime.argc, runtime.argv.data());
    qInstallMessageHandler(previous);
    for (const HeldMessage& held : heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.constData());
        qt_message_output(held.type, context, held.text);
    }
    heldMessages.clear();
}

}  // namespace

}  // namespace ui_runtime

using namespace ui_runtime;

int InitUserInterface(int argc, char** argv) {
    Runtime& runtime = State();
    runtime.quitRequested = false;
    if (QApplication::instance() != nullptr) {
        return 1;
    }
    if (argc < 0 || (argc > 0 && argv == nullptr)) {
        return 0;
    }
    runtime.arguments.assign(argv, argv + argc);
    runtime.argv.clear();
    for (std::string& argument : runtime.arguments) {
        runtime.argv.push_back(argument.data());
    }
    runtime.argv.push_back(nullptr);
    runtime.argc = argc;
    startingProgram = argc > 0 ? QFileInfo(QFile::decodeName(argv[0])).fileName() : QString();
    if (!DisplayMayBeThere(runtime.arguments)) {
        SayNoDisplay(QStringLiteral("no display is set (neither DISPLAY nor WAYLAND_DISPLAY)"));
        return 0;
    }
    StartApplication(runtime);
    // The program ends when its quit control says so, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);
    return 1;
}

void CloseUserInterface() {
    Runtime& runtime = State();
    if (runtime.waitCursor) {
        QApplication::restoreOverrideCursor();
        runtime.waitCursor = false;
    }
    for (auto& [handle, panel] : runtime.panels) {
        delete panel->window;
    }
    runtime.panels.clear();
    if (runtime.application) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime.application.reset();
    }
}
