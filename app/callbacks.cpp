#include "app/app.h"
#include "link/link_panel.h"
#include "params/params_panel.h"
#include "product/product_panel.h"
#include "runtime/ui/userint.h"

void RegisterProgramCallbacks() {
    struct Binding {
        const char* name;
        CtrlCallbackPtr callback;
    };
    static const Binding bindings[] = {
        {"QuitCallBack", QuitCallBack},
        {"PortConnCallBack", PortConnCallBack},
        {"ComPortSelectCallBack", ComPortSelectCallBack},
        {"UartBrCallBack", UartBrCallBack},
        {"ShowVerCallBack", ShowVerCallBack},
        {"ReadCallBack", ReadCallBack},
        {"UpdateCallBack", UpdateCallBack},
        {"SaveToFileCallBack", SaveToFileCallBack},
        {"OpenFileBack", OpenFileBack},
        {"SelectProductCallBack", SelectProductCallBack},
        {"fskLora_selectCallBack", fskLora_selectCallBack},
        {"IdLenCallBack", IdLenCallBack},
        {"SetModeCallBack", SetModeCallBack},
        {"S126CallBack", S126CallBack},
        {"S128CallBack", S128CallBack},
        {"S129CallBack", S129CallBack},
    };
    for (const Binding& binding : bindings) {
        RegisterCallback(binding.name, binding.callback);
    }
}
