// User-interface operations: the panel, its controls, popups and event dispatch.
// Program code reaches the window system only through this header.
//
// Every call returns a small result code unless it says otherwise:
//   0  success (UIE_NO_ERROR)
//   <0 one of the UiError codes below; the call changed nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

enum UiError {
    UIE_NO_ERROR = 0,
    UIE_NOT_INITIALISED = -1,  // InitUserInterface has not run
    UIE_BAD_PANEL = -2,        // no panel with that handle
    UIE_BAD_CONTROL = -3,      // no control with that identifier on the panel
    UIE_BAD_ATTRIBUTE = -4,    // attribute not supported by this kind of control
    UIE_BAD_VALUE = -5,        // a list has no item with that value
    UIE_TYPE_MISMATCH = -6,    // the variable's type is not the control's data type
    UIE_BAD_INDEX = -7,        // list index out of range
    UIE_PANEL_FILE = -8,       // panel file missing, unreadable, malformed or not as expected
    UIE_NO_CALLBACK = -9,      // panel file names a callback that is not registered
    UIE_PATH_TOO_LONG = -10,   // chosen path does not fit the caller's buffer
    UIE_WRONG_KIND = -11,      // the operation does not apply to this kind of control
    UIE_NOT_OPERABLE = -12,    // a user cannot operate the control: it is dimmed or hidden
    UIE_BAD_FILE_TYPE = -13,   // the chosen file lacks the extension the dialog is limited to
};

constexpr int EVENT_COMMIT = 1;

constexpr int ATTR_DIMMED = 500;
constexpr int ATTR_VISIBLE = 530;
constexpr int ATTR_MAX_VALUE = 730;
constexpr int ATTR_MIN_VALUE = 731;

// Longest path the program keeps: the platform's own limit.
#ifdef _WIN32
constexpr std::size_t MAX_PATHNAME_LEN = 260;
#else
constexpr std::size_t MAX_PATHNAME_LEN = 4096;
#endif

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// --- Start-up and the display (startup.cpp) --------------------------------------------

// Starts the runtime with the program's arguments. Non-zero when it is ready, 0 when it
// cannot be used: no display to show windows on, said in one line on stderr. Where Qt
// itself finds out that no window system can be reached, it offers no way back; the
// process then ends at once with status -1 and the same one line, instead of Qt's abort.
int InitUserInterface(int argc, char** argv);
// Releases the runtime; called once, last.
void CloseUserInterface();

// --- Panels and the event loop (panels.cpp) --------------------------------------------

// Callbacks named in a panel file are bound by name when the panel loads; the program
// registers every name it defines before loading.
void RegisterCallback(const char* name, CtrlCallbackPtr callback);

// The kinds of control a panel file holds, and the types their values are read in.
enum class CtrlKind { Numeric, Ring, CommandButton, ToggleButton, Led, TextMessage, Decoration };
enum class CtrlDataType { None, UInt8, UInt32, Int };

// A control the program relies on, as its panel file must define it.
struct PanelControl {
    int id;
    const char* constant;
    CtrlKind kind;
    CtrlDataType dataType;     // None for the kinds that hold no value
    const char* callbackName;  // nullptr when the program binds no callback to it
    CtrlCallbackPtr callback;
};

// Registers each control's callback under its name, as RegisterCallback does, and has
// LoadPanel check the panel panelId against the list: a control missing from the file,
// or there of another kind or data type or with another callback, fails the load like a
// malformed file, with a reason that names the control and what is wrong.
void RegisterPanelControls(int panelId, const PanelControl* controls, std::size_t count);

// Loads the panel resource panelId from fileName (looked for in the panel directories
// when relative). Returns a handle >= 0, or a negative UiError.
int LoadPanel(int parent, const char* fileName, int panelId);
// Why the last LoadPanel failed, in one line; empty after a good load.
const char* GetPanelLoadError();
int DisplayPanel(int panel);
int DiscardPanel(int panel);

// Handles pending window-system events, running due callbacks to completion.
int ProcessSystemEvents();
// Returns as soon as an event is waiting for ProcessSystemEvents, and waits until one is;
// it runs no callback itself and leaves the user's input to ProcessSystemEvents, which
// handles each press, callback and all, before the next. After QuitUserInterface it
// returns at once, until the next InitUserInterface.
int WaitForSystemEvents();
int QuitUserInterface(int code);

