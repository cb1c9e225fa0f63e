#include "runtime/serial/serial_network.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/serial/serial_ports.h"
#include "runtime/serial/telnet.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace serial_backend {

namespace {

// The bounds of an open and a close, on the steady clock: the runtime's clock may be a
// test's virtual one, and neither a resolver nor a host nor a server that does not answer
// may hold the program longer than this.
constexpr int kLookupMs = 3000;
constexpr int kConnectMs = 3000;
// For the whole of RFC 2217's handshake: com port control, then the line settings.
constexpr int kAnswerMs = 3000;
// ser2net turns a second client away with a line of text and a close, at once. A raw port
// has no handshake that would bring that to light, so its open waits this long for it.
constexpr int kRefusalMs = 200;
constexpr int kWriteMs = 3000;
constexpr int kCloseMs = 1000;

// The resolver may wait on a name server far longer than an open may take, and cannot be
// interrupted: it runs in a thread of its own, which is left to finish alone when it takes
// too long. Its words are getaddrinfo's own.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<QHostAddress> addresses;
    std::string problem;
};

void LookUp(const std::shared_ptr<Lookup>& lookup, const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    std::vector<QHostAddress> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const QHostAddress address(entry->ai_addr);
        if (!address.isNull() &&
            std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
            addresses.push_back(address);
        }
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    const std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->addresses = addresses;
#ifdef _WIN32
    // Qt builds for Windows with UNICODE defined, which makes gai_strerror the wide one.
    lookup->problem = result != 0 ? gai_strerrorA(result) : "the name has no address";
#else
    lookup->problem = result != 0 ? gai_strerror(result) : "the name has no address";
#endif
    lookup->finished = true;
    lookup->done.notify_all();
}

std::vector<QHostAddress> Resolve(const std::string& host, std::string* problem) {
    const QHostAddress literal(QString::fromStdString(host));
    if (!literal.isNull()) {
        return {literal};
    }
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] { LookUp(lookup, host); }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(kLookupMs),
                               [&] { return lookup->finished; })) {
        *problem = "no answer from the name servers within " + std::to_string(kLookupMs / 1000) +
                   " s for " + host;
        return {};
    }
    *problem = lookup->problem;
    return lookup->addresses;
}

// A com port setting as a person says it, from its value on the wire.
std::string Describe(uint8_t command, const std::string& value) {
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(value[i]); };
    if (command == telnet::kSetBaudRate && value.size() == 4) {
        const unsigned long rate = (static_cast<unsigned long>(byte(0)) << 24) |
                                   (static_cast<unsigned long>(byte(1)) << 16) |
                                   (static_cast<unsigned long>(byte(2)) << 8) | byte(3);
        return std::to_string(rate) + " bit/s";
    }
    if (value.size() != 1) {
        return "an answer of " + std::to_string(value.size()) + " bytes";
    }
    static const char* const parities[] = {
        "", "no parity", "odd parity", "even parity", "mark parity", "space parity"};
    static const char* const stops[] = {"", "1 stop bit", "2 stop bits", "1.5 stop bits"};
    static const char* const controls[] = {"", "no flow control", "XON/XOFF flow control",
                                           "hardware flow control"};
    switch (command) {
        case telnet::kSetDataSize:
            return std::to_string(byte(0)) + " data bits";
        case telnet::kSetParity:
            return byte(0) >= 1 && byte(0) <= 5 ? parities[byte(0)]
                                                : "parity code " + std::to_string(byte(0));
        case telnet::kSetStopSize:
            return byte(0) >= 1 && byte(0) <= 3 ? stops[byte(0)]
                                                : "stop size code " + std::to_string(byte(0));
        default:
            return byte(0) >= 1 && byte(0) <= 3 ? controls[byte(0)]
                                                : "control code " + std::to_string(byte(0));
    }
}

class NetworkDevice : public Device {
  public:
    NetworkDevice(const std::string& name, const NetworkPortName& address, const Settings& settings)
        : name_(name), address_(address), settings_(settings) {}

