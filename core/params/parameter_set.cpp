#include "core/params/parameter_set.h"

ParameterSet parameters;

const RegisterRow* FindRegister(int number) {
    for (const RegisterRow& row : kRegisterTable) {
        if (row.number == number) {
            return &row;
        }
    }
    return nullptr;
}

void SetRegister(ParameterSet* set, const RegisterRow& row, uint8_t high, bool withLow,
                 uint8_t low) {
    set->*row.high = high;
    if (withLow && row.low != nullptr) {
        set->*row.low = low;
    }
}
