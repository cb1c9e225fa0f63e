#pragma once

#include "runtime/userint.h"

extern char filePath[MAX_PATHNAME_LEN];

int SaveToFileCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int OpenFileBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
