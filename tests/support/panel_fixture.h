// Loads the real main panel for a test, and reads it the way the tests compare it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <utility>
#include <vector>
#include "window/panel/panel.h"

// Loads PANEL from ZelkConfig_en.uir beside the test binary, with every callback of the
// program bound and popups answered by the test seam; stores the handle in panelHandle and
// returns it (negative when loading failed).
int LoadTestPanel();
// Discards the panel loaded by LoadTestPanel and sets panelHandle back to -1.
void DiscardTestPanel();

// The program as it starts (StartZelkConfig), with popups answered by the test seam; each
// test leaves it disconnected and without a panel.
class StartedProgram : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

namespace panel {

// The control's value, whatever its data type.
int Value(int control);
int Dimmed(int control);
int Visible(int control);
int Minimum(int control);
int Maximum(int control);

using Items = std::vector<std::pair<std::string, int>>;
// A list's items, text and value, in order.
Items ListItems(int control);

// Operates the control as a user does (one commit) and fails the test when it cannot.
void Commit(int control, int value);
void Press(int control);

// The popups shown since the last call: messages as "title|message", or
// "title|message||details" when the message has details beside it; file dialogs as their
// title, default directory and file specification ("... only" when restricted to it).
std::vector<std::string> Popups();

}  // namespace panel
