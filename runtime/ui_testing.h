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
// exactly one commit event reaches the control's callback.
// For a list: picks the item with that value. For a numeric: types the value and finishes.
// For a toggle: sets it on (non-zero) or off and clicks.
int UserSetValue(int panel, int control, int value);
// Presses a command button.
int UserPress(int panel, int control);
// Closes the panel's window through its close box.
int UserClosePanel(int panel);

// The label text a control shows (its face text for buttons, its text for text messages).
std::string ControlLabel(int panel, int control);

}  // namespace ui_testing

namespace ui_testing {
// Lets LoadPanel accept callback names that nobody registered (their controls then do
// nothing on commit), so a test can load the real panel with only the callbacks it drives.
void AllowUnboundCallbacks(bool allow);
}  // namespace ui_testing
