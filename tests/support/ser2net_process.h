// ser2net serving devices on 127.0.0.1, started for a test from a ser2net.yaml of its own and
// stopped with it. Nothing of the machine's is touched: no /etc, no lock files, no pid file.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A port on 127.0.0.1 that nothing listens on right now, as the system hands one out.
int FreeTcpPort();

class Ser2netProcess {
  public:
    struct Port {
        bool rfc2217 = true;  // a telnet(rfc2217) accepter; else raw tcp
        std::string device;   // the pty it serves, at 9600n81 with modem lines ignored
    };
    // Starts ser2net on ports the system says are free and waits until it listens on each,
    // trying other ports when one was taken in between; fails the test when it cannot.
    explicit Ser2netProcess(const std::vector<Port>& ports);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    // "rfc2217://127.0.0.1:PORT" or "socket://127.0.0.1:PORT" for the i-th port.
    std::string name(std::size_t i) const;
    int tcpPort(std::size_t i) const { return tcpPorts_.at(i); }
    // A stalled server: stopped, it neither reads nor answers, while the system still takes
    // connections for it.
    void Stop();
    // The server dies at once, with its connections; a stopped one too. This is also how it
    // ends with the test: it keeps nothing that a gentler end would save.
    void Kill();

  private:
    bool Start(const std::vector<Port>& ports);
    bool Listening() const;

    std::vector<Port> ports_;
    std::vector<int> tcpPorts_;
    std::string config_;
    pid_t pid_ = 0;
};
