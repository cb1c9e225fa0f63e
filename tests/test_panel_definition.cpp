// The main panel as its definition file builds it, before any start-up step runs.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

#define ENTRY(name) \
    { #name, name }
const std::map<std::string, int> kConstants = {
    ENTRY(PANEL),        ENTRY(SERFMT),       ENTRY(S116),         ENTRY(S100),
    ENTRY(S105),         ENTRY(S113),         ENTRY(S101),         ENTRY(S102),
    ENTRY(S103),         ENTRY(S111),         ENTRY(S112),         ENTRY(S110),
    ENTRY(S124),         ENTRY(S104),         ENTRY(ID_LEN),       ENTRY(S120_H),
    ENTRY(S120_L),       ENTRY(UART_BR),      ENTRY(S121_H),       ENTRY(S121_L),
    ENTRY(S122_H),       ENTRY(S122_L),       ENTRY(S123_H),       ENTRY(S123_L),
    ENTRY(S125),         ENTRY(S126),         ENTRY(S127),         ENTRY(S115),
    ENTRY(S128),         ENTRY(S129),         ENTRY(S130_H),       ENTRY(S130_L),
    ENTRY(COMPORT_NUM),  ENTRY(PORT_CONN),    ENTRY(READ),         ENTRY(UPDATE),
    ENTRY(SAVE_TO_FILE), ENTRY(OPEN_FILE),    ENTRY(QUIT),         ENTRY(DECORATION),
    ENTRY(DECORATION_3), ENTRY(DECORATION_4), ENTRY(DOT1),         ENTRY(DOT2),
    ENTRY(DOT3),         ENTRY(DOT4),         ENTRY(DOT5),         ENTRY(SHOW_VER),
    ENTRY(TEXTMSG),      ENTRY(DECORATION_5), ENTRY(DECORATION_9), ENTRY(PRODUCT),
    ENTRY(DECORATION_8), ENTRY(DECORATION_2), ENTRY(TEXTMSG_6),    ENTRY(TEXTMSG_4),
    ENTRY(TEXTMSG_5),    ENTRY(TEXTMSG_2),    ENTRY(DECORATION_6), ENTRY(LED),
};
#undef ENTRY

// Every control of the panel, the panel itself left out.
std::vector<int> AllControls() {
    std::vector<int> controls;
    for (const auto& [name, id] : kConstants) {
        if (name != "PANEL") {
            controls.push_back(id);
        }
    }
    return controls;
}

// The controls a user works with, as opposed to texts and boxes.
const std::set<int> kOperable = {
    SERFMT,    S116,   S100,     S105,    S113,        S101,      S102,   S103,    S111,
    S112,      S110,   S124,     S104,    ID_LEN,      S120_H,    S120_L, UART_BR, S121_H,
    S121_L,    S122_H, S122_L,   S123_H,  S123_L,      S125,      S126,   S127,    S115,
    S128,      S129,   S130_H,   S130_L,  COMPORT_NUM, PORT_CONN, READ,   UPDATE,  SAVE_TO_FILE,
    OPEN_FILE, QUIT,   SHOW_VER, PRODUCT, LED};

class PanelDefinition : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError(); }
    void TearDown() override { DiscardTestPanel(); }

    static int Attribute(int control, int attribute) {
        int value = -1;
        EXPECT_EQ(GetCtrlAttribute(panelHandle, control, attribute, &value), 0) << control;
        return value;
    }

    // The (value, text) entries of a list, in list order.
    static std::vector<std::pair<int, std::string>> Items(int control) {
        int count = 0;
        EXPECT_EQ(GetNumListItems(panelHandle, control, &count), 0);
        std::vector<std::pair<int, std::string>> items;
        for (int i = 0; i < count; ++i) {
            char text[64];
            int value = 0;
            EXPECT_EQ(GetListItem(panelHandle, control, i, text, sizeof text, &value), 0);
            items.emplace_back(value, text);
        }
        return items;
    }

    // The text the list shows for its current value.
    static std::string Shown(int control, long long value) {
        for (const auto& [itemValue, text] : Items(control)) {
            if (itemValue == value) {
                return text;
            }
        }
        return "<no item>";
    }
};

