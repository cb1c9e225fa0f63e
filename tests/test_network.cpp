// Network serial ports: the Telnet session by table, the port names, and zelkctl and the
// window through a real ser2net on 127.0.0.1 in front of zelksim's pty, with every fault a
// network brings. The guard times at the module's end are zelksim's test's.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QElapsedTimer>
#include <QProcess>
#include <functional>
#include <thread>

#include "runtime/serial/serial_ports.h"
#include "runtime/serial/telnet.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/scoped.h"
#ifndef _WIN32
#include "tests/support/ser2net_process.h"
#include "tests/support/zelksim_process.h"
#endif

namespace {

using namespace std::string_literals;

const std::string IAC = "\xff", WILL = "\xfb", WONT = "\xfc", DO = "\xfd", DONT = "\xfe",
                  SB = "\xfa", SE = "\xf0", COM = "\x2c", BINARY = "\x00"s, SGA = "\x03",
                  ECHO = "\x01";

struct Fed {
    std::string data;
    std::string replies;
    std::string problem;
    telnet::Session::ComPort comPort;
    std::string rateAnswer;  // the answer to SET-BAUDRATE, "-" when none came
};

// The session after Start and these bytes from the server, fed in pieces: at most `piece`
// bytes at a time.
Fed Feed(const std::string& bytes, std::size_t piece) {
    telnet::Session session;
    session.Start();
    Fed fed;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::string part = bytes.substr(at, piece);
        session.Receive(reinterpret_cast<const uint8_t*>(part.data()), part.size(), &fed.data);
        fed.replies += session.TakeReplies();
    }
    fed.problem = session.problem();
    fed.comPort = session.comPort();
    const auto& rate = session.Answer(telnet::kSetBaudRate);
    fed.rateAnswer = rate ? *rate : "-";
    return fed;
}

TEST(TelnetSession, TakesDataAndNegotiationInAnySplit) {
    using ComPort = telnet::Session::ComPort;
    struct Row {
        const char* name;
        std::string server;
        std::string data;
        std::string replies = "";
        ComPort comPort = ComPort::Asked;
        std::string rateAnswer = "-";
        const char* problem = "";
    };
    const std::string ser2netGreeting = IAC + WILL + SGA + IAC + DO + SGA + IAC + WILL + ECHO +
                                        IAC + DONT + ECHO + IAC + DO + BINARY + IAC + WILL +
                                        BINARY + IAC + DO + COM;
    const std::string toggle = IAC + WILL + SGA + IAC + WONT + SGA;
    std::string storm;
    for (int i = 0; i < 20; ++i) {
        storm += toggle;
    }
    // clang-format off
    const Row rows[] = {
        {"plain data", "\r\n>AT", "\r\n>AT"},
        {"0xFF doubled in data", "a" + IAC + IAC + "b" + IAC + IAC, "a\xff" "b\xff"},
        {"ser2net's greeting: what it offers taken, echo refused, com port accepted",
         ser2netGreeting + "V1>", "V1>", IAC + DO + SGA + IAC + WILL + SGA + IAC + DONT + ECHO, ComPort::Accepted},
        {"com port refused", IAC + DONT + COM, "", "", ComPort::Refused},
        {"an unknown option refused once, however often asked",
         IAC + DO + "\x18" + "x" + IAC + DO + "\x18" + IAC + WILL + "\x1f" + IAC + WILL + "\x1f",
         "x", IAC + WONT + "\x18" + IAC + DONT + "\x1f"},
        {"an option turned on and off for ever gets a few answers",
         storm, "", IAC + DO + SGA + IAC + DONT + SGA + IAC + DO + SGA + IAC + DONT + SGA},
        {"notifications dropped, commands without an option too",
         "A" + IAC + SB + COM + "\x6b\x30" + IAC + SE + IAC + SB + COM + "\x6a\x60" + IAC + SE +
             IAC + "\xf1" + IAC + "\xf9" + "B", "AB"},
        {"the rate's answer kept, with its 0xFF undoubled",
         IAC + SB + COM + "\x65" + "\x00\x00"s + IAC + IAC + "\x00"s + IAC + SE, "", "", ComPort::Asked, "\x00\x00\xff\x00"s},
        {"another option's subnegotiation ignored", IAC + SB + "\x18\x65" + "xyz" + IAC + SE + ">", ">"},
        {"a byte after IAC that is no command", "ok" + IAC + "A" + "lost", "ok", "", ComPort::Asked, "-",
         "the server sent IAC 0x41, which is no Telnet command"},
        {"a stray command inside a subnegotiation", IAC + SB + COM + "\x65" + IAC + "\x01" + "x", "", "",
         ComPort::Asked, "-", "the server sent IAC 0x01 inside a subnegotiation"},
        {"a subnegotiation without end", IAC + SB + COM + "\x6b" + std::string(300, 'A') + IAC + SE, "", "",
         ComPort::Asked, "-", "the server's subnegotiation runs past 256 bytes without an end"},
    };
    // clang-format on
    for (const Row& row : rows) {
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{2}, std::size_t{3}, row.server.size()}) {
            SCOPED_TRACE(std::string(row.name) + ", in pieces of " + std::to_string(piece));
            const Fed fed = Feed(row.server, std::max<std::size_t>(piece, 1));
            EXPECT_EQ(fed.data, row.data);
            EXPECT_EQ(fed.replies, row.replies);
            EXPECT_EQ(fed.comPort, row.comPort);
            EXPECT_EQ(fed.rateAnswer, row.rateAnswer);
            EXPECT_EQ(fed.problem.substr(0, std::string(row.problem).size()), row.problem);
            EXPECT_EQ(fed.problem.empty(), *row.problem == '\0') << fed.problem;
        }
    }
}

