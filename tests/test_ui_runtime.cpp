// The user-interface runtime: what reaches a callback, list and value conventions, panel
// files that cannot be used, the close box, and how a chosen file path is finished. Then the
// main panel as its definition file builds it, before any start-up step runs (its lists and
// their first values are pinned against what the command line offers).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

// The controls whose callback ran, in order; each call must be a bare commit.
std::vector<int> calls;

int Record(int panel, int control, int event, void* callbackData, int eventData1, int eventData2) {
    EXPECT_TRUE(panel == panelHandle && event == EVENT_COMMIT && callbackData == nullptr &&
                eventData1 == 0 && eventData2 == 0)
        << "control " << control << ", event " << event;
    calls.push_back(control);
    return 0;
}

// The real panel with a recorder bound in place of each callback the tests drive, so that
// a test sees exactly which events would reach the program; the other names stay unbound.
class UiRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        static char name[] = "test_ui_runtime";
        static char* arguments[] = {name, nullptr};
        static const int started = InitUserInterface(1, arguments);
        ASSERT_NE(started, 0);
        ui_testing::Enable();
        for (const char* callback : {"SelectProductCallBack", "UartBrCallBack", "PortConnCallBack",
                                     "ComPortSelectCallBack", "ReadCallBack", "QuitCallBack"}) {
            RegisterCallback(callback, Record);
        }
        ui_testing::AllowUnboundCallbacks(true);
        panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
        ASSERT_GE(panelHandle, 0) << GetPanelLoadError();
        calls.clear();
    }
    void TearDown() override { DiscardTestPanel(); }
};

TEST_F(UiRuntime, ChangesMadeByTheProgramRunNoCallback) {
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Connect");
    EXPECT_EQ(SetCtrlVal(panelHandle, PRODUCT, 3), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, UART_BR, 115200), 0);
    EXPECT_EQ(SetCtrlVal(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(DeleteListItem(panelHandle, PRODUCT, 0, -1), 0);
    EXPECT_EQ(InsertListItem(panelHandle, PRODUCT, -1, "Zelk-X", 4), 0);
    ProcessSystemEvents();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(panel::Value(PRODUCT), 4);
    EXPECT_EQ(ui_testing::ControlLabel(panelHandle, PORT_CONN), "Disconnect");
}

TEST_F(UiRuntime, EachUserActionCommitsExactlyOnce) {
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, 4), 0);
    EXPECT_EQ(ui_testing::UserPickItem(panelHandle, UART_BR, "19.2kbps"), 0);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, PORT_CONN, 1), 0);
    EXPECT_EQ(ui_testing::UserPress(panelHandle, READ), 0);
    // Picking the entry already shown is still a pick: the user opened the list and chose.
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, COMPORT_NUM, 1), 0);
    // The window's close box acts as the EXIT button and leaves closing to its callback.
    EXPECT_EQ(ui_testing::UserClosePanel(panelHandle), 0);
    // Dimmed and hidden controls are out of a user's reach.
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S103, 2), UIE_NOT_OPERABLE);
    EXPECT_EQ(ui_testing::UserSetValue(panelHandle, S113, 0), UIE_NOT_OPERABLE);
    EXPECT_EQ(calls, (std::vector<int>{PRODUCT, UART_BR, PORT_CONN, READ, COMPORT_NUM, QUIT}));
    EXPECT_EQ(panel::Value(UART_BR), 19200);
}

TEST_F(UiRuntime, ListsCountFromTheirEndsAndHoldTheChosenEntrysValue) {
    ASSERT_EQ(DeleteListItem(panelHandle, S112, 2, -1), 0);           // -1: to the end
    ASSERT_EQ(InsertListItem(panelHandle, S112, -1, "+30dB", 9), 0);  // -1: after the last
    ASSERT_EQ(InsertListItem(panelHandle, S112, 0, "- 3dB", 8), 0);
    const panel::Items expected = {{"- 3dB", 8}, {"+ 1dB", 0}, {"+ 2dB", 1}, {"+30dB", 9}};
    EXPECT_EQ(panel::ListItems(S112), expected);
    EXPECT_EQ(InsertListItem(panelHandle, S112, 5, "x", 1), UIE_BAD_INDEX);
    EXPECT_EQ(DeleteListItem(panelHandle, S112, 3, 2), UIE_BAD_INDEX);
    EXPECT_EQ(InsertListItem(panelHandle, S112, -1, "too big for a byte", 256), UIE_BAD_VALUE);
    EXPECT_EQ(panel::ListItems(S112), expected);

    // An emptied list has no value; the first entry put in becomes the current one.
    ASSERT_EQ(DeleteListItem(panelHandle, S112, 0, -1), 0);
    uint8_t value = 77;
    EXPECT_EQ(GetCtrlVal(panelHandle, S112, &value), UIE_BAD_VALUE);
    EXPECT_EQ(value, 77);
    ASSERT_EQ(InsertListItem(panelHandle, S112, -1, "+ 5 dB", 2), 0);
    EXPECT_EQ(panel::Value(S112), 2);

    // A label is cut to the buffer.
    char label[5];
    int itemValue = -1;
    ASSERT_EQ(GetListItem(panelHandle, PRODUCT, 0, label, sizeof label, &itemValue), 0);
    EXPECT_STREQ(label, "Zelk");
}

