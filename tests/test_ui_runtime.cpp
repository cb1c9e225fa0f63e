// The user-interface runtime: what reaches a callback, value and list conventions, panel
// loading failures, the close box, popups under the test seam.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

struct Call {
    int panel, control, event;
    void* callbackData;
    int eventData1, eventData2;
    bool operator==(const Call&) const = default;
};
std::vector<Call> calls;

int Record(int panel, int control, int event, void* callbackData, int eventData1, int eventData2) {
    calls.push_back({panel, control, event, callbackData, eventData1, eventData2});
    return 0;
}

int DiscardOwnPanel(int panel, int, int, void*, int, int) {
    DiscardPanel(panel);
    return 0;
}

Call Commit(int control) {
    return {panelHandle, control, EVENT_COMMIT, nullptr, 0, 0};
}

class UiRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"SelectProductCallBack", "UartBrCallBack", "PortConnCallBack",
                                 "ComPortSelectCallBack", "ReadCallBack", "QuitCallBack",
                                 "S126CallBack", "fskLora_selectCallBack", "FieldCallBack"}) {
            RegisterCallback(name, Record);
        }
        RegisterCallback("DiscardOwnPanelCallBack", DiscardOwnPanel);
        ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError();
        calls.clear();
    }
    void TearDown() override {
        DiscardTestPanel();
        ui_testing::AllowUnboundCallbacks(true);
    }

    static long long Value(int control) {
        uint8_t small = 0;
        uint32_t wide = 0;
        int whole = 0;
        if (GetCtrlVal(panelHandle, control, &small) == 0) {
            return small;
        }
        if (GetCtrlVal(panelHandle, control, &wide) == 0) {
            return wide;
        }
        EXPECT_EQ(GetCtrlVal(panelHandle, control, &whole), 0) << control;
        return whole;
    }

    // Writes a panel file into a temporary directory and returns its path.
    std::string PanelFile(const std::string& contents, const char* name = "panel.uir") {
        const QString path = directory_.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents.c_str());
        return path.toStdString();
    }

    QTemporaryDir directory_;
};

// One panel with a numeric field that has a callback, which the main panel lacks, and a
// button whose callback discards the panel.
const char* const kSmallPanel = R"({"panels": [{"constant": "SMALL", "id": 7, "title": "t",
  "width": 200, "height": 100, "controls": [
  {"constant": "FIELD", "id": 2, "kind": "numeric", "dataType": "uint8", "label": "Field",
   "rect": [10, 80, 30, 140], "min": 5, "max": 90, "value": 20, "callback": "FieldCallBack"},
  {"constant": "GONE", "id": 3, "kind": "commandButton", "text": "Gone",
   "rect": [40, 80, 70, 140], "callback": "DiscardOwnPanelCallBack"}]}]})";

TEST_F(UiRuntime, ChangesMadeByTheProgramRunNoCallback) {
    EXPECT_EQ(SetCtrlVal(panelHandle, PRODUCT, 3), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, UART_BR, 115200), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, COMPORT_NUM, 5), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, S126, 2), 0);
    EXPECT_EQ(SetCtrlAttribute(panelHandle, S126, ATTR_DIMMED, 1), 0);
    EXPECT_EQ(DeleteListItem(panelHandle, PRODUCT, 0, -1), 0);
    EXPECT_EQ(InsertListItem(panelHandle, PRODUCT, -1, "Zelk-X", 4), 0);
    ProcessSystemEvents();

    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Value(PRODUCT), 4);
    EXPECT_EQ(Value(UART_BR), 115200);
    EXPECT_EQ(Value(COMPORT_NUM), 5);
    EXPECT_EQ(Value(PORT_CONN), 1);
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Disconnect");
    EXPECT_EQ(Value(S126), 2);
}

TEST_F(UiRuntime, EachUserActionCommitsExactlyOnce) {
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, 4), 0);
    EXPECT_EQ(ui_testing::UserPickItem(panelHandle, UART_BR, "19.2kbps"), 0);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(ui_testing::UserPress(panelHandle, READ), 0);
    // Picking the entry already shown is still a pick; the user saw the list and chose.
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, COMPORT_NUM, 1), 0);

    const std::vector<Call> expected = {Commit(PRODUCT), Commit(UART_BR), Commit(PORT_CONN),
                                        Commit(READ), Commit(COMPORT_NUM)};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(Value(PRODUCT), 4);
    EXPECT_EQ(Value(UART_BR), 19200);
    EXPECT_EQ(Value(PORT_CONN), 1);
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Disconnect");
}

