// Several processes of the test program at once, as several zelkctl processes of a
// production line run: a body registered by name runs in each child process, which the
// test program's own main starts instead of the tests. Portable where fork is not.
#pragma once

#include <string>

// What a child runs: its index among those started together and the argument they share.
// A body that fails exits with a non-zero status (after saying why on stderr).
using ChildBody = void (*)(int child, const std::string& argument);

// Registers a body under name; at namespace scope, before main runs.
struct ChildBodyRegistration {
    ChildBodyRegistration(const char* name, ChildBody body);
};

// Runs the body in count child processes that start their bodies together, and waits for
// them; a child that fails, or hangs, fails the test with what it said.
void RunTogether(const char* name, int count, const std::string& argument);

// In main: when this process was started as a child, runs its body and returns the exit
// status; -1 otherwise.
int RunChildIfAsked();
