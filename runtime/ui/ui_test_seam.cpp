// The test seam of the user-interface runtime: answered popups and a simulated user.
#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QScreen>
#include <QSpinBox>

#include "runtime/ui/ui_internal.h"

using namespace ui_runtime;

namespace ui_testing {

namespace {

// A user reaches only what is shown and not dimmed.
Control* FindOperable(int panel, int control, int* error) {
    Control* found = FindControl(panel, control, error);
    if (found != nullptr && (!found->visible || found->dimmed)) {
        *error = UIE_NOT_OPERABLE;
        return nullptr;
    }
    return found;
}

Rect ToRect(const QRect& area) {
    return Rect{area.top(), area.left(), area.top() + area.height(), area.left() + area.width()};
}

Rect RectOf(const QWidget* widget) {
    return ToRect(widget->geometry());
}

}  // namespace

void Enable() {
    Runtime& runtime = State();
    runtime.testing = true;
    runtime.confirmAnswers.clear();
    runtime.fileAnswers.clear();
    runtime.popups.clear();
}

void Disable() {
    Runtime& runtime = State();
    runtime.testing = false;
    runtime.confirmAnswers.clear();
    runtime.fileAnswers.clear();
}

void AllowUnboundCallbacks(bool allow) {
    State().allowUnboundCallbacks = allow;
}

void AnswerNextConfirm(bool yes) {
    State().confirmAnswers.push_back(yes);
}

void AnswerNextFileSelect(const std::string& path) {
    State().fileAnswers.emplace_back(path);
}

void CancelNextFileSelect() {
    State().fileAnswers.emplace_back(std::nullopt);
}

std::vector<Popup> TakePopups() {
    std::vector<Popup> taken;
    taken.swap(State().popups);
    return taken;
}

namespace {

// What the popup list does when the user clicks an entry.
int PickIndex(QComboBox* list, int index) {
    if (index < 0) {
        return UIE_BAD_VALUE;
    }
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
    return UIE_NO_ERROR;
}

}  // namespace

int UserSetValue(int panel, int control, int value) {
    int error = 0;
    Control* found = FindOperable(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    switch (found->kind) {
        case Kind::Ring: {
            auto* list = static_cast<QComboBox*>(found->body);
            return PickIndex(list, list->findData(QVariant(qlonglong(value))));
        }
        case Kind::Numeric: {
            auto* field = static_cast<QSpinBox*>(found->body);
            // The field corrects a typed number outside its range to the nearest end when
            // the edit finishes.
            field->setValue(std::clamp(value, field->minimum(), field->maximum()));
            Q_EMIT field->editingFinished();
            return UIE_NO_ERROR;
        }
        case Kind::ToggleButton: {
            auto* button = static_cast<QAbstractButton*>(found->body);
            if (button->isChecked() == (value != 0)) {
                return UIE_NO_ERROR;  // already in that state: the user has nothing to press
            }
            button->click();
            return UIE_NO_ERROR;
        }
        default:
            return UIE_WRONG_KIND;
    }
}

int UserPickItem(int panel, int control, const std::string& text) {
    int error = 0;
    Control* found = FindOperable(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    if (found->kind != Kind::Ring) {
        return UIE_WRONG_KIND;
    }
    auto* list = static_cast<QComboBox*>(found->body);
    return PickIndex(list, list->findText(QString::fromStdString(text), Qt::MatchExactly));
}

int UserPress(int panel, int control) {
    int error = 0;
    Control* found = FindOperable(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    if (found->kind != Kind::CommandButton && found->kind != Kind::ToggleButton) {
        return UIE_WRONG_KIND;
    }
    static_cast<QAbstractButton*>(found->body)->click();
    return UIE_NO_ERROR;
}

int UserClosePanel(int panel) {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    const Panel* found = FindPanel(panel);
    if (found == nullptr) {
        return UIE_BAD_PANEL;
    }
    // The window system's close request arrives as this event, shown or not.
    QCloseEvent event;
    QCoreApplication::sendEvent(found->window, &event);
    return UIE_NO_ERROR;
}

int UserScrollTo(int panel, int control) {
    int error = 0;
    const Control* found = FindOperable(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    // A window that does not scroll shows the whole panel.
    if (QScrollArea* scroller = FindPanel(panel)->window->scroller()) {
        scroller->ensureWidgetVisible(found->body, 0, 0);
    }
    return UIE_NO_ERROR;
}

std::string ControlLabel(int panel, int control) {
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return std::string();
    }
    switch (found->kind) {
        case Kind::CommandButton:
        case Kind::ToggleButton:
            return static_cast<const QAbstractButton*>(found->body)->text().toStdString();
        case Kind::TextMessage:
            return static_cast<const QLabel*>(found->body)->text().toStdString();
        default:
            return found->label == nullptr ? std::string() : found->label->text().toStdString();
    }
}

ControlView InspectControl(int panel, int control) {
    ControlView view;
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return view;
    }
    view.found = true;
    view.constant = found->constant.toStdString();
    view.body = RectOf(found->body);
    if (found->label != nullptr) {
        view.label = RectOf(found->label);
        view.labelHidden = found->label->isHidden();
        view.labelDimmed = !found->label->isEnabled();
        const QSize needed = found->label->sizeHint();
        view.labelTextFits =
            needed.width() <= found->label->width() && needed.height() <= found->label->height();
    }
    view.accessibleName = found->body->accessibleName().toStdString();
    view.panelWidth = found->body->parentWidget()->width();
    view.panelHeight = found->body->parentWidget()->height();

    const PanelWindow* window = FindPanel(panel)->window;
    const QWidget* viewport =
        window->scroller() != nullptr ? window->scroller()->viewport() : window->surface();
    const QRect body(found->body->mapToGlobal(QPoint(0, 0)), found->body->size());
    const QRect visible(viewport->mapToGlobal(QPoint(0, 0)), viewport->size());
    view.shown = ToRect(body & visible);
    view.window = ToRect(window->geometry());
    view.frame = ToRect(window->frameGeometry());
    if (const QScreen* screen = window->screen()) {
        view.screen = ToRect(screen->availableGeometry());
    }
    return view;
}

}  // namespace ui_testing
