#pragma once

int UpdateCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
