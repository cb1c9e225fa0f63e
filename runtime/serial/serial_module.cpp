// The entry of the zelkserial module: the real ports, for the runtime that loads it.
#include <QtGlobal>

#include "runtime/serial/serial_qt.h"

extern "C" Q_DECL_EXPORT const serial_backend::SerialModule* ZelkSerialModule() {
    static const serial_backend::SerialModule module{serial_backend::kSerialModuleAbi,
                                                     serial_backend::OpenQtSerialPort,
                                                     serial_backend::ListSystemPorts};
    return &module;
}
