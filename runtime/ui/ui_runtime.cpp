// The user-interface operations over Qt Widgets: panels, control values and attributes,
// list items, event dispatch, the program's directory, tooltips and the busy cursor.
#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QSpinBox>
#include <QStandardPaths>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

Runtime& State() {
    // Never destroyed: a program that ends without CloseUserInterface would otherwise tear
    // down its QApplication after Qt's own globals are gone.
    static Runtime* runtime = new Runtime;
    return *runtime;
}

Panel* FindPanel(int handle) {
    auto& panels = State().panels;
    const auto found = panels.find(handle);
    return found == panels.end() ? nullptr : found->second.get();
}

Control* FindControl(int panel, int control, int* error) {
    if (QApplication::instance() == nullptr) {
        *error = UIE_NOT_INITIALISED;
        return nullptr;
    }
    Panel* found = FindPanel(panel);
    if (found == nullptr) {
        *error = UIE_BAD_PANEL;
        return nullptr;
    }
    const auto entry = found->controls.find(control);
    if (entry == found->controls.end()) {
        *error = UIE_BAD_CONTROL;
        return nullptr;
    }
    *error = UIE_NO_ERROR;
    return &entry->second;
}

void CommitControl(int panel, int control) {
    int error = 0;
    const Control* target = FindControl(panel, control, &error);
    if (target == nullptr || target->callback == nullptr) {
        return;
    }
    const CtrlCallbackPtr callback = target->callback;
    Runtime& runtime = State();
    if (runtime.waiting) {
        runtime.heldCommits.emplace_back(panel, control);
        return;
    }
    ++runtime.dispatchDepth;
    callback(panel, control, EVENT_COMMIT, nullptr, 0, 0);
    --runtime.dispatchDepth;
}

void ApplyVisible(Control& control, bool visible) {
    control.visible = visible;
    control.body->setHidden(!visible);
    if (control.label != nullptr) {
        control.label->setHidden(!visible);
    }
}

void ApplyDimmed(Control& control, bool dimmed) {
    control.dimmed = dimmed;
    control.body->setEnabled(!dimmed);
    if (control.label != nullptr) {
        control.label->setEnabled(!dimmed);
    }
}

namespace {

// Asks the control's tooltip provider just before the tooltip appears.
class ToolTipFilter : public QObject {
  public:
    ToolTipFilter(int panel, int control, QObject* parent)
        : QObject(parent), panel_(panel), control_(control) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            int error = 0;
            const Control* control = FindControl(panel_, control_, &error);
            if (control != nullptr && control->toolTip != nullptr) {
                const char* text = control->toolTip();
                static_cast<QWidget*>(watched)->setToolTip(
                    text == nullptr ? QString() : QString::fromUtf8(text));
            }
        }
        return false;  // the widget shows its (now fresh) tooltip itself
    }

  private:
    int panel_;
    int control_;
};

// The value a control holds, whatever its data type; false for kinds without a value or a
// list without items.
bool ReadValue(const Control& control, long long* value) {
    switch (control.kind) {
        case Kind::Numeric:
            *value = static_cast<const QSpinBox*>(control.body)->value();
            return true;
        case Kind::Ring: {
            const auto* list = static_cast<const QComboBox*>(control.body);
            if (list->currentIndex() < 0) {
                return false;
            }
            *value = list->currentData().toLongLong();
            return true;
        }
        case Kind::ToggleButton:
            *value = static_cast<const QAbstractButton*>(control.body)->isChecked() ? 1 : 0;
            return true;
        case Kind::Led:
            *value = static_cast<const LedLamp*>(control.body)->isOn() ? 1 : 0;
            return true;
        default:
            return false;
    }
}

template <typename Value>
int GetTypedValue(int panel, int control, Value* value, DataType wanted) {
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    if (found->dataType == DataType::None) {
        return UIE_WRONG_KIND;
    }
    if (found->dataType != wanted) {
        return UIE_TYPE_MISMATCH;
    }
    long long held = 0;
    if (!ReadValue(*found, &held)) {
        return UIE_BAD_VALUE;
    }
    *value = static_cast<Value>(held);
    return UIE_NO_ERROR;
}

Control* FindList(int panel, int control, int* error) {
    Control* found = FindControl(panel, control, error);
    if (found != nullptr && found->kind != Kind::Ring) {
        *error = UIE_WRONG_KIND;
        return nullptr;
    }
    return found;
}

