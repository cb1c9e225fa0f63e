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
