#include "tools/zelkctl/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tools/zelkctl/file_lock.h"

namespace {

// The few calls the append makes, in each system's own words.
#ifdef _WIN32
int WriteSome(int descriptor, const char* bytes, std::size_t count) {
    return _write(descriptor, bytes, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
}

bool RegularSize(int descriptor, long long* size) {
    struct _stat64 info {};
    if (_fstat64(descriptor, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        return false;
    }
    *size = info.st_size;
    return true;
}

// A log of any size is cut back by the handle's own calls; the C runtime's take 31 bits.
bool CutBackTo(int descriptor, long long size) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    LARGE_INTEGER end{};
    end.QuadPart = size;
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        errno = EIO;
        return false;
    }
    return true;
}

bool Sync(int descriptor) {
    return _commit(descriptor) == 0;
}
#else
int WriteSome(int descriptor, const char* bytes, std::size_t count) {
    return static_cast<int>(write(descriptor, bytes, std::min<std::size_t>(count, INT_MAX)));
}

bool RegularSize(int descriptor, long long* size) {
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    *size = info.st_size;
    return true;
}

bool CutBackTo(int descriptor, long long size) {
    return ftruncate(descriptor, static_cast<off_t>(size)) == 0;
}

bool Sync(int descriptor) {
    return fsync(descriptor) == 0;
}
#endif

// Writes record at the end of the locked file; on failure cuts the file back to where it
// ended before, and returns the reason.
std::string WriteRecord(int descriptor, const std::string& record) {
    long long before = 0;
    const bool regular = RegularSize(descriptor, &before);
    std::size_t written = 0;
    while (written < record.size()) {
        const int count = WriteSome(descriptor, record.data() + written, record.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const std::string reason = count < 0 ? std::strerror(errno) : "nothing was written";
            if (regular && written > 0 && !CutBackTo(descriptor, before)) {
                return reason + "; and the part of the line written could not be taken back: " +
                       std::strerror(errno);
            }
            return reason;
        }
        written += static_cast<std::size_t>(count);
    }
    // A record of what went into a module is kept even if the power goes next.
    if (regular && !Sync(descriptor)) {
        return std::strerror(errno);
    }
    return {};
}

}  // namespace

bool AppendLogLine(const std::string& path, const std::string& line, std::string* error) {
    if (line.find('\n') != std::string::npos) {
        *error = "a log line holds a line end, which would split its record";
        return false;
    }
    const int descriptor = OpenLocked(path, O_WRONLY | O_APPEND | O_CREAT, 0644, error);
    if (descriptor < 0) {
        return false;
    }
    std::string reason = WriteRecord(descriptor, line + "\n");
    if (CloseLocked(descriptor) != 0 && reason.empty()) {
        reason = std::strerror(errno);
    }
    if (!reason.empty()) {
        *error = reason;
    }
    return reason.empty();
}
