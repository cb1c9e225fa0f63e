// Loads the real main panel for a test: the runtime started once, headless, popups
// answered by the test seam, and callbacks that nobody registered left unbound.
#pragma once

// Loads PANEL from ZelkConfig_en.uir beside the test binary, stores the handle in
// panelHandle and returns it (negative when loading failed). Callbacks registered before
// the call are bound to the panel.
int LoadTestPanel();
// Discards the panel loaded by LoadTestPanel and sets panelHandle back to -1.
void DiscardTestPanel();
