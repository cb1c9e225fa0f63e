#include "tools/zelkctl/id_counter.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "runtime/files/whole_files.h"
#include "tools/zelkctl/file_lock.h"

std::string IdText(const DeviceId& id) {
    return std::to_string(id.high) + (id.twoPart ? "." + std::to_string(id.low) : "");
}

namespace {

// A counter is a few lines; a file much larger is not one.
constexpr std::size_t kCounterFileLimit = 1 << 20;

// IDs are counted as numbers: high.low is high * 256 + low. One past the last ID of its
// form is what the next line holds once every ID has been handed out.
int Limit(bool twoPart) {
    return twoPart ? 65536 : 256;
}

DeviceId FromOrdinal(int ordinal, bool twoPart) {
    return twoPart ? DeviceId{static_cast<uint8_t>(ordinal / 256), true,
                              static_cast<uint8_t>(ordinal % 256)}
                   : DeviceId{static_cast<uint8_t>(ordinal), false, 0};
}

std::string OrdinalText(int ordinal, bool twoPart) {
    return ordinal == Limit(twoPart) ? (twoPart ? "256.0" : "256")
                                     : IdText(FromOrdinal(ordinal, twoPart));
}

int Ordinal(const DeviceId& id) {
    return id.twoPart ? id.high * 256 + id.low : id.high;
}

struct CounterLine {
    enum class Kind { Other, Next, GivenBack } kind;
    std::string text;  // as the file has it: comments and blank lines are kept
    int ordinal;
};

struct Counter {
    std::vector<CounterLine> lines;
    bool twoPart = false;  // the form of every ID of the file, the next one's
    int next = 0;          // the next new ID, Limit(twoPart) when none is left

    CounterLine& NextLine() {
        return *std::find_if(lines.begin(), lines.end(), [](const CounterLine& line) {
            return line.kind == CounterLine::Kind::Next;
        });
    }
    std::vector<CounterLine>::iterator FirstGivenBack() {
        return std::find_if(lines.begin(), lines.end(), [](const CounterLine& line) {
            return line.kind == CounterLine::Kind::GivenBack;
        });
    }
};

// A number of one to three digits, at most limit.
bool ParsePart(std::string_view text, int limit, int* value) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    *value = std::stoi(std::string(text));
    return *value <= limit;
}

// "17" or "10.20" as an ordinal; the next line may also say "256" or "256.0".
bool ParseId(std::string_view text, bool isNext, int* ordinal, bool* twoPart) {
    const std::size_t dot = text.find('.');
    *twoPart = dot != std::string_view::npos;
    int high = 0;
    int low = 0;
    if (!ParsePart(text.substr(0, dot), isNext ? 256 : 255, &high) ||
        (*twoPart && !ParsePart(text.substr(dot + 1), high == 256 ? 0 : 255, &low))) {
        return false;
    }
    *ordinal = *twoPart ? high * 256 + low : high;
    return true;
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

std::string HowToCreate(const std::string& path) {
    return "create the counter with the first ID to hand out, such as \"echo 1 > " + path +
           "\" (\"echo 1.0 > " + path + "\" for two-byte IDs)";
}

// What is wrong with a given-back ID on a line of its own; empty when nothing is.
std::string CheckGivenBack(const Counter& counter, const CounterLine& line) {
    if (line.ordinal >= counter.next) {
        return line.text + " has not been handed out yet: the next ID is " +
               OrdinalText(counter.next, counter.twoPart);
    }
    for (std::size_t i = 0; i < counter.lines.size(); ++i) {
        if (counter.lines[i].kind == CounterLine::Kind::GivenBack &&
            counter.lines[i].ordinal == line.ordinal) {
            return line.text + " is given back already, on line " + std::to_string(i + 1);
        }
    }
    return {};
}

// Reads the file's lines into counter; false with what is wrong, and where, in *error.
bool ParseCounter(const std::string& path, std::string_view bytes, Counter* counter,
                  std::string* error) {
    bool haveNext = false;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        CounterLine line{CounterLine::Kind::Other, Trimmed(bytes.substr(start, end - start)), 0};
        start = end + 1;
        const std::string where = path + " line " + std::to_string(counter->lines.size() + 1);
        if (!line.text.empty() && line.text[0] != '#') {
            bool twoPart = false;
            if (!ParseId(line.text, !haveNext, &line.ordinal, &twoPart)) {
                *error = where + ": \"" + line.text +
                         "\" is not an ID: an ID is a number 0 to 255, or high.low (such as "
                         "10.20) for two-byte IDs";
                return false;
            }
            if (haveNext && twoPart != counter->twoPart) {
                *error = where + ": " + line.text + " is not in the form of the next ID " +
                         OrdinalText(counter->next, counter->twoPart) +
                         ": the file holds one-byte IDs or two-byte IDs, not both";
                return false;
            }
            const std::string wrong = haveNext ? CheckGivenBack(*counter, line) : "";
            if (!wrong.empty()) {
                *error = where + ": " + wrong;
                return false;
            }
            line.kind = haveNext ? CounterLine::Kind::GivenBack : CounterLine::Kind::Next;
            counter->twoPart = haveNext ? counter->twoPart : twoPart;
            counter->next = haveNext ? counter->next : line.ordinal;
            haveNext = true;
        }
        counter->lines.push_back(line);
    }
    if (!haveNext) {
        *error = path + " holds no ID: " + HowToCreate(path);
    }
    return haveNext;
}

