// The firmware version button against a simulated module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/link_fixture.h"

namespace {

using link_test::kCommunicationError;
using link_test::LinkTest;

class VersionQuery : public LinkTest {
  protected:
    // Presses the button with the given series shown; returns the popups.
    std::vector<std::string> Press(int productIndex) {
        SetCtrlVal(panelHandle, PRODUCT, productIndex);
        Connect();
        ui_testing::UserPress(panelHandle, SHOW_VER);
        return Popups();
    }
};

TEST_F(VersionQuery, ShowsTheTextBeforeThePromptAndLeavesBySeries) {
    struct Row {
        int productIndex;
        const char* leave;
    };
    const Row rows[] = {{0, "ATX\n"}, {4, "ATO\n"}, {5, "ATO\n"}, {6, "ATX\n"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.productIndex);
        ModuleOptions options;
        options.series = row.productIndex;
        options.versionText = "Zelk RF V3.36\r\n  build 17 ";
        Attach(options);
        EXPECT_EQ(Press(row.productIndex),
                  std::vector<std::string>{Popup("FirmWare Verion", options.versionText)});
        EXPECT_EQ(module().sentByHost(), std::string("+++AT/V\n") + row.leave);
        // The reply is due just after the first look; the second cycle takes it, and its
        // wait ends the collection.
        EXPECT_NEAR(HostTimeOf(row.leave), HostTimeOf("AT/V") + 2 * 0.1, 1e-6);
        EXPECT_FALSE(module().module().inCommandMode());
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(VersionQuery, PromptAloneIsAnEmptyVersion) {
    ModuleOptions options;
    options.versionText = "";
    Attach(options);
    EXPECT_EQ(Press(1), std::vector<std::string>{Popup("FirmWare Verion", "")});
}

TEST_F(VersionQuery, LongReplyWithoutPromptShowsItsFirst99Characters) {
    std::string text;
    for (int i = 0; i < 120; ++i) {
        text.push_back(static_cast<char>('A' + i % 26));
    }
    ModuleOptions options;
    options.versionText = text;
    options.cutReplyAfter = 120;
    Attach(options);
    EXPECT_EQ(Press(1), std::vector<std::string>{Popup("FirmWare Verion", text.substr(0, 99))});
    EXPECT_EQ(module().sentByHost(), "+++AT/V\nATX\n");
}

TEST_F(VersionQuery, ReplyWithoutPromptWithinFiveSecondsIsAnError) {
    struct Row {
        int productIndex;
        const char* leave;
    };
    const Row rows[] = {{0, "ATX\n"}, {4, "ATO\n"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.productIndex);
        ModuleOptions options;
        options.series = row.productIndex;
        options.cutReplyAfter = 10;
        Attach(options);
        EXPECT_EQ(Press(row.productIndex),
                  std::vector<std::string>{Popup("Command Error", kCommunicationError)});
        EXPECT_EQ(module().sentByHost(), std::string("+++AT/V\n") + row.leave);
        EXPECT_NEAR(HostTimeOf(row.leave), HostTimeOf("AT/V") + 50 * 0.1, 1e-6);
        ui_testing::UserSetValue(panelHandle, PORT_CONN, 0);
    }
}

TEST_F(VersionQuery, SlowReplyIsCollectedAcrossCycles) {
    ModuleOptions options;
    options.versionText = "V3.36";
    options.byteInterval = 0.25;  // the prompt arrives 1.5 s after the first character
    Attach(options);
    EXPECT_EQ(Press(1), std::vector<std::string>{Popup("FirmWare Verion", "V3.36")});
}

}  // namespace
