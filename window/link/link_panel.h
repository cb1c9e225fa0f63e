// The link's side of the panel: the callbacks of the connection controls and of SHOW_VER,
// and the popups that close an exchange that did not get done.
#pragma once

#include "core/link/command_mode.h"

int PortConnCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int ComPortSelectCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int UartBrCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int ShowVerCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);

// Ends an exchange that was not done: closes the port when its device has gone, and tells
// the user why in the exchange's fixed popup, with what the program knows beside it. The
// details of the exchange itself (what did not come, what was already written) are added
// to those of the failure.
void ReportExchangeFailure(Exchange result, const char* details);

// A popup that closes a done exchange, with what the window has to say of the open port
// beside it the first time after the connect: that a raw TCP port could not take the rate
// and format asked for.
void ReportExchangeDone(const char* title, const char* message);
