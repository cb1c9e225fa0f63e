// The register set's side of the panel: gathering the controls into the set, putting a
// configuration text into the controls, and the callbacks of READ, UPDATE, SAVE_TO_FILE
// and OPEN_FILE.
#pragma once

#include <cstddef>

#include "runtime/ui/panel_controls.h"

// The program's own directory, where the save dialog starts; filled at start-up.
extern char projectDir[MAX_PATHNAME_LEN];
// The path the user chose last in either file dialog.
extern char filePath[MAX_PATHNAME_LEN];

// Reads the panel's register controls into parameters.
void GatherParameters();
// Scans the first length characters of configText (a zero byte among them is one more
// character that is not part of a record) and sets the register controls, then ID_LEN, then
// runs the control rules.
void ParseConfigText(std::size_t length);

int ReadCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
int UpdateCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int SaveToFileCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int OpenFileBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
