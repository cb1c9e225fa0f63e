// Any text at all through the scanner of register records, against the real panel.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/params/config_text.h"
#include "runtime/ui/ui_test_seam.h"
#include "tests/support/panel_fixture.h"
#include "window/app/app.h"
#include "window/panel/panel.h"
#include "window/params/params_panel.h"

// The panel loads headless, with popups answered by the test seam.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (LoadTestPanel() < 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::size_t length = std::min(size, CONFIG_TEXT_SIZE - 1);
    std::memcpy(configText, data, length);
    configText[length] = '\0';
    // Everything behind the terminating zero is off limits: a scanner that looks there
    // is stopped by AddressSanitizer, not only one that leaves the buffer.
    char* behind = configText + length + 1;
    const std::size_t behindSize = CONFIG_TEXT_SIZE - length - 1;
    ASAN_POISON_MEMORY_REGION(behind, behindSize);
    ParseConfigText(length);
    ASAN_UNPOISON_MEMORY_REGION(behind, behindSize);
    ui_testing::TakePopups();
    return 0;
}
