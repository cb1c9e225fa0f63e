#include "app/app.h"

int panelHandle = -1;
char projectDir[MAX_PATHNAME_LEN];
int quitFlag = 0;
