// Catalogue of the option lists: those that depend on the product series, and the fixed
// lists of the other register controls, whose texts and values the panel file shows too.
#pragma once

#include <cstddef>
#include <cstdint>

struct OptionItem {
    const char* text;
    uint8_t value;
};

struct OptionList {
    const OptionItem* items;
    std::size_t count;
    uint8_t selected;
    // Radio rate lists only: the serial link buffer (S100) that goes with these rates; 0 for
    // every other list.
    uint8_t linkBuffer;
};

extern const OptionList t1PowerList, t2PowerList, m5PowerList, k8PowerList, r3PowerList;
extern const OptionList fourModeSleepList, oneModeSleepList, noSleepList;
extern const OptionList standardRateList, narrowBandRateList, fastDsssRateList, loraRateList;
extern const OptionList flowControlList, timeoutList, serialRateList, serialFormatList,
    modulationList, workingModeList, addressControlList, yesNoList;