TEST_F(UiRuntime, AListsValueIsTheChosenEntrysValueNotItsPosition) {
    const struct {
        int control;
        const char* text;
        int value;
    } rows[] = {
        {S104, "1200bps", 0},        {S104, "300bps", 9},   {S104, "600bps", 10},
        {S102, "50 Bytes", 50},      {S102, "3 Bytes ", 3}, {S124, "Linkage Range Test Mode", 10},
        {UART_BR, "57.6bps", 57600},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(ui_testing::UserPickItem(panelHandle, row.control, row.text), 0) << row.text;
        EXPECT_EQ(Value(row.control), row.value) << row.text;
    }
}

TEST_F(UiRuntime, ANumberCommitsWhenTheUserFinishesWithADifferentValue) {
    const int small = LoadPanel(0, PanelFile(kSmallPanel).c_str(), 7);
    ASSERT_GE(small, 0) << GetPanelLoadError();
    auto value = [small] {
        uint8_t held = 0;
        EXPECT_EQ(GetCtrlVal(small, 2, &held), 0);
        return int(held);
    };

    EXPECT_EQ(ui_testing::UserSetValue(small, 2, 20), 0);  // unchanged: no commit
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(ui_testing::UserSetValue(small, 2, 33), 0);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(value(), 33);
    EXPECT_EQ(ui_testing::UserSetValue(small, 2, 200), 0);  // corrected to the maximum
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(value(), 90);

    // A value the program set is the new starting point: typing it again is no change.
    EXPECT_EQ(SetCtrlVal(small, 2, 60), 0);
    EXPECT_EQ(ui_testing::UserSetValue(small, 2, 60), 0);
    EXPECT_EQ(calls.size(), 2u);
    for (const Call& call : calls) {
        EXPECT_EQ(call, (Call{small, 2, EVENT_COMMIT, nullptr, 0, 0}));
    }
    DiscardPanel(small);
}

TEST_F(UiRuntime, AUserCannotOperateDimmedOrHiddenControls) {
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S103, 2), UIE_NOT_OPERABLE);  // dimmed
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S113, 0), UIE_NOT_OPERABLE);  // hidden
    SetCtrlAttribute(panelHandle, READ, ATTR_DIMMED, 1);
    EXPECT_EQ(ui_testing::UserPress(panelHandle, READ), UIE_NOT_OPERABLE);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Value(S103), 0);
    EXPECT_EQ(Value(S113), 1);

    SetCtrlAttribute(panelHandle, READ, ATTR_DIMMED, 0);
    EXPECT_EQ(ui_testing::UserPress(panelHandle, READ), 0);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(UiRuntime, ListIndexMinusOneAppendsAndCountMinusOneDeletesToTheEnd) {
    auto texts = [] {
        int count = 0;
        GetNumListItems(panelHandle, S112, &count);
        std::string joined;
        for (int i = 0; i < count; ++i) {
            char text[32];
            int value = 0;
            GetListItem(panelHandle, S112, i, text, sizeof text, &value);
            joined += std::string(text) + "=" + std::to_string(value) + ";";
        }
        return joined;
    };
    ASSERT_EQ(DeleteListItem(panelHandle, S112, 2, -1), 0);
    EXPECT_EQ(texts(), "+ 1dB=0;+ 2dB=1;");
    ASSERT_EQ(InsertListItem(panelHandle, S112, -1, "+30dB", 9), 0);
    ASSERT_EQ(InsertListItem(panelHandle, S112, 0, "- 3dB", 8), 0);
    EXPECT_EQ(texts(), "- 3dB=8;+ 1dB=0;+ 2dB=1;+30dB=9;");
    ASSERT_EQ(DeleteListItem(panelHandle, S112, 1, 2), 0);
    EXPECT_EQ(texts(), "- 3dB=8;+30dB=9;");

    // Out of range: refused, nothing changes.
    EXPECT_EQ(InsertListItem(panelHandle, S112, 5, "x", 1), UIE_BAD_INDEX);
    EXPECT_EQ(DeleteListItem(panelHandle, S112, 1, 2), UIE_BAD_INDEX);
    EXPECT_EQ(DeleteListItem(panelHandle, S112, 3, -1), UIE_BAD_INDEX);
    EXPECT_EQ(InsertListItem(panelHandle, S112, -1, "too big for a byte", 256), UIE_BAD_VALUE);
    EXPECT_EQ(texts(), "- 3dB=8;+30dB=9;");

    // An emptied list has no value; the first entry put in becomes the current one.
    ASSERT_EQ(DeleteListItem(panelHandle, S112, 0, -1), 0);
    uint8_t value = 77;
    EXPECT_EQ(GetCtrlVal(panelHandle, S112, &value), UIE_BAD_VALUE);
    EXPECT_EQ(value, 77);
    ASSERT_EQ(InsertListItem(panelHandle, S112, -1, "+ 5 dB", 2), 0);
    EXPECT_EQ(Value(S112), 2);

    char shortLabel[5];
    int itemValue = -1;
    ASSERT_EQ(GetListItem(panelHandle, PRODUCT, 0, shortLabel, sizeof shortLabel, &itemValue), 0);
    EXPECT_STREQ(shortLabel, "Zelk");
    EXPECT_EQ(itemValue, 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(UiRuntime, ValuesAreReadOnlyInTheControlsOwnType) {
    uint8_t small = 99;
    uint32_t wide = 99;
    int whole = 99;
    EXPECT_EQ(GetCtrlVal(panelHandle, PRODUCT, &wide), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, PRODUCT, &whole), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, UART_BR, &small), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, PORT_CONN, &small), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, READ, &whole), UIE_WRONG_KIND);
    EXPECT_EQ(GetCtrlVal(panelHandle, 999, &whole), UIE_BAD_CONTROL);
    EXPECT_EQ(GetCtrlVal(panelHandle + 1000, PRODUCT, &small), UIE_BAD_PANEL);
    EXPECT_EQ(small, 99);
    EXPECT_EQ(wide, 99u);
    EXPECT_EQ(whole, 99);
}

