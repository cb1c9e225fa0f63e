// Test seam of the user-interface runtime: popups are answered from a queue instead of
// being shown, every popup is recorded, and tests operate controls the way a user does.
// Never used by the program itself.
#pragma once

#include <string>
#include <vector>

namespace ui_testing {

enum class PopupKind { Message, Confirm, FileSelect };

struct Popup {
    PopupKind kind;
    std::string title;
    std::string message;  // for FileSelect: the dialog title is in title, message is empty
    std::string details;  // the informative text beside the message; empty when none
    // FileSelect only: the arguments the program passed.
    std::string defaultDirectory;
    std::string defaultFileSpec;
    bool restrictExtension = false;
    bool allowCancel = false;
};

// From now on no popup is shown; each one is recorded and answered from the queues.
// An unanswered ConfirmPopup answers no, an unanswered FileSelectPopup cancels.
void Enable();
void Disable();

void AnswerNextConfirm(bool yes);
void AnswerNextFileSelect(const std::string& path);
void CancelNextFileSelect();

// Popups recorded since the last call, oldest first.
std::vector<Popup> TakePopups();

// Operate a control the way a user does, through the widget's own user signal, so that
// exactly one commit event reaches the control's callback. A user cannot operate a dimmed
// or hidden control: those calls return UIE_NOT_OPERABLE and commit nothing.
// For a list: picks the item with that value. For a numeric: types the value and finishes.
// For a toggle: sets it on (non-zero) or off and clicks.
int UserSetValue(int panel, int control, int value);
// Picks the list entry that shows this text, as a user who reads the list does.
int UserPickItem(int panel, int control, const std::string& text);
// Presses a command button.
int UserPress(int panel, int control);
// Closes the panel's window through its close box.
int UserClosePanel(int panel);
// Scrolls the panel's window, where it scrolls, until the control shows, as a user does
// with the scroll bars.
int UserScrollTo(int panel, int control);

// The label text a control shows (its face text for buttons, its text for text messages).
std::string ControlLabel(int panel, int control);

// What the screen and an accessibility tool see of a control. Rectangles are in panel
// pixels, bottom and right exclusive; label is empty when the control has none.
struct Rect {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    bool empty() const { return bottom <= top || right <= left; }
};
struct ControlView {
    bool found = false;
    std::string constant;  // the name the panel file gives the control
    Rect body;
    Rect label;
    bool labelHidden = false;
    bool labelDimmed = false;
    bool labelTextFits = true;  // the label's text needs no more room than its rectangle
    std::string accessibleName;
    int panelWidth = 0;
    int panelHeight = 0;
    // In screen coordinates: the part of the body the window shows now, the window's
    // inside, the window with the window system's frame, and the available area of the
    // screen the window is on.
    Rect shown;
    Rect window;
    Rect frame;
    Rect screen;
};
ControlView InspectControl(int panel, int control);

// Lets LoadPanel accept callback names that nobody registered (their controls then do
// nothing on commit), so a test can load the real panel with only the callbacks it drives.
void AllowUnboundCallbacks(bool allow);
}  // namespace ui_testing
