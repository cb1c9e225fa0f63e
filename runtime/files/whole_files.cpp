#include "runtime/files/whole_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The system's own reason for the last failure, and which failure it belongs to.
int lastError = FILEIO_NO_ERROR;
std::string lastReason;

int Fail(int error, const QString& reason) {
    lastError = error;
    lastReason = reason.toStdString();
    return error;
}

bool HasReason(int error) {
    return error == lastError && error != FILEIO_NO_ERROR && !lastReason.empty();
}

QString NativePath(const char* path) {
    return QFile::decodeName(path);
}

// A rename is on disk only once the folder that holds the name is: until then a power cut
// can bring back the old file, and with it, for the ID counter, IDs already handed out.
void SyncFolderOf(const QString& path) {
#ifdef Q_OS_UNIX
    const QByteArray folder = QFile::encodeName(QFileInfo(path).canonicalPath());
    const int descriptor = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
#else
    (void)path;
#endif
}

// A FIFO, a terminal or a device node is written as it is: a temporary file renamed over it
// would put a regular file in its place.
int WriteInPlace(const QString& path, const char* bytes, std::size_t count) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return Fail(FILEIO_CANNOT_OPEN, file.errorString());
    }
    std::size_t written = 0;
    while (written < count) {
        const qint64 got = file.write(bytes + written, static_cast<qint64>(count - written));
        if (got <= 0) {
            return Fail(FILEIO_WRITE_FAILED, file.errorString());
        }
        written += static_cast<std::size_t>(got);
    }
    return FILEIO_NO_ERROR;
}

enum class Kind { Stream, Folder, Device };

// What path names, or standard input is when path is null. Qt tells a folder from a file
// but not a device from a FIFO, which the system does.
Kind KindOf(const char* path) {
#ifdef Q_OS_UNIX
    struct stat status {};
    if ((path == nullptr ? ::fstat(0, &status) : ::stat(path, &status)) != 0) {
        return Kind::Stream;  // the open says what is wrong
    }
    if (S_ISDIR(status.st_mode)) {
        return Kind::Folder;
    }
    // Standard input is what the user's shell made it: a terminal is read to its end of
    // file (Ctrl-D), as any Unix tool reads it.
    const bool device = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
    return device && path != nullptr ? Kind::Device : Kind::Stream;
#else
    if (path == nullptr) {
        return Kind::Stream;
    }
    const QFileInfo info(NativePath(path));
    // Windows folders hold no FIFOs: a name that is neither file nor folder is a device
    // (NUL, COM3).
    return info.isDir()                      ? Kind::Folder
           : info.exists() && !info.isFile() ? Kind::Device
                                             : Kind::Stream;
#endif
}

// Opens path, or standard input when path is null, for reading as bytes.
int OpenToRead(QFile& file, const char* path) {
    const Kind kind = KindOf(path);
    if (kind != Kind::Stream) {
        return kind == Kind::Folder
                   ? Fail(FILEIO_IS_FOLDER, QString::fromLocal8Bit(std::strerror(EISDIR)))
                   : Fail(FILEIO_IS_DEVICE, QString());
    }
    bool opened = false;
    if (path == nullptr) {
#ifdef Q_OS_WIN
        // Otherwise Windows turns CR LF into LF on the way in, and the file is not seen as
        // it is.
        _setmode(0, _O_BINARY);
#endif
        opened =
            file.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
    } else {
        file.setFileName(NativePath(path));
        opened = file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    return opened ? FILEIO_NO_ERROR : Fail(FILEIO_CANNOT_OPEN, file.errorString());
}

// Reads the open file to its end. Qt's read retries a read that a signal interrupted, and
// on a pipe or FIFO waits until the chunk is full or the writer has closed its end.
int ReadOpened(QFile& file, std::size_t limit, std::string* bytes, long long* size) {
    // A pipe, a FIFO or a terminal has no size. The size reported refuses a file too large
    // before it is read, but only the bytes read show that a file fits: a file of /proc
    // reports 0, and a file may grow while it is read.
    const long long known = file.isSequential() ? -1 : file.size();
    if (size != nullptr) {
        *size = known;
    }
    if (known > static_cast<long long>(limit)) {
        return Fail(FILEIO_TOO_LARGE, QString());
    }
    char chunk[16 * 1024];
    for (;;) {
        // One byte beyond the limit tells a file that fits from one that goes on.
        const std::size_t want = std::min(sizeof chunk, limit + 1 - bytes->size());
        const qint64 got = file.read(chunk, static_cast<qint64>(want));
        if (got < 0) {
            bytes->clear();
            return Fail(FILEIO_READ_FAILED, file.errorString());
        }
        bytes->append(chunk, static_cast<std::size_t>(got));
        if (bytes->size() > limit) {
            bytes->clear();
            return Fail(FILEIO_TOO_LARGE, QString());
        }
        if (got == 0) {
            return FILEIO_NO_ERROR;
        }
    }
}

const char* ShortText(int error) {
    // By -error, as the codes run.
    static const char* const texts[] = {
        "no error",
        "the file cannot be opened",
        "the file cannot be read",
        "the file cannot be written",
        "the file is too large",
        "the path names a folder, not a file",
        "the path names a device, not a file",
    };
    return error <= 0 && -error < static_cast<int>(std::size(texts)) ? texts[-error]
                                                                     : "unknown error";
}

}  // namespace

