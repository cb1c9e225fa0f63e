// Any bytes at all through the panel file's JSON reader. What it accepts, Qt's reader must
// read to the same values; what it refuses, it must refuse with a reason and an offset
// inside the bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/ui/panel_json.h"
#include "tests/support/json_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    panel_json::Value document;
    panel_json::ParseError error;
    if (panel_json::Parse(bytes, document, error)) {
        if (!QtReadsTheSame(bytes, document)) {
            std::abort();
        }
    } else if (error.reason.empty() || error.offset > size) {
        std::abort();
    }
    return 0;
}
