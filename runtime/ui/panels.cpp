// Panels and the event loop: callbacks bound by name, loading, showing and discarding a
// panel, and the dispatch of user events to the controls' callbacks.
#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

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

}  // namespace ui_runtime

using namespace ui_runtime;

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