// The panel file a relative name stands for: the first of the panel directories, each
// relative to the program's own, that holds it. Empty when none does, with the reason
// naming every place looked in. An absolute name is taken as it is.
QString FindPanelFile(const QString& name, std::string& reason) {
    if (!QFileInfo(name).isRelative()) {
        return name;
    }
    const QDir program(QCoreApplication::applicationDirPath());
    std::vector<std::string> directories = State().panelDirectories;
    if (directories.empty()) {
        directories.emplace_back(".");
    }
    QStringList looked;
    for (const std::string& directory : directories) {
        const QString path = QDir::cleanPath(
            QDir(program.filePath(QString::fromStdString(directory))).filePath(name));
        if (QFileInfo::exists(path)) {
            return path;
        }
        looked << path;
    }
    // One place: the system's own words for it, as when the file cannot be opened.
    if (looked.size() == 1) {
        return looked.front();
    }
    for (QString& path : looked) {
        path = QDir::toNativeSeparators(path);
    }
    reason = QStringLiteral("cannot find %1: looked for %2")
                 .arg(name, looked.join(QLatin1String(", ")))
                 .toStdString();
    return QString();
}

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
    const QtMessageHandler previous = qInstallMessageHandler(HoldStartupMessage);
    runtime.application = std::make_unique<QApplication>(runtime.argc, runtime.argv.data());
    qInstallMessageHandler(previous);
    // Qt started after all: what it had to say goes out as it would have.
    for (const HeldMessage& held : heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.constData());
        qt_message_output(held.type, context, held.text);
    }
    heldMessages.clear();
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

void RegisterCallback(const char* name, CtrlCallbackPtr callback) {
    if (name == nullptr) {
        return;
    }
    if (callback == nullptr) {
        State().callbacks.erase(name);
    } else {
        State().callbacks[name] = callback;
    }
}

void RegisterPanelControls(int panelId, const PanelControl* controls, std::size_t count) {
    std::vector<Runtime::Expected>& expected = State().expected[panelId];
    expected.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const PanelControl& control = controls[i];
        RegisterCallback(control.callbackName, control.callback);
        expected.push_back({control.id, QString::fromUtf8(control.constant), control.kind,
                            control.dataType, QString::fromUtf8(control.callbackName)});
    }
}

int LoadPanel(int parent, const char* fileName, int panelId) {
    Runtime& runtime = State();
    runtime.loadError.clear();
    if (QApplication::instance() == nullptr) {
        runtime.loadError = "the user interface is not initialised";
        return UIE_NOT_INITIALISED;
    }
    if (parent != 0) {
        runtime.loadError = "panels inside other panels are not supported";
        return UIE_BAD_PANEL;
    }
    if (fileName == nullptr || *fileName == '\0') {
        runtime.loadError = "no panel file named";
        return UIE_PANEL_FILE;
    }
    const QString path = FindPanelFile(QFile::decodeName(fileName), runtime.loadError);
    if (path.isEmpty()) {
        return UIE_PANEL_FILE;
    }
    auto panel = std::make_unique<Panel>();
    panel->handle = runtime.nextHandle;
    panel->window = new PanelWindow(panel->handle);
    panel->surface = panel->window->surface();
    panel->directory = QFileInfo(path).absolutePath().toStdString();
    QString reason;
    const int result = BuildPanel(path, panelId, *panel, reason);
    if (result < 0) {
        delete panel->window;
        runtime.loadError = reason.toStdString();
        return result;
    }
    const int handle = runtime.nextHandle++;
    runtime.panels.emplace(handle, std::move(panel));
    return handle;
}

const char* GetPanelLoadError() {
    return State().loadError.c_str();
}

int SetPanelDirectories(const char* const* directories, int count) {
    if (count < 0 || (count > 0 && directories == nullptr)) {
        return UIE_BAD_VALUE;
    }
    std::vector<std::string> chosen;
    for (int i = 0; i < count; ++i) {
        if (directories[i] == nullptr || *directories[i] == '\0') {
            return UIE_BAD_VALUE;
        }
        chosen.emplace_back(directories[i]);
    }
    State().panelDirectories = std::move(chosen);
    return UIE_NO_ERROR;
}

int DisplayPanel(int panel) {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    Panel* found = FindPanel(panel);
    if (found == nullptr) {
        return UIE_BAD_PANEL;
    }
    found->window->fitToScreen();
    found->window->show();
    found->window->raise();
    found->window->activateWindow();
    return UIE_NO_ERROR;
}

int DiscardPanel(int panel) {
    Runtime& runtime = State();
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    const auto found = runtime.panels.find(panel);
    if (found == runtime.panels.end()) {
        return UIE_BAD_PANEL;
    }
    PanelWindow* window = found->second->window;
    runtime.panels.erase(found);
    window->hide();
    // A callback may discard its own panel while Qt is still inside the widget's signal;
    // the window then goes once control is back in the event processing.
    if (runtime.dispatchDepth > 0) {
        window->deleteLater();
    } else {
        delete window;
    }
    return UIE_NO_ERROR;
}