TEST_F(UiRuntime, RefusedValuesLeaveTheControlAsItWas) {
    const struct {
        int control;
        long long value, kept;
    } rows[] = {{PRODUCT, 7, 1}, {UART_BR, 9601, 9600}, {S104, 8, 3}, {S102, 4, 5}};
    for (const auto& row : rows) {
        EXPECT_EQ(SetCtrlVal(panelHandle, row.control, row.value), UIE_BAD_VALUE) << row.control;
        EXPECT_EQ(panel::Value(row.control), row.kept) << row.control;
    }
    // A value is read only into a variable of the control's own type.
    uint8_t small = 0;
    uint32_t wide = 0;
    EXPECT_EQ(GetCtrlVal(panelHandle, PRODUCT, &wide), UIE_TYPE_MISMATCH);
    EXPECT_EQ(GetCtrlVal(panelHandle, UART_BR, &small), UIE_TYPE_MISMATCH);
    // Numbers are brought into their range rather than refused.
    EXPECT_EQ(SetCtrlVal(panelHandle, S100, 500), 0);
    EXPECT_EQ(panel::Value(S100), 230);
}

TEST_F(UiRuntime, APanelFileThatCannotBeUsedIsRefusedWithItsNameAndReason) {
    ui_testing::AllowUnboundCallbacks(false);
    QTemporaryDir directory;
    const std::string head = R"({"panels": [{"constant": "P", "id": 1, "title": "t",
        "width": 100, "height": 100, "controls": [{"constant": "A", "id": 2, )";
    struct Refused {
        std::string name;      // in the test's folder
        std::string contents;  // of a regular file; not used by the other kinds
        const char* why;       // what the reason must say
    };
    const Refused rows[] = {
        {"p.uir", "{ \"panels\": [", "malformed"},
        {"p.uir", head + R"("kind": "slider", "rect": [1,1,2,2]}]}]})", "unknown kind \"slider\""},
        {"p.uir", head + R"("kind": "commandButton", "text": "A", "rect": [1,1,20,50],
                   "callback": "NobodysCallBack"}]}]})",
         "control A: callback NobodysCallBack is not registered"},
        {"absent/x.uir", "", "No such file or directory"},
        // A pipe would hold the program before any window; a device never ends.
        {"pipe.uir", "", "not a regular file"},
        {"zero.uir", "", "not a regular file"},
        {"sparse.uir", "", "too large for a panel file"},
    };
    for (const Refused& row : rows) {
        const std::string path = directory.filePath(QString::fromStdString(row.name)).toStdString();
        if (row.name == "pipe.uir") {
            mkfifo(path.c_str(), 0600);
        } else if (row.name == "zero.uir") {
            std::filesystem::create_symlink("/dev/zero", path);
        } else if (row.name == "sparse.uir") {
            std::ofstream{path};
            std::filesystem::resize_file(path, 16 * 1024 * 1024 + 1);
        } else if (!row.contents.empty()) {
            std::ofstream(path) << row.contents;
        }
        EXPECT_LT(LoadPanel(0, path.c_str(), 1), 0) << row.why;
        const std::string reason = GetPanelLoadError();
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_NE(reason.find(row.why), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

// Installed, the program finds its panel file in a data directory relative to its own. The
// places are tried in turn: the file beside the program wins over the data directory's.
// (Falling back to the data directory, and naming every place when none holds the file,
// are seen from the save dialog and from a start without a panel file.)
TEST_F(UiRuntime, APanelFileIsLookedForInEachPanelDirectoryInTurn) {
    QTemporaryDir directory;
    const std::filesystem::path data = directory.filePath("share").toStdString();
    std::filesystem::create_directory(data);
    // A panel of its own kind, without the controls of the real one.
    std::ofstream(data / "ZelkConfig_en.uir") << R"({"panels": [{"constant": "P", "id": 1,
        "title": "t", "width": 100, "height": 100, "controls": [{"constant": "MARK", "id": 99,
        "kind": "textMessage", "text": "m", "rect": [1, 1, 20, 50]}]}]})";
    char program[MAX_PATHNAME_LEN] = {};
    ASSERT_EQ(GetProjectDir(program), 0);
    const std::string relative = std::filesystem::relative(data, program).string();
    const char* places[] = {".", relative.c_str()};
    DiscardTestPanel();
    ASSERT_EQ(SetPanelDirectories(places, 2), 0);
    panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    SetPanelDirectories(nullptr, 0);
    EXPECT_TRUE(ui_testing::InspectControl(panelHandle, READ).found) << GetPanelLoadError();
    const char* empty[] = {""};
    EXPECT_EQ(SetPanelDirectories(empty, 1), UIE_BAD_VALUE);
}

