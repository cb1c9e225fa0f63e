// Program-wide records of the application shell.
#pragma once

#include "runtime/userint.h"

extern int panelHandle;
extern char projectDir[MAX_PATHNAME_LEN];
extern int quitFlag;

int QuitCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);

// Registers every control callback of the program under its name, for LoadPanel.
void RegisterProgramCallbacks();

// Start-up, event loop and shutdown; returns the process exit status.
int RunZelkConfig(int argc, char** argv);
