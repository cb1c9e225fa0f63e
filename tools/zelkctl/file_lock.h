// The exclusive file lock that keeps parallel zelkctl processes apart, one per port, or
// several started side by side on one production line.
#pragma once

#include <string>

// Why a Windows build refuses the ID counter and the log: their files are locked with
// POSIX locks, which Windows does not have, and without a lock two ports could take one ID.
inline constexpr char kNoFileLocks[] =
    "this build cannot lock files (a POSIX system is needed), and without a lock two "
    "processes could take the same ID or mix their lines";

#ifndef _WIN32
// Opens path with flags (O_CLOEXEC is added; mode when it creates the file) and waits for
// an exclusive lock on it, held until the descriptor is closed. Returns the descriptor, or
// -1 with the system's reason in *error.
int OpenLocked(const std::string& path, int flags, int mode, std::string* error);
#endif
