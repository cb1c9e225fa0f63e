#include "window/app/app.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

namespace {

// A window program gets no console of its own. Started from one, it writes --help,
// --version and the one line of a failed start there, as a console program would; a stream
// that is already somewhere (a file, a pipe) stays where it is.
void WriteToTheStartingConsole() {
    const bool out = GetStdHandle(STD_OUTPUT_HANDLE) == nullptr;
    const bool err = GetStdHandle(STD_ERROR_HANDLE) == nullptr;
    if ((out || err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (out) {
            (void)std::freopen("CONOUT$", "w", stdout);
        }
        if (err) {
            (void)std::freopen("CONOUT$", "w", stderr);
        }
    }
}

}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    WriteToTheStartingConsole();
#endif
    return RunZelkConfig(argc, argv);
}
