#include "window/panel/panel.h"

int panelHandle = -1;
