#include "window/app/app.h"

#include <cstdio>
#include <iterator>

#include "core/link/connection.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/ui/panel_controls.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

int quitFlag = 0;

namespace {

const char* const kPanelFile = "ZelkConfig_en.uir";
// Beside the program in a build tree, a portable copy or a Windows folder; in the data
// directory of an installation, which lies beside the program's bin directory.
const char* const kPanelDirectories[] = {".", "../share/zelkconfig"};

}  // namespace

int StartZelkConfig(int argc, char** argv) {
    if (InitUserInterface(argc, argv) == 0) {
        return -1;
    }
    GetProjectDir(projectDir);

    RegisterProgramCallbacks();
    SetPanelDirectories(kPanelDirectories, static_cast<int>(std::size(kPanelDirectories)));
    panelHandle = LoadPanel(0, kPanelFile, PANEL);
    if (panelHandle < 0) {
        // Without its panel the program has nothing to show; say why on the console so a
        // broken installation is not a silent one.
        std::fprintf(stderr, "ZelkConfig: %s\n", GetPanelLoadError());
        return -1;
    }

    connection.connected = false;
    // The rules first, then the series set-up, so that the set-up has the last word on
    // every control both of them touch.
    ApplyControlRules();
    SelectProductCallBack(panelHandle, PRODUCT, EVENT_COMMIT, nullptr, 0, 0);

    SetCtrlToolTipProvider(panelHandle, COMPORT_NUM, DescribeComPorts);
    DisplayPanel(panelHandle);
    return 0;
}

void RunEventLoop() {
    // Callbacks run inside ProcessSystemEvents. The wait sleeps until the next event, so
    // an idle program costs nothing and a click is handled the moment it arrives.
    while (quitFlag == 0) {
        ProcessSystemEvents();
        WaitForSystemEvents();
    }
}

int StopZelkConfig() {
    if (connection.connected) {
        CloseCom(connection.comPort);
        connection.connected = false;
    }
    DiscardPanel(panelHandle);
    panelHandle = -1;
    CloseUserInterface();
    return 0;
}

int RunZelkConfig(int argc, char** argv) {
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) {
        return *answered;
    }
    if (!StartTraceFromCommandLine(argc, argv)) {
        return -1;
    }
    if (StartZelkConfig(argc, argv) != 0) {
        return -1;
    }
    RunEventLoop();
    return StopZelkConfig();
}

int QuitCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (connection.connected) {
        CloseModulePort();
        SetCtrlVal(panelHandle, PORT_CONN, 0);
    }
    quitFlag = 1;
    QuitUserInterface(0);
    return 0;
}
