#include "window/app/app.h"

int main(int argc, char** argv) {
    return RunZelkConfig(argc, argv);
}
