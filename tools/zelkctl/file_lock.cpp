#include "tools/zelkctl/file_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#ifndef _WIN32

// flock rather than fcntl locks: an fcntl lock belongs to the process and goes away when
// any descriptor of the file in it is closed, which a later change could do unawares.
int OpenLocked(const std::string& path, int flags, int mode, std::string* error) {
    const int descriptor = open(path.c_str(), flags | O_CLOEXEC, mode);
    if (descriptor < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    int result = 0;
    do {
        result = flock(descriptor, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        *error = std::string("cannot lock it: ") + std::strerror(errno);
        close(descriptor);
        return -1;
    }
    return descriptor;
}

int CloseLocked(int descriptor) {
    return close(descriptor);
}

#else

namespace {

// The byte every zelkctl process locks, far past the end of any real file. Windows locks
// are mandatory: a lock on the contents would fail the reads and writes of anybody else,
// a person looking at the log in an editor say; this one keeps out only other zelkctl
// processes, which take it first.
OVERLAPPED LockedByte() {
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFE;
    where.OffsetHigh = 0x7FFFFFFF;
    return where;
}

HANDLE Handle(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

std::string WindowsReason(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "Windows error " + std::to_string(code) : reason;
}

}  // namespace

int OpenLocked(const std::string& path, int flags, int mode, std::string* error) {
    // Shared for reading and writing, as a POSIX file is: the lock does the keeping out.
    const int descriptor = _sopen(path.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                                  (mode & 0200) != 0 ? _S_IREAD | _S_IWRITE : _S_IREAD);
    if (descriptor < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    OVERLAPPED where = LockedByte();
    if (!LockFileEx(Handle(descriptor), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
        *error = "cannot lock it: " + WindowsReason(GetLastError());
        _close(descriptor);
        return -1;
    }
    return descriptor;
}

int CloseLocked(int descriptor) {
    // Windows lets the lock of a closed file go in its own time; the next process waits for
    // it, so it goes now.
    OVERLAPPED where = LockedByte();
    UnlockFileEx(Handle(descriptor), 0, 1, 0, &where);
    return _close(descriptor);
}

#endif
