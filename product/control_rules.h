// Rules that keep the dependent controls consistent with the deciding ones.
#pragma once

void ApplyControlRules();
void ApplyWorkingModeRule();
void ApplyAddressControlRule();
void ApplyRepeaterNodeRule();
void ApplyViaRepeaterRule();

int IdLenCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int SetModeCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int S126CallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
int S128CallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
int S129CallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
