// Adapting the panel to the product series the user picks, and the modulation choice of
// the one series that has it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "product/option_lists.h"
#include "product/product_series.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

using Items = std::vector<std::pair<std::string, int>>;

Items PanelItems(int control) {
    int count = 0;
    GetNumListItems(panelHandle, control, &count);
    Items items;
    for (int i = 0; i < count; ++i) {
        char label[64] = {};
        int value = -1;
        GetListItem(panelHandle, control, i, label, sizeof label, &value);
        items.emplace_back(label, value);
    }
    return items;
}

Items CatalogueItems(const OptionList& list, std::size_t limit = 100) {
    Items items;
    for (std::size_t i = 0; i < list.count && i < limit; ++i) {
        items.emplace_back(list.items[i].text, list.items[i].value);
    }
    return items;
}

int Value(int control) {
    uint8_t value = 0;
    GetCtrlVal(panelHandle, control, &value);
    return value;
}

int Attribute(int control, int attribute) {
    int value = -1;
    GetCtrlAttribute(panelHandle, control, attribute, &value);
    return value;
}

std::pair<int, int> Range(int control) {
    return {Attribute(control, ATTR_MIN_VALUE), Attribute(control, ATTR_MAX_VALUE)};
}

class ProductSeries : public ::testing::Test {
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
        // What the program does between loading the panel and showing it.
        ApplyControlRules();
        SelectProductCallBack(panelHandle, PRODUCT, EVENT_COMMIT, nullptr, 0, 0);
    }
    void TearDown() override { DiscardTestPanel(); }

    static void Select(int product) {
        ASSERT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, product), 0);
    }
};

TEST_F(ProductSeries, StartUpShowsTheSecondSeries) {
    EXPECT_EQ(parameters.productIndex, 1);
    EXPECT_EQ(PanelItems(S112), CatalogueItems(t1PowerList));
    EXPECT_EQ(Value(S112), 7);
    EXPECT_EQ(PanelItems(S103), CatalogueItems(fourModeSleepList));
    EXPECT_EQ(Value(S103), 0);
    EXPECT_EQ(PanelItems(S110), CatalogueItems(fastDsssRateList));
    EXPECT_EQ(Value(S110), 9);
    EXPECT_EQ(Value(S100), 200);
    EXPECT_EQ(Range(S100), std::make_pair(5, 230));
    EXPECT_EQ(Value(S111), 0);
    EXPECT_EQ(Range(S111), std::make_pair(0, 100));
    EXPECT_EQ(Attribute(S113, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attribute(S103, ATTR_DIMMED), 1);
}

struct SeriesRow {
    const char* name;
    const OptionList* power;
    int powerValue;
    const OptionList* sleep;
    const OptionList* rates;
    std::size_t rateItems;
    int rateValue;
    int modulation;
    bool modulationShown;
    int bufferMinimum;  // -1: the range the previous series left
    int bufferMaximum;
    int buffer;
    int channelMaximum;
};

const SeriesRow kSeries[] = {
    {"Zelk-T1a", &t1PowerList, 7, &fourModeSleepList, &narrowBandRateList, 13, 9, 0, false, 5, 230,
     200, 100},
    {"Zelk-T1b", &t1PowerList, 7, &fourModeSleepList, &fastDsssRateList, 14, 9, 0, false, 5, 230,
     200, 100},
    {"Zelk-T2a", &t2PowerList, 5, &noSleepList, &narrowBandRateList, 13, 9, 0, false, 5, 230, 200,
     100},
    {"Zelk-T2b", &t2PowerList, 5, &noSleepList, &fastDsssRateList, 14, 9, 0, false, 5, 230, 200,
     100},
    {"Zelk-M5", &m5PowerList, 3, &oneModeSleepList, &standardRateList, 6, 3, 0, false, 5, 50, 50,
     17},
    {"Zelk-K8", &k8PowerList, 3, &oneModeSleepList, &standardRateList, 8, 3, 0, false, -1, -1, 50,
     225},
    {"Zelk-R3", &r3PowerList, 7, &noSleepList, &loraRateList, 8, 1, 1, true, 5, 50, 50, 100},
};

// Every series ends in the same state whichever series was on before it.
TEST_F(ProductSeries, EachSeriesGivesItsSetUpAfterAnyOther) {
    for (int previous = 0; previous < 7; ++previous) {
        for (int product = 0; product < 7; ++product) {
            const SeriesRow& row = kSeries[product];
            SCOPED_TRACE(testing::Message() << kSeries[previous].name << " then " << row.name);
            Select(previous);
            // Leave something to overwrite in each control the set-up owns.
            ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S112, 0), 0);
            const std::pair<int, int> bufferRangeBefore = Range(S100);

            Select(product);

            EXPECT_EQ(parameters.productIndex, product);
            EXPECT_EQ(PanelItems(S112), CatalogueItems(*row.power));
            EXPECT_EQ(Value(S112), row.powerValue);
            EXPECT_EQ(PanelItems(S103), CatalogueItems(*row.sleep));
            EXPECT_EQ(Value(S103), 0);
            EXPECT_EQ(PanelItems(S110), CatalogueItems(*row.rates, row.rateItems));
            EXPECT_EQ(Value(S110), row.rateValue);
            EXPECT_EQ(Value(S113), row.modulation);
            EXPECT_EQ(Attribute(S113, ATTR_VISIBLE), row.modulationShown ? 1 : 0);
            EXPECT_EQ(Attribute(S113, ATTR_DIMMED), row.modulationShown ? 0 : 1);
            const std::pair<int, int> bufferRange =
                row.bufferMinimum < 0 ? bufferRangeBefore
                                      : std::make_pair(row.bufferMinimum, row.bufferMaximum);
            EXPECT_EQ(Range(S100), bufferRange);
            EXPECT_EQ(Value(S100), row.buffer);
            EXPECT_EQ(Range(S111), std::make_pair(0, row.channelMaximum));
        }
    }
}