    // ser2net turns away a client that comes while it still closes the device for the one
    // before, as it turns away a second client: so our end is closed first and the close
    // waits for the server's, which comes once the port is free for the next open.
    ~NetworkDevice() override {
        if (socket_.state() == QAbstractSocket::ConnectedState) {
#ifdef _WIN32
            shutdown(static_cast<SOCKET>(socket_.socketDescriptor()), SD_SEND);
#else
            shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
#endif
            QElapsedTimer timer;
            timer.start();
            while (socket_.state() == QAbstractSocket::ConnectedState &&
                   timer.elapsed() < kCloseMs) {
                socket_.waitForReadyRead(kCloseMs - static_cast<int>(timer.elapsed()));
                socket_.readAll();
            }
        }
        socket_.abort();
    }

    int open(std::string* reason) {
        int result = connect(reason);
        if (result == RS232_NO_ERROR && address_.rfc2217) {
            result = negotiate(reason);
        } else if (result == RS232_NO_ERROR) {
            result = awaitRefusal(reason);
        }
        if (result != RS232_NO_ERROR) {
            socket_.abort();
        }
        return result;
    }

    int write(const uint8_t* data, int count) override {
        if (count <= 0) {
            return 0;
        }
        const std::string bytes =
            address_.rfc2217
                ? telnet::EscapeData(data, static_cast<std::size_t>(count))
                : std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
        const int result = send(bytes);
        return result < 0 ? result : count;
    }

    int bytesWaiting() override {
        return pump(0) ? static_cast<int>(input_.size()) : RS232_DEVICE_GONE;
    }

    int readByte() override {
        if (input_.empty()) {
            return RS232_NOTHING_WAITING;
        }
        const auto byte = static_cast<unsigned char>(input_.front());
        input_.pop_front();
        return byte;
    }

    // What the server holds of the module's bytes is thrown away there too, as a flush of
    // a local port throws away what the driver holds.
    void discardInput() override {
        pump(0);
        input_.clear();
        if (address_.rfc2217) {
            send(telnet::ComPortCommand(telnet::kPurgeData, "\x01"));
        }
    }

    // Every write has left before it returned: nothing waits here to be discarded, and
    // what the server still holds is the line's, as bytes in a UART's shift register are.
    void discardOutput() override {}

    void drainOutput() override {
        send(std::string());
    }

    std::string goneReason() const override {
        return gone_;
    }
    std::string note() const override {
        return note_;
    }

  private:
    int connect(std::string* reason);
    int negotiate(std::string* reason);
    int setLine(int timeoutMs, std::string* reason);
    int awaitRefusal(std::string* reason);
    int waitFailed(const std::string& waitingFor, std::string* reason);
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    bool pump(int waitMs);
    int send(const std::string& bytes);
    std::string closedReason() const;
    std::string serverWords() const;

