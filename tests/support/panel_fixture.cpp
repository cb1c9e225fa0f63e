#include "tests/support/panel_fixture.h"

#include <cstdlib>

#include "app/app.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "ui/panel_ids.h"

int LoadTestPanel() {
    static bool started = false;
    if (!started) {
        // Tests never need a display; CTest sets this too, a debugger session may not.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static char name[] = "zelk_test";
        static char* arguments[] = {name, nullptr};
        if (InitUserInterface(1, arguments) == 0) {
            return UIE_NOT_INITIALISED;
        }
        started = true;
    }
    ui_testing::Enable();
    ui_testing::AllowUnboundCallbacks(true);
    panelHandle = LoadPanel(0, "ZelkConfig_en.uir", PANEL);
    return panelHandle;
}

void DiscardTestPanel() {
    if (panelHandle >= 0) {
        DiscardPanel(panelHandle);
    }
    panelHandle = -1;
}