// --- Values, attributes and lists (values.cpp) -----------------------------------------

// The value is stored in the control's own data type; asking with another type is
// UIE_TYPE_MISMATCH.
int GetCtrlVal(int panel, int control, uint8_t* value);
int GetCtrlVal(int panel, int control, uint32_t* value);
int GetCtrlVal(int panel, int control, int* value);
// A list whose item values stand for the members of a one-byte enumeration reads straight
// into it, as unsigned 8-bit.
template <typename Enum>
requires(std::is_enum_v<Enum> && sizeof(Enum) == 1) int GetCtrlVal(int panel, int control,
                                                                   Enum* value) {
    uint8_t raw = 0;
    const int result = GetCtrlVal(panel, control, &raw);
    if (result == UIE_NO_ERROR) {
        *value = static_cast<Enum>(raw);
    }
    return result;
}
// Numeric controls coerce the value into their range; list controls select the item with
// that value (UIE_BAD_VALUE when none has it). Setting a value never runs a callback.
int SetCtrlVal(int panel, int control, long long value);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);

// List controls. Index -1 appends; count -1 deletes to the end of the list.
int InsertListItem(int panel, int control, int index, const char* label, int value);
int DeleteListItem(int panel, int control, int index, int count);
int GetNumListItems(int panel, int control, int* count);
// label receives at most labelSize - 1 characters and a terminating zero.
int GetListItem(int panel, int control, int index, char* label, std::size_t labelSize, int* value);

// --- Modal popups (popups.cpp) ---------------------------------------------------------

int MessagePopup(const char* title, const char* message);
// The same box with details beside the message (the box's informative text): what the
// program knows beyond the fixed message, such as the system's reason or what to do. The
// title and the details also go to stderr as one line, for a person at a terminal. With
// details nullptr it is the plain box.
int MessagePopupWithDetails(const char* title, const char* message, const char* details);
// Non-zero when the user answers yes.
int ConfirmPopup(const char* title, const char* message);
// Button label codes of FileSelectPopup. VAL_SAVE_BUTTON makes a save dialog that asks
// before replacing an existing file; VAL_LOAD_BUTTON accepts existing files only.
constexpr int VAL_OK_BUTTON = 0;
constexpr int VAL_SAVE_BUTTON = 1;
constexpr int VAL_SELECT_BUTTON = 2;
constexpr int VAL_LOAD_BUTTON = 3;
// 0 when the user cancels, 1 when a path was chosen and written to pathName (which holds
// MAX_PATHNAME_LEN bytes), negative on failure. An empty defaultDirectory means the current
// directory. With restrictExtension only files with the file-type list's extension are
// chosen: a save gives any other name that extension ("a.cfg" becomes "a.cfg.txt"), a load
// (VAL_LOAD_BUTTON) refuses any other file with UIE_BAD_FILE_TYPE, its path still written
// to pathName so that the caller can name it.
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName);

// --- Folders (folders.cpp) -------------------------------------------------------------

// Where LoadPanel looks for a panel file named without a directory: each directory in
// turn, relative to the program's own directory (or absolute), the first that holds the
// file wins. Until this is called, the program's directory alone. UIE_BAD_VALUE for an
// empty or missing name.
int SetPanelDirectories(const char* const* directories, int count);

// The directory the program runs from; dir holds MAX_PATHNAME_LEN bytes.
int GetProjectDir(char* dir);
// The folder a file dialog first offers for the user's own files; dir holds
// MAX_PATHNAME_LEN bytes. The program's directory when its panel file lies beside it and
// the user may write there (a build tree, a portable copy); otherwise, as for a program
// installed with the system's, the user's documents folder, or the home folder when
// there is none.
int GetUserFilesDir(char* dir);

// --- Tooltips and the cursor (tooltip_cursor.cpp) --------------------------------------

// Shows a text as the control's tooltip, asking the provider each time the tooltip is
// about to appear, so that it is never stale.
using ToolTipProvider = const char* (*)();
int SetCtrlToolTipProvider(int panel, int control, ToolTipProvider provider);

// While an exchange blocks the window, the mouse shows a busy cursor.
void SetWaitCursor(int busy);