TEST_F(ProductSeries, K8KeepsTheBufferRangeOfTheSeriesBefore) {
    Select(4);
    Select(5);
    EXPECT_EQ(Range(S100), std::make_pair(5, 50));
    Select(0);
    Select(5);
    EXPECT_EQ(Range(S100), std::make_pair(5, 230));
}

TEST_F(ProductSeries, LowerChannelLimitClampsTheChannelAndAHigherOneKeepsIt) {
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S111, 50), 0);
    Select(4);
    EXPECT_EQ(Value(S111), 17);
    EXPECT_EQ(parameters.s111, 17);
    EXPECT_EQ(Range(S111), std::make_pair(0, 17));

    Select(0);
    EXPECT_EQ(Range(S111), std::make_pair(0, 100));
    EXPECT_EQ(Value(S111), 17);
    EXPECT_EQ(parameters.s111, 17);
}

TEST_F(ProductSeries, ChannelAboveHundredUnderK8IsClampedByR3) {
    Select(5);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S111, 200), 0);
    ASSERT_EQ(Value(S111), 200);
    Select(6);
    EXPECT_EQ(Value(S111), 100);
    EXPECT_EQ(parameters.s111, 100);
    EXPECT_EQ(Range(S111), std::make_pair(0, 100));
}

TEST_F(ProductSeries, ChannelWithinTheLimitIsRecordedUnchanged) {
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S111, 12), 0);
    Select(4);
    EXPECT_EQ(Value(S111), 12);
    EXPECT_EQ(parameters.s111, 12);
}

TEST_F(ProductSeries, R3SwitchesBetweenFskAndLoraRates) {
    Select(6);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S110, 5), 0);

    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S113, 0), 0);
    EXPECT_EQ(PanelItems(S110), CatalogueItems(standardRateList));
    EXPECT_EQ(Value(S110), 3);
    EXPECT_EQ(Value(S100), 50);

    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S100, 20), 0);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S113, 1), 0);
    EXPECT_EQ(PanelItems(S110), CatalogueItems(loraRateList));
    EXPECT_EQ(Value(S110), 1);
    EXPECT_EQ(Value(S100), 50);
}

TEST_F(ProductSeries, LeavingR3HidesTheModulationAtFsk) {
    Select(6);
    Select(3);
    EXPECT_EQ(Attribute(S113, ATTR_VISIBLE), 0);
    EXPECT_EQ(Value(S113), 0);
}

TEST_F(ProductSeries, SelectingTheSameSeriesAgainRestoresItsDefaults) {
    Select(3);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S112, 3), 0);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S110, 12), 0);
    Select(3);
    EXPECT_EQ(Value(S112), 5);
    EXPECT_EQ(Value(S110), 9);
}

// The series set-up leaves the dependency rules' controls to the rules.
TEST_F(ProductSeries, SelectionLeavesTheAddressingControlsAlone) {
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S124, 2), 0);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S127, 1), 0);
    for (int product = 0; product < 7; ++product) {
        Select(product);
        EXPECT_EQ(Value(S124), 2);
        EXPECT_EQ(Value(S127), 1);
        EXPECT_EQ(Attribute(S121_H, ATTR_DIMMED), 0);
        EXPECT_EQ(Attribute(S123_H, ATTR_DIMMED), 1);
    }
}

TEST_F(ProductSeries, CallbacksIgnoreEventsOtherThanCommit) {
    SetCtrlVal(panelHandle, PRODUCT, 4);
    SelectProductCallBack(panelHandle, PRODUCT, EVENT_COMMIT + 1, nullptr, 0, 0);
    EXPECT_EQ(parameters.productIndex, 1);
    EXPECT_EQ(PanelItems(S112), CatalogueItems(t1PowerList));

    Select(6);
    SetCtrlVal(panelHandle, S113, 0);
    fskLora_selectCallBack(panelHandle, S113, EVENT_COMMIT + 1, nullptr, 0, 0);
    EXPECT_EQ(PanelItems(S110), CatalogueItems(loraRateList));
}

}  // namespace
