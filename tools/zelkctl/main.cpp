#include "tools/zelkctl/zelkctl.h"

int main(int argc, char** argv) {
    return RunZelkctl(argc, argv);
}
