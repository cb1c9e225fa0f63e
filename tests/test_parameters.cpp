// Gathering the panel into the register set, and the textual forms of a value.
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <string>

#include "app/app.h"
#include "params/parameter_set.h"
#include "params/params_panel.h"
#include "params/textual_forms.h"
#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

class Gathering : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(LoadTestPanel(), 0);
        parameters = ParameterSet{};
    }
    void TearDown() override { DiscardTestPanel(); }
};

TEST_F(Gathering, ModulationIsTakenOnlyUnderTheSeriesThatShowsIt) {
    parameters.s113 = 7;
    SetCtrlVal(panelHandle, S113, 0);
    GatherParameters();  // the panel starts on series 1
    EXPECT_EQ(parameters.productIndex, ProductSeries::T1b);
    EXPECT_EQ(parameters.s113, 7);

    SetCtrlVal(panelHandle, PRODUCT, 6);
    GatherParameters();
    EXPECT_EQ(parameters.s113, 0);
}

TEST_F(Gathering, LowPartsAreTakenOnlyWithTwoByteIds) {
    parameters.s121Low = parameters.s122Low = parameters.s123Low = parameters.s130Low = 99;
    SetCtrlVal(panelHandle, S120_L, 1);
    SetCtrlVal(panelHandle, S121_L, 2);
    SetCtrlVal(panelHandle, S130_L, 3);
    GatherParameters();
    EXPECT_EQ(parameters.s120Low, 1);  // the network ID always has both parts
    EXPECT_EQ(parameters.s121Low, 99);
    EXPECT_EQ(parameters.s130Low, 99);
    EXPECT_EQ(parameters.s130High, 100);

    SetCtrlVal(panelHandle, ID_LEN, 1);
    GatherParameters();
    EXPECT_EQ(parameters.idLength, 1);
    EXPECT_EQ(parameters.s121Low, 2);
    EXPECT_EQ(parameters.s123Low, 127);
    EXPECT_EQ(parameters.s130Low, 3);
}

// The register set as the module documents it: S100 to S105, S110 to S113, the ID registers
// S120 to S123 (the network ID always two-part), S124 to S129 and the repeater ID S130.
// Controls are compared by the names the panel file gives them, so the identifiers of the
// table are checked against the panel itself.
TEST_F(Gathering, RegisterTableMatchesTheModulesRegisterList) {
    struct Expected {
        int number;
        IdForm form;
    };
    const Expected registers[] = {
        {100, IdForm::None},
        {101, IdForm::None},
        {102, IdForm::None},
        {103, IdForm::None},
        {104, IdForm::None},
        {105, IdForm::None},
        {110, IdForm::None},
        {111, IdForm::None},
        {112, IdForm::None},
        {113, IdForm::None},
        {120, IdForm::AlwaysTwoPart},
        {121, IdForm::FollowsIdLength},
        {122, IdForm::FollowsIdLength},
        {123, IdForm::FollowsIdLength},
        {124, IdForm::None},
        {125, IdForm::None},
        {126, IdForm::None},
        {127, IdForm::None},
        {128, IdForm::None},
        {129, IdForm::None},
        {130, IdForm::FollowsIdLength},
    };
    ASSERT_EQ(std::size(kRegisterTable), std::size(registers));
    // The set's fields run in register order, high part before low part, right after the
    // series and the ID length: each row's fields must be the next ones.
    ParameterSet set{};
    const auto offset = [&set](ParameterField field) {
        return &(set.*field) - reinterpret_cast<uint8_t*>(&set);
    };
    std::ptrdiff_t nextField = offset(&ParameterSet::idLength) + 1;
    for (std::size_t i = 0; i < std::size(registers); ++i) {
        const RegisterRow& row = kRegisterTable[i];
        const std::string name = "S" + std::to_string(registers[i].number);
        SCOPED_TRACE(name);
        EXPECT_EQ(row.number, registers[i].number);
        EXPECT_EQ(row.idForm, registers[i].form);
        EXPECT_EQ(FindRegister(row.number), &row);
        const bool twoParts = registers[i].form != IdForm::None;
        EXPECT_EQ(ui_testing::InspectControl(panelHandle, row.highControl).constant,
                  twoParts ? name + "_H" : name);
        EXPECT_EQ(offset(row.high), nextField++);
        if (twoParts) {
            EXPECT_EQ(ui_testing::InspectControl(panelHandle, row.lowControl).constant,
                      name + "_L");
            EXPECT_EQ(offset(row.low), nextField++);
        } else {
            EXPECT_EQ(row.low, nullptr);
        }
    }
    EXPECT_EQ(nextField, static_cast<std::ptrdiff_t>(sizeof(ParameterSet)));
    EXPECT_EQ(FindRegister(106), nullptr);
    EXPECT_EQ(FindRegister(115), nullptr);
}

TEST(TextualForms, SetCommandsAndRecordsFitTheirBuffers) {
    char text[32];
    EXPECT_EQ(FormatSetCommand(text, sizeof text, 100, 50), 10);
    EXPECT_STREQ(text, "ATS100=50\n");
    EXPECT_EQ(FormatSetCommand(text, sizeof text, 101, 0), 9);
    EXPECT_EQ(FormatSetCommand(text, sizeof text, 120, 192, 168), 15);
    EXPECT_STREQ(text, "ATS120=192.168\n");
    EXPECT_EQ(FormatRegisterRecord(text, sizeof text, 125, 255), 8);
    EXPECT_STREQ(text, "S125=255");

    char small[8];
    EXPECT_EQ(FormatSetCommand(small, sizeof small, 120, 192, 168), -1);
    EXPECT_EQ(small[sizeof small - 1], '\0');
    EXPECT_EQ(FormatRegisterRecord(small, sizeof small, 100, 50), 7);  // "S100=50" just fits
}

}  // namespace
