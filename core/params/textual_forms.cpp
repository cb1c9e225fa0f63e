#include "core/params/textual_forms.h"

#include <cstdio>

namespace {

int Finish(int written, std::size_t size) {
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        return -1;
    }
    return written;
}

}  // namespace

int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t value) {
    return Finish(std::snprintf(out, size, "ATS%03d=%d\n", registerNumber, value), size);
}

int FormatSetCommand(char* out, std::size_t size, int registerNumber, uint8_t high, uint8_t low) {
    return Finish(std::snprintf(out, size, "ATS%03d=%d.%d\n", registerNumber, high, low), size);
}

int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t value) {
    return Finish(std::snprintf(out, size, "S%03d=%d", registerNumber, value), size);
}

int FormatRegisterRecord(char* out, std::size_t size, int registerNumber, uint8_t high,
                         uint8_t low) {
    return Finish(std::snprintf(out, size, "S%03d=%d.%d", registerNumber, high, low), size);
}
