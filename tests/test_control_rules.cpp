// Dimming, showing and setting the controls that depend on the working mode, the address
// control, the repeater options and the ID length.
#include <gtest/gtest.h>

#include <initializer_list>

#include "app/app.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "product/product_series.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

int Value(int control) {
    uint8_t value = 0;
    GetCtrlVal(panelHandle, control, &value);
    return value;
}

int Dimmed(int control) {
    int value = -1;
    GetCtrlAttribute(panelHandle, control, ATTR_DIMMED, &value);
    return value;
}

int Visible(int control) {
    int value = -1;
    GetCtrlAttribute(panelHandle, control, ATTR_VISIBLE, &value);
    return value;
}

constexpr int kLowParts[] = {S121_L, S122_L, S123_L, S130_L, DOT1, DOT3, DOT4, DOT5};

class ControlRules : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterCallback("SelectProductCallBack", SelectProductCallBack);
        RegisterCallback("fskLora_selectCallBack", fskLora_selectCallBack);
        RegisterCallback("IdLenCallBack", IdLenCallBack);
        RegisterCallback("SetModeCallBack", SetModeCallBack);
        RegisterCallback("S126CallBack", S126CallBack);
        RegisterCallback("S128CallBack", S128CallBack);
        RegisterCallback("S129CallBack", S129CallBack);
        ASSERT_GE(LoadTestPanel(), 0);
        parameters = ParameterSet{};
        ApplyControlRules();
        SelectProductCallBack(panelHandle, PRODUCT, EVENT_COMMIT, nullptr, 0, 0);
    }
    void TearDown() override { DiscardTestPanel(); }

    static void Commit(int control, int value) {
        ASSERT_EQ(ui_testing::UserSetValue(panelHandle, control, value), 0);
    }
    // What a read from the module or a file load leaves: values set, then the full pass.
    static void Parsed(std::initializer_list<std::pair<int, int>> values) {
        for (const auto& [control, value] : values) {
            SetCtrlVal(panelHandle, control, value);
        }
        ApplyControlRules();
    }
};

TEST_F(ControlRules, StartUpDimsTheAddressControlsAndHidesTheLowParts) {
    for (int control : kLowParts) {
        EXPECT_EQ(Visible(control), 0) << control;
    }
    for (int control : {S121_H, S122_H, S126, S125, S127, S130_H}) {
        EXPECT_EQ(Dimmed(control), 1) << control;
    }
    for (int control : {S123_H, S124, S129, S128, S120_H}) {
        EXPECT_EQ(Dimmed(control), 0) << control;
    }
    EXPECT_EQ(Value(S127), 0);
    EXPECT_EQ(Visible(S120_L), 1);
    EXPECT_EQ(Visible(DOT2), 1);
}

TEST_F(ControlRules, WorkingModeDecidesBetweenAddressesAndGroup) {
    for (int mode : {2, 3, 0, 1, 10, 21, 22, 23, 3}) {
        SCOPED_TRACE(mode);
        // Start from the opposite kind of mode, with the echo turned on.
        const bool addressMode = mode == 2 || mode == 3;
        Commit(S124, addressMode ? 0 : 2);
        if (!addressMode) {
            Commit(S127, 1);
        }
        Commit(S124, mode);
        const int addressDimmed = addressMode ? 0 : 1;
        for (int control : {S121_H, S122_H, S126, S125, S127}) {
            EXPECT_EQ(Dimmed(control), addressDimmed) << control;
        }
        EXPECT_EQ(Dimmed(S123_H), 1 - addressDimmed);
        EXPECT_EQ(Value(S127), 0);
        EXPECT_EQ(parameters.s124, mode);
    }
}

TEST_F(ControlRules, EchoKeepsItsValueInTheAddressModes) {
    Commit(S124, 2);
    Commit(S127, 1);
    Commit(S124, 3);
    EXPECT_EQ(Value(S127), 1);
}

TEST_F(ControlRules, AddressControlDimsTheDestinationWhenTheHeaderCarriesIt) {
    Commit(S124, 2);
    for (int control : {1, 0, 3, 2, 1}) {
        Commit(S126, control);
        EXPECT_EQ(Dimmed(S122_H), control == 1 || control == 3 ? 1 : 0) << control;
        EXPECT_EQ(Dimmed(S121_H), 0);
        EXPECT_EQ(parameters.s126, control);
    }
}

