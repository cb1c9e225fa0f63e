// Network serial ports behind the serial runtime: rfc2217:// and socket:// over QTcpSocket.
// Internal to runtime/.
#pragma once

#include <memory>
#include <string>

#include "runtime/serial/serial_seam.h"

namespace serial_backend {

// Opens a network port by its name ("rfc2217://HOST:PORT", "socket://HOST:PORT"): connects,
// and for RFC 2217 sets the line and waits for the server to confirm each setting. Every
// step has its bound, so that neither a dead host nor a stalled server holds the open for
// more than a few seconds.
std::unique_ptr<Device> OpenNetworkPort(const std::string& name, const Settings& settings,
                                        int* error, std::string* reason);

}  // namespace serial_backend
