// File operations: whole files read and written in one piece.
#pragma once

#include <cstddef>
#include <string>

enum FileIoError {
    FILEIO_NO_ERROR = 0,
    FILEIO_CANNOT_OPEN = -1,  // missing, not a file (GetFileInfo), or no permission
    FILEIO_READ_FAILED = -2,
    FILEIO_WRITE_FAILED = -3,  // includes a full disk and a failed rename
    FILEIO_TOO_LARGE = -4,     // more than the caller's buffer or limit
    FILEIO_IS_FOLDER = -5,     // ReadWholeFile: the path names a folder
    FILEIO_IS_DEVICE = -6,     // ReadWholeFile: the path names a device node
};

// How ArrayToFile may put the new contents in place.
enum FileReplace {
    // Renamed over the old file where the folder takes a new one, else written in place.
    FILEIO_REPLACE_OR_IN_PLACE = 0,
    // Only ever renamed over the old file: never a half-written file, or nothing written.
    FILEIO_REPLACE_ONLY = 1,
};

// Writes count bytes to path, replacing the file only once the new contents are safely on
// disk: a failed write leaves any earlier file as it was. With FILEIO_REPLACE_OR_IN_PLACE,
// where the folder takes no new file but the file itself may be written, it is written in
// place instead, as is a target that is no regular file (a FIFO, a device); with
// FILEIO_REPLACE_ONLY both are refused. Symbolic links are followed; the file keeps its
// permissions.
int ArrayToFile(const char* path, const void* buffer, std::size_t count,
                int how = FILEIO_REPLACE_OR_IN_PLACE);
// Stores the file's size in bytes in *size; a regular file only.
int GetFileInfo(const char* path, long long* size);
// Reads the whole file into buffer (capacity bytes). *count receives the number of bytes.
// A regular file only: a FIFO would hold the caller until some writer came.
int FileToArray(const char* path, void* buffer, std::size_t capacity, std::size_t* count);
// Reads all of path, at most limit bytes, into *bytes. "-" is standard input, read as
// bytes (no line-end translation) whatever it is, a terminal too. A FIFO or pipe is read
// to its end, however slowly its writer writes. A folder and a device node are refused
// before they are opened: a device never ends (a terminal, a serial port, /dev/zero) or
// holds nothing (/dev/null), and opening a serial port may itself wait for its carrier.
// A file longer than limit is FILEIO_TOO_LARGE: refused before any read when the system
// reports its size, which is stored in *size, else (-1 in *size) once limit + 1 bytes came.
// size may be null.
int ReadWholeFile(const char* path, std::size_t limit, std::string* bytes, long long* size);
// A short human-readable reason for a FileIoError, naming the system's own error where
// there is one: "the file cannot be opened (Permission denied)".
const char* FileIoErrorText(int error);
// Only the system's own words for the last failure when it was error, such as "No such
// file or directory" or, for FILEIO_IS_FOLDER, "Is a directory"; where the system said
// nothing, the text of FileIoErrorText.
const char* FileIoReason(int error);
