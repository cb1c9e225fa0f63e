// The main panel as the program holds it: the handle that every control operation takes.
// Set once at start-up, -1 while no panel is loaded.
#pragma once

extern int panelHandle;
