#include "tests/support/ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

std::string Ser2netPath() {
    const char* path = std::getenv("SER2NET");
    return path != nullptr ? path : "/usr/sbin/ser2net";
}

}  // namespace

int FreeTcpPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

namespace {

// The inodes of the sockets a process holds.
std::set<std::string> SocketsOf(pid_t pid) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string link = std::filesystem::read_symlink(entry.path(), error).string();
        if (link.starts_with("socket:[")) {
            inodes.insert(link.substr(8, link.size() - 9));
        }
    }
    return inodes;
}

}  // namespace

Ser2netProcess::Ser2netProcess(const std::vector<Port>& ports) : ports_(ports) {
    static int started = 0;
    config_ =
        "/tmp/zelk-ser2net-" + std::to_string(getpid()) + "-" + std::to_string(++started) + ".yaml";
    // Another program may take a port between the probe and ser2net's bind: then try others.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Start(ports)) {
            return;
        }
        Kill();
    }
    ADD_FAILURE() << Ser2netPath() << " did not come up listening; its output:\n"
                  << std::ifstream(config_ + ".log").rdbuf();
}

Ser2netProcess::~Ser2netProcess() {
    Kill();
    std::remove(config_.c_str());
    std::remove((config_ + ".log").c_str());
}

bool Ser2netProcess::Start(const std::vector<Port>& ports) {
    tcpPorts_.clear();
    std::ofstream config(config_);
    config << "%YAML 1.1\n---\n";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        tcpPorts_.push_back(FreeTcpPort());
        config << "connection: &port" << i << "\n  accepter: "
               << (ports[i].rfc2217 ? "telnet(rfc2217),tcp,127.0.0.1," : "tcp,127.0.0.1,")
               << tcpPorts_.back() << "\n  connector: serialdev," << ports[i].device
               << ",9600n81,local\n";
    }
    config.close();
    const std::string path = Ser2netPath();
    const std::string log = config_ + ".log";
    // In the foreground, its log on stdout rather than the system's, and no UUCP lock files
    // in the machine's lock folder.
    if ((pid_ = fork()) == 0) {
        const int output = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, 1);
        dup2(output, 2);
        execl(path.c_str(), path.c_str(), "-d", "-u", "-c", config_.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Generous: a loaded machine may take its time to start a process.
    for (int wait = 0; wait < 1000; ++wait) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            return false;
        }
        if (Listening()) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

// Whether ser2net itself, not some other program, listens on every port.
bool Ser2netProcess::Listening() const {
    const std::set<std::string> held = SocketsOf(pid_);
    std::set<int> listening;
    std::ifstream table("/proc/net/tcp");
    table.ignore(1024, '\n');
    for (std::string line; std::getline(table, line);) {
        // Slot, local address, remote address, state, then five fields before the inode.
        std::istringstream fields(line);
        const std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
        if (field.size() > 9 && field[3] == "0A" && held.count(field[9]) > 0 &&
            field[1].size() > 9) {
            listening.insert(std::stoi(field[1].substr(9), nullptr, 16));
        }
    }
    for (const int port : tcpPorts_) {
        if (listening.count(port) == 0) {
            return false;
        }
    }
    return true;
}

std::string Ser2netProcess::name(std::size_t i) const {
    return std::string(ports_.at(i).rfc2217 ? "rfc2217" : "socket") +
           "://127.0.0.1:" + std::to_string(tcpPorts_.at(i));
}

void Ser2netProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGSTOP);
    }
}

void Ser2netProcess::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
}
