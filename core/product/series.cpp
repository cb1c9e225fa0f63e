#include "core/product/series.h"

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

AllowedValues AllowedFor(ProductSeries series, uint8_t modulation, int registerNumber) {
    const SeriesProfile& profile = ProfileOf(series);
    const auto list = [](const OptionList& options, std::size_t count = 0) {
        return AllowedValues{&options, count != 0 ? count : options.count, 0, 0};
    };
    const auto range = [](int minimum, int maximum) {
        return AllowedValues{nullptr, 0, minimum, maximum};
    };
    switch (registerNumber) {
        case 100:
            // The K8 keeps the range of the series selected before it; from start-up that
            // is the T1b's.
            return profile.bufferMaximum != 0 ? range(profile.bufferMinimum, profile.bufferMaximum)
                                              : range(ProfileOf(ProductSeries::T1b).bufferMinimum,
                                                      ProfileOf(ProductSeries::T1b).bufferMaximum);
        case 101:
            return list(flowControlList);
        case 102:
            return list(timeoutList);
        case 103:
            return list(*profile.sleepList);
        case 104:
            return list(serialRateList);
        case 105:
            return list(serialFormatList);
        case 110:
            return list(RadioRateList(series, modulation),
                        modulation == 0 ? profile.fskRateItems : 0);
        case 111:
            return range(0, profile.channelLimit);
        case 112:
            return list(*profile.powerList);
        case 113:
            return list(modulationList);
        case 124:
            return list(workingModeList);
        case 126:
            return list(addressControlList);
        case 127:
        case 128:
        case 129:
            return list(yesNoList);
        default:
            return range(0, 255);  // the IDs' parts and the retransmissions
    }
}

bool IsAllowed(const AllowedValues& allowed, uint8_t value) {
    if (allowed.list == nullptr) {
        return value >= allowed.minimum && value <= allowed.maximum;
    }
    for (std::size_t i = 0; i < allowed.count; ++i) {
        if (allowed.list->items[i].value == value) {
            return true;
        }
    }
    return false;
}

ParameterSet StartingParameters(ProductSeries series) {
    const SeriesProfile& profile = ProfileOf(series);
    const bool r3 = series == ProductSeries::R3;
    ParameterSet set{};
    set.productIndex = series;
    set.idLength = 0;
    // The DSSS radios of the T series start with the large buffer.
    set.s100 = &RadioRateList(series, 0) == &standardRateList || r3 ? 50 : 200;
    set.s102 = 5;
    set.s104 = 3;
    set.s110 = RadioRateList(series, r3 ? 1 : 0).selected;
    set.s112 = profile.powerList->selected;
    set.s113 = r3 ? 1 : 0;
    set.s120High = 192;
    set.s120Low = 168;
    set.s121High = set.s121Low = 10;
    set.s122High = set.s122Low = 11;
    set.s123High = set.s123Low = 127;
    set.s125 = 2;
    set.s130High = set.s130Low = 100;
    return set;
}