int ArrayToFile(const char* path, const void* buffer, std::size_t count, int how) {
    const QString name = NativePath(path);
    const QFileInfo target(name);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        return how == FILEIO_REPLACE_ONLY
                   ? Fail(FILEIO_CANNOT_OPEN, QStringLiteral("Not a regular file"))
                   : WriteInPlace(name, static_cast<const char*>(buffer), count);
    }
    // The new contents go to a temporary file beside the target, which replaces the
    // target only once everything is written; a full disk or a pulled USB stick then
    // leaves the old file as it was.
    QSaveFile file(name);
    // A folder the user may not write takes no temporary file, yet the file in it may be
    // the user's to change (a shared folder of settings, say): then it is written in
    // place, as any editor would, rather than the save being refused. Its permissions stay
    // in both cases; the replacing file gets those of the file it replaces.
    file.setDirectWriteFallback(how != FILEIO_REPLACE_ONLY);
    // Unbuffered: a write that fails shows at once, with the system's reason. A buffered
    // write fails only inside commit(), which does not notice and puts the short file in
    // place of the target.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return Fail(FILEIO_CANNOT_OPEN, file.errorString());
    }
    // A full disk first takes part of the bytes; asking again for the rest gets its
    // error.
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t written = 0;
    while (written < count) {
        qint64 got = file.write(bytes + written, static_cast<qint64>(count - written));
        if (got <= 0) {
            QString reason = file.errorString();
            file.cancelWriting();
            return Fail(FILEIO_WRITE_FAILED, reason);
        }
        written += static_cast<std::size_t>(got);
    }
    if (!file.commit()) {
        return Fail(FILEIO_WRITE_FAILED, file.errorString());
    }
    SyncFolderOf(name);
    return FILEIO_NO_ERROR;
}

int GetFileInfo(const char* path, long long* size) {
    QFileInfo info(NativePath(path));
    if (!info.exists()) {
        return Fail(FILEIO_CANNOT_OPEN, QStringLiteral("No such file"));
    }
    // Only regular files: a directory has no contents to load, and a device or pipe could
    // block the program or never end.
    if (!info.isFile()) {
        return Fail(FILEIO_CANNOT_OPEN, QStringLiteral("Not a regular file"));
    }
    *size = info.size();
    return FILEIO_NO_ERROR;
}

int FileToArray(const char* path, void* buffer, std::size_t capacity, std::size_t* count) {
    *count = 0;
    long long size = 0;
    int error = GetFileInfo(path, &size);
    QFile file;
    std::string bytes;
    error = error != FILEIO_NO_ERROR ? error : OpenToRead(file, path);
    error = error != FILEIO_NO_ERROR ? error : ReadOpened(file, capacity, &bytes, nullptr);
    if (error == FILEIO_NO_ERROR) {
        std::memcpy(buffer, bytes.data(), bytes.size());
        *count = bytes.size();
    }
    return error;
}

int ReadWholeFile(const char* path, std::size_t limit, std::string* bytes, long long* size) {
    bytes->clear();
    if (size != nullptr) {
        *size = -1;
    }
    QFile file;
    const int error = OpenToRead(file, std::strcmp(path, "-") == 0 ? nullptr : path);
    return error != FILEIO_NO_ERROR ? error : ReadOpened(file, limit, bytes, size);
}

const char* FileIoReason(int error) {
    return HasReason(error) ? lastReason.c_str() : ShortText(error);
}

const char* FileIoErrorText(int error) {
    static char message[512];
    if (HasReason(error)) {
        std::snprintf(message, sizeof message, "%s (%s)", ShortText(error), lastReason.c_str());
    } else {
        std::snprintf(message, sizeof message, "%s", ShortText(error));
    }
    return message;
}