// What goes out: the client's first words, and a com port command whose value holds 0xFF.
// Data on its way out is escaped as zelksim's test sees it through the server.
TEST(TelnetSession, SendsItsFirstWordsAndAComPortValueWithItsFFDoubled) {
    telnet::Session session;
    EXPECT_EQ(session.Start(), IAC + WILL + COM + IAC + WILL + BINARY + IAC + DO + BINARY);
    EXPECT_EQ(telnet::ComPortCommand(telnet::kSetBaudRate, "\x00\x01\xff\x00"s),
              IAC + SB + COM + "\x01" + "\x00\x01"s + IAC + IAC + "\x00"s + IAC + SE);
}

TEST(NetworkPortName, TakesTheUrlFormsAndSaysWhatIsWrongWithAnyOther) {
    struct Row {
        const char* name;
        const char* parsed;  // "rfc2217 HOST PORT" or "socket HOST PORT"; nullptr: refused
        const char* problem = "";
    };
    // clang-format off
    const Row rows[] = {
        {"rfc2217://station-3.lab:4001", "rfc2217 station-3.lab 4001"},
        {"socket://192.168.1.20:65535", "socket 192.168.1.20 65535"},
        {"RFC2217://[fe80::1:2]:1", "rfc2217 fe80::1:2 1"},
        {"rfc2217://host", nullptr, "rfc2217://host: no port"},
        {"rfc2217://host:", nullptr, "no port"},
        {"rfc2217://host:0", nullptr, "port 0 is not a TCP port (1 to 65535)"},
        {"rfc2217://host:65536", nullptr, "port 65536 is not a TCP port"},
        {"rfc2217://host:99999999999999999999", nullptr, "is not a TCP port"},
        {"rfc2217://host:4001?timeout=3", nullptr, "\"?timeout=3\" after the port"},
        {"rfc2217://host:x1", nullptr, "the port is no number: \"x1\""},
        {"rfc2218://host:4001", nullptr, "unknown scheme \"rfc2218://\": a network port is rfc2217://HOST:PORT or socket://HOST:PORT"},
        {"rfc2217://:4001", nullptr, "no host before the port"},
        {"rfc2217://::1:4001", nullptr, "an IPv6 address goes in brackets"},
        {"rfc2217://[::1:4001", nullptr, "no \"]\""},
        {"rfc2217://[host]:4001", nullptr, "\"host\" is no IPv6 address"},
        {"rfc2217://ho st:4001", nullptr, "\"ho st\" is no host name or IPv4 address"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(IsNetworkPortName(row.name));
        NetworkPortName parsed;
        std::string problem;
        const bool taken = ParseNetworkPortName(row.name, &parsed, &problem);
        EXPECT_EQ(taken, row.parsed != nullptr) << problem;
        if (row.parsed != nullptr) {
            EXPECT_EQ((parsed.rfc2217 ? "rfc2217 " : "socket ") + parsed.host + " " +
                          std::to_string(parsed.port),
                      row.parsed);
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
            EXPECT_EQ(problem.rfind(std::string(row.name) + ": ", 0), 0u) << problem;
        }
    }
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}

// ser2net and zelksim, which serve a pseudo-terminal.
#ifndef _WIN32
// Sockets and processes want an application object: the window's, which its test needs too.
void NeedApplication() {
    static const bool started = LoadTestPanel() >= 0;
    DiscardTestPanel();
    ASSERT_TRUE(started);
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
    qint64 milliseconds;
};

// zelkctl, built beside zelksim, as a shell runs it; `during` runs once its stderr holds
// `cue`. Two minutes is a hang.
Outcome Zelkctl(const std::vector<std::string>& arguments, const std::string& cue = "",
                const std::function<void()>& during = {}) {
    const std::string zelksim = ZelksimPath();
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QString::fromStdString(zelksim.substr(0, zelksim.rfind('/') + 1) + "zelkctl"),
                  list);
    process.setReadChannel(QProcess::StandardError);
    QByteArray err;
    if (during) {
        while (!err.contains(cue.c_str()) && process.waitForReadyRead(30000)) {
            err += process.readAllStandardError();
        }
        EXPECT_TRUE(err.contains(cue.c_str())) << err.toStdString();
        during();
    }
    EXPECT_TRUE(process.waitForFinished(120000)) << "zelkctl hangs";
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            (err + process.readAllStandardError()).toStdString(), timer.elapsed()};
}

