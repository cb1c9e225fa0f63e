// The link's side of the panel: the callbacks of the connection controls and of SHOW_VER,
// and the popups that close an exchange that did not get done.
#pragma once

#include "link/command_mode.h"

int PortConnCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int ComPortSelectCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int UartBrCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int ShowVerCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);

// Tells the user why an exchange ended without being done: the port is not open, or the
// module did not answer as it should.
void ReportExchangeFailure(Exchange result);
