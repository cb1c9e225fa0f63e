// The main panel as its definition file builds it, before any start-up step runs. (Its lists
// and their first values are pinned against what the command line offers.)
#include <gtest/gtest.h>

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

class PanelDefinition : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(LoadTestPanel(), 0) << GetPanelLoadError(); }
    void TearDown() override { DiscardTestPanel(); }
};

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
