#include <iterator>

#include "runtime/ui/panel_controls.h"
#include "window/app/app.h"
#include "window/link/link_panel.h"
#include "window/panel/panel_ids.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

namespace {

using enum CtrlKind;
using enum CtrlDataType;

// Every control of the main panel that the program reads, changes or binds a callback
// to, as the panel file must define it. The file is checked against this table when it
// loads, so that a file made for another version of the program is refused at start
// rather than misbehaving in the window. The file names each control and callback as the
// program's own code does.
#define CONTROL(constant) constant, #constant
#define BOUND_TO(callback) #callback, callback
#define UNBOUND nullptr, nullptr

// clang-format off
constexpr PanelControl kMainPanelControls[] = {
    {CONTROL(SERFMT),       Ring,          UInt8,  BOUND_TO(UartBrCallBack)},
    {CONTROL(UART_BR),      Ring,          UInt32, BOUND_TO(UartBrCallBack)},
    {CONTROL(COMPORT_NUM),  Ring,          UInt8,  BOUND_TO(ComPortSelectCallBack)},
    {CONTROL(PORT_CONN),    ToggleButton,  Int,    BOUND_TO(PortConnCallBack)},
    {CONTROL(PRODUCT),      Ring,          UInt8,  BOUND_TO(SelectProductCallBack)},
    {CONTROL(READ),         CommandButton, None,   BOUND_TO(ReadCallBack)},
    {CONTROL(UPDATE),       CommandButton, None,   BOUND_TO(UpdateCallBack)},
    {CONTROL(SAVE_TO_FILE), CommandButton, None,   BOUND_TO(SaveToFileCallBack)},
    {CONTROL(OPEN_FILE),    CommandButton, None,   BOUND_TO(OpenFileBack)},
    {CONTROL(SHOW_VER),     CommandButton, None,   BOUND_TO(ShowVerCallBack)},
    {CONTROL(QUIT),         CommandButton, None,   BOUND_TO(QuitCallBack)},
    {CONTROL(S100),         Numeric,       UInt8,  UNBOUND},
    {CONTROL(S101),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S102),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S103),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S104),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S105),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S110),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S111),         Numeric,       UInt8,  UNBOUND},
    {CONTROL(S112),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S113),         Ring,          UInt8,  BOUND_TO(fskLora_selectCallBack)},
    {CONTROL(S120_H),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S120_L),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S121_H),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S121_L),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S122_H),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S122_L),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S123_H),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S123_L),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S124),         Ring,          UInt8,  BOUND_TO(SetModeCallBack)},
    {CONTROL(S125),         Numeric,       UInt8,  UNBOUND},
    {CONTROL(S126),         Ring,          UInt8,  BOUND_TO(S126CallBack)},
    {CONTROL(S127),         Ring,          UInt8,  UNBOUND},
    {CONTROL(S128),         Ring,          UInt8,  BOUND_TO(S128CallBack)},
    {CONTROL(S129),         Ring,          UInt8,  BOUND_TO(S129CallBack)},
    {CONTROL(S130_H),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(S130_L),       Numeric,       UInt8,  UNBOUND},
    {CONTROL(ID_LEN),       Ring,          UInt8,  BOUND_TO(IdLenCallBack)},
    {CONTROL(DOT1),         TextMessage,   None,   UNBOUND},
    {CONTROL(DOT3),         TextMessage,   None,   UNBOUND},
    {CONTROL(DOT4),         TextMessage,   None,   UNBOUND},
    {CONTROL(DOT5),         TextMessage,   None,   UNBOUND},
};
// clang-format on

#undef CONTROL
#undef BOUND_TO
#undef UNBOUND

}  // namespace

void RegisterProgramCallbacks() {
    RegisterPanelControls(PANEL, kMainPanelControls, std::size(kMainPanelControls));
}
