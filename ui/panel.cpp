#include "ui/panel.h"

int panelHandle = -1;
