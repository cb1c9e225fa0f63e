// zelksim on a real pseudo-terminal, started for a test and stopped with it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ZelksimProcess {
  public:
    // Starts zelksim with these options and waits for its link, a path unique to the
    // process and the count of simulators started, failing the test without one.
    explicit ZelksimProcess(const std::vector<std::string>& options = {});
    // Stops it as a user does, with SIGTERM; it must end cleanly.
    ~ZelksimProcess();
    ZelksimProcess(const ZelksimProcess&) = delete;
    ZelksimProcess& operator=(const ZelksimProcess&) = delete;

    // The symlink to the pty, which the programs open as the module's port.
    const std::string& link() const { return link_; }
    // The module's end of the line goes at once, as when an adapter is pulled.
    void Kill();

  private:
    std::string link_;
    pid_t pid_ = 0;
};

// The simulator's path: $ZELKSIM, else zelksim in the working directory.
std::string ZelksimPath();

// The bytes from the host that zelksim has written to its --log file so far, with the
// instants it stamped them at: steady-clock seconds, the clock the runtime's Timer() reads.
std::string LoggedHostBytes(const std::string& log, std::vector<double>& times);

// The line settings the host has set, as zelksim's --log saw them come, in order: "19200 8N2".
std::vector<std::string> LoggedLines(const std::string& log);
