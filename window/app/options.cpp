#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/serial/serial_ports.h"
#include "window/app/app.h"

#ifndef ZELK_VERSION
#error "ZELK_VERSION names the program's version; the build defines it"
#endif

namespace {

const char* const kHelp =
    "Usage: ZelkConfig [--trace FILE] [--help | --version]\n"
    "\n"
    "Configures Zelk Series RF serial data modules: connects to a module on a serial\n"
    "port, reads its S-registers into one panel, writes them back, saves and loads them\n"
    "as text files, and shows the module's firmware version.\n"
    "\n"
    "      --trace FILE  write every byte sent to and received from the module, with its\n"
    "                    instant in ms and the step it belongs to, to FILE: the text to\n"
    "                    send when asking for help\n"
    "  -h, --help        show this text and exit\n"
    "      --version     show the program's version and exit\n"
    "\n"
    "The Qt toolkit's own options, such as -platform, are accepted as well.\n"
    "\n"
    "COMn in the panel's port list is the device named by the environment variable\n"
    "ZELK_COMn when it is set (ZELK_COM1=/dev/ttyUSB0, for example), otherwise the n-th\n"
    "serial port the system reports, USB adapters first. On Windows it is COMn itself\n"
    "unless ZELK_COMn names another COM port: ZELK_COM1=COM17 reaches COM17.\n"
    "\n"
    "The panel file ZelkConfig_en.uir is looked for beside the program, then in\n"
    "../share/zelkconfig/ relative to the program's directory.\n";

// 0 when the whole text reached stdout; 1 when it could not be written, as to a full
// disk or a closed pipe, so that a script sees the failure.
int Print(const char* text) {
    const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
}

}  // namespace

bool StartTraceFromCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        const char* path = nullptr;
        if (std::strcmp(argv[i], "--trace") == 0) {
            path = i + 1 < argc ? argv[i + 1] : "";
        } else if (std::strncmp(argv[i], "--trace=", 8) == 0) {
            path = argv[i] + 8;
        }
        if (path == nullptr) {
            continue;
        }
        if (*path == '\0' || ComTraceTo(path) != 0) {
            std::fprintf(stderr, "ZelkConfig: --trace: cannot write the trace file %s: %s\n", path,
                         *path == '\0' ? "no file named" : std::strerror(errno));
            return false;
        }
        return true;
    }
    return true;
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return Print(kHelp);
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            return Print("ZelkConfig " ZELK_VERSION "\n");
        }
    }
    return std::nullopt;
}