std::string Format(const Counter& counter) {
    std::string text;
    for (const CounterLine& line : counter.lines) {
        text += line.text + "\n";
    }
    return text;
}

// The changes an operation makes to the counter; each returns what stops it, or nothing.
std::string Take(Counter* counter, DeviceId* id) {
    const auto givenBack = counter->FirstGivenBack();
    if (givenBack != counter->lines.end()) {
        *id = FromOrdinal(givenBack->ordinal, counter->twoPart);
        counter->lines.erase(givenBack);
        return {};
    }
    if (counter->next == Limit(counter->twoPart)) {
        return std::string("every ") +
               (counter->twoPart ? "two-byte ID, 0.0 to 255.255," : "ID, 0 to 255,") +
               " has been handed out and none was given back";
    }
    *id = FromOrdinal(counter->next, counter->twoPart);
    ++counter->next;
    counter->NextLine().text = OrdinalText(counter->next, counter->twoPart);
    return {};
}

std::string GiveBack(Counter* counter, const DeviceId& id) {
    const std::string text = IdText(id);
    if (id.twoPart != counter->twoPart) {
        return "cannot give back " + text + ": the file holds " +
               (counter->twoPart ? "two-byte" : "one-byte") + " IDs";
    }
    CounterLine line{CounterLine::Kind::GivenBack, text, Ordinal(id)};
    const std::string wrong = CheckGivenBack(*counter, line);
    if (!wrong.empty()) {
        return "cannot give back " + text + ": " + wrong;
    }
    counter->lines.push_back(line);
    return {};
}

std::string Peek(Counter* counter, DeviceId* id) {
    Counter copy = *counter;
    return Take(&copy, id);
}

bool ReadCounter(const std::string& path, const std::string& real, std::string* bytes,
                 std::string* error) {
    const int result = ReadWholeFile(real.c_str(), kCounterFileLimit, bytes, nullptr);
    if (result == FILEIO_TOO_LARGE) {
        *error = path + ": more than " + std::to_string(kCounterFileLimit) +
                 " bytes; a counter file holds a few IDs";
    } else if (result != FILEIO_NO_ERROR) {
        *error = path + ": " + FileIoReason(result);
    }
    return result == FILEIO_NO_ERROR;
}