TEST_F(UiRuntime, ADialogLimitedToAnExtensionSavesAndLoadsOnlyFilesWithIt) {
    // What the program receives when the user answers a dialog limited to "*.txt".
    auto chosen = [](int button, const std::string& answer) {
        char path[MAX_PATHNAME_LEN] = "untouched";
        ui_testing::AnswerNextFileSelect(answer);
        const int result = FileSelectPopup("/data", "", "*.txt", "", button, 0, 1, 1, 1, path);
        return std::to_string(result) + " " + path;
    };
    // Other extensions and none are seen in the setting files' tests.
    const int save = VAL_SAVE_BUTTON, load = VAL_LOAD_BUTTON;
    EXPECT_EQ(chosen(save, "/data/settings."), "1 /data/settings.txt");
    EXPECT_EQ(chosen(save, "/data.d/settings.cfg"), "1 /data.d/settings.cfg.txt");
    EXPECT_EQ(chosen(save, "/data/SETTINGS.TXT"), "1 /data/SETTINGS.TXT");
    EXPECT_EQ(chosen(load, "/data/settings"),
              std::to_string(UIE_BAD_FILE_TYPE) + " /data/settings");
    // The longest path that fits the buffer with its terminator, then one character more.
    const std::string fits = "/" + std::string(MAX_PATHNAME_LEN - 6, 'a') + ".txt";
    EXPECT_EQ(chosen(save, fits), "1 " + fits);
    EXPECT_EQ(chosen(save, fits.substr(0, fits.size() - 4) + "b"),
              std::to_string(UIE_PATH_TOO_LONG) + " untouched");
}

// Every constant the identifier header declares, read from the header itself so that a
// constant added there and forgotten in the panel file (or the other way round) shows.
std::map<std::string, int> HeaderConstants() {
    std::ifstream header(std::filesystem::path(__FILE__).parent_path().parent_path() /
                         "ui/panel_ids.h");
    const std::regex declaration(R"(^constexpr int (\w+) = (\d+);)");
    std::map<std::string, int> constants;
    std::smatch match;
    for (std::string line; std::getline(header, line);) {
        if (std::regex_search(line, match, declaration)) {
            constants[match[1]] = std::stoi(match[2]);
        }
    }
    return constants;
}

class PanelDefinition : public UiRuntime {};

