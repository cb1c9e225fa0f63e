// Any bytes from a server through the Telnet session of a network port, in pieces whose size
// the first byte picks: it must take them as it takes them byte by byte, never give back more
// data than came, answer within bounds, and give back exactly what was sent escaped.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/serial/telnet.h"

namespace {

struct Taken {
    std::string data;
    std::string replies;
    std::string problem;
    telnet::Session::ComPort comPort;
};

Taken Take(const uint8_t* bytes, std::size_t size, std::size_t piece) {
    telnet::Session session;
    session.Start();
    Taken taken;
    for (std::size_t at = 0; at < size; at += piece) {
        const std::size_t count = size - at < piece ? size - at : piece;
        session.Receive(bytes + at, count, &taken.data);
        taken.replies += session.TakeReplies();
    }
    taken.problem = session.problem();
    taken.comPort = session.comPort();
    return taken;
}

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 16;
    const Taken whole = Take(data + 1, size - 1, size);
    const Taken pieces = Take(data + 1, size - 1, piece);
    Check(whole.data == pieces.data && whole.replies == pieces.replies &&
          whole.problem == pieces.problem && whole.comPort == pieces.comPort);
    Check(whole.data.size() <= size - 1);
    // Three bytes an answer, a few answers per option and side: never a reply per byte.
    Check(whole.replies.size() % 3 == 0 && whole.replies.size() <= 256 * 2 * 4 * 3);

    // Whatever the program sends, escaped, comes back as it was.
    const std::string escaped = telnet::EscapeData(data, size);
    const Taken echoed =
        Take(reinterpret_cast<const uint8_t*>(escaped.data()), escaped.size(), piece);
    Check(echoed.data == std::string(reinterpret_cast<const char*>(data), size) &&
          echoed.replies.empty() && echoed.problem.empty());
    return 0;
}
