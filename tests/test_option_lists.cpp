// The catalogue of power, sleep and radio rate lists as the panel shows them, and the
// choice of the radio rate list by series and modulation.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "params/parameters.h"
#include "product/option_lists.h"
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

int Value(int control) {
    uint8_t value = 0;
    GetCtrlVal(panelHandle, control, &value);
    return value;
}

const Items kStandardRates = {{"1200 bps", 0},  {"2400 bps", 1},  {"4800 bps", 2},
                              {"9600 bps", 3},  {"19.2 kbps", 4}, {"38.4 kbps", 5},
                              {"57.6 kbps", 6}, {"115.2kbps", 7}};

Items StandardRatesThen(Items more) {
    Items items = kStandardRates;
    items.insert(items.end(), more.begin(), more.end());
    return items;
}

class OptionLists : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(LoadTestPanel(), 0);
        parameters = ParameterSet{};
    }
    void TearDown() override { DiscardTestPanel(); }
};

struct CatalogueRow {
    const char* name;
    const OptionList* list;
    int control;
    Items items;
    int selected;
};

TEST_F(OptionLists, EachListFillsItsControlWithExactTextsAndValuesAndSelectsItsDefault) {
    const CatalogueRow rows[] = {
        {"T1 power",
         &t1PowerList,
         S112,
         {{" +1 dB", 0},
          {" +2 dB", 1},
          {" +5 dB", 2},
          {" +8 dB", 3},
          {"+11 dB", 4},
          {"+14 dB", 5},
          {"+17 dB", 6},
          {"+20 dB", 7}},
         7},
        {"T2 power",
         &t2PowerList,
         S112,
         {{" +18 dB", 0},
          {" +20 dB", 1},
          {" +21 dB", 2},
          {" +23 dB", 3},
          {"+25 dB", 4},
          {"+30 dB", 5}},
         5},
        {"M5 power",
         &m5PowerList,
         S112,
         {{" -5 dB", 0}, {"  0 dB", 1}, {" +5 dB", 2}, {"+10 dB", 3}},
         3},
        {"K8 power",
         &k8PowerList,
         S112,
         {{" -6 dB", 0}, {" -4 dB", 1}, {" -2 dB", 2}, {"  0 dB", 3}},
         3},
        {"R3 power",
         &r3PowerList,
         S112,
         {{" +1 dB", 0},
          {" +2 dB", 1},
          {" +5 dB", 2},
          {" +8 dB", 3},
          {"+10 dB", 4},
          {"+15 dB", 5},
          {"+18 dB", 6},
          {"+21 dB", 7}},
         7},
        {"four-mode sleep",
         &fourModeSleepList,
         S103,
         {{" OFF ", 0}, {" Sleep Mode1 ", 1}, {" Sleep Mode2 ", 2}, {" Sleep Mode3 ", 3}},
         0},
        {"one-mode sleep", &oneModeSleepList, S103, {{" OFF ", 0}, {" Sleep Mode1 ", 1}}, 0},
        {"no-sleep", &noSleepList, S103, {{" OFF ", 0}}, 0},
        {"standard rate", &standardRateList, S110, kStandardRates, 3},
        {"narrow-band rate", &narrowBandRateList, S110,
         StandardRatesThen({{"4.8kbps-DSSS", 8},
                            {"9.6kbps-DSSS", 9},
                            {"19.2kbps-DSSS", 10},
                            {"4.8kbps-NB", 12},
                            {"9.6kbps-NB(MSK)", 13}}),
         9},
        {"fast DSSS rate", &fastDsssRateList, S110,
         StandardRatesThen({{"4.8kbps-DSSS", 8},
                            {"9.6kbps-DSSS", 9},
                            {"19.2kbps-DSSS", 10},
                            {"38.4kbps-DSSS", 11},
                            {"100kbps-DSSS", 12},
                            {"200kbps-DSSS", 13}}),
         9},
        {"LoRa rate",
         &loraRateList,
         S110,
         {{"448 bps", 0},
          {"1098 bps", 1},
          {"1464 bps", 2},
          {"2604 bps", 3},
          {"4557 bps", 4},
          {"9375 bps", 5},
          {"15625 bps", 6},
          {"18750 bps", 7}},
         1},
    };
    for (const CatalogueRow& row : rows) {
        SCOPED_TRACE(row.name);
        // A long list first, so that a fill that appends instead of replacing shows.
        FillOptionList(row.control, fastDsssRateList);
        FillOptionList(row.control, *row.list);
        EXPECT_EQ(PanelItems(row.control), row.items);
        EXPECT_EQ(Value(row.control), row.selected);
    }
}

