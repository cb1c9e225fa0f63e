#include "tools/zelkctl/log_file.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/zelkctl/file_lock.h"

#ifndef _WIN32

namespace {

// Writes record at the end of the locked file; on failure cuts the file back to where it
// ended before, and returns the reason.
std::string WriteRecord(int descriptor, const std::string& record) {
    struct stat before {};
    const bool regular = fstat(descriptor, &before) == 0 && S_ISREG(before.st_mode);
    std::size_t written = 0;
    while (written < record.size()) {
        const ssize_t count = write(descriptor, record.data() + written, record.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const std::string reason = count < 0 ? std::strerror(errno) : "nothing was written";
            if (regular && written > 0 && ftruncate(descriptor, before.st_size) != 0) {
                return reason + "; and the part of the line written could not be taken back: " +
                       std::strerror(errno);
            }
            return reason;
        }
        written += static_cast<std::size_t>(count);
    }
    // A record of what went into a module is kept even if the power goes next.
    if (regular && fsync(descriptor) != 0) {
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
    if (close(descriptor) != 0 && reason.empty()) {
        reason = std::strerror(errno);
    }
    if (!reason.empty()) {
        *error = reason;
    }
    return reason.empty();
}

#else

bool AppendLogLine(const std::string&, const std::string&, std::string* error) {
    *error = kNoFileLocks;
    return false;
}

#endif
