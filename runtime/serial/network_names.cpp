// The names of network serial ports, in the URL forms that pyserial, esptool and PlatformIO
// users already type.
#include <cctype>
#include <string>

#include "runtime/serial/serial_ports.h"

namespace {

constexpr const char* kForms = "a network port is rfc2217://HOST:PORT or socket://HOST:PORT";

bool NameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

bool AddressCharacter(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

bool Fail(std::string* problem, const std::string& name, const std::string& what) {
    *problem = name + ": " + what;
    return false;
}

// HOST of "HOST:PORT" or "[IPv6]:PORT"; *rest is what follows it.
bool TakeHost(const std::string& name, const std::string& text, std::string* host,
              std::string* rest, std::string* problem) {
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            return Fail(problem, name, "no \"]\" after the IPv6 address");
        }
        *host = text.substr(1, close - 1);
        *rest = text.substr(close + 1);
        bool address = host->find(':') != std::string::npos;
        for (const char c : *host) {
            address = address && AddressCharacter(c);
        }
        return address || Fail(problem, name, "\"" + *host + "\" is no IPv6 address");
    }
    if (text.find(':') != text.rfind(':')) {
        return Fail(problem, name, "an IPv6 address goes in brackets, as [::1]:4001");
    }
    const std::size_t colon = text.find(':');
    *host = text.substr(0, colon);
    *rest = colon == std::string::npos ? std::string() : text.substr(colon);
    if (host->empty()) {
        return Fail(problem, name, "no host before the port");
    }
    for (const char c : *host) {
        if (!NameCharacter(c)) {
            return Fail(problem, name, "\"" + *host + "\" is no host name or IPv4 address");
        }
    }
    return true;
}

bool TakePort(const std::string& name, const std::string& rest, int* port, std::string* problem) {
    if (rest.empty() || rest == ":") {
        return Fail(problem, name, "no port: give it after the host, as HOST:4001");
    }
    if (rest[0] != ':') {
        return Fail(problem, name, "\"" + rest + "\" after the host, where \":PORT\" belongs");
    }
    std::size_t end = 1;
    long value = 0;
    while (end < rest.size() && std::isdigit(static_cast<unsigned char>(rest[end])) != 0) {
        value = value > 65535 ? value : value * 10 + (rest[end] - '0');
        ++end;
    }
    if (end == 1) {
        return Fail(problem, name, "the port is no number: \"" + rest.substr(1) + "\"");
    }
    if (end < rest.size()) {
        return Fail(problem, name,
                    "\"" + rest.substr(end) + "\" after the port, which ends the name");
    }
    if (value == 0 || value > 65535) {
        return Fail(problem, name, "port " + rest.substr(1) + " is not a TCP port (1 to 65535)");
    }
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
    return name.find("://") != std::string::npos;
}

bool ParseNetworkPortName(const std::string& name, NetworkPortName* parsed, std::string* problem) {
    const std::size_t separator = name.find("://");
    if (separator == std::string::npos) {
        return Fail(problem, name, kForms);
    }
    std::string scheme = name.substr(0, separator);
    for (char& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    NetworkPortName result;
    if (scheme == "rfc2217") {
        result.rfc2217 = true;
    } else if (scheme != "socket") {
        return Fail(problem, name,
                    "unknown scheme \"" + name.substr(0, separator) + "://\": " + kForms);
    }
    std::string rest;
    if (!TakeHost(name, name.substr(separator + 3), &result.host, &rest, problem) ||
        !TakePort(name, rest, &result.port, problem)) {
        return false;
    }
    *parsed = result;
    return true;
}
