#include "runtime/files/whole_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <string>

namespace {

// The system's own reason for the last failure, and which failure it belongs to.
int lastError = FILEIO_NO_ERROR;
std::string lastReason;

int Fail(int error, const QString& reason) {
    lastError = error;
    lastReason = reason.toStdString();
    return error;
}

QString NativePath(const char* path) {
    return QFile::decodeName(path);
}

}  // namespace

namespace {

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

}  // namespace

int ArrayToFile(const char* path, const void* buffer, std::size_t count) {
    const QFileInfo target(NativePath(path));
    if (target.exists() && !target.isFile() && !target.isDir()) {
        return WriteInPlace(NativePath(path), static_cast<const char*>(buffer), count);
    }
    // The new contents go to a temporary file beside the target, which replaces the
    // target only once everything is written; a full disk or a pulled USB stick then
    // leaves the old file as it was.
    QSaveFile file(NativePath(path));
    // A folder the user may not write takes no temporary file, yet the file in it may be
    // the user's to change (a shared folder of settings, say): then it is written in
    // place, as any editor would, rather than the save being refused. Its permissions stay
    // in both cases; the replacing file gets those of the file it replaces.
    file.setDirectWriteFallback(true);
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
    if (error != FILEIO_NO_ERROR) {
        return error;
    }
    QFile file(NativePath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return Fail(FILEIO_CANNOT_OPEN, file.errorString());
    }
    // The size is checked on the bytes actually read, not on the size reported before:
    // the file may grow in between.
    char* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < capacity) {
        qint64 got = file.read(bytes + total, static_cast<qint64>(capacity - total));
        if (got < 0) {
            return Fail(FILEIO_READ_FAILED, file.errorString());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    if (total == capacity) {
        char extra;
        qint64 got = file.read(&extra, 1);
        if (got < 0) {
            return Fail(FILEIO_READ_FAILED, file.errorString());
        }
        if (got > 0) {
            return Fail(FILEIO_TOO_LARGE, QString());
        }
    }
    *count = total;
    return FILEIO_NO_ERROR;
}

const char* FileIoErrorText(int error) {
    const char* text = "unknown error";
    switch (error) {
        case FILEIO_NO_ERROR:
            text = "no error";
            break;
        case FILEIO_CANNOT_OPEN:
            text = "the file cannot be opened";
            break;
        case FILEIO_READ_FAILED:
            text = "the file cannot be read";
            break;
        case FILEIO_WRITE_FAILED:
            text = "the file cannot be written";
            break;
        case FILEIO_TOO_LARGE:
            text = "the file is too large";
            break;
        default:
            break;
    }
    static char message[512];
    if (error == lastError && error != FILEIO_NO_ERROR && !lastReason.empty()) {
        std::snprintf(message, sizeof message, "%s (%s)", text, lastReason.c_str());
    } else {
        std::snprintf(message, sizeof message, "%s", text);
    }
    return message;
}