int ProcessSystemEvents() {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    // Commits that arrived while the program waited come first: they are older than
    // anything still queued.
    std::vector<std::pair<int, int>> held;
    held.swap(State().heldCommits);
    for (const auto& [panel, control] : held) {
        CommitControl(panel, control);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Outside a running event loop Qt keeps deferred deletions until asked.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return UIE_NO_ERROR;
}

int WaitForSystemEvents() {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    Runtime& runtime = State();
    if (runtime.quitRequested) {
        return UIE_NO_ERROR;
    }
    // Qt's own wait, which the window system, timers and the port's notifiers end. Qt
    // handles the events that ended it before it returns (with user input left out, the
    // X11 wait would not end for a click at all), so a commit they raise is held for the
    // next ProcessSystemEvents: callbacks run there alone, as they always have.
    runtime.waiting = true;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    runtime.waiting = false;
    return UIE_NO_ERROR;
}

// The program's own loop decides when to stop; no wait may hold it up from now on.
int QuitUserInterface(int /*code*/) {
    State().quitRequested = true;
    return UIE_NO_ERROR;
}

int GetCtrlVal(int panel, int control, uint8_t* value) {
    return GetTypedValue(panel, control, value, DataType::UInt8);
}

int GetCtrlVal(int panel, int control, uint32_t* value) {
    return GetTypedValue(panel, control, value, DataType::UInt32);
}

int GetCtrlVal(int panel, int control, int* value) {
    return GetTypedValue(panel, control, value, DataType::Int);
}

int SetCtrlVal(int panel, int control, long long value) {
    int error = 0;
    Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    // Only signals no callback listens to are emitted here: the commits come from
    // activated, clicked and editingFinished, which Qt raises for the user alone.
    switch (found->kind) {
        case Kind::Numeric: {
            auto* field = static_cast<QSpinBox*>(found->body);
            const long long coerced =
                std::clamp<long long>(value, field->minimum(), field->maximum());
            field->setValue(int(coerced));
            found->settledValue = field->value();
            return UIE_NO_ERROR;
        }
        case Kind::Ring: {
            auto* list = static_cast<QComboBox*>(found->body);
            const int index = list->findData(QVariant(qlonglong(value)));
            if (index < 0) {
                return UIE_BAD_VALUE;
            }
            list->setCurrentIndex(index);
            return UIE_NO_ERROR;
        }
        case Kind::ToggleButton:
            static_cast<QAbstractButton*>(found->body)->setChecked(value != 0);
            return UIE_NO_ERROR;
        case Kind::Led:
            static_cast<LedLamp*>(found->body)->setOn(value != 0);
            return UIE_NO_ERROR;
        default:
            return UIE_WRONG_KIND;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    int error = 0;
    Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    switch (attribute) {
        case ATTR_DIMMED:
            ApplyDimmed(*found, value != 0);
            return UIE_NO_ERROR;
        case ATTR_VISIBLE:
            ApplyVisible(*found, value != 0);
            return UIE_NO_ERROR;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE: {
            if (found->kind != Kind::Numeric) {
                return UIE_BAD_ATTRIBUTE;
            }
            if (value < DataTypeMinimum(found->dataType) ||
                value > DataTypeMaximum(found->dataType)) {
                return UIE_BAD_VALUE;
            }
            // Qt moves the other end of the range along when the two would cross, and
            // coerces the value into the new range; neither runs a callback.
            auto* field = static_cast<QSpinBox*>(found->body);
            if (attribute == ATTR_MAX_VALUE) {
                field->setMaximum(value);
            } else {
                field->setMinimum(value);
            }
            found->settledValue = field->value();
            return UIE_NO_ERROR;
        }
        default:
            return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    switch (attribute) {
        case ATTR_DIMMED:
            *value = found->dimmed ? 1 : 0;
            return UIE_NO_ERROR;
        case ATTR_VISIBLE:
            *value = found->visible ? 1 : 0;
            return UIE_NO_ERROR;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE: {
            if (found->kind != Kind::Numeric) {
                return UIE_BAD_ATTRIBUTE;
            }
            const auto* field = static_cast<const QSpinBox*>(found->body);
            *value = attribute == ATTR_MAX_VALUE ? field->maximum() : field->minimum();
            return UIE_NO_ERROR;
        }
        default:
            return UIE_BAD_ATTRIBUTE;
    }
}

int InsertListItem(int panel, int control, int index, const char* label, int value) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    auto* list = static_cast<QComboBox*>(found->body);
    if (index == -1) {
        index = list->count();
    }
    if (index < 0 || index > list->count()) {
        return UIE_BAD_INDEX;
    }
    if (value < DataTypeMinimum(found->dataType) || value > DataTypeMaximum(found->dataType)) {
        return UIE_BAD_VALUE;
    }
    // An empty list selects its first new item; that is the program's doing, not a commit.
    const QSignalBlocker quiet(list);
    list->insertItem(index, QString::fromUtf8(label == nullptr ? "" : label),
                     QVariant(qlonglong(value)));
    return UIE_NO_ERROR;
}

int DeleteListItem(int panel, int control, int index, int count) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    auto* list = static_cast<QComboBox*>(found->body);
    const int items = list->count();
    if (index < 0 || index > items || (index == items && count != -1 && count != 0)) {
        return UIE_BAD_INDEX;
    }
    if (count == -1) {
        count = items - index;
    }
    if (count < 0 || index + count > items) {
        return UIE_BAD_INDEX;
    }
    const QSignalBlocker quiet(list);
    for (int i = 0; i < count; ++i) {
        list->removeItem(index);
    }
    return UIE_NO_ERROR;
}

int GetNumListItems(int panel, int control, int* count) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    *count = static_cast<const QComboBox*>(found->body)->count();
    return UIE_NO_ERROR;
}

