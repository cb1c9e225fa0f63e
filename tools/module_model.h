// Behaviour of a Zelk module on its serial line, as a deterministic model on a clock that
// the caller supplies: bytes go in with the instant they arrive, replies come out with the
// instant they are due. zelksim drives it in real time on a pty; the tests drive it on a
// virtual clock. No Qt, no I/O.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

struct ModuleOptions {
    int series = 1;          // 0..6: T1a, T1b, T2a, T2b, M5, K8, R3; picks the registers
    bool twoByteIds = false;  // S121, S122, S123, S130 listed with a low part

    // Escape: each "+" must follow at least this much silence on the line.
    double guardTime = 0.05;
    // What the module sends once it has taken the escape, and how long it takes.
    std::string escapeReply = "\r\n>";
    double responseDelay = 0.01;
    std::string versionText = "Zelk RF module firmware V3.36";

    // Fault switches.
    bool silent = false;          // never answers anything
    bool echo = false;            // echoes every byte received in command mode
    bool okPrompt = false;        // acknowledges set commands with "OK\r\n>" instead of ">"
    int noiseBeforePrompt = 0;    // this many noise characters before the escape's prompt
    int refuseRegister = -1;      // a set command for this register is answered "ERROR\r\n>"
    double byteInterval = 0.0;    // slow reply: seconds between the bytes of a reply
    int cutReplyAfter = -1;       // a reply stops after this many bytes (no prompt)
};

struct TimedByte {
    double time;
    uint8_t byte;
};

class ModuleModel {
public:
    explicit ModuleModel(const ModuleOptions& options = {});

    // A byte from the host arrives at time t (non-decreasing between calls).
    void receive(uint8_t byte, double t);
    // Number of reply bytes due by time t and not yet taken.
    int due(double t) const;
    // Takes the next reply byte due by time t; call only when due(t) > 0.
    uint8_t take(double t);
    // Instant of the next pending reply byte, or a negative value when none is pending.
    double nextDueTime() const;
    // Drops every reply byte not yet taken (the host flushed its input).
    void discardPending();

    bool inCommandMode() const;
    // Every complete command line received in command mode, without its line end.
    const std::vector<std::string>& commands() const;
    // Register value as the module holds it, e.g. "50" or "192.168"; empty when unknown.
    std::string registerText(int registerNumber) const;
    void setRegister(int registerNumber, const std::string& text);
    // The reply to "AT/L" as the module would send it now (ends with ">").
    std::string registerList() const;

    const ModuleOptions& options() const { return options_; }

private:
    ModuleOptions options_;
    // The implementation may add members freely.
    std::map<int, std::string> registers_;
    std::deque<TimedByte> pending_;
    std::vector<std::string> commands_;
    std::string line_;
    bool commandMode_ = false;
    int plusCount_ = 0;
    double lastByteTime_ = -1.0e9;
};