// Both kinds of port at once; the raw one goes on at the server's own line settings, and
// says once that it does.
TEST(ZelkctlThroughSer2net, WritesBothKindsOfPortAtOnceAndRefusesOnePortTwice) {
    NeedApplication();
    ZelksimProcess first;
    ZelksimProcess second;
    Ser2netProcess server({{true, first.link()}, {false, second.link()}});
    const Outcome both = Zelkctl({"write", "--set", "S111=5", "--verify", "-s", "T1b", "-p",
                                  server.name(0), "-p", server.name(1)});
    EXPECT_EQ(both.status, 0) << both.err;
    // A verify that fails ends zelkctl with an error, so a 0 and two done are two verified.
    EXPECT_NE(both.err.find("2 ports: 2 done"), std::string::npos) << both.err;
    const std::string note =
        "a raw TCP port: the rate and format asked for (9600 bit/s 8N1) cannot be set through "
        "it; the server's own line settings hold";
    EXPECT_NE(both.err.find(note), std::string::npos) << both.err;
    EXPECT_EQ(both.err.find(note), both.err.rfind(note)) << "said more than once: " << both.err;

    const std::string port = std::to_string(server.tcpPort(0));
    const Outcome twice = Zelkctl({"version", "-s", "T1b", "-p", "rfc2217://localhost:" + port,
                                   "-p", "socket://127.0.0.1:" + port});
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("are the same device (127.0.0.1 port " + port + "): give it once"),
              std::string::npos)
        << twice.err;
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A server of our own that says what a test makes it say: once connected, `opening`; then it
// answers each com port command, the rate with `rate` when that is not empty.
class ScriptedServer {
  public:
    ScriptedServer(std::string opening, std::string rate)
        : opening_(std::move(opening)), rate_(std::move(rate)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_, 1), 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string name() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

