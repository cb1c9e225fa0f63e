// Unique device IDs for a production line, from a counter file that every zelkctl process
// shares. An ID is taken under an exclusive lock on the file, which is held only while the
// file is read and rewritten, never while a module is written; an ID that did not get into
// its module is given back and handed out again before any new one.
//
// The file, which a person may write and edit:
//
//     # comment lines and blank lines anywhere, kept as they are
//     17          the next new ID: 0 to 255, or high.low for two-byte IDs (0.0 to 255.255)
//     12          IDs given back, one per line, handed out again first, oldest first
//
// After the last ID (255 or 255.255) the next line reads 256 (or 256.0): every ID has been
// handed out. Given-back IDs are in the form of the next ID, lower than it, each once.
#pragma once

#include <cstdint>
#include <string>

struct DeviceId {
    uint8_t high;
    bool twoPart;  // a two-byte ID, high.low
    uint8_t low;   // 0 for a one-byte ID
};

// "17" or "10.20".
std::string IdText(const DeviceId& id);

// Each returns false with the file and the reason in *error when it cannot.
// Takes the next ID (a given-back one first) and writes the file back without it.
bool TakeId(const std::string& path, DeviceId* id, std::string* error);
// Puts an ID that TakeId gave, but no module got, back into the file.
bool GiveBackId(const std::string& path, const DeviceId& id, std::string* error);
// What TakeId would give now, leaving the file as it is.
bool PeekId(const std::string& path, DeviceId* id, std::string* error);
