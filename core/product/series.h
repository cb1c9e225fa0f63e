// What each product series offers: its option lists and the ranges of its numeric
// registers. The series set-up of the panel and the command line's checks both read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/params/parameter_set.h"
#include "core/product/option_lists.h"

struct SeriesProfile {
    const char* name;       // "Zelk-T1a", as the PRODUCT list shows it
    const char* shortName;  // "T1a", as the command line and the simulator take it
    const OptionList* powerList;
    const OptionList* sleepList;
    uint8_t channelLimit;  // the largest RF channel
    // The serial link buffer's range; both 0 where the series keeps the range that the
    // series selected before it left.
    uint8_t bufferMinimum;
    uint8_t bufferMaximum;
    // How many items of the FSK rate list the radio offers; 0 for all of them.
    uint8_t fskRateItems;
};

const SeriesProfile& ProfileOf(ProductSeries series);
// The series with this short name ("T1a" .. "R3", any case); false when none has it.
bool SeriesFromName(const char* name, ProductSeries* series);

// The radio baud rate list of the series in this modulation (0 FSK, any other LoRa).
const OptionList& RadioRateList(ProductSeries series, uint8_t loraMode);

// What a register (or each part of an ID register) may hold under a series: the items of
// a list, or a range. Where a list offers fewer items than it has, only the first count
// are offered.
struct AllowedValues {
    const OptionList* list;  // nullptr for a range
    std::size_t count;       // items of the list on offer
    int minimum;
    int maximum;
};
// What the panel offers for the register once the series is selected, with the modulation
// given (it picks the radio rates of the series that have a choice).
AllowedValues AllowedFor(ProductSeries series, uint8_t modulation, int registerNumber);
bool IsAllowed(const AllowedValues& allowed, uint8_t value);

// The register set as the panel holds it right after start-up with the series selected:
// the panel's initial values, as the series set-up leaves them, with one-byte IDs.
ParameterSet StartingParameters(ProductSeries series);
