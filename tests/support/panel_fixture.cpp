#include "tests/support/panel_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "core/link/connection.h"
#include "core/params/parameter_set.h"
#include "runtime/ui/panel_controls.h"
#include "runtime/ui/ui_test_seam.h"
#include "window/app/app.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"

int LoadTestPanel() {
    static bool started = false;
    if (!started) {
        // Tests never need a display; CTest sets this too, a debugger session may not.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static char name[] = "zelk_test";
        static char* arguments[] = {name, nullptr};
        if (InitUserInterface(1, arguments) == 0) {
            return UIE_NOT_INITIALISED;
        }
        started = true;
    }
    ui_testing::Enable();
    RegisterProgramCallbacks();
    panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    return panelHandle;
}

void DiscardTestPanel() {
    if (panelHandle >= 0) {
        DiscardPanel(panelHandle);
    }
    panelHandle = -1;
}

bool MakePipe(const fs::path& path) {
#ifndef _WIN32
    return mkfifo(path.c_str(), 0600) == 0;
#else
    (void)path;
    return false;
#endif
}

bool MakeEndlessFile(const fs::path& path) {
#ifndef _WIN32
    fs::create_symlink("/dev/zero", path);
    return true;
#else
    (void)path;
    return false;
#endif
}

void StartedProgram::SetUp() {
    static char name[] = "ZelkConfig";
    static char* argv[] = {name, nullptr};
    parameters = ParameterSet{};
    quitFlag = 0;
    ui_testing::Enable();
    ASSERT_EQ(StartZelkConfig(1, argv), 0);
}

void StartedProgram::TearDown() {
    DiscardTestPanel();
    connection = ConnectionState{0, false, 9600, 0};
    ui_testing::TakePopups();
}

namespace panel {

int Value(int control) {
    uint8_t small = 0;
    if (GetCtrlVal(panelHandle, control, &small) == UIE_NO_ERROR) {
        return small;
    }
    uint32_t wide = 0;
    if (GetCtrlVal(panelHandle, control, &wide) == UIE_NO_ERROR) {
        return static_cast<int>(wide);
    }
    int value = -1;
    EXPECT_EQ(GetCtrlVal(panelHandle, control, &value), UIE_NO_ERROR) << "control " << control;
    return value;
}

namespace {

int Attribute(int control, int attribute) {
    int value = -1;
    EXPECT_EQ(GetCtrlAttribute(panelHandle, control, attribute, &value), UIE_NO_ERROR)
        << "control " << control << ", attribute " << attribute;
    return value;
}

}  // namespace

int Dimmed(int control) {
    return Attribute(control, ATTR_DIMMED);
}
int Visible(int control) {
    return Attribute(control, ATTR_VISIBLE);
}
int Minimum(int control) {
    return Attribute(control, ATTR_MIN_VALUE);
}
int Maximum(int control) {
    return Attribute(control, ATTR_MAX_VALUE);
}

Items ListItems(int control) {
    int count = 0;
    EXPECT_EQ(GetNumListItems(panelHandle, control, &count), UIE_NO_ERROR);
    Items items;
    for (int index = 0; index < count; ++index) {
        char label[128] = {};
        int value = -1;
        GetListItem(panelHandle, control, index, label, sizeof label, &value);
        items.emplace_back(label, value);
    }
    return items;
}

void Commit(int control, int value) {
    ASSERT_EQ(ui_testing::UserSetValue(panelHandle, control, value), UIE_NO_ERROR)
        << "control " << control << " to " << value;
}

void Press(int control) {
    ASSERT_EQ(ui_testing::UserPress(panelHandle, control), UIE_NO_ERROR) << "control " << control;
}

std::vector<std::string> Popups() {
    std::vector<std::string> popups;
    for (const ui_testing::Popup& p : ui_testing::TakePopups()) {
        if (p.kind == ui_testing::PopupKind::FileSelect) {
            popups.push_back(p.title + " in " + p.defaultDirectory + " " + p.defaultFileSpec +
                             (p.restrictExtension && p.allowCancel ? " only" : ""));
        } else {
            popups.push_back(p.title + "|" + p.message +
                             (p.details.empty() ? "" : "||" + p.details));
        }
    }
    return popups;
}

}  // namespace panel