TEST_F(OptionLists, OnlyTheStandardRateListResetsTheLinkBuffer) {
    const std::pair<const OptionList*, int> rows[] = {
        {&standardRateList, 50}, {&narrowBandRateList, 77}, {&fastDsssRateList, 77},
        {&loraRateList, 77},     {&t1PowerList, 77},        {&fourModeSleepList, 77},
    };
    for (const auto& [list, expectedBuffer] : rows) {
        SetCtrlVal(panelHandle, S100, 77);
        FillOptionList(S110, *list);
        EXPECT_EQ(Value(S100), expectedBuffer) << list->items[list->count - 1].text;
    }
}

TEST_F(OptionLists, NarrowBandListSkipsCodeEleven) {
    FillOptionList(S110, narrowBandRateList);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S110, 12), 0);
    EXPECT_EQ(Value(S110), 12);
    EXPECT_EQ(PanelItems(S110)[11].first, "4.8kbps-NB");
    EXPECT_EQ(SetCtrlVal(panelHandle, S110, 11), UIE_BAD_VALUE);
}

TEST_F(OptionLists, FillForgetsTheUsersChoice) {
    FillOptionList(S112, t2PowerList);
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, S112, 3), 0);
    FillOptionList(S112, t2PowerList);
    EXPECT_EQ(Value(S112), 5);
}

struct RebuildRow {
    uint8_t productIndex;
    uint8_t loraMode;
    const OptionList* expectedList;
    int expectedRate;
    int expectedBuffer;
};

TEST_F(OptionLists, RebuildPicksTheRateListBySeriesAndModulation) {
    const RebuildRow rows[] = {
        {0, 0, &narrowBandRateList, 9, 200}, {1, 0, &fastDsssRateList, 9, 200},
        {2, 0, &narrowBandRateList, 9, 200}, {3, 0, &fastDsssRateList, 9, 200},
        {4, 0, &standardRateList, 3, 50},    {5, 0, &standardRateList, 3, 50},
        {6, 0, &standardRateList, 3, 50},    {0, 1, &loraRateList, 1, 50},
        {1, 1, &loraRateList, 1, 50},        {3, 1, &loraRateList, 1, 50},
        {4, 1, &loraRateList, 1, 50},        {6, 1, &loraRateList, 1, 50},
        {2, 7, &loraRateList, 1, 50},
    };
    for (const RebuildRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "productIndex " << int(row.productIndex) << ", loraMode "
                                        << int(row.loraMode));
        // A range wide enough for every buffer value, and a list to be replaced.
        SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 230);
        SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 5);
        SetCtrlVal(panelHandle, S100, 120);
        FillOptionList(S110, row.expectedList == &loraRateList ? standardRateList : loraRateList);
        parameters.productIndex = row.productIndex;

        RebuildRadioRateList(row.loraMode);

        const OptionList& list = *row.expectedList;
        const Items items = PanelItems(S110);
        ASSERT_EQ(items.size(), list.count);
        for (std::size_t i = 0; i < list.count; ++i) {
            EXPECT_EQ(items[i].first, list.items[i].text);
            EXPECT_EQ(items[i].second, list.items[i].value);
        }
        EXPECT_EQ(Value(S110), row.expectedRate);
        EXPECT_EQ(Value(S100), row.expectedBuffer);
    }
}

TEST_F(OptionLists, RebuildLeavesTheBufferRangeAlone) {
    SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 230);
    SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 5);
    parameters.productIndex = 4;
    RebuildRadioRateList(0);
    int minimum = 0, maximum = 0;
    GetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, &minimum);
    GetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, &maximum);
    EXPECT_EQ(minimum, 5);
    EXPECT_EQ(maximum, 230);
}

}  // namespace
