// Behaviour of a Zelk module on its serial line, as a deterministic model on a clock that
// the caller supplies: bytes go in with the instant they arrive, replies come out with the
// instant they are due. zelksim drives it in real time on a pty; the tests drive it on a
// virtual clock. No Qt, no I/O.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

struct ModuleOptions {
    int series = 1;           // 0..6: T1a, T1b, T2a, T2b, M5, K8, R3; picks the registers
    bool twoByteIds = false;  // S121, S122, S123, S130 listed with a low part

    // Escape: each "+" must follow at least this much silence from the host.
    double guardTime = 0.05;
    // What the module sends once it has taken the escape, and how long it takes. Every
    // reply to a command line also starts this long after the line feed that ends it.
    std::string escapeReply = "\r\n>";
    double responseDelay = 0.01;
    std::string versionText = "Zelk RF module firmware V3.36";

    // Fault switches.
    bool silent = false;        // never answers anything
    bool echo = false;          // echoes every byte received in command mode
    bool okPrompt = false;      // acknowledges set commands with "OK\r\n>" instead of ">"
    int noiseBeforePrompt = 0;  // this many noise characters before the escape's prompt
    int refuseRegister = -1;    // a set command for this register is answered "ERROR\r\n>"
    double byteInterval = 0.0;  // slow reply: seconds between the bytes of a reply
    // A reply to a command stops after this many bytes (no prompt). The escape's reply is
    // never cut, so that the command whose reply is cut can be reached at all.
    int cutReplyAfter = -1;
    // When not empty, "AT/L" is answered with exactly this text instead of the register
    // list (odd or broken replies for the reader).
    std::string registerListOverride;
};

struct TimedByte {
    double time;
    uint8_t byte;
};

// Names of the series 0..6 as zelksim takes them: "T1a", "T1b", "T2a", "T2b", "M5", "K8",
// "R3". Returns -1 for an unknown name.
int ModuleSeriesFromName(const std::string& name);

class ModuleModel {
  public:
    explicit ModuleModel(const ModuleOptions& options = {});

    // A byte from the host arrives at time t (non-decreasing between calls).
    void receive(uint8_t byte, double t);
    // Data that came over the radio at time t, which the module passes on to the host as it
    // is: a host that sends the escape next may find it still waiting.
    void receiveFromRadio(const std::string& data, double t);
    // Number of reply bytes due by time t and not yet taken.
    int due(double t) const;
    // Takes the next reply byte due by time t; call only when due(t) > 0.
    uint8_t take(double t);
    // Instant of the next pending reply byte, or a negative value when none is pending.
    double nextDueTime() const;

    bool inCommandMode() const;
    // Whether S121, S122, S123 and S130 are currently listed with their low part. Starts
    // from the options and follows the form of the last S121 set command.
    bool twoByteIds() const { return twoByteIds_; }
    // Every complete command line received in command mode, without its line end. Empty
    // lines are not kept.
    const std::vector<std::string>& commands() const;

    // Register value as the module holds it, e.g. "50" or "192.168"; empty when unknown.
    std::string registerText(int registerNumber) const;
    // Sets a register as a set command would ("50" or "192.168"; a two-part S121 switches
    // to two-byte IDs, a one-part one back). Unlike a set command it takes any register
    // number (an unknown one is then listed too) and parts up to 999, so that a test can
    // make the module list values out of range. Malformed text is ignored.
    void setRegister(int registerNumber, const std::string& text);
    // The reply to "AT/L" as the module would send it now (ends with ">").
    std::string registerList() const;

    const ModuleOptions& options() const { return options_; }
    // The fault switches may be changed at any time; they apply from the next byte
    // received. Changing the series does not change the registers held.
    ModuleOptions& options() { return options_; }

  private:
    struct RegisterValue {
        int high = 0;
        int low = 0;
    };

    void handleLine(const std::string& line, double t);
    void handleSetCommand(const std::string& line, double t);
    void queueReply(const std::string& text, double start, bool mayBeCut);
    void queueByte(uint8_t byte, double when);
    bool listsLowPart(int registerNumber) const;
    bool storeRegister(int registerNumber, const std::string& text, int maxPart);

    ModuleOptions options_;
    std::map<int, RegisterValue> registers_;
    std::set<int> unlisted_;  // held and settable, but not in the register list
    std::deque<TimedByte> pending_;
    std::vector<std::string> commands_;
    std::string line_;
    bool commandMode_ = false;
    bool twoByteIds_ = false;
    int plusCount_ = 0;
    double lastByteTime_ = -1.0e9;
};
