// The module's configuration registers as the program holds them: the product series, the
// register set, and the one table that says which fields carry each register and in what
// form. Data only: every layer may include it without pulling in an exchange.
#pragma once

#include <cstddef>
#include <cstdint>

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

struct RegisterRow {
    int number;  // 100 for S100
    ParameterField high;
    ParameterField low;  // nullptr when the register has one part
    IdForm idForm;
};

// Every register of the set, S100 to S130 in number order. Gathering, applying a record,
// formatting a text and the write sequence all go through this table: a register added
// here is gathered, applied and saved, and written once the write sequence names it.
// clang-format off
inline constexpr RegisterRow kRegisterTable[] = {
    {100, &ParameterSet::s100,     nullptr,                IdForm::None},
    {101, &ParameterSet::s101,     nullptr,                IdForm::None},
    {102, &ParameterSet::s102,     nullptr,                IdForm::None},
    {103, &ParameterSet::s103,     nullptr,                IdForm::None},
    {104, &ParameterSet::s104,     nullptr,                IdForm::None},
    {105, &ParameterSet::s105,     nullptr,                IdForm::None},
    {110, &ParameterSet::s110,     nullptr,                IdForm::None},
    {111, &ParameterSet::s111,     nullptr,                IdForm::None},
    {112, &ParameterSet::s112,     nullptr,                IdForm::None},
    {113, &ParameterSet::s113,     nullptr,                IdForm::None},
    {120, &ParameterSet::s120High, &ParameterSet::s120Low, IdForm::AlwaysTwoPart},
    {121, &ParameterSet::s121High, &ParameterSet::s121Low, IdForm::FollowsIdLength},
    {122, &ParameterSet::s122High, &ParameterSet::s122Low, IdForm::FollowsIdLength},
    {123, &ParameterSet::s123High, &ParameterSet::s123Low, IdForm::FollowsIdLength},
    {124, &ParameterSet::s124,     nullptr,                IdForm::None},
    {125, &ParameterSet::s125,     nullptr,                IdForm::None},
    {126, &ParameterSet::s126,     nullptr,                IdForm::None},
    {127, &ParameterSet::s127,     nullptr,                IdForm::None},
    {128, &ParameterSet::s128,     nullptr,                IdForm::None},
    {129, &ParameterSet::s129,     nullptr,                IdForm::None},
    {130, &ParameterSet::s130High, &ParameterSet::s130Low, IdForm::FollowsIdLength},
};
// clang-format on

// The row of a register, or nullptr when the register is not part of the set.
const RegisterRow* FindRegister(int number);