TEST_F(UiRuntime, AValueNoEntryHasLeavesTheListAsItWas) {
    const struct {
        int control;
        long long value, kept;
    } rows[] = {{PRODUCT, 7, 1}, {UART_BR, 9601, 9600}, {S104, 8, 3}, {S102, 4, 5}};
    for (const auto& row : rows) {
        EXPECT_EQ(SetCtrlVal(panelHandle, row.control, row.value), UIE_BAD_VALUE) << row.control;
        EXPECT_EQ(Value(row.control), row.kept) << row.control;
    }
}

TEST_F(UiRuntime, NumbersAreKeptInsideTheirRange) {
    EXPECT_EQ(SetCtrlVal(panelHandle, S100, 500), 0);
    EXPECT_EQ(Value(S100), 230);
    EXPECT_EQ(SetCtrlVal(panelHandle, S100, -5), 0);
    EXPECT_EQ(Value(S100), 1);
    SetCtrlVal(panelHandle, S100, 200);
    EXPECT_EQ(SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 100), 0);
    EXPECT_EQ(Value(S100), 100);
    EXPECT_EQ(SetCtrlAttribute(panelHandle, S100, ATTR_MIN_VALUE, 120), 0);
    EXPECT_EQ(Value(S100), 120);

    EXPECT_EQ(SetCtrlAttribute(panelHandle, S100, ATTR_MAX_VALUE, 256), UIE_BAD_VALUE);
    EXPECT_EQ(SetCtrlAttribute(panelHandle, S104, ATTR_MAX_VALUE, 5), UIE_BAD_ATTRIBUTE);
    int ignored = 0;
    EXPECT_EQ(GetCtrlAttribute(panelHandle, S104, ATTR_MIN_VALUE, &ignored), UIE_BAD_ATTRIBUTE);
    EXPECT_EQ(SetCtrlAttribute(panelHandle, S100, 12345, 1), UIE_BAD_ATTRIBUTE);
    EXPECT_TRUE(calls.empty());
}

TEST_F(UiRuntime, VisibilityAndDimmingHoldBeforeThePanelIsShown) {
    int value = -1;
    ASSERT_EQ(SetCtrlAttribute(panelHandle, S121_L, ATTR_VISIBLE, 1), 0);
    GetCtrlAttribute(panelHandle, S121_L, ATTR_VISIBLE, &value);
    EXPECT_EQ(value, 1);

    ASSERT_EQ(SetCtrlAttribute(panelHandle, S130_H, ATTR_VISIBLE, 0), 0);
    GetCtrlAttribute(panelHandle, S130_H, ATTR_VISIBLE, &value);
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(ui_testing::InspectControl(panelHandle, S130_H).labelHidden);

    ASSERT_EQ(SetCtrlAttribute(panelHandle, S124, ATTR_DIMMED, 1), 0);
    EXPECT_TRUE(ui_testing::InspectControl(panelHandle, S124).labelDimmed);
    ASSERT_EQ(SetCtrlAttribute(panelHandle, S124, ATTR_DIMMED, 0), 0);
    EXPECT_FALSE(ui_testing::InspectControl(panelHandle, S124).labelDimmed);
    GetCtrlAttribute(panelHandle, S124, ATTR_DIMMED, &value);
    EXPECT_EQ(value, 0);
}

