#include "params/parameter_set.h"

#include "ui/panel_ids.h"

ParameterSet parameters;

// clang-format off
const RegisterRow kRegisterTable[21] = {
    {100, S100,   0,      &ParameterSet::s100,     nullptr,               IdForm::None},
    {101, S101,   0,      &ParameterSet::s101,     nullptr,               IdForm::None},
    {102, S102,   0,      &ParameterSet::s102,     nullptr,               IdForm::None},
    {103, S103,   0,      &ParameterSet::s103,     nullptr,               IdForm::None},
    {104, S104,   0,      &ParameterSet::s104,     nullptr,               IdForm::None},
    {105, S105,   0,      &ParameterSet::s105,     nullptr,               IdForm::None},
    {110, S110,   0,      &ParameterSet::s110,     nullptr,               IdForm::None},
    {111, S111,   0,      &ParameterSet::s111,     nullptr,               IdForm::None},
    {112, S112,   0,      &ParameterSet::s112,     nullptr,               IdForm::None},
    {113, S113,   0,      &ParameterSet::s113,     nullptr,               IdForm::None},
    {120, S120_H, S120_L, &ParameterSet::s120High, &ParameterSet::s120Low, IdForm::AlwaysTwoPart},
    {121, S121_H, S121_L, &ParameterSet::s121High, &ParameterSet::s121Low, IdForm::FollowsIdLength},
    {122, S122_H, S122_L, &ParameterSet::s122High, &ParameterSet::s122Low, IdForm::FollowsIdLength},
    {123, S123_H, S123_L, &ParameterSet::s123High, &ParameterSet::s123Low, IdForm::FollowsIdLength},
    {124, S124,   0,      &ParameterSet::s124,     nullptr,               IdForm::None},
    {125, S125,   0,      &ParameterSet::s125,     nullptr,               IdForm::None},
    {126, S126,   0,      &ParameterSet::s126,     nullptr,               IdForm::None},
    {127, S127,   0,      &ParameterSet::s127,     nullptr,               IdForm::None},
    {128, S128,   0,      &ParameterSet::s128,     nullptr,               IdForm::None},
    {129, S129,   0,      &ParameterSet::s129,     nullptr,               IdForm::None},
    {130, S130_H, S130_L, &ParameterSet::s130High, &ParameterSet::s130Low, IdForm::FollowsIdLength},
};
// clang-format on

const RegisterRow* FindRegister(int number) {
    for (const RegisterRow& row : kRegisterTable) {
        if (row.number == number) {
            return &row;
        }
    }
    return nullptr;
}
