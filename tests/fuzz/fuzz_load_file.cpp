// Any file at all through the load button: bytes to a file on disk, the file dialog
// answered with its path, the file read into the text and scanned into the real panel.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/ui/panel_controls.h"
#include "runtime/ui/ui_test_seam.h"
#include "tests/support/panel_fixture.h"
#include "window/app/app.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/params/params_panel.h"

namespace {

std::string directoryForInput;
std::string filePathForInput;

void RemoveInputFile() {
    std::remove(filePathForInput.c_str());
    std::remove(directoryForInput.c_str());
}

}  // namespace

// The panel loads headless, with popups answered by the test seam.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char directory[] = "/tmp/zelk-fuzz-load-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::abort();
    }
    directoryForInput = directory;
    filePathForInput = directoryForInput + "/input.txt";
    std::atexit(RemoveInputFile);
    if (LoadTestPanel() < 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(filePathForInput, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ui_testing::AnswerNextFileSelect(filePathForInput);
    OpenFileBack(panelHandle, OPEN_FILE, EVENT_COMMIT, nullptr, 0, 0);
    ui_testing::TakePopups();
    return 0;
}
