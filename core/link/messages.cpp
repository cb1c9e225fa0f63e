#include "core/link/messages.h"

#include <cstdio>
#include <iterator>

#include "core/link/connection.h"
#include "core/product/series.h"

const char kVersionDidNotCome[] =
    "The firmware version (\"AT/V\") did not come: no \">\" within 5 seconds.";

void DescribeCutRegisterList(std::size_t received, char* text, std::size_t size) {
    std::snprintf(text, size,
                  "The register list (\"AT/L\") did not come whole: %zu characters and no "
                  "\">\".",
                  received);
}

namespace {

// "a, b or c" into names, once: the lists never change during a run. name(index, item)
// spells one entry into item.
template <std::size_t Size, typename Name>
const char* JoinOnce(char (&names)[Size], int count, Name name) {
    if (names[0] != '\0') {
        return names;
    }
    std::size_t length = 0;
    for (int index = 0; index < count && length < Size; ++index) {
        char item[16];
        name(index, item);
        const char* separator = index == 0 ? "" : index == count - 1 ? " or " : ", ";
        const int added = std::snprintf(names + length, Size - length, "%s%s", separator, item);
        length += static_cast<std::size_t>(added > 0 ? added : 0);
    }
    return names;
}

}  // namespace

const char* SeriesNames() {
    static char names[64];
    return JoinOnce(names, kProductSeriesCount, [](int index, char(&item)[16]) {
        std::snprintf(item, sizeof item, "%s",
                      ProfileOf(static_cast<ProductSeries>(index)).shortName);
    });
}

const char* BaudRateNames() {
    static char names[96];
    return JoinOnce(names, static_cast<int>(std::size(kComBaudRates)),
                    [](int index, char(&item)[16]) {
                        std::snprintf(item, sizeof item, "%lu",
                                      static_cast<unsigned long>(kComBaudRates[index]));
                    });
}

const char* FormatNames() {
    static char names[64];
    return JoinOnce(names, kSerialFormatCount, [](int index, char(&item)[16]) {
        std::snprintf(item, sizeof item, "%s", serialFormats[index].name);
    });
}
