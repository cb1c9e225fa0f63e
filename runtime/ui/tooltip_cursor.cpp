// Tooltips that are asked for their text as they appear, and the busy cursor.
#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

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

}  // namespace

}  // namespace ui_runtime

using namespace ui_runtime;

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
