#include "tests/support/zelksim_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

std::string ZelksimPath() {
    const char* path = std::getenv("ZELKSIM");
    return path != nullptr ? path : "./zelksim";
}

ZelksimProcess::ZelksimProcess(const std::vector<std::string>& options) {
    static int started = 0;
    link_ = "/tmp/zelksim-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    std::remove(link_.c_str());
    const std::string path = ZelksimPath();
    std::vector<std::string> arguments = {path, "--link", link_};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
        // Its device path on stdout is of no use here.
        std::freopen("/dev/null", "w", stdout);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    for (int i = 0; i < 500 && access(link_.c_str(), F_OK) != 0; ++i) {
        usleep(10000);
    }
    EXPECT_EQ(access(link_.c_str(), F_OK), 0) << path << " made no pty at " << link_;
}

ZelksimProcess::~ZelksimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = -1;
        waitpid(pid_, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "zelksim ended " << status;
    }
    std::remove(link_.c_str());
}

void ZelksimProcess::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
}

std::string LoggedHostBytes(const std::string& log, std::vector<double>& times) {
    std::ifstream wire(log);
    wire.ignore(256, '\n');  // the heading
    std::string sent;
    times.clear();
    double time = 0.0;
    for (std::string direction, hex, shown; wire >> time >> direction >> hex >> shown;) {
        if (direction == "host") {
            sent.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
            times.push_back(time);
        }
    }
    return sent;
}

std::vector<std::string> LoggedLines(const std::string& log) {
    std::ifstream wire(log);
    wire.ignore(256, '\n');  // the heading
    std::vector<std::string> lines;
    for (std::string time, kind, rate, format; wire >> time >> kind >> rate >> format;) {
        if (kind == "line") {
            lines.push_back(rate + " " + format);
        }
    }
    return lines;
}
