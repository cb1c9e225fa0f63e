// The test programs' main: the tests, or one child's body when RunTogether started this
// process as one.
#include <gtest/gtest.h>

#include "tests/support/together.h"

int main(int argc, char** argv) {
    if (const int status = RunChildIfAsked(); status >= 0) {
        return status;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
