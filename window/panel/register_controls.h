// Which controls of the panel show each register: the window's side of the register table,
// row for row.
#pragma once

#include <cstddef>
#include <iterator>

#include "core/params/parameter_set.h"
#include "window/panel/panel_ids.h"

struct RegisterControls {
    int number;  // the register, as in the register table's row
    int high;
    int low;  // 0 when the register has one part
};

// clang-format off
inline constexpr RegisterControls kRegisterControls[] = {
    {100, S100,   0},      {101, S101,   0},      {102, S102,   0},      {103, S103, 0},
    {104, S104,   0},      {105, S105,   0},      {110, S110,   0},      {111, S111, 0},
    {112, S112,   0},      {113, S113,   0},      {120, S120_H, S120_L}, {121, S121_H, S121_L},
    {122, S122_H, S122_L}, {123, S123_H, S123_L}, {124, S124,   0},      {125, S125, 0},
    {126, S126,   0},      {127, S127,   0},      {128, S128,   0},      {129, S129, 0},
    {130, S130_H, S130_L},
};
// clang-format on

constexpr bool ControlsFollowTheRegisterTable() {
    if (std::size(kRegisterControls) != std::size(kRegisterTable)) {
        return false;
    }
    for (std::size_t i = 0; i < std::size(kRegisterTable); ++i) {
        const bool twoPart = kRegisterTable[i].idForm != IdForm::None;
        if (kRegisterControls[i].number != kRegisterTable[i].number ||
            (kRegisterControls[i].low != 0) != twoPart) {
            return false;
        }
    }
    return true;
}
static_assert(ControlsFollowTheRegisterTable(),
              "every register of the table needs its controls, in the table's order");

// The controls of a row of the register table.
inline const RegisterControls& ControlsOf(const RegisterRow& row) {
    return kRegisterControls[&row - kRegisterTable];
}
