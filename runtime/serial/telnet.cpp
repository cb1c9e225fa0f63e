#include "runtime/serial/telnet.h"

#include <cstdio>

namespace telnet {

namespace {

// A server that keeps turning an option on and off gets a few answers, then silence: two
// programs that each answer every answer would talk for ever.
constexpr int kMaxAnswers = 4;

bool WeDo(uint8_t option) {
    return option == kBinary || option == kComPort || option == kSuppressGoAhead;
}

bool ServerMayDo(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::string Hex(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

}  // namespace

std::string Session::Start() {
    local_[kComPort].asked = true;
    local_[kBinary].asked = true;
    remote_[kBinary].asked = true;
    return {static_cast<char>(kIac), static_cast<char>(kWill), static_cast<char>(kComPort),
            static_cast<char>(kIac), static_cast<char>(kWill), static_cast<char>(kBinary),
            static_cast<char>(kIac), static_cast<char>(kDo),   static_cast<char>(kBinary)};
}

void Session::Receive(const uint8_t* bytes, std::size_t count, std::string* data) {
    for (std::size_t i = 0; i < count && !broken(); ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Data:
                if (byte == kIac) {
                    state_ = State::Command;
                } else {
                    data->push_back(static_cast<char>(byte));
                }
                break;
            case State::Command:
                state_ = State::Data;
                if (byte == kIac) {
                    data->push_back(static_cast<char>(byte));
                } else if (byte >= kWill && byte <= kDont) {
                    verb_ = byte;
                    state_ = State::Option;
                } else if (byte == kSb) {
                    subnegotiation_.clear();
                    state_ = State::Subnegotiation;
                } else if (byte < kSe) {
                    Fail("the server sent IAC " + Hex(byte) + ", which is no Telnet command");
                }
                // The commands without an option (NOP, data mark, break, go ahead...) and an
                // SE outside a subnegotiation mean nothing to a serial line's data.
                break;
            case State::Option:
                state_ = State::Data;
                Negotiate(verb_, byte);
                break;
            case State::Subnegotiation:
                if (byte == kIac) {
                    state_ = State::SubnegotiationCommand;
                } else if (subnegotiation_.size() == kMaxSubnegotiation) {
                    Fail("the server's subnegotiation runs past " +
                         std::to_string(kMaxSubnegotiation) + " bytes without an end");
                } else {
                    subnegotiation_.push_back(static_cast<char>(byte));
                }
                break;
            case State::SubnegotiationCommand:
                if (byte == kIac && subnegotiation_.size() < kMaxSubnegotiation) {
                    subnegotiation_.push_back(static_cast<char>(byte));
                    state_ = State::Subnegotiation;
                } else if (byte == kSe) {
                    state_ = State::Data;
                    EndSubnegotiation();
                } else {
                    Fail("the server sent IAC " + Hex(byte) +
                         " inside a subnegotiation, where only IAC IAC and IAC SE belong");
                }
                break;
        }
    }
}

// Answers only what changes a state, and refuses what it does not do once: the way two
// Telnet ends agree without answering each other's answers.
void Session::Negotiate(uint8_t verb, uint8_t option) {
    const bool local = verb == kDo || verb == kDont;
    Side& side = local ? local_[option] : remote_[option];
    const bool on = verb == kDo || verb == kWill;
    const bool wanted = local ? WeDo(option) : ServerMayDo(option);
    const uint8_t yes = local ? kWill : kDo;
    const uint8_t no = local ? kWont : kDont;
    if (on) {
        if (side.enabled) {
            return;
        }
        if (side.asked || wanted) {
            if (!side.asked) {
                Reply(yes, option, &side.answers);
            }
            side.enabled = true;
            side.asked = false;
            side.refused = false;
        } else if (side.answers == 0) {
            Reply(no, option, &side.answers);
        }
        return;
    }
    if (side.enabled) {
        side.enabled = false;
        Reply(no, option, &side.answers);
    } else if (side.asked) {
        side.asked = false;
        side.refused = true;
    }
}

void Session::Reply(uint8_t verb, uint8_t option, int* answers) {
    if (*answers >= kMaxAnswers) {
        return;
    }
    ++*answers;
    replies_ += {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

void Session::EndSubnegotiation() {
    // Answers to the client's commands are kept; line and modem state notifications, the
    // signature and flow control requests tell the program nothing it acts on.
    if (subnegotiation_.size() < 2 || static_cast<uint8_t>(subnegotiation_[0]) != kComPort) {
        return;
    }
    const auto command = static_cast<uint8_t>(subnegotiation_[1]);
    const std::size_t answered = command > kServerOffset ? command - kServerOffset : 0;
    if (answered > 0 && answered < answers_.size()) {
        answers_[answered] = subnegotiation_.substr(2);
    }
}

void Session::Fail(const std::string& problem) {
    problem_ = problem;
}

std::string Session::TakeReplies() {
    std::string replies;
    replies.swap(replies_);
    return replies;
}

Session::ComPort Session::comPort() const {
    const Side& side = local_[kComPort];
    return side.enabled ? ComPort::Accepted : side.refused ? ComPort::Refused : ComPort::Asked;
}

const std::optional<std::string>& Session::Answer(uint8_t command) const {
    static const std::optional<std::string> none;
    return command < answers_.size() ? answers_[command] : none;
}

void Session::ForgetAnswer(uint8_t command) {
    if (command < answers_.size()) {
        answers_[command].reset();
    }
}

std::string EscapeData(const uint8_t* bytes, std::size_t count) {
    std::string escaped;
    escaped.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        escaped.push_back(static_cast<char>(bytes[i]));
        if (bytes[i] == kIac) {
            escaped.push_back(static_cast<char>(kIac));
        }
    }
    return escaped;
}

std::string ComPortCommand(uint8_t command, const std::string& value) {
    std::string text = {static_cast<char>(kIac), static_cast<char>(kSb),
                        static_cast<char>(kComPort), static_cast<char>(command)};
    text += EscapeData(reinterpret_cast<const uint8_t*>(value.data()), value.size());
    text += {static_cast<char>(kIac), static_cast<char>(kSe)};
    return text;
}

}  // namespace telnet
