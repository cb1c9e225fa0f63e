#include "app/app.h"
#include "link/connection.h"
#include "link/version.h"
#include "params/config_file.h"
#include "params/read.h"
#include "params/write.h"
#include "product/control_rules.h"
#include "product/product_series.h"

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