  private:
    void Serve() {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        send(client, opening_.data(), opening_.size(), MSG_NOSIGNAL);
        std::string received;
        char buffer[256];
        for (ssize_t count; (count = recv(client, buffer, sizeof buffer, 0)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(count));
            for (std::size_t at; (at = received.find(IAC + SB + COM)) != std::string::npos;) {
                const std::size_t end = received.find(IAC + SE, at);
                if (end == std::string::npos) {
                    break;
                }
                const char command = received[at + 3];
                const std::string value = command == telnet::kSetBaudRate && !rate_.empty()
                                              ? rate_
                                              : received.substr(at + 4, end - at - 4);
                const std::string answer = IAC + SB + COM +
                                           static_cast<char>(command + telnet::kServerOffset) +
                                           value + IAC + SE;
                send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
                received.erase(0, end + 2);
            }
        }
        close(client);
    }

    std::string opening_;
    std::string rate_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

Outcome Version(const std::string& port) {
    return Zelkctl({"version", "-s", "T1b", "-p", port});
}

// Detect sets each rate and format it tries through the server, at the module's end of the
// line; only the one the module takes is understood there.
TEST(ZelkctlThroughSer2net, DetectsTheLineSetThroughTheServer) {
    NeedApplication();
    const QTemporaryDir folder;
    const std::string log = folder.filePath("wire").toStdString();
    ZelksimProcess picky({"--series", "R3", "--line", "19200,8N2", "--log", log});
    Ser2netProcess server({{true, picky.link()}});
    const Outcome detect = Zelkctl(
        {"detect", "-p", server.name(0), "-s", "R3", "--rates", "9600,19200", "--formats", "8N2"});
    EXPECT_EQ(detect.out, "-b 19200 -f 8N2\n") << detect.err;
    EXPECT_EQ(LoggedLines(log), (std::vector<std::string>{"9600 8N2", "19200 8N2"}));
}

// A connection held open, as another client holds the port.
struct HeldConnection {
    explicit HeldConnection(int port) {
        sockaddr_in address = Loopback(port);
        EXPECT_EQ(connect(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        usleep(200000);  // ser2net opens the device for it before the next client comes
    }
    ~HeldConnection() { close(held); }
    int held = socket(AF_INET, SOCK_STREAM, 0);
};

// Each ends with its exit status and the host, port and the words of whoever failed, within
// a bound a loaded machine still keeps; nothing is left half open for the next run.
TEST(ZelkctlThroughSer2net, EachFaultEndsClearlyWithinItsBound) {
    NeedApplication();
    addrinfo* none = nullptr;
    const int lookup = getaddrinfo("zelk-no-such-host.invalid", nullptr, nullptr, &none);
    const std::string resolverWords = lookup != 0 ? gai_strerror(lookup) : "resolved?";
    const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
    struct Row {
        const char* name;
        std::function<Outcome()> run;
        int status;
        std::vector<std::string> says;
    };
    const auto pulledMidRead = [] {
        ZelksimProcess module({"--byte-interval", "0.02"});
        Ser2netProcess server({{true, module.link()}});
        return Zelkctl({"read", "-v", "-s", "T1b", "-p", server.name(0)}, "step: AT/L",
                       [&] { module.Kill(); });
    };
    const auto served = [](bool rfc2217, const std::function<Outcome(Ser2netProcess&)>& body) {
        ZelksimProcess module;
        Ser2netProcess server({{rfc2217, module.link()}});
        return body(server);
    };
    const auto scripted = [](const std::string& opening, const std::string& rate) {
        ScriptedServer server(opening, rate);
        return Zelkctl({"version", "-s", "T1b", "-p", server.name()});
    };
    // clang-format off
    const Row rows[] = {
        {"nothing listening", [&] { return Version(refused); }, 3, {refused + ": Connection refused"}},
        {"an unknown host", [] { return Version("rfc2217://zelk-no-such-host.invalid:4001"); }, 3,
         {"rfc2217://zelk-no-such-host.invalid:4001: " + resolverWords}},
        {"a malformed name", [] { return Version("rfc2217://127.0.0.1:4001/x"); }, 2, {"\"/x\" after the port"}},
        {"a port in use (RFC 2217)", [&] { return served(true, [](Ser2netProcess& s) {
             HeldConnection other(s.tcpPort(0)); return Version(s.name(0)); }); }, 3,
         {"the server says \"Port already in use\": another client holds the port"}},
        {"a port in use (raw)", [&] { return served(false, [](Ser2netProcess& s) {
             HeldConnection other(s.tcpPort(0)); return Version(s.name(0)); }); }, 3,
         {"the server says \"Port already in use\""}},
        {"RFC 2217 asked of a raw accepter", [&] { return served(false, [](Ser2netProcess& s) {
             return Version("rfc2217://127.0.0.1:" + std::to_string(s.tcpPort(0))); }); }, 3,
         {"no answer from the server to com port control (RFC 2217) within 3 s"}},
        {"a stalled server mid exchange", [&] { return served(false, [](Ser2netProcess& s) {
             s.Stop(); return Version(s.name(0)); }); }, 4, {"no \">\" came back after the escape"}},
        {"the device gone behind the server", [&] { return pulledMidRead(); }, 7,
         {": the server closed the connection"}},
        {"malformed Telnet", [&] { return scripted(IAC + "\x41", ""); }, 3,
         {"the server broke the Telnet protocol: the server sent IAC 0x41"}},
        {"com port control refused", [&] { return scripted(IAC + DONT + COM, ""); }, 3,
         {"the server refused com port control (RFC 2217)"}},
        {"another rate taken", [&] { return scripted(IAC + DO + COM, "\x00\x01\xc2\x00"s); }, 3,
         {"asked the server for 9600 bit/s, it answered 115200 bit/s"}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome run = row.run();
        EXPECT_EQ(run.status, row.status) << run.err;
        for (const std::string& words : row.says) {
            EXPECT_NE(run.err.find(words), std::string::npos) << words << "\n" << run.err;
        }
        // The waits of an open are 3 s at most each; a hang would take the two minutes.
        EXPECT_LT(run.milliseconds, 30000);
    }
}

// The window through a raw port as ZELK_COM1: its unset line said beside the first popup
// after each connect; and a server that goes away as an adapter that is pulled: the port
// closed, Connect back.
TEST_F(StartedProgram, SaysARawPortsNoteAndLetsThePortGoWhenTheServerDoes) {
    ZelksimProcess module;
    Ser2netProcess server({{false, module.link()}});
    ScopedEnvironment environment;
    environment.Set("ZELK_COM1", server.name(0).c_str());
    panel::Commit(PORT_CONN, 1);
    ASSERT_TRUE(connection.connected) << panel::Popups().front();
    panel::Press(SHOW_VER);
    panel::Press(SHOW_VER);
    EXPECT_EQ(panel::Popups(),
              (link_test::Texts{"FirmWare Verion|Zelk RF module firmware V3.36||COM1 is " +
                                    server.name(0) +
                                    ", a raw TCP port: the rate and format asked for (9600 "
                                    "bit/s 8N1) cannot be set through it; the server's own "
                                    "line settings hold.",
                                "FirmWare Verion|Zelk RF module firmware V3.36"}));
    // Said again after the next connect, which may be to another server.
    panel::Commit(PORT_CONN, 0);
    panel::Commit(PORT_CONN, 1);
    panel::Press(SHOW_VER);
    EXPECT_NE(panel::Popups().front().find(", a raw TCP port: "), std::string::npos);

    server.Kill();
    panel::Press(READ);
    EXPECT_EQ(panel::Popups(), link_test::Texts{link_test::kCommandError + "||" + server.name(0) +
                                                ": the server closed the connection\nThe port "
                                                "is closed. Press Connect once its server "
                                                "serves it again."});
    EXPECT_EQ(std::pair(connection.connected, panel::Value(PORT_CONN)), std::pair(false, 0));
}

#endif

}  // namespace