    // ser2net writes its answers to the line settings one by one without TCP_NODELAY: each
    // after the first waits for our acknowledgement, which the system would hold back for
    // 40 ms in the hope of sending it with data of ours. Linux acknowledges at once when
    // asked, after every read.
    void acknowledgeAtOnce() {
#ifdef TCP_QUICKACK
        const int on = 1;
        setsockopt(static_cast<int>(socket_.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on,
                   sizeof on);
#endif
    }

    std::string name_;
    NetworkPortName address_;
    Settings settings_;
    QTcpSocket socket_;
    telnet::Session session_;
    std::deque<char> input_;
    std::string gone_;
    std::string note_;
};

int NetworkDevice::connect(std::string* reason) {
    std::string problem;
    const std::vector<QHostAddress> addresses = Resolve(address_.host, &problem);
    if (addresses.empty()) {
        *reason = name_ + ": " + problem;
        return RS232_NO_DEVICE;
    }
    QElapsedTimer timer;
    timer.start();
    std::string failures;
    for (const QHostAddress& address : addresses) {
        socket_.connectToHost(address, static_cast<quint16>(address_.port));
        const int remaining = std::max(1, kConnectMs - static_cast<int>(timer.elapsed()));
        if (socket_.waitForConnected(remaining)) {
            // Each write goes out in a segment of its own at once: the module tells the
            // escape's "+" from data by the silence around it.
            socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
            return RS232_NO_ERROR;
        }
        const std::string why = socket_.error() == QAbstractSocket::SocketTimeoutError
                                    ? "no answer within " + std::to_string(kConnectMs / 1000) + " s"
                                    : socket_.errorString().toStdString();
        failures += (failures.empty() ? "" : "; ") +
                    (addresses.size() > 1 ? address.toString().toStdString() + ": " : "") + why;
        socket_.abort();
        if (timer.elapsed() >= kConnectMs) {
            break;
        }
    }
    *reason = name_ + ": " + failures;
    return RS232_NO_DEVICE;
}

int NetworkDevice::negotiate(std::string* reason) {
    QElapsedTimer timer;
    timer.start();
    if (send(session_.Start()) < 0) {
        return waitFailed("", reason);
    }
    if (!waitUntil([this] { return session_.comPort() != telnet::Session::ComPort::Asked; },
                   kAnswerMs)) {
        return waitFailed("to com port control (RFC 2217)", reason);
    }
    if (session_.comPort() == telnet::Session::ComPort::Refused) {
        *reason = name_ +
                  ": the server refused com port control (RFC 2217): serve the port with a "
                  "telnet(rfc2217) accepter, or name it socket:// to take the server's settings";
        return RS232_SERVER_FAILED;
    }
    return setLine(kAnswerMs - static_cast<int>(timer.elapsed()), reason);
}

int NetworkDevice::setLine(int timeoutMs, std::string* reason) {
    const auto rate = static_cast<unsigned long>(settings_.baudRate);
    const std::pair<uint8_t, std::string> steps[] = {
        {telnet::kSetBaudRate,
         {static_cast<char>(rate >> 24), static_cast<char>(rate >> 16),
          static_cast<char>(rate >> 8), static_cast<char>(rate)}},
        {telnet::kSetDataSize, {static_cast<char>(settings_.dataBits)}},
        {telnet::kSetParity, {static_cast<char>(settings_.parity + 1)}},
        {telnet::kSetStopSize, {static_cast<char>(settings_.stopBits)}},
        {telnet::kSetControl, {static_cast<char>(1)}},  // no flow control, as a local port
    };
    std::string commands;
    for (const auto& [command, value] : steps) {
        session_.ForgetAnswer(command);
        commands += telnet::ComPortCommand(command, value);
    }
    const auto answered = [&] {
        return std::all_of(std::begin(steps), std::end(steps), [&](const auto& step) {
            return session_.Answer(step.first).has_value();
        });
    };
    if (send(commands) < 0 || !waitUntil(answered, timeoutMs)) {
        return waitFailed("to the line settings", reason);
    }
    for (const auto& [command, value] : steps) {
        const std::string& answer = *session_.Answer(command);
        if (answer != value) {
            *reason = name_ + ": asked the server for " + Describe(command, value) +
                      ", it answered " + Describe(command, answer);
            return RS232_BAD_SETTINGS;
        }
    }
    return RS232_NO_ERROR;
}

int NetworkDevice::awaitRefusal(std::string* reason) {
    if (waitUntil([this] { return !gone_.empty(); }, kRefusalMs)) {
        return waitFailed("", reason);
    }
    static const char* const parities[] = {"N", "O", "E"};
    note_ = "a raw TCP port: the rate and format asked for (" + std::to_string(settings_.baudRate) +
            " bit/s " + std::to_string(settings_.dataBits) + parities[settings_.parity % 3] +
            std::to_string(settings_.stopBits) +
            ") cannot be set through it; the server's own line settings hold";
    return RS232_NO_ERROR;
}

// Why an open did not get what it waited for: another client holds the port (ser2net says
// so and closes), the connection ended or broke, or the server let the time run out.
int NetworkDevice::waitFailed(const std::string& waitingFor, std::string* reason) {
    const std::string said = serverWords();
    if (said.find("already in use") != std::string::npos) {
        *reason = name_ + ": the server says \"" + said + "\": another client holds the port";
        return RS232_PORT_BUSY;
    }
    if (!gone_.empty()) {
        *reason = gone_ + (said.empty() ? "" : " (it said \"" + said + "\")");
    } else {
        *reason = name_ + ": no answer from the server " + waitingFor + " within " +
                  std::to_string(kAnswerMs / 1000) + " s";
        if (session_.comPort() == telnet::Session::ComPort::Asked) {
            *reason +=
                "; a raw TCP port (a tcp accepter) never answers: name it socket:// "
                "if it is one";
        }
    }
    return RS232_SERVER_FAILED;
}

bool NetworkDevice::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        const int remaining = timeoutMs - static_cast<int>(timer.elapsed());
        if (remaining <= 0 || !pump(remaining)) {
            return done();
        }
    }
    return true;
}