int GetListItem(int panel, int control, int index, char* label, std::size_t labelSize, int* value) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    const auto* list = static_cast<const QComboBox*>(found->body);
    if (index < 0 || index >= list->count()) {
        return UIE_BAD_INDEX;
    }
    if (label != nullptr && labelSize > 0) {
        const QByteArray text = list->itemText(index).toUtf8();
        const std::size_t length = std::min<std::size_t>(std::size_t(text.size()), labelSize - 1);
        std::memcpy(label, text.constData(), length);
        label[length] = '\0';
    }
    if (value != nullptr) {
        *value = int(list->itemData(index).toLongLong());
    }
    return UIE_NO_ERROR;
}

int GetProjectDir(char* dir) {
    if (QCoreApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    const QByteArray path =
        QFile::encodeName(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    if (std::size_t(path.size()) + 1 > MAX_PATHNAME_LEN) {
        return UIE_PATH_TOO_LONG;
    }
    std::memcpy(dir, path.constData(), std::size_t(path.size()) + 1);
    return UIE_NO_ERROR;
}

int GetUserFilesDir(char* dir) {
    if (QCoreApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    // A program whose panel lies beside it runs from a folder of its own (a build tree, a
    // portable copy), where the user keeps its files when that folder takes them. One
    // installed with the system's programs finds its panel in a data directory instead,
    // and its folder is no place for the user's files, even for a user who could write
    // there.
    const QString program = QCoreApplication::applicationDirPath();
    bool ownFolder = false;
    for (const auto& [handle, panel] : State().panels) {
        ownFolder = ownFolder || QDir(QString::fromStdString(panel->directory)) == QDir(program);
    }
    QString chosen = program;
    if (!ownFolder || !QFileInfo(program).isWritable()) {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        chosen =
            !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
    }
    const QByteArray path = QFile::encodeName(QDir::toNativeSeparators(chosen));
    if (std::size_t(path.size()) + 1 > MAX_PATHNAME_LEN) {
        return UIE_PATH_TOO_LONG;
    }
    std::memcpy(dir, path.constData(), std::size_t(path.size()) + 1);
    return UIE_NO_ERROR;
}

int SetCtrlToolTipProvider(int panel, int control, ToolTipProvider provider) {
    int error = 0;
    Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    if (found->toolTip == nullptr && provider != nullptr) {
        found->body->installEventFilter(new ToolTipFilter(panel, control, found->body));
        // At a bench the panel often sits beside a terminal that has the focus; the port
        // map should show on hover all the same.
        found->body->window()->setAttribute(Qt::WA_AlwaysShowToolTips);
    }
    found->toolTip = provider;
    return UIE_NO_ERROR;
}

void SetWaitCursor(int busy) {
    Runtime& runtime = State();
    if (QApplication::instance() == nullptr || (busy != 0) == runtime.waitCursor) {
        return;
    }
    runtime.waitCursor = busy != 0;
    if (runtime.waitCursor) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    // The cursor change must reach the screen although the exchange that follows keeps
    // the event loop from running. Neither user input nor port notifications are handled
    // here, so nothing the program does can run in between.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
}
