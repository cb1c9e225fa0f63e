// The product layer's side of the panel: the option lists put into their controls, the
// series set-up, and the rules that keep the dependent controls consistent.
#pragma once

#include <cstdint>

#include "core/product/option_lists.h"

// Puts the list into the ring control and selects its default; the standard rate list also
// sets S100 to 50.
void FillOptionList(int control, const OptionList& list);
// Fills S110 with the radio baud rate list for the series and the modulation (0 FSK, else
// LoRa), and sets S100 to the buffer size that goes with it.
void RebuildRadioRateList(uint8_t loraMode);

int SelectProductCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int fskLora_selectCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                           int eventData2);

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
