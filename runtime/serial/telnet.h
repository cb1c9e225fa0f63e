// The Telnet side of a network serial port that speaks RFC 2217 (com port control): plain
// code that is fed the bytes as they come, in any split over TCP segments, so that it can
// be tested by table and fuzzed without a socket. Internal to runtime/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace telnet {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPort = 44;

// The com port commands the client sends; the server answers each with its code plus
// kServerOffset and the value it took.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

// Longer than any answer a com port server gives, its signature included: a server that
// never ends its subnegotiation is broken, not a reason to grow a buffer without end.
inline constexpr std::size_t kMaxSubnegotiation = 256;

class Session {
  public:
    enum class ComPort { Asked, Accepted, Refused };

    // What the client sends first: it will do com port control and binary, and asks the
    // server for binary. Only 0xFF needs escaping in binary mode, so no byte of the module's
    // is ever changed on its way.
    std::string Start();

    // Takes received bytes: the data among them is appended to *data, answers to the
    // server's negotiation are kept for TakeReplies. Once broken it takes nothing more.
    void Receive(const uint8_t* bytes, std::size_t count, std::string* data);
    // The negotiation answers to send, in order; empty when there are none.
    std::string TakeReplies();

    ComPort comPort() const;
    // The value the server answered to a com port command (kSetBaudRate...) since it was
    // last forgotten; none until then.
    const std::optional<std::string>& Answer(uint8_t command) const;
    void ForgetAnswer(uint8_t command);

    bool broken() const { return !problem_.empty(); }
    // What the server did that no Telnet server does; empty while it does nothing wrong.
    const std::string& problem() const { return problem_; }

  private:
    struct Side {
        bool enabled = false;
        bool asked = false;    // we sent WILL or DO and wait for the answer
        bool refused = false;  // the server said no to what we asked
        int answers = 0;       // how often we answered the server about it
    };
    enum class State { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

    void Negotiate(uint8_t verb, uint8_t option);
    void Reply(uint8_t verb, uint8_t option, int* answers);
    void EndSubnegotiation();
    void Fail(const std::string& problem);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::string subnegotiation_;
    std::array<Side, 256> local_{};   // what we do
    std::array<Side, 256> remote_{};  // what the server does
    std::array<std::optional<std::string>, 13> answers_{};
    std::string replies_;
    std::string problem_;
};

// Data as it goes out: each 0xFF doubled.
std::string EscapeData(const uint8_t* bytes, std::size_t count);
// One com port command with its value, 0xFF in the value doubled.
std::string ComPortCommand(uint8_t command, const std::string& value);

}  // namespace telnet