TEST_F(PanelDefinition, HeaderAndPanelFileDeclareTheSameIdentifiers) {
    const std::map<std::string, int> constants = HeaderConstants();
    ASSERT_EQ(constants.at("LED"), LED);  // the header was found and read
    QFile file(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject main = QJsonDocument::fromJson(file.readAll())["panels"][0].toObject();
    std::map<std::string, int> inFile = {
        {main["constant"].toString().toStdString(), main["id"].toInt()}};
    for (const QJsonValue& control : main["controls"].toArray()) {
        inFile[control["constant"].toString().toStdString()] = control["id"].toInt();
    }
    EXPECT_EQ(inFile, constants);
}

// Every control: shown or hidden, dimmed or not, as the first product needs before any
// rule runs; inside the 980 by 659 window, its label whole and clear of other controls.
TEST_F(PanelDefinition, EveryControlStartsInReachOrNotAndInItsPlace) {
    const std::set<int> hiddenAndDimmed = {S116, TEXTMSG_5, S113, S115, ID_LEN};
    const std::set<int> hidden = {S121_L, S122_L, S123_L, S130_L, DOT1, DOT3, DOT4, DOT5};
    const std::set<int> dimmed = {S101, S103};
    auto overlaps = [](const ui_testing::Rect& a, const ui_testing::Rect& b) {
        return !a.empty() && !b.empty() && a.left < b.right && b.left < a.right &&
               a.top < b.bottom && b.top < a.bottom;
    };
    const std::map<std::string, int> constants = HeaderConstants();
    std::vector<ui_testing::ControlView> views;
    for (const auto& [name, control] : constants) {
        if (control != PANEL) {
            views.push_back(ui_testing::InspectControl(panelHandle, control));
        }
    }
    std::set<std::string> outside;
    for (const ui_testing::ControlView& view : views) {
        const int control = constants.at(view.constant);
        const bool hide = hiddenAndDimmed.count(control) || hidden.count(control);
        const bool dim = hiddenAndDimmed.count(control) || dimmed.count(control);
        EXPECT_EQ(panel::Visible(control), hide ? 0 : 1) << view.constant;
        EXPECT_EQ(panel::Dimmed(control), dim ? 1 : 0) << view.constant;
        if (!view.label.empty()) {  // the label goes and greys with its control
            EXPECT_TRUE(view.labelHidden == hide && view.labelDimmed == dim) << view.constant;
        }
        EXPECT_TRUE(view.panelWidth == 980 && view.panelHeight == 659);
        const ui_testing::Rect& body = view.body;
        if (body.left < 0 || body.top < 0 || body.right > 980 || body.bottom > 659) {
            outside.insert(view.constant);
            continue;
        }
        EXPECT_TRUE(view.labelTextFits && view.label.left >= 0) << view.constant << "'s label";
        for (const ui_testing::ControlView& other : views) {
            if (&other != &view && other.constant.rfind("DECORATION", 0)) {
                EXPECT_FALSE(overlaps(view.label, other.body) || overlaps(view.label, other.label))
                    << view.constant << "'s label covers " << other.constant;
            }
        }
    }
    // Three controls take part in files and exchanges but lie below the window's edge.
    EXPECT_EQ(outside, (std::set<std::string>{"ID_LEN", "S101", "S115"}));
}

// A file that parses but was not made for this program: each control the program relies
// on is checked at load, and a misfit fails the load with the control and what is wrong.
TEST(PanelFile, OneThatDoesNotFitTheProgramIsRefusedNamingTheControl) {
    ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError();  // the program's controls registered
    DiscardTestPanel();
    QFile real(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray original = real.readAll();
    struct Misfit {
        const char* from;  // a piece of the real file, and what it becomes
        const char* to;
        const char* said;
    };
    // clang-format off
    const Misfit misfits[] = {
        {.from = R"("S100", "id": 4, "kind": "numeric", "dataType": "uint8")",
         .to = R"("S100", "id": 4, "kind": "numeric", "dataType": "uint32")",
         .said = "control S100 holds uint32 in the file, the program reads it as uint8"},
        {.from = R"("READ", "id": 35,)", .to = R"("ELSE", "id": 99,)",
         .said = "control READ (identifier 35) is missing"},
        {.from = R"("UPDATE", "id": 36, "kind": "commandButton",)",
         .to = R"("UPDATE", "id": 36, "kind": "toggleButton", "dataType": "int", "offText": "",
                 "onText": "",)",
         .said = "control UPDATE is a toggleButton control in the file, the program needs a "
                 "commandButton"},
        {.from = R"("callback": "SetModeCallBack")", .to = R"("callback": "S126CallBack")",
         .said = "control S124 calls S126CallBack in the file, the program needs SetModeCallBack"},
    };
    // clang-format on
    QTemporaryDir directory;
    const std::string path = directory.filePath(QStringLiteral("misfit.uir")).toStdString();
    for (const Misfit& misfit : misfits) {
        QByteArray changed = original;
        ASSERT_TRUE(changed.contains(misfit.from)) << misfit.from;
        QFile out(QString::fromStdString(path));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(changed.replace(misfit.from, misfit.to));
        out.close();
        EXPECT_LT(LoadPanel(0, path.c_str(), PANEL), 0) << misfit.said;
        EXPECT_EQ(GetPanelLoadError(), path + ": " + misfit.said);
    }
}

}  // namespace