// Puts text in place of the counter in one step: written beside it in full, then renamed
// over it, so that a crash leaves either the old counter or the new one, never an empty or
// half-written file from which IDs could be handed out twice. A folder that takes no new
// file refuses the change: the counter is never rewritten in place.
bool Replace(const std::string& path, const std::string& real, const std::string& text,
             std::string* error) {
    const int result = ArrayToFile(real.c_str(), text.data(), text.size(), FILEIO_REPLACE_ONLY);
    if (result != FILEIO_NO_ERROR) {
        *error = path + ": cannot write the new counter beside it: " + FileIoReason(result);
    }
    return result == FILEIO_NO_ERROR;
}

// Runs change on the counter, which the caller has locked, and writes the file back when
// rewrite says so.
bool ChangeLocked(const std::string& path, const std::string& real, bool rewrite,
                  const std::function<std::string(Counter*)>& change, std::string* error) {
    std::string bytes;
    Counter counter;
    bool good =
        ReadCounter(path, real, &bytes, error) && ParseCounter(path, bytes, &counter, error);
    if (good) {
        const std::string reason = change(&counter);
        if (!reason.empty()) {
            *error = path + ": " + reason;
            good = false;
        }
    }
    return good && (!rewrite || Replace(path, real, Format(counter), error));
}

#ifndef _WIN32
std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Locks the file that path names now. A process that replaced the file while this one
// waited has left the lock on a file that is no longer the counter; the new one is tried.
int LockCurrent(const std::string& path, const std::string& real, std::string* error) {
    for (;;) {
        std::string reason;
        const int descriptor = OpenLocked(real, O_RDONLY, 0, &reason);
        if (descriptor < 0) {
            *error = path + ": " + reason;
            return -1;
        }
        struct stat locked {};
        struct stat named {};
        if (fstat(descriptor, &locked) == 0 && stat(real.c_str(), &named) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            return descriptor;
        }
        CloseLocked(descriptor);
    }
}

// Runs change on the counter under its lock, held on the counter itself, and writes the
// file back when rewrite says so. The lock is let go only once the file holds the change.
bool Update(const std::string& path, bool rewrite,
            const std::function<std::string(Counter*)>& change, std::string* error) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        *error =
            errno == ENOENT ? path + ": no such file; " + HowToCreate(path) : SystemError(path);
        return false;
    }
    const std::string real = resolved;
    std::free(resolved);
    const int descriptor = LockCurrent(path, real, error);
    if (descriptor < 0) {
        return false;
    }
    const bool good = ChangeLocked(path, real, rewrite, change, error);
    CloseLocked(descriptor);
    return good;
}
#else
// The same with the lock held on a file of its own beside the counter, which stays there:
// Windows renames the new counter over the old one only while no process holds the old one
// open, as every process waiting for a lock on it would.
bool Update(const std::string& path, bool rewrite,
            const std::function<std::string(Counter*)>& change, std::string* error) {
    std::error_code failed;
    const std::filesystem::path real = std::filesystem::canonical(path, failed);
    if (failed) {
        std::error_code ignored;
        *error = !std::filesystem::exists(path, ignored)
                     ? path + ": no such file; " + HowToCreate(path)
                     : path + ": " + failed.message();
        return false;
    }
    const std::string lockFile = real.string() + ".lock";
    std::string reason;
    const int descriptor = OpenLocked(lockFile, O_RDWR | O_CREAT, 0644, &reason);
    if (descriptor < 0) {
        *error = path + ": cannot lock " + lockFile + ": " + reason;
        return false;
    }
    const bool good = ChangeLocked(path, real.string(), rewrite, change, error);
    CloseLocked(descriptor);
    return good;
}
#endif

}  // namespace

bool TakeId(const std::string& path, DeviceId* id, std::string* error) {
    return Update(
        path, true, [id](Counter* counter) { return Take(counter, id); }, error);
}

bool GiveBackId(const std::string& path, const DeviceId& id, std::string* error) {
    return Update(
        path, true, [&id](Counter* counter) { return GiveBack(counter, id); }, error);
}

bool PeekId(const std::string& path, DeviceId* id, std::string* error) {
    return Update(
        path, false, [id](Counter* counter) { return Peek(counter, id); }, error);
}
