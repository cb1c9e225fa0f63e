#include "tools/zelkctl/file_lock.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
#endif