TEST_F(UiRuntime, APanelFileThatCannotBeUsedIsRefusedWithItsReason) {
    ui_testing::AllowUnboundCallbacks(false);
    const std::string head = R"({"panels": [{"constant": "P", "id": 1, "title": "t",
        "width": 100, "height": 100, "controls": [)";
    const std::string ring = R"("kind": "ring", "dataType": "uint8", "rect": [1, 1, 20, 50])";
    const struct {
        const char* what;
        std::string contents;
        int panelId;
        int result;
        const char* reason;
    } rows[] = {
        {"not JSON", "{ \"panels\": [", 1, UIE_PANEL_FILE, "malformed"},
        {"no panels", "{}", 1, UIE_PANEL_FILE, "no list of \"panels\""},
        {"unknown panel", head + "]}]}", 2, UIE_PANEL_FILE, "no panel with identifier 2"},
        {"unknown kind",
         head + R"({"constant": "A", "id": 2, "kind": "slider", "rect": [1,1,2,2]}]}]})", 1,
         UIE_PANEL_FILE, "control A: unknown kind \"slider\""},
        {"duplicate id",
         head + R"({"constant": "A", "id": 2, "kind": "decoration", "rect": [1,1,9,9]},
                   {"constant": "B", "id": 2, "kind": "decoration", "rect": [1,1,9,9]}]}]})",
         1, UIE_PANEL_FILE, "control B: identifier 2 is used twice"},
        {"initial value without entry",
         head + R"({"constant": "A", "id": 2, )" + ring +
             R"(, "value": 4, "items": [{"value": 1, "text": "one"}]}]}]})",
         1, UIE_PANEL_FILE, "control A: no item has the initial value 4"},
        {"entry too large for the type",
         head + R"({"constant": "A", "id": 2, )" + ring +
             R"(, "value": 1, "items": [{"value": 300, "text": "x"}]}]}]})",
         1, UIE_PANEL_FILE, "does not fit the data type"},
        {"unregistered callback",
         head + R"({"constant": "A", "id": 2, "kind": "commandButton", "text": "A",
                   "rect": [1,1,20,50], "callback": "NobodysCallBack"}]}]})",
         1, UIE_NO_CALLBACK, "control A: callback NobodysCallBack is not registered"},
    };
    for (const auto& row : rows) {
        const std::string path = PanelFile(row.contents);
        EXPECT_EQ(LoadPanel(0, path.c_str(), row.panelId), row.result) << row.what;
        const std::string reason = GetPanelLoadError();
        EXPECT_EQ(reason.rfind(path + ": ", 0), 0u) << row.what << ": " << reason;
        EXPECT_NE(reason.find(row.reason), std::string::npos) << row.what << ": " << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << row.what;
    }

    const std::string missing = directory_.filePath("absent/ZelkConfig_en.uir").toStdString();
    EXPECT_EQ(LoadPanel(0, missing.c_str(), PANEL), UIE_PANEL_FILE);
    EXPECT_EQ(std::string(GetPanelLoadError()),
              "cannot open " + missing + ": No such file or directory");

    ui_testing::AllowUnboundCallbacks(true);
    const int loaded = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    EXPECT_GE(loaded, 0);
    EXPECT_STREQ(GetPanelLoadError(), "");
    DiscardPanel(loaded);
}

TEST_F(UiRuntime, APanelFileNameIsFoundBesideTheProgramWhateverTheWorkingDirectory) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(directory_.path().toStdString());
    const int loaded = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    std::filesystem::current_path(before);
    EXPECT_GE(loaded, 0) << GetPanelLoadError();
    DiscardPanel(loaded);
}

TEST_F(UiRuntime, TheCloseBoxCommitsOnTheQuitButtonAndKeepsTheWindow) {
    ASSERT_EQ(ui_testing::UserClosePanel(panelHandle), 0);
    EXPECT_EQ(calls, std::vector<Call>{Commit(QUIT)});
    EXPECT_EQ(Value(PRODUCT), 1);  // the panel is still there
}

