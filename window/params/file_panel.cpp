#include <cstdio>
#include <cstring>

#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "runtime/files/whole_files.h"
#include "window/params/params_panel.h"

char projectDir[MAX_PATHNAME_LEN];
char filePath[MAX_PATHNAME_LEN];

namespace {

// The most a file may hold: the text buffer less its terminating zero. Files this program
// writes stay far below it.
constexpr std::size_t kMaxFileLength = CONFIG_TEXT_SIZE - 1;

// Room for a whole path and the words around it.
char message[MAX_PATHNAME_LEN + 256];

// Every file failure ends in the same kind of popup; only the words differ.
template <typename... Values>
void ShowFileError(const char* format, Values... values) {
    std::snprintf(message, sizeof message, format, values...);
    MessagePopup("File Error", message);
}

void ShowDialogError(int result, const char* nothingDone) {
    if (result == UIE_PATH_TOO_LONG) {
        ShowFileError(" Path too long! %s\r\n Please choose a shorter one. ", nothingDone);
    } else {
        ShowFileError(" File Dialog Error! %s\r\n Please Re-try ", nothingDone);
    }
}

}  // namespace

int SaveToFileCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                       int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // The text is made before the dialog, so configText holds it even when the user
    // cancels.
    GatherParameters();
    const std::size_t length = FormatConfigText(parameters, configText, sizeof configText);

    // The dialog opens in the program's folder when that is the user's own, as for a
    // portable copy; an installed program offers the user's documents instead of a system
    // folder. Without either it opens in the current directory.
    static char folder[MAX_PATHNAME_LEN];
    if (GetUserFilesDir(folder) != UIE_NO_ERROR) {
        folder[0] = '\0';
    }
    // The save button makes the dialog ask before it replaces an existing file.
    int result = FileSelectPopup(folder, "*.txt", "*.txt", "Name of File to Save", VAL_SAVE_BUTTON,
                                 0, 1, 1, 0, filePath);
    if (result == 0) {
        return 0;
    }
    if (result < 0) {
        ShowDialogError(result, "Nothing is saved.");
        return 0;
    }

    // Exactly the characters of the text: no terminating zero in the file.
    int error = ArrayToFile(filePath, configText, length);
    if (error != FILEIO_NO_ERROR) {
        ShowFileError(" Saving Error! The setting is not saved:\r\n %s\r\n %s ", filePath,
                      FileIoErrorText(error));
    }
    return 0;
}

int OpenFileBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // The load button lets the dialog accept existing files only.
    int result = FileSelectPopup("", "*.txt", "*.txt", "Name of File to Read", VAL_LOAD_BUTTON, 0,
                                 1, 1, 0, filePath);
    if (result == 0) {
        return 0;
    }
    if (result == UIE_BAD_FILE_TYPE) {
        std::snprintf(message, sizeof message, "%s: setting files end in .txt", filePath);
        MessagePopupWithDetails("File Error", " Loading Error! This is not a setting file. ",
                                message);
        return 0;
    }
    if (result < 0) {
        ShowDialogError(result, "Nothing is loaded.");
        return 0;
    }

    // The file goes to a buffer of its own first: a file that cannot be loaded whole
    // leaves the panel, and the text of the last read or save, as they were.
    static char fileBytes[kMaxFileLength];
    std::size_t count = 0;
    int error = FileToArray(filePath, fileBytes, sizeof fileBytes, &count);
    if (error == FILEIO_TOO_LARGE) {
        ShowFileError(
            " Loading Error! This is not a setting file:\r\n %s\r\n It holds more than %d bytes. ",
            filePath, static_cast<int>(kMaxFileLength));
        return 0;
    }
    if (error != FILEIO_NO_ERROR) {
        ShowFileError(" Loading Error! The setting is not loaded:\r\n %s\r\n %s ", filePath,
                      FileIoErrorText(error));
        return 0;
    }

    std::memcpy(configText, fileBytes, count);
    configText[count] = '\0';
    ParseConfigText(count);
    return 0;
}
