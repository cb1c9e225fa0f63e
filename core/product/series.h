// What sets the product series apart, one profile per series: the option lists and ranges
// it offers, how it treats the modulation, how it leaves command mode, which registers its
// module lists, which the write sends and which its configuration text holds. The
// exchanges, the window's series set-up and the command line's checks all read it; adding
// a series, or changing what one offers, is one row of the table in series.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/params/parameter_set.h"
#include "core/product/option_lists.h"

// How a series treats the modulation register S113.
enum class Modulation : uint8_t {
    FskOnly,  // there is nothing to choose
    // The user chooses FSK or LoRa in the panel, LoRa to start with; the choice is gathered
    // and saved with the other registers, and picks the radio rates on offer.
    Chosen,
    // The module holds the modulation: it is written with the other registers, and after a
    // read the radio rates on offer follow the value the module reported.
    Reported,
};

// Registers of the table that one use leaves out for a series; 0 ends the list.
struct RegisterExceptions {
    int numbers[3];

    bool Contains(int number) const {
        for (int excepted : numbers) {
            if (excepted == number) {
                return number != 0;
            }
        }
        return false;
    }
};

struct SeriesProfile {
    const char* name;       // "Zelk-T1a", as the PRODUCT list shows it
    const char* shortName;  // "T1a", as the command line and the simulator take it

    // What the panel offers.
    const OptionList* powerList;
    const OptionList* sleepList;
    const OptionList* fskRateList;  // the radio rates in FSK; LoRa has one list for all
    uint8_t fskRateItems;           // how many of those the radio offers; 0 for all
    uint8_t channelLimit;           // the largest RF channel
    uint8_t bufferMinimum;          // the serial link buffer's range
    uint8_t bufferMaximum;
    // The panel keeps whatever buffer range the series selected before left; the range
    // above is what the module takes.
    bool keepsBufferRange;
    Modulation modulation;
    uint8_t startingModulation;  // 0 FSK, 1 LoRa

    // The exchanges with the module.
    const char* leaveCommand;      // "ATX\n" or "ATO\n", four characters
    RegisterExceptions unlisted;   // registers of the set its register list does not hold
    RegisterExceptions unwritten;  // registers the write sequence does not send
    bool writesTwoPartIds;         // S121..S130 go out two-part with two-byte IDs

    // Its configuration text.
    RegisterExceptions unsaved;  // registers of the set the text leaves out
    bool savesTwoPartIds;        // S121..S130 are saved two-part with two-byte IDs
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
AllowedValues AllowedFor(ProductSeries series, uint8_t modulation, const RegisterRow& row);
bool IsAllowed(const AllowedValues& allowed, uint8_t value);

// The register set as the panel holds it right after start-up with the series selected:
// the panel's initial values, as the series set-up leaves them, with one-byte IDs.
ParameterSet StartingParameters(ProductSeries series);
