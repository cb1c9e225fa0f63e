#pragma once

int SelectProductCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int fskLora_selectCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                           int eventData2);