TEST_F(UiRuntime, ADiscardedPanelIsGoneEvenWhenItsOwnCallbackDiscardsIt) {
    const int small = LoadPanel(0, PanelFile(kSmallPanel).c_str(), 7);
    ASSERT_GE(small, 0) << GetPanelLoadError();
    EXPECT_EQ(ui_testing::UserPress(small, 3), 0);
    EXPECT_EQ(ProcessSystemEvents(), 0);
    uint8_t value = 0;
    EXPECT_EQ(GetCtrlVal(small, 2, &value), UIE_BAD_PANEL);
    EXPECT_EQ(DiscardPanel(small), UIE_BAD_PANEL);
}

TEST_F(UiRuntime, PopupsAreRecordedAndAnsweredInOrder) {
    ui_testing::TakePopups();
    MessagePopup("Command Ok", "Done!\r\n");
    ui_testing::AnswerNextConfirm(true);
    EXPECT_NE(ConfirmPopup("Q", "first?"), 0);
    EXPECT_EQ(ConfirmPopup("Q", "unanswered?"), 0);

    const std::vector<ui_testing::Popup> popups = ui_testing::TakePopups();
    ASSERT_EQ(popups.size(), 3u);
    EXPECT_EQ(popups[0].kind, ui_testing::PopupKind::Message);
    EXPECT_EQ(popups[0].title, "Command Ok");
    EXPECT_EQ(popups[0].message, "Done!\r\n");
    EXPECT_EQ(popups[1].kind, ui_testing::PopupKind::Confirm);
    EXPECT_EQ(popups[2].message, "unanswered?");
    EXPECT_TRUE(ui_testing::TakePopups().empty());
}

TEST_F(UiRuntime, AChosenPathIsFinishedTheSameWayForEveryAnswer) {
    const struct {
        const char* answer;
        int restrictExtension;
        const char* fileTypes;
        const char* expected;
    } rows[] = {
        {"/data/settings", 1, "*.txt", "/data/settings.txt"},
        {"/data/settings.", 1, "*.txt", "/data/settings.txt"},
        {"/data/settings.cfg", 1, "*.txt", "/data/settings.cfg"},
        {"/data/settings", 0, "*.txt", "/data/settings"},
        {"/data/settings", 1, "*.*", "/data/settings"},
        {"/data.d/settings", 1, "*.txt;*.cfg", "/data.d/settings.txt"},
    };
    for (const auto& row : rows) {
        char path[MAX_PATHNAME_LEN] = "";
        ui_testing::AnswerNextFileSelect(row.answer);
        EXPECT_EQ(FileSelectPopup("/data", "*.txt", row.fileTypes, "Save", VAL_SAVE_BUTTON, 0,
                                  row.restrictExtension, 1, 1, path),
                  1)
            << row.answer;
        EXPECT_STREQ(path, row.expected);
    }

    // The longest path that fits the buffer with its terminator, and one character more.
    char path[MAX_PATHNAME_LEN];
    const std::string fits = "/" + std::string(MAX_PATHNAME_LEN - 6, 'a') + ".txt";
    ASSERT_EQ(fits.size(), MAX_PATHNAME_LEN - 1);
    ui_testing::AnswerNextFileSelect(fits);
    EXPECT_EQ(FileSelectPopup("", "", "*.txt", "Load", VAL_LOAD_BUTTON, 0, 1, 1, 0, path), 1);
    EXPECT_EQ(std::string(path), fits);

    std::strcpy(path, "untouched");
    ui_testing::AnswerNextFileSelect(fits.substr(0, fits.size() - 4) + "b");  // + ".txt"
    EXPECT_EQ(FileSelectPopup("", "", "*.txt", "Save", VAL_SAVE_BUTTON, 0, 1, 1, 0, path),
              UIE_PATH_TOO_LONG);
    EXPECT_STREQ(path, "untouched");

    ui_testing::CancelNextFileSelect();
    EXPECT_EQ(FileSelectPopup("", "", "*.txt", "Load", VAL_LOAD_BUTTON, 0, 1, 1, 0, path), 0);
    EXPECT_STREQ(path, "untouched");

    ui_testing::TakePopups();
    ui_testing::AnswerNextFileSelect("/x/y");
    FileSelectPopup("/home/me", "config.txt", "*.txt", "Pick one", VAL_SAVE_BUTTON, 0, 1, 0, 1,
                    path);
    const std::vector<ui_testing::Popup> popups = ui_testing::TakePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, ui_testing::PopupKind::FileSelect);
    EXPECT_EQ(popups[0].title, "Pick one");
    EXPECT_EQ(popups[0].defaultDirectory, "/home/me");
    EXPECT_EQ(popups[0].defaultFileSpec, "config.txt");
    EXPECT_TRUE(popups[0].restrictExtension);
    EXPECT_FALSE(popups[0].allowCancel);
}

