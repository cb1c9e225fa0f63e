// Any text at all through the scanner of register records, and the two other readers of
// records that share it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/params/config_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A buffer of exactly the text's length: a scanner that looks past the end is stopped by
    // AddressSanitizer, whatever the memory behind it would hold.
    const std::vector<char> text(data, data + size);
    ScanConfigText(
        text.data(), size,
        [](void*, const AppliedRecord& record) {
            // Only registers of the set, and a low part only where the register has one.
            if (FindRegister(record.row->number) != record.row ||
                (record.setsLow && record.row->low == nullptr)) {
                std::abort();
            }
        },
        nullptr);
    uint8_t value = 0;
    if (WholeRecordsLength(text.data(), size) > size) {
        std::abort();
    }
    FindRegisterValue(text.data(), size, 110, &value);
    return 0;
}
