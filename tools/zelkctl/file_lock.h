// The exclusive file lock that keeps parallel zelkctl processes apart, one per port, or
// several started side by side on one production line.
#pragma once

#include <string>

// Opens path with flags (O_CLOEXEC, on Windows O_NOINHERIT and O_BINARY, is added; mode
// when it creates the file) and waits for an exclusive lock on it that every zelkctl process
// takes the same way. Returns the descriptor, or -1 with the system's reason in *error.
int OpenLocked(const std::string& path, int flags, int mode, std::string* error);
// Lets the lock go and closes the descriptor; 0, or -1 with errno set when the close failed
// (as close does: a write the system had held back may fail only now).
int CloseLocked(int descriptor);