TEST_F(PanelDefinition, IdentifiersAgreeWithThePanelFileBothWays) {
    QFile file(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject panel =
        QJsonDocument::fromJson(file.readAll()).object()["panels"].toArray()[0].toObject();
    EXPECT_EQ(panel["constant"].toString(), QStringLiteral("PANEL"));
    EXPECT_EQ(panel["id"].toInt(), PANEL);

    std::set<std::string> inFile;
    for (const QJsonValue& entry : panel["controls"].toArray()) {
        const std::string name = entry["constant"].toString().toStdString();
        inFile.insert(name);
        const auto known = kConstants.find(name);
        ASSERT_NE(known, kConstants.end()) << name << " is in the file but has no constant";
        EXPECT_EQ(entry["id"].toInt(), known->second) << name;
    }
    for (const int control : AllControls()) {
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        ASSERT_TRUE(view.found) << "no control " << control << " on the loaded panel";
        EXPECT_EQ(kConstants.at(view.constant), control) << view.constant;
        EXPECT_EQ(inFile.count(view.constant), 1u) << view.constant;
    }
    EXPECT_EQ(inFile.size(), kConstants.size() - 1);
}

TEST_F(PanelDefinition, ConnectionControlsShowTheirDefaults) {
    uint8_t product = 0;
    ASSERT_EQ(GetCtrlVal(panelHandle, PRODUCT, &product), 0);
    EXPECT_EQ(product, 1);
    EXPECT_EQ(Shown(PRODUCT, product), "Zelk-T1b");

    uint32_t baudRate = 0;
    ASSERT_EQ(GetCtrlVal(panelHandle, UART_BR, &baudRate), 0);
    EXPECT_EQ(baudRate, 9600u);
    EXPECT_EQ(Shown(UART_BR, baudRate), " 9600bps");

    uint8_t port = 0;
    ASSERT_EQ(GetCtrlVal(panelHandle, COMPORT_NUM, &port), 0);
    EXPECT_EQ(Shown(COMPORT_NUM, port), "COM1");

    int connect = -1;
    ASSERT_EQ(GetCtrlVal(panelHandle, PORT_CONN, &connect), 0);
    EXPECT_EQ(connect, 0);
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Connect");

    int led = -1;
    ASSERT_EQ(GetCtrlVal(panelHandle, LED, &led), 0);
    EXPECT_EQ(led, 0);
}

// Each list written as value=text entries joined by "|", spaces inside texts kept.
TEST_F(PanelDefinition, ListsHoldTheirEntriesWithValuesInOrder) {
    const char* format = "0=8N1|1=8O1|2=8E1|3=8N2|4=7N1|5=7O1|6=7E1|7=7N2";
    const char* noYes = "0=No|1=Yes";
    const struct {
        int control;
        int initial;
        const char* items;
    } rows[] = {
        {SERFMT, 0, format},
        {S105, 0, format},
        {S113, 1, "0=FSK mdoe|1=LORA mode"},
        {S101, 0, "0=None|1=Xon/Xoff"},
        {S102, 5,
         "3=3 Bytes |5=5 Bytes |8=8 Bytes|10=10 Bytes |15=15 Bytes|30=30 Bytes|50=50 Bytes"},
        {S103, 0, "0=Disable|1=Sleep Mode1|2=Sleep Mode2|3=Sleep Mode3"},
        {S112, 7, "0=+ 1dB|1=+ 2dB|2=+ 5 dB|3=+ 8dB|4=+11dB|5=+14dB|6=+17dB|7=+20dB"},
        {S110, 3,
         "0=1200bps|1=2400bps|2=4800bps|3=9600bps|4=19.2kbps|5=38.4kbps|6=76.8kbps|"
         "7=115.2kbps"},
        {S124, 0,
         "0=Transparent Mode|1=Transparent Secured Mode|2=Address Mode|"
         "3=Address Secured Mode|10=Linkage Range Test Mode|21=Unmodulated Carrier Wave|"
         "22=PN9 byte Sequence Stream|23=101010 sequence Stream"},
        {S104, 3,
         "9=300bps|10=600bps|0=1200bps|1=2400bps|2=4800bps|3=9600bps|4=19.2kbps|"
         "5=38.4kbps|6=57.6kbps|7=115.2kbps"},
        {ID_LEN, 0, "0=1 Byte|1=2 Bytes"},
        {S126, 0,
         "0=No address at the header|1=Attach Address  when Tx |"
         "2=Echo the Sender's Address |3=Address for Both "},
        {S127, 0, noYes},
        {S115, 0, noYes},
        {S128, 0, noYes},
        {S129, 0, noYes},
        {COMPORT_NUM, 1,
         "1=COM1|2=COM2|3=COM3|4=COM4|5=COM5|6=COM6|7=COM7|8=COM8|9=COM9|"
         "10=COM10|11=COM11|12=COM12"},
        {UART_BR, 9600,
         "300=300bps|600=600bps|1200=1200bps|2400=2400bps|4800=4800bps|"
         "9600= 9600bps|19200=19.2kbps|38400=38.4kbps|57600=57.6bps|"
         "115200=115.2kbps"},
        {PRODUCT, 1, "0=Zelk-T1a|1=Zelk-T1b|2=Zelk-T2a|3=Zelk-T2b|4=Zelk-M5|5=Zelk-K8|6=Zelk-R3"},
    };
    for (const auto& row : rows) {
        std::string items;
        for (const auto& [value, text] : Items(row.control)) {
            items += (items.empty() ? "" : "|") + std::to_string(value) + "=" + text;
        }
        EXPECT_EQ(items, row.items) << "list " << row.control;
        long long value = -1;
        if (row.control == UART_BR) {
            uint32_t wide = 0;
            EXPECT_EQ(GetCtrlVal(panelHandle, row.control, &wide), 0);
            value = wide;
        } else {
            uint8_t small = 0;
            EXPECT_EQ(GetCtrlVal(panelHandle, row.control, &small), 0) << row.control;
            value = small;
        }
        EXPECT_EQ(value, row.initial) << "list " << row.control;
    }
}

TEST_F(PanelDefinition, NumericFieldsHoldTheirRangesAndValues) {
    const struct {
        int control;
        int minimum, maximum, initial;
    } rows[] = {
        {S116, 0, 255, 20},    {S100, 1, 230, 50},    {S111, 0, 100, 0},     {S120_H, 0, 255, 192},
        {S120_L, 0, 255, 168}, {S121_H, 0, 255, 10},  {S121_L, 0, 255, 10},  {S122_H, 0, 255, 11},
        {S122_L, 0, 255, 11},  {S123_H, 0, 255, 127}, {S123_L, 0, 255, 127}, {S125, 0, 255, 2},
        {S130_H, 0, 255, 100}, {S130_L, 0, 255, 100},
    };
    for (const auto& row : rows) {
        uint8_t value = 0;
        EXPECT_EQ(GetCtrlVal(panelHandle, row.control, &value), 0) << row.control;
        EXPECT_EQ(value, row.initial) << row.control;
        EXPECT_EQ(Attribute(row.control, ATTR_MIN_VALUE), row.minimum) << row.control;
        EXPECT_EQ(Attribute(row.control, ATTR_MAX_VALUE), row.maximum) << row.control;
    }
}

TEST_F(PanelDefinition, StartsWithTheLowPartsAndUnusedControlsOutOfReach) {
    const std::set<int> hiddenAndDimmed = {S116, TEXTMSG_5, S113, S115, ID_LEN};
    const std::set<int> hidden = {S121_L, S122_L, S123_L, S130_L, DOT1, DOT3, DOT4, DOT5};
    const std::set<int> dimmed = {S101, S103};
    for (const int control : AllControls()) {
        const bool shouldHide = hiddenAndDimmed.count(control) || hidden.count(control);
        const bool shouldDim = hiddenAndDimmed.count(control) || dimmed.count(control);
        EXPECT_EQ(Attribute(control, ATTR_VISIBLE), shouldHide ? 0 : 1) << control;
        EXPECT_EQ(Attribute(control, ATTR_DIMMED), shouldDim ? 1 : 0) << control;
        // The label goes and greys with its control.
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        if (!view.label.empty()) {
            EXPECT_EQ(view.labelHidden, shouldHide) << view.constant;
            EXPECT_EQ(view.labelDimmed, shouldDim) << view.constant;
        }
    }
}

TEST_F(PanelDefinition, LabelsFacesAndMessagesReadCharacterForCharacter) {
    const std::pair<int, const char*> rows[] = {
        {S116, "WOR int. Time"},
        {S100, "Serial Link Buffer"},
        {S105, "Format"},
        {S113, "LORA-FSK Mode"},
        {S101, "Flow Control"},
        {S102, "TimeOut (Interval)"},
        {S103, "Sleep mode"},
        {S111, "RF Channel"},
        {S112, "RF Tx Power"},
        {S110, "RF Baud Rate"},
        {S124, "Working Mode"},
        {S104, "Serial B.R."},
        {ID_LEN, "ID Length"},
        {S120_H, "NetWork ID "},
        {S121_H, "Local ID "},
        {S122_H, "Default Dest.\n ID "},
        {S123_H, "Group  ID "},
        {S125, "Max. Re-Tx "},
        {S126, "Address\nControl"},
        {S127, "Ack. Echo"},
        {S115, "Show RSSI"},
        {S128, "Is Repeater Node"},
        {S129, "Via Repeater"},
        {S130_H, "Repeater  ID"},
        {UART_BR, "COM Baud Rate"},
        {COMPORT_NUM, "Port Number"},
        {PRODUCT, "Product Series"},
        {READ, "Read\nSetting"},
        {UPDATE, "Update\nSetting"},
        {SAVE_TO_FILE, "Save Setting\nTo File"},
        {OPEN_FILE, "Load Setting\nFrom File"},
        {QUIT, "EXIT"},
        {SHOW_VER, "Show F/W \nVersion"},
        {DOT2, "."},
        {TEXTMSG, "Zelk  Series RF Module Parameters Config Panel"},
        {TEXTMSG_6, "Attn:  Select the product series first,  Please!"},
        {TEXTMSG_5, "x 250ms"},
        {TEXTMSG_2, "V  3.36"},
        // The low halves and the format list carry no label of their own.
        {S120_L, ""},
        {SERFMT, ""},
    };
    for (const auto& [control, text] : rows) {
        EXPECT_EQ(ui_testing::ControlLabel(panelHandle, control), text) << control;
    }
}

TEST_F(PanelDefinition, EveryOperableControlHasANameForScreenReaders) {
    for (const int control : kOperable) {
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        EXPECT_FALSE(view.accessibleName.empty()) << view.constant;
    }
    EXPECT_EQ(ui_testing::InspectControl(panelHandle, S100).accessibleName, "Serial Link Buffer");
    EXPECT_EQ(ui_testing::InspectControl(panelHandle, READ).accessibleName, "Read Setting");
}

// Three controls take part in files and exchanges but are placed below the window's
// bottom edge; everything else must be on screen, with labels clear of other controls.
TEST_F(PanelDefinition, LayoutKeepsControlsInsideAndLabelsClear) {
    const std::set<int> belowTheWindow = {ID_LEN, S115, S101};
    auto overlaps = [](const ui_testing::Rect& a, const ui_testing::Rect& b) {
        return !a.empty() && !b.empty() && a.left < b.right && b.left < a.right &&
               a.top < b.bottom && b.top < a.bottom;
    };
    std::vector<ui_testing::ControlView> views;
    for (const int control : AllControls()) {
        views.push_back(ui_testing::InspectControl(panelHandle, control));
    }
    for (const int control : AllControls()) {
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        if (belowTheWindow.count(control)) {
            EXPECT_GE(view.body.top, view.panelHeight) << view.constant;
            continue;
        }
        EXPECT_GE(view.body.left, 0) << view.constant;
        EXPECT_GE(view.body.top, 0) << view.constant;
        EXPECT_LE(view.body.right, view.panelWidth) << view.constant;
        EXPECT_LE(view.body.bottom, view.panelHeight) << view.constant;
        if (view.label.empty()) {
            continue;
        }
        EXPECT_TRUE(view.labelTextFits) << view.constant << "'s label is cut off";
        EXPECT_GE(view.label.left, 0) << view.constant;
        for (const ui_testing::ControlView& other : views) {
            if (other.constant == view.constant || other.constant.rfind("DECORATION", 0) == 0) {
                continue;
            }
            EXPECT_FALSE(overlaps(view.label, other.body))
                << view.constant << "'s label covers " << other.constant;
            EXPECT_FALSE(overlaps(view.label, other.label))
                << view.constant << "'s label covers the label of " << other.constant;
        }
    }
}

}  // namespace
