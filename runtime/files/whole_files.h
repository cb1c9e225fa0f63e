// File operations for the configuration text.
#pragma once

#include <cstddef>

enum FileIoError {
    FILEIO_NO_ERROR = 0,
    FILEIO_CANNOT_OPEN = -1,  // missing, not a file, or no permission
    FILEIO_READ_FAILED = -2,
    FILEIO_WRITE_FAILED = -3,  // includes a full disk and a failed rename
    FILEIO_TOO_LARGE = -4,     // the file does not fit the caller's buffer
};

// Writes count bytes to path, replacing the file only once the new contents are safely on
// disk: a failed write leaves any earlier file as it was. Where the folder takes no new
// file but the file itself may be written, it is written in place instead, as is a target
// that is no regular file (a FIFO, a device). Symbolic links are followed.
int ArrayToFile(const char* path, const void* buffer, std::size_t count);
// Stores the file's size in bytes in *size.
int GetFileInfo(const char* path, long long* size);
// Reads the whole file into buffer (capacity bytes). *count receives the number of bytes.
int FileToArray(const char* path, void* buffer, std::size_t capacity, std::size_t* count);
// A short human-readable reason for a FileIoError, naming the system's own error where
// there is one.
const char* FileIoErrorText(int error);
