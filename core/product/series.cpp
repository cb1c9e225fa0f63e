#include "core/product/series.h"

#include <cctype>

namespace {

// One row per series, three lines a row:
//   name, short name, power list, sleep list, FSK rate list, how many of its rates are on
//   offer (0: all); channel limit, buffer range, whether the panel keeps the range the last
//   series left, the modulation and what it starts with; the leave command, registers its
//   list lacks, registers the write skips, two-part IDs written; registers its text leaves
//   out, two-part IDs saved.
// clang-format off
const SeriesProfile kProfiles[kProductSeriesCount] = {
    // The "a" variants are narrow-band radios, the "b" variants fast DSSS ones.
    {"Zelk-T1a", "T1a", &t1PowerList, &fourModeSleepList, &narrowBandRateList, 0,
     100, 5, 230, false, Modulation::FskOnly,  0,
     "ATX\n", {113},           {113},      true,  {113},      true},
    {"Zelk-T1b", "T1b", &t1PowerList, &fourModeSleepList, &fastDsssRateList,   0,
     100, 5, 230, false, Modulation::FskOnly,  0,
     "ATX\n", {113},           {113},      true,  {113},      true},
    {"Zelk-T2a", "T2a", &t2PowerList, &noSleepList,       &narrowBandRateList, 0,
     100, 5, 230, false, Modulation::FskOnly,  0,
     "ATX\n", {113},           {113},      true,  {113},      true},
    {"Zelk-T2b", "T2b", &t2PowerList, &noSleepList,       &fastDsssRateList,   0,
     100, 5, 230, false, Modulation::FskOnly,  0,
     "ATX\n", {113},           {113},      true,  {113},      true},
    // This radio tops out at 38.4 kbps. It has no repeater, keeps one-byte node IDs on the
    // wire whatever the ID length says, and takes its serial format without listing it.
    {"Zelk-M5",  "M5",  &m5PowerList, &oneModeSleepList,  &standardRateList,   6,
     17,  5, 50,  false, Modulation::Reported, 0,
     "ATO\n", {105, 129, 130}, {129, 130}, false, {105, 113}, true},
    {"Zelk-K8",  "K8",  &k8PowerList, &oneModeSleepList,  &standardRateList,   0,
     225, 5, 230, true,  Modulation::FskOnly,  0,
     "ATO\n", {105, 113},      {113},      true,  {105, 113}, true},
    // Its modulation is the panel's choice and is saved, but the module is not sent it; its
    // text keeps the node IDs one-part, so a load of it comes back with one-byte IDs.
    {"Zelk-R3",  "R3",  &r3PowerList, &noSleepList,       &standardRateList,   0,
     100, 5, 50,  false, Modulation::Chosen,   1,
     "ATX\n", {},              {113},      true,  {},         false},
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
    return loraMode != 0 ? loraRateList : *ProfileOf(series).fskRateList;
}

AllowedValues AllowedFor(ProductSeries series, uint8_t modulation, const RegisterRow& row) {
    const SeriesProfile& profile = ProfileOf(series);
    const auto list = [](const OptionList& options, std::size_t count = 0) {
        return AllowedValues{&options, count != 0 ? count : options.count, 0, 0};
    };
    const auto range = [](int minimum, int maximum) {
        return AllowedValues{nullptr, 0, minimum, maximum};
    };
    switch (row.values) {
        case ValueRule::FixedList:
            return list(*row.list);
        case ValueRule::LinkBuffer:
            return range(profile.bufferMinimum, profile.bufferMaximum);
        case ValueRule::SleepModes:
            return list(*profile.sleepList);
        case ValueRule::RadioRates:
            return list(RadioRateList(series, modulation),
                        modulation == 0 ? profile.fskRateItems : 0);
        case ValueRule::Channel:
            return range(0, profile.channelLimit);
        case ValueRule::TxPower:
            return list(*profile.powerList);
        case ValueRule::AnyByte:
            break;
    }
    return range(0, 255);
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
    const OptionList& rates = RadioRateList(series, profile.startingModulation);
    ParameterSet set{};
    set.productIndex = series;
    set.idLength = 0;
    set.s100 = rates.linkBuffer;
    set.s102 = 5;
    set.s104 = 3;
    set.s110 = rates.selected;
    set.s112 = profile.powerList->selected;
    set.s113 = profile.startingModulation;
    set.s120High = 192;
    set.s120Low = 168;
    set.s121High = set.s121Low = 10;
    set.s122High = set.s122Low = 11;
    set.s123High = set.s123Low = 127;
    set.s125 = 2;
    set.s130High = set.s130Low = 100;
    return set;
}
