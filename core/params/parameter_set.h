// The module's configuration registers as the program holds them: the product series, the
// register set, and the one table that says which fields carry each register and in what
// form. Data only: every layer may include it without pulling in an exchange.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/product/option_lists.h"

// The series of the PRODUCT list, in its order; the value is the list item's value.
enum class ProductSeries : uint8_t { T1a, T1b, T2a, T2b, M5, K8, R3 };
constexpr int kProductSeriesCount = 7;

struct ParameterSet {
    ProductSeries productIndex;
    uint8_t idLength;  // 0: one-byte IDs, 1: two-byte IDs
    uint8_t s100, s101, s102, s103, s104, s105;
    uint8_t s110, s111, s112, s113;
    uint8_t s120High, s120Low, s121High, s121Low, s122High, s122Low, s123High, s123Low;
    uint8_t s124, s125, s126, s127, s128, s129;
    uint8_t s130High, s130Low;
};

// The one record, alive for the whole run.
extern ParameterSet parameters;

// How many parts an ID register has.
enum class IdForm : uint8_t {
    None,             // not an ID: one value
    AlwaysTwoPart,    // the network ID, S120
    FollowsIdLength,  // S121, S122, S123, S130: a low part only with two-byte IDs
};

using ParameterField = uint8_t ParameterSet::*;

// Where the values a register may take are written down: in the row's own list, or in the
// profile of the series (core/product/series.h).
enum class ValueRule : uint8_t {
    AnyByte,     // 0 to 255: the IDs' parts, the retransmissions
    FixedList,   // the row's list, the same for every series
    LinkBuffer,  // the series' range of the serial link buffer
    SleepModes,  // the series' sleep list
    RadioRates,  // the series' radio rate list for the modulation
    Channel,     // 0 to the series' channel limit
    TxPower,     // the series' power list
};

struct RegisterRow {
    int number;  // 100 for S100
    ParameterField high;
    ParameterField low;  // nullptr when the register has one part
    IdForm idForm;
    ValueRule values;
    const OptionList* list;  // the list of a FixedList register; nullptr otherwise
};

// Every register of the set, S100 to S130 in number order. Gathering, applying a record,
// formatting a text, checking a value and the write sequence all go through this table: a
// register added here is gathered, applied, saved and checked, and written once the write
// sequence names it.
// clang-format off
inline constexpr RegisterRow kRegisterTable[] = {
    {100, &ParameterSet::s100,     nullptr,                IdForm::None,            ValueRule::LinkBuffer, nullptr},
    {101, &ParameterSet::s101,     nullptr,                IdForm::None,            ValueRule::FixedList,  &flowControlList},
    {102, &ParameterSet::s102,     nullptr,                IdForm::None,            ValueRule::FixedList,  &timeoutList},
    {103, &ParameterSet::s103,     nullptr,                IdForm::None,            ValueRule::SleepModes, nullptr},
    {104, &ParameterSet::s104,     nullptr,                IdForm::None,            ValueRule::FixedList,  &serialRateList},
    {105, &ParameterSet::s105,     nullptr,                IdForm::None,            ValueRule::FixedList,  &serialFormatList},
    {110, &ParameterSet::s110,     nullptr,                IdForm::None,            ValueRule::RadioRates, nullptr},
    {111, &ParameterSet::s111,     nullptr,                IdForm::None,            ValueRule::Channel,    nullptr},
    {112, &ParameterSet::s112,     nullptr,                IdForm::None,            ValueRule::TxPower,    nullptr},
    {113, &ParameterSet::s113,     nullptr,                IdForm::None,            ValueRule::FixedList,  &modulationList},
    {120, &ParameterSet::s120High, &ParameterSet::s120Low, IdForm::AlwaysTwoPart,   ValueRule::AnyByte,    nullptr},
    {121, &ParameterSet::s121High, &ParameterSet::s121Low, IdForm::FollowsIdLength, ValueRule::AnyByte,    nullptr},
    {122, &ParameterSet::s122High, &ParameterSet::s122Low, IdForm::FollowsIdLength, ValueRule::AnyByte,    nullptr},
    {123, &ParameterSet::s123High, &ParameterSet::s123Low, IdForm::FollowsIdLength, ValueRule::AnyByte,    nullptr},
    {124, &ParameterSet::s124,     nullptr,                IdForm::None,            ValueRule::FixedList,  &workingModeList},
    {125, &ParameterSet::s125,     nullptr,                IdForm::None,            ValueRule::AnyByte,    nullptr},
    {126, &ParameterSet::s126,     nullptr,                IdForm::None,            ValueRule::FixedList,  &addressControlList},
    {127, &ParameterSet::s127,     nullptr,                IdForm::None,            ValueRule::FixedList,  &yesNoList},
    {128, &ParameterSet::s128,     nullptr,                IdForm::None,            ValueRule::FixedList,  &yesNoList},
    {129, &ParameterSet::s129,     nullptr,                IdForm::None,            ValueRule::FixedList,  &yesNoList},
    {130, &ParameterSet::s130High, &ParameterSet::s130Low, IdForm::FollowsIdLength, ValueRule::AnyByte,    nullptr},
};
// clang-format on

// The row of a register, or nullptr when the register is not part of the set.
const RegisterRow* FindRegister(int number);
// Puts a value into a register of the set: its high part, and its low part only when one
// is given and the register has one.
void SetRegister(ParameterSet* set, const RegisterRow& row, uint8_t high, bool withLow,
                 uint8_t low);
