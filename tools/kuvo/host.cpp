// Turns the HOST of `kuvo send` into the numeric address text that Kuvo
// takes; Kuvo itself resolves no names.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "cli.h"

namespace kuvo::cli {

bool resolveHost(const std::string& host, std::string& numeric, std::string& error) {
    unsigned char scratch[sizeof(in6_addr)];
    if (inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1) {
        numeric = host;
        return true;
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0 || found == nullptr) {
        error = "unknown host '" + host + "'" + (status != 0 ? std::string(": ") + gai_strerror(status) : "");
        return false;
    }
    char text[INET6_ADDRSTRLEN] = {};
    const char* written = nullptr;
    if (found->ai_family == AF_INET) {
        written = inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    } else if (found->ai_family == AF_INET6) {
        written = inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr, text, sizeof text);
    }
    freeaddrinfo(found);
    if (written == nullptr) {
        error = "host '" + host + "' has no IPv4 or IPv6 address";
        return false;
    }
    numeric = text;
    return true;
}

}  // namespace kuvo::cli