TEST_F(ControlRules, AddressControlChangesNothingInTheTransparentModes) {
    Commit(S124, 2);
    Commit(S126, 1);
    for (int mode : {0, 1}) {
        SetCtrlVal(panelHandle, S124, mode);
        SetCtrlAttribute(panelHandle, S122_H, ATTR_DIMMED, 0);
        ApplyAddressControlRule();
        EXPECT_EQ(Dimmed(S122_H), 0) << mode;
        SetCtrlAttribute(panelHandle, S122_H, ATTR_DIMMED, 1);
        SetCtrlVal(panelHandle, S126, 0);
        ApplyAddressControlRule();
        EXPECT_EQ(Dimmed(S122_H), 1) << mode;
        SetCtrlVal(panelHandle, S126, 1);
    }
}

// A change of working mode alone does not look at the address control again.
TEST_F(ControlRules, ModeChangeAloneLeavesTheDestinationOperable) {
    Commit(S124, 2);
    Commit(S126, 1);
    ASSERT_EQ(Dimmed(S122_H), 1);
    Commit(S124, 0);
    Commit(S124, 2);
    EXPECT_EQ(Dimmed(S122_H), 0);

    Commit(S126, 1);
    EXPECT_EQ(Dimmed(S122_H), 1);

    Commit(S124, 0);
    Commit(S124, 2);
    ApplyControlRules();
    EXPECT_EQ(Dimmed(S122_H), 1);
}

TEST_F(ControlRules, FullPassLetsTheAddressControlDecideInTheTestModes) {
    for (int mode : {10, 21, 22, 23}) {
        for (int control : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", address control " << control);
            Parsed({{S124, mode}, {S126, control}});
            EXPECT_EQ(Dimmed(S121_H), 1);
            EXPECT_EQ(Dimmed(S122_H), control == 1 || control == 3 ? 1 : 0);
            EXPECT_EQ(Dimmed(S123_H), 0);

            // Committing the mode runs the working-mode rule only, which dims it again.
            Commit(S124, mode);
            EXPECT_EQ(Dimmed(S122_H), 1);
        }
    }
}

TEST_F(ControlRules, RepeaterNodeTakesOverModeViaRepeaterAndGroup) {
    Parsed({{ID_LEN, 1}, {S124, 2}, {S129, 1}, {S130_H, 33}, {S130_L, 44}});
    ASSERT_EQ(Dimmed(S130_H), 0);

    Commit(S128, 1);
    EXPECT_EQ(Value(S129), 0);
    EXPECT_EQ(Value(S124), 0);
    for (int control : {S129, S124, S130_H, S130_L, S121_H, S122_H, S126, S125, S127}) {
        EXPECT_EQ(Dimmed(control), 1) << control;
    }
    EXPECT_EQ(Dimmed(S123_H), 0);
    EXPECT_EQ(Dimmed(S123_L), 0);
    EXPECT_EQ(Dimmed(S128), 0);
    EXPECT_EQ(Value(S123_H), 33);
    EXPECT_EQ(Value(S123_L), 44);
    EXPECT_EQ(parameters.s123High, 33);
    EXPECT_EQ(parameters.s123Low, 44);

    Commit(S128, 0);
    EXPECT_EQ(Dimmed(S124), 0);
    EXPECT_EQ(Dimmed(S129), 0);
    EXPECT_EQ(Value(S124), 0);
    EXPECT_EQ(Value(S129), 0);
    EXPECT_EQ(Dimmed(S130_H), 1);
    EXPECT_EQ(Dimmed(S130_L), 1);
    EXPECT_EQ(Dimmed(S128), 0);
    EXPECT_EQ(Value(S123_H), 33);
    EXPECT_EQ(Value(S123_L), 44);
}

// A register list that names a repeater node in an address mode: the repeater rule runs
// last in the full pass and must leave the panel as transparent mode wants it.
TEST_F(ControlRules, FullPassForARepeaterNodeEndsInTransparentMode) {
    Parsed({{S124, 2}, {S126, 0}, {S129, 1}, {S128, 1}});
    EXPECT_EQ(Value(S124), 0);
    EXPECT_EQ(Value(S129), 0);
    for (int control : {S121_H, S122_H, S126, S125, S127, S124, S129, S130_H}) {
        EXPECT_EQ(Dimmed(control), 1) << control;
    }
    EXPECT_EQ(Dimmed(S123_H), 0);
}

TEST_F(ControlRules, RepeaterCopiesTheHiddenLowPartToo) {
    SetCtrlVal(panelHandle, S130_L, 7);
    SetCtrlVal(panelHandle, S123_L, 127);
    Commit(S128, 1);
    EXPECT_EQ(Value(S123_L), 7);
    EXPECT_EQ(parameters.s123Low, 7);
}

TEST_F(ControlRules, ViaRepeaterDecidesOnTheRepeaterId) {
    Parsed({{ID_LEN, 1}});
    for (int via : {1, 0, 1}) {
        Commit(S129, via);
        EXPECT_EQ(Dimmed(S130_H), via == 0 ? 1 : 0) << via;
        EXPECT_EQ(Dimmed(S130_L), via == 0 ? 1 : 0) << via;
    }
}

