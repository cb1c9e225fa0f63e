// Gathering the panel into the register set, and a value's textual forms in a small buffer.
// The register table itself is pinned by what reads, writes and files put on the wire and
// on disk.
#include <gtest/gtest.h>

#include "params/parameter_set.h"
#include "params/params_panel.h"
#include "params/textual_forms.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

// What the panel hides keeps what was there: the modulation outside the series that shows
// it, the low parts of the IDs while they are one byte long. The network ID has both parts.
TEST(Gathering, TakesOnlyWhatThePanelShows) {
    ASSERT_GE(LoadTestPanel(), 0);  // on series T1b
    parameters = ParameterSet{};
    parameters.s113 = 7;
    parameters.s121Low = parameters.s122Low = parameters.s123Low = parameters.s130Low = 99;
    SetCtrlVal(panelHandle, S113, 0);
    SetCtrlVal(panelHandle, S120_L, 1);
    SetCtrlVal(panelHandle, S121_L, 2);
    SetCtrlVal(panelHandle, S130_L, 3);
    GatherParameters();
    EXPECT_EQ(parameters.productIndex, ProductSeries::T1b);
    EXPECT_EQ(parameters.s113, 7);
    EXPECT_EQ(parameters.s120Low, 1);
    EXPECT_EQ(parameters.s121Low, 99);
    EXPECT_EQ(parameters.s130Low, 99);
    EXPECT_EQ(parameters.s130High, 100);

    SetCtrlVal(panelHandle, ID_LEN, 1);
    SetCtrlVal(panelHandle, PRODUCT, 6);
    GatherParameters();
    EXPECT_EQ(parameters.s113, 0);
    EXPECT_EQ(parameters.idLength, 1);
    EXPECT_EQ(parameters.s121Low, 2);
    EXPECT_EQ(parameters.s123Low, 127);
    EXPECT_EQ(parameters.s130Low, 3);
    DiscardTestPanel();
}

// The forms themselves are pinned by the bytes on the wire and the files on disk.
TEST(TextualForms, SetCommandsAndRecordsFitTheirBuffers) {
    char small[8];
    EXPECT_EQ(FormatSetCommand(small, sizeof small, 120, 192, 168), -1);
    EXPECT_EQ(small[sizeof small - 1], '\0');
    EXPECT_EQ(FormatRegisterRecord(small, sizeof small, 100, 50), 7);  // "S100=50" just fits
}

}  // namespace
