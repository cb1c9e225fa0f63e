// zelkctl: the module's exchanges from a shell, for benches, production lines and scripts.
#pragma once

// Runs a zelkctl command line; returns the exit status. Makes a QCoreApplication when
// none exists.
int RunZelkctl(int argc, char** argv);