// Takes what the system has received into the input, through the Telnet session on an
// RFC 2217 port, and sends the session's answers at once. False once the connection is
// over; gone_ says why.
bool NetworkDevice::pump(int waitMs) {
    if (!gone_.empty()) {
        return false;
    }
    char buffer[512];
    const auto room = [&] {
        return std::min<qint64>(sizeof buffer,
                                settings_.inputQueueSize - static_cast<qint64>(input_.size()));
    };
    for (int pull = 0; pull < 8 && room() > 0; ++pull) {
        if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(pull == 0 ? waitMs : 0)) {
            break;
        }
        const qint64 count = socket_.read(buffer, room());
        if (count <= 0) {
            break;
        }
        acknowledgeAtOnce();
        if (!address_.rfc2217) {
            input_.insert(input_.end(), buffer, buffer + count);
            continue;
        }
        std::string data;
        session_.Receive(reinterpret_cast<const uint8_t*>(buffer), static_cast<std::size_t>(count),
                         &data);
        input_.insert(input_.end(), data.begin(), data.end());
        if (session_.broken()) {
            gone_ = name_ + ": the server broke the Telnet protocol: " + session_.problem();
            return false;
        }
        const std::string replies = session_.TakeReplies();
        if (!replies.empty() && send(replies) < 0) {
            gone_ = gone_.empty() ? name_ + ": the server takes no data" : gone_;
            return false;
        }
    }
    if (socket_.state() != QAbstractSocket::ConnectedState && socket_.bytesAvailable() == 0) {
        gone_ = closedReason();
        return false;
    }
    return true;
}

// Puts the bytes on their way to the server before returning. A count, or an Rs232Error.
int NetworkDevice::send(const std::string& bytes) {
    if (!gone_.empty()) {
        return RS232_DEVICE_GONE;
    }
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        gone_ = closedReason();
        return RS232_DEVICE_GONE;
    }
    if (!bytes.empty() && socket_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                              static_cast<qint64>(bytes.size())) {
        gone_ = name_ + ": " + socket_.errorString().toStdString();
        return RS232_DEVICE_GONE;
    }
    QElapsedTimer timer;
    timer.start();
    while (socket_.bytesToWrite() > 0) {
        const int remaining = kWriteMs - static_cast<int>(timer.elapsed());
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            gone_ = closedReason();
            return RS232_DEVICE_GONE;
        }
        if (remaining <= 0) {
            return RS232_WRITE_FAILED;
        }
        socket_.waitForBytesWritten(remaining);
    }
    return static_cast<int>(bytes.size());
}

std::string NetworkDevice::closedReason() const {
    if (socket_.error() == QAbstractSocket::RemoteHostClosedError) {
        return name_ + ": the server closed the connection";
    }
    return name_ + ": " + socket_.errorString().toStdString();
}

// The first line of what the server sent as data, as text: ser2net's refusals are such a
// line.
std::string NetworkDevice::serverWords() const {
    std::string words;
    for (const char c : input_) {
        if (c == '\r' || c == '\n') {
            if (!words.empty()) {
                break;
            }
            continue;
        }
        if (words.size() < 80) {
            words.push_back(c >= 0x20 && c < 0x7F ? c : '?');
        }
    }
    return words;
}

}  // namespace

std::unique_ptr<Device> OpenNetworkPort(const std::string& name, const Settings& settings,
                                        int* error, std::string* reason) {
    NetworkPortName address;
    if (!ParseNetworkPortName(name, &address, reason)) {
        *error = RS232_BAD_NAME;
        return nullptr;
    }
    auto device = std::make_unique<NetworkDevice>(name, address, settings);
    *error = device->open(reason);
    if (*error != RS232_NO_ERROR) {
        return nullptr;
    }
    return device;
}

}  // namespace serial_backend

std::vector<std::string> NetworkPortAddresses(const std::string& name) {
    NetworkPortName address;
    std::string problem;
    if (!ParseNetworkPortName(name, &address, &problem)) {
        return {};
    }
    const std::string port = " port " + std::to_string(address.port);
    std::vector<std::string> keys;
    for (const QHostAddress& resolved : serial_backend::Resolve(address.host, &problem)) {
        keys.push_back(resolved.toString().toStdString() + port);
    }
    if (keys.empty()) {
        keys.push_back(QString::fromStdString(address.host).toLower().toStdString() + port);
    }
    return keys;
}
