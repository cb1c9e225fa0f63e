#include "product/series.h"

#include <cctype>

namespace {

// clang-format off
const SeriesProfile kProfiles[kProductSeriesCount] = {
    {"Zelk-T1a", "T1a", &t1PowerList, &fourModeSleepList, 100, 5, 230, 0},
    {"Zelk-T1b", "T1b", &t1PowerList, &fourModeSleepList, 100, 5, 230, 0},
    {"Zelk-T2a", "T2a", &t2PowerList, &noSleepList,       100, 5, 230, 0},
    {"Zelk-T2b", "T2b", &t2PowerList, &noSleepList,       100, 5, 230, 0},
    // This radio tops out at 38.4 kbps: the two fastest standard rates are not offered.
    {"Zelk-M5",  "M5",  &m5PowerList, &oneModeSleepList,  17,  5, 50,  6},
    {"Zelk-K8",  "K8",  &k8PowerList, &oneModeSleepList,  225, 0, 0,   0},
    {"Zelk-R3",  "R3",  &r3PowerList, &noSleepList,       100, 5, 50,  0},
};
// clang-format on

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace

const SeriesProfile& ProfileOf(ProductSeries series) {
    const auto index = static_cast<std::size_t>(series);
    return kProfiles[index < kProductSeriesCount ? index : 0];
}

bool SeriesFromName(const char* name, ProductSeries* series) {
    for (int index = 0; index < kProductSeriesCount; ++index) {
        if (SameName(name, kProfiles[index].shortName)) {
            *series = static_cast<ProductSeries>(index);
            return true;
        }
    }
    return false;
}

const OptionList& RadioRateList(ProductSeries series, uint8_t loraMode) {
    if (loraMode != 0) {
        return loraRateList;
    }
    switch (series) {
        // The "a" variants are narrow-band radios, the "b" variants fast DSSS ones.
        case ProductSeries::T1a:
        case ProductSeries::T2a:
            return narrowBandRateList;
        case ProductSeries::T1b:
        case ProductSeries::T2b:
            return fastDsssRateList;
        case ProductSeries::M5:
        case ProductSeries::K8:
        case ProductSeries::R3:
            break;
    }
    return standardRateList;
}
