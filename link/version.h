#pragma once

int ShowVerCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
