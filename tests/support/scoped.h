// What a test changes in its process and must put back even when an assertion ends it
// early: the destructors undo it.
#pragma once

#include <QtGlobal>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Environment variables set for the life of the object (nullptr removes one); each gets
// back the value it had before.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto entry = saved_.rbegin(); entry != saved_.rend(); ++entry) {
            Put(entry->first, entry->second ? entry->second->c_str() : nullptr);
        }
    }
    void Set(const std::string& name, const char* value) {
        const char* before = std::getenv(name.c_str());
        saved_.emplace_back(name, before ? std::optional<std::string>(before) : std::nullopt);
        Put(name, value);
    }

  private:
    static void Put(const std::string& name, const char* value) {
        value != nullptr ? qputenv(name.c_str(), value) : qunsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Runs `undo` when the scope ends, however it ends.
template <typename Undo>
struct OnExit {
    Undo undo;
    ~OnExit() { undo(); }
};
template <typename Undo>
OnExit(Undo) -> OnExit<Undo>;

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>

// Writes past `bytes` fail as on a full disk, for root as well, until the result goes.
inline auto LimitFileSize(rlim_t bytes) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    return OnExit{[saved, handler = signal(SIGXFSZ, SIG_IGN)] {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, handler);
    }};
}
#endif
