// Address texts at the edges of the core: what callers give to send to, and
// what Kuvorecv tells about a sender.
#include <cstdio>
#include <cstring>

#include "engine.h"

namespace kuvo {

bool parseAddressText(const char* text, uint8_t address[16]) {
    if (text == nullptr) return false;
    // A dotted IPv4 text is read in its IPv4-mapped IPv6 form, which the
    // dual-stack sockets send to and receive from.
    char mapped[64];
    if (std::strchr(text, '.') != nullptr && std::strchr(text, ':') == nullptr) {
        int n = std::snprintf(mapped, sizeof mapped, "::FFFF:%s", text);
        if (n < 0 || n >= int(sizeof mapped)) return false;   // too long: no address
        text = mapped;
    } else if (std::strlen(text) >= sizeof mapped) {
        return false;
    }
    return platform::parseAddress(text, address);
}

size_t addressText(const uint8_t address[16], char out[64]) {
    std::memset(out, 0, 64);
    platform::formatAddress(address, out);
    static const uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(address, mappedPrefix, sizeof mappedPrefix) == 0) {
        // "::ffff:10.0.0.7" -> "10.0.0.7": keep the dotted part.
        const char* colon = std::strrchr(out, ':');
        if (colon != nullptr) std::memmove(out, colon + 1, std::strlen(colon + 1) + 1);
    }
    return std::strlen(out);
}

}  // namespace kuvo