TEST_F(UiRuntime, TheProjectDirectoryIsWhereTheProgramIs) {
    char directory[MAX_PATHNAME_LEN] = "";
    ASSERT_EQ(GetProjectDir(directory), 0);
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(std::filesystem::path(directory), program.parent_path());
}

// The real dialogs, answered from inside their own event loop the moment they open.
class RealDialogs : public UiRuntime {
  protected:
    void SetUp() override {
        UiRuntime::SetUp();
        ui_testing::Disable();
    }
    void TearDown() override {
        ui_testing::Enable();
        UiRuntime::TearDown();
    }
    // Runs answer on the first modal window that opens.
    template <typename Dialog, typename Answer>
    static void WhenOpen(Answer answer) {
        QTimer::singleShot(0, qApp, [answer] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(dialog);
        });
        // Should the answer not close it, a stuck dialog fails the test instead of hanging it.
        QTimer::singleShot(5000, qApp, [] {
            if (QWidget* stuck = QApplication::activeModalWidget()) {
                ADD_FAILURE() << "a dialog stayed open";
                stuck->close();
            }
        });
    }
};

TEST_F(RealDialogs, AMessageShowsItsCarriageReturnsAsLineBreaksAndNoMarkup) {
    QString shown;
    WhenOpen<QMessageBox>([&shown](QMessageBox* box) {
        shown = box->text();
        box->accept();
    });
    MessagePopup("Error", "first\r\nsecond\rthird <b>4</b>");
    EXPECT_EQ(shown.toStdString(), "first\nsecond\nthird <b>4</b>");

    WhenOpen<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_NE(ConfirmPopup("Q", "yes?"), 0);
    WhenOpen<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    EXPECT_EQ(ConfirmPopup("Q", "no?"), 0);
}

TEST_F(RealDialogs, ASaveDialogOffersOnlyTheRestrictedTypeAndFinishesTheName) {
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QString directory;
    WhenOpen<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        mode = dialog->acceptMode();
        directory = dialog->directory().absolutePath();
        dialog->selectFile(QStringLiteral("saved"));
        static_cast<QDialog*>(dialog)->accept();
    });
    char path[MAX_PATHNAME_LEN] = "";
    const std::string start = directory_.path().toStdString();
    EXPECT_EQ(
        FileSelectPopup(start.c_str(), "*.txt", "*.txt", "Save", VAL_SAVE_BUTTON, 0, 1, 1, 0, path),
        1);
    EXPECT_EQ(filters, QStringList{QStringLiteral("Files (*.txt)")});
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    EXPECT_EQ(directory.toStdString(), start);
    EXPECT_EQ(std::string(path), start + "/saved.txt");

    // Without the restriction every file may be picked, and a cancel is a cancel.
    WhenOpen<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        mode = dialog->acceptMode();
        dialog->reject();
    });
    EXPECT_EQ(
        FileSelectPopup(start.c_str(), "", "*.txt", "Load", VAL_LOAD_BUTTON, 0, 0, 1, 0, path), 0);
    EXPECT_EQ(filters.size(), 2);
    EXPECT_EQ(mode, QFileDialog::AcceptOpen);
}

const char* CountingToolTip() {
    static int asked = 0;
    static std::string text;
    text = "asked " + std::to_string(++asked);
    return text.c_str();
}

TEST_F(UiRuntime, ATooltipIsAskedForEachTimeItIsAboutToShow) {
    ASSERT_EQ(SetCtrlToolTipProvider(panelHandle, COMPORT_NUM, CountingToolTip), 0);
    QWidget* list = nullptr;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->objectName() == QLatin1String("COMPORT_NUM")) {
            list = widget;
        }
    }
    ASSERT_NE(list, nullptr);
    for (const char* expected : {"asked 1", "asked 2"}) {
        QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(list, &event);
        EXPECT_EQ(list->toolTip().toStdString(), expected);
    }
}

TEST_F(UiRuntime, TheBusyCursorIsOnOnceAndOffOnce) {
    SetWaitCursor(1);
    SetWaitCursor(1);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    SetWaitCursor(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