struct IdState {
    const char* name;
    int mode;
    int addressControl;
    int repeaterNode;
    int viaRepeater;
};

TEST_F(ControlRules, TwoByteIdsShowLowPartsDimmedLikeTheirHighParts) {
    const IdState states[] = {
        {"transparent", 0, 0, 0, 0},     {"address, destination in header", 2, 1, 0, 1},
        {"address secured", 3, 2, 0, 0}, {"test mode", 21, 0, 0, 1},
        {"repeater node", 3, 0, 1, 1},
    };
    for (const IdState& state : states) {
        SCOPED_TRACE(state.name);
        // Each state follows the one before on the same panel, so every low part has to
        // change its state at some point.
        Parsed({{ID_LEN, 1},
                {S124, state.mode},
                {S126, state.addressControl},
                {S128, state.repeaterNode},
                {S129, state.viaRepeater}});
        EXPECT_EQ(parameters.idLength, 1);
        for (int control : kLowParts) {
            EXPECT_EQ(Visible(control), 1) << control;
        }
        for (const auto& [high, low] :
             {std::pair{S121_H, S121_L}, {S122_H, S122_L}, {S123_H, S123_L}, {S130_H, S130_L}}) {
            EXPECT_EQ(Dimmed(low), Dimmed(high)) << low;
        }

        Parsed({{ID_LEN, 0}});
        EXPECT_EQ(parameters.idLength, 0);
        for (int control : kLowParts) {
            EXPECT_EQ(Visible(control), 0) << control;
        }
    }
}

TEST_F(ControlRules, HiddenLowPartsKeepTheirDimmedState) {
    Parsed({{ID_LEN, 1}, {S124, 2}});
    ASSERT_EQ(Dimmed(S121_L), 0);
    Parsed({{ID_LEN, 0}});
    Commit(S124, 0);
    EXPECT_EQ(Dimmed(S121_H), 1);
    EXPECT_EQ(Dimmed(S121_L), 0);

    Parsed({{ID_LEN, 1}});
    EXPECT_EQ(Dimmed(S121_L), 1);
}

TEST_F(ControlRules, IdLengthCommitRunsTheFullPass) {
    SetCtrlVal(panelHandle, ID_LEN, 1);
    SetCtrlVal(panelHandle, S124, 2);
    IdLenCallBack(panelHandle, ID_LEN, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(Visible(S121_L), 1);
    EXPECT_EQ(Dimmed(S121_H), 0);
    EXPECT_EQ(Dimmed(S121_L), 0);
}

// The network ID always has both parts; nothing here may touch it.
TEST_F(ControlRules, NetworkIdIsNeverTouched) {
    SetCtrlAttribute(panelHandle, S120_H, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, S120_L, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, DOT2, ATTR_VISIBLE, 0);
    for (int idLength : {1, 0}) {
        Parsed({{ID_LEN, idLength}, {S124, 2}, {S128, 1}});
        Commit(S128, 0);
        Commit(S129, 1);
        EXPECT_EQ(Dimmed(S120_H), 1);
        EXPECT_EQ(Dimmed(S120_L), 1);
        EXPECT_EQ(Visible(S120_L), 1);
        EXPECT_EQ(Visible(DOT2), 0);
    }
}

TEST_F(ControlRules, CallbacksIgnoreEventsOtherThanCommit) {
    SetCtrlVal(panelHandle, ID_LEN, 1);
    SetCtrlVal(panelHandle, S124, 2);
    SetCtrlVal(panelHandle, S126, 1);
    SetCtrlVal(panelHandle, S128, 1);
    SetCtrlVal(panelHandle, S129, 1);
    const int notCommit = EVENT_COMMIT + 1;
    EXPECT_EQ(IdLenCallBack(panelHandle, ID_LEN, notCommit, nullptr, 0, 0), 0);
    EXPECT_EQ(SetModeCallBack(panelHandle, S124, notCommit, nullptr, 0, 0), 0);
    EXPECT_EQ(S126CallBack(panelHandle, S126, notCommit, nullptr, 0, 0), 0);
    EXPECT_EQ(S128CallBack(panelHandle, S128, notCommit, nullptr, 0, 0), 0);
    EXPECT_EQ(S129CallBack(panelHandle, S129, notCommit, nullptr, 0, 0), 0);
    EXPECT_EQ(Visible(S121_L), 0);
    EXPECT_EQ(Dimmed(S121_H), 1);
    EXPECT_EQ(Dimmed(S129), 0);
    EXPECT_EQ(Dimmed(S130_H), 1);
    EXPECT_EQ(Value(S124), 2);
}

}  // namespace
