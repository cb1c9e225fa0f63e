// Inside of the user-interface runtime: the records shared by the panel builder, the
// control operations, the popups and the test seam. Only runtime/ui/*.cpp include this
// file.
#pragma once

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ui/panel_controls.h"
#include "runtime/ui/ui_test_seam.h"

namespace ui_runtime {

using Kind = CtrlKind;

// The type in which a control's value is read; None for controls without a value.
using DataType = CtrlDataType;

// Smallest and largest value a data type holds.
long long DataTypeMinimum(DataType type);
long long DataTypeMaximum(DataType type);

struct Control {
    int id = 0;
    QString constant;
    Kind kind = Kind::Decoration;
    DataType dataType = DataType::None;
    QWidget* body = nullptr;
    QLabel* label = nullptr;  // owned by the panel window, like the body
    CtrlCallbackPtr callback = nullptr;
    QString callbackName;  // as the panel file names it; empty when it names none
    // Kept here rather than asked from the widgets: Qt reports a child of a window that
    // is not shown yet as invisible, and a child of a disabled parent as disabled.
    bool visible = true;
    bool dimmed = false;
    // Numeric fields: the value the field held after the last commit or the last change
    // made from code. Finishing an edit without changing the number commits nothing.
    int settledValue = 0;
    ToolTipProvider toolTip = nullptr;
};

// The indicator lamp: a round light, lit or dark.
class LedLamp : public QWidget {
  public:
    LedLamp(const QColor& onColor, const QColor& offColor, QWidget* parent);
    bool isOn() const { return on_; }
    void setOn(bool on);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor onColor_;
    QColor offColor_;
    bool on_ = false;
};

// A panel's push button. Space presses it, as every Qt button; Enter and Return do too,
// as in a dialog, although the panel is a plain window.
class PanelButton : public QPushButton {
  public:
    PanelButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A panel's list. The open list is a window of its own, which Qt gives the colours of a
// menu, the desktop's; its entries belong to the panel and take the panel's. That window is
// made when the list first opens: making one for each of the panel's lists at start took
// longer than all the rest of the panel.
class PanelList : public QComboBox {
  public:
    explicit PanelList(QWidget* parent) : QComboBox(parent) {}
    void showPopup() override;
};

// The panel's own window. Its close box does not close it: the panel definition names
// the control whose commit the close box stands for.
//
// The controls sit on a surface of the panel's own size. Where the screen has room the
// window is exactly the surface; on a screen too small for the panel the surface moves into
// a scroll area, and the window takes the largest size that fits and scrolls. The scroll
// area is made only then: on a screen with room it would be one more thing to build before
// the window first shows.
class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int handle);
    QWidget* surface() const { return surface_; }
    // Null while the window does not scroll.
    QScrollArea* scroller() const { return scroller_; }
    // Where the panel's definition places the window, frame included.
    void setHome(const QPoint& home) { home_ = home; }
    // Sizes and places the window for the screen it is to appear on.
    void fitToScreen();
    // The window's icon, read from the file once the window has first been painted: reading
    // and decoding it, and handing every size to the window system, is work the user does
    // not wait for.
    void setIconFile(const QString& path);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fitOnceFrameKnown();
    void scrollSurface();

    int handle_;
    QScrollArea* scroller_ = nullptr;
    QWidget* surface_;
    QPoint home_;
    bool frameKnown_ = false;  // fitted with the window system's real frame
    QString iconFile_;         // empty once the icon is set, or when there is none
    QTimer iconTimer_;
};

// The colours a panel draws with: all of them, in every state, so that no colour comes
// from the desktop's theme. A dark theme would otherwise mix its light text with the
// panel's own light background.
QPalette PanelPalette(const QColor& background, const QColor& dimmedText);

struct Panel {
    int handle = -1;
    int resourceId = 0;
    PanelWindow* window = nullptr;
    QWidget* surface = nullptr;  // the window's surface, parent of every control
    std::map<int, Control> controls;
    std::string directory;  // where the panel file was found
    int closeControl = -1;  // -1: the close box does nothing
};

struct Runtime {
    std::unique_ptr<QApplication> application;
    // QApplication keeps references to argc and argv for its whole life.
    int argc = 0;
    std::vector<std::string> arguments;
    std::vector<char*> argv;

    std::map<std::string, CtrlCallbackPtr> callbacks;
    // By panel resource: the controls the program relies on, which LoadPanel checks.
    struct Expected {
        int id;
        QString constant;
        Kind kind;
        DataType dataType;
        QString callbackName;  // empty: the program binds none
    };
    std::map<int, std::vector<Expected>> expected;
    std::map<int, std::unique_ptr<Panel>> panels;
    int nextHandle = 1;
    std::string loadError;
    // Where relative panel file names are looked for, each relative to the program's
    // directory; empty: the program's directory alone.
    std::vector<std::string> panelDirectories;
    bool waitCursor = false;
    int dispatchDepth = 0;  // > 0 while a control callback runs
    // While WaitForSystemEvents waits, commits are kept for the next ProcessSystemEvents.
    bool waiting = false;
    std::vector<std::pair<int, int>> heldCommits;  // panel, control
    bool quitRequested = false;

    // Test seam.
    bool allowUnboundCallbacks = false;
    bool testing = false;
    std::deque<bool> confirmAnswers;
    std::deque<std::optional<std::string>> fileAnswers;  // nullopt: cancel
    std::vector<ui_testing::Popup> popups;
};

Runtime& State();

Panel* FindPanel(int handle);
// Looks up a control; on failure *error receives UIE_NOT_INITIALISED, UIE_BAD_PANEL or
// UIE_BAD_CONTROL and the result is null.
Control* FindControl(int panel, int control, int* error);

// Sends the commit event to the control's callback, as a user's action does.
void CommitControl(int panel, int control);

// The panel file a relative name stands for: the first of the panel directories, each
// relative to the program's own, that holds it. Empty when none does, with the reason
// naming every place looked in. An absolute name is taken as it is.
QString FindPanelFile(const QString& name, std::string& reason);

// Fills panel from the definition of panel panelId in the file at path. On failure returns
// a negative UiError and sets reason to one line saying what is wrong.
int BuildPanel(const QString& path, int panelId, Panel& panel, QString& reason);

// Shows or hides, dims or enables a control together with its label.
void ApplyVisible(Control& control, bool visible);
void ApplyDimmed(Control& control, bool dimmed);

// Turns the path a user chose into what the program receives: with the extension
// restricted, a save's name gets the file-type list's extension unless it has it and a
// load's file without it is refused; native separators; a length check against
// MAX_PATHNAME_LEN. Returns 1 with pathName written, UIE_BAD_FILE_TYPE with pathName
// written, or UIE_PATH_TOO_LONG with pathName untouched.
int FinishChosenPath(const QString& chosen, const char* fileTypeList, int restrictExtension,
                     int buttonLabel, char* pathName);

}  // namespace ui_runtime
