// The sender: a message of at most 1000 bytes goes as one datagram; a longer
// one as 1043-byte fragments, each retried while the socket cannot take it.
// Runs on the caller's thread and takes no lock.
#include <cstring>

#include "engine.h"

namespace kuvo {
namespace {

constexpr int kMaxRetries = 20;
constexpr long kRetryWaitMicroseconds = 50;

// One fragment datagram; only its payload, length and index change between
// the fragments of a message.
struct FragmentBuffer {
    uint8_t bytes[wire::kFragmentSize];
    char* field(uint32_t offset) { return reinterpret_cast<char*>(bytes + offset); }
};

// Sends one fragment: accepted, or failed after an error that is no full
// send buffer, or after 20 retries.
bool sendFragment(SocketHandle s, const FragmentBuffer& f, const Endpoint& to) {
    for (int retries = 0;; ++retries) {
        platform::setLastError(0);
        long r = platform::sendDatagram(s, f.bytes, sizeof f.bytes, to);
        if (r == long(sizeof f.bytes)) return true;
        if (r < 0) {
            int code = platform::lastError();
            if (code != platform::kErrorWouldBlock && code != platform::kErrorInProgress && code != 0) return false;
        }
        if (retries == kMaxRetries) return false;
        platform::waitWritable(s, kRetryWaitMicroseconds);
        platform::drainResetReports(s);
    }
}

}  // namespace

int32_t UdpEngine::sendMessage(SocketHandle s, const Endpoint& to, const uint8_t* data, int32_t length) {
    if (length <= int32_t(wire::kPayloadSize)) {
        platform::setLastError(0);
        long r = platform::sendDatagram(s, data, size_t(length), to);
        platform::drainResetReports(s);
        return r < 0 ? -1 : int32_t(r);
    }

    const uint32_t total = uint32_t(length);
    const uint32_t count = (total + wire::kPayloadSize - 1) / wire::kPayloadSize;
    const uint32_t lastLength = total - (count - 1) * wire::kPayloadSize;
    const bool decimal = total <= wire::kDecimalLimit;
    auto encode = decimal ? wire::encodeFixedDecimal : wire::encodeFixedBase64;

    // Every message gets an id of its own: the MD5 of the engine's random
    // seed and a counter, so that no two messages of this sender collide.
    uint8_t idSource[sizeof idSeed + sizeof(uint64_t)];
    std::memcpy(idSource, idSeed, sizeof idSeed);
    uint64_t serial = idCounter.fetch_add(1, std::memory_order_relaxed);
    std::memcpy(idSource + sizeof idSeed, &serial, sizeof serial);
    Md5Digest id(idSource, sizeof idSource);

    FragmentBuffer f;
    encode(f.field(wire::kLengthField), wire::kPayloadSize - 1, 3);
    encode(f.field(wire::kCountField), count, 4);
    id.writeHex(f.field(wire::kIdField), 32);

    for (uint32_t i = 0; i + 1 < count; ++i) {
        std::memcpy(f.bytes, data + size_t(i) * wire::kPayloadSize, wire::kPayloadSize);
        encode(f.field(wire::kIndexField), i, 4);
        if (!sendFragment(s, f, to)) return -1;
        platform::drainResetReports(s);
    }
    std::memcpy(f.bytes, data + size_t(count - 1) * wire::kPayloadSize, lastLength);
    std::memset(f.bytes + lastLength, ' ', wire::kPayloadSize - lastLength);
    encode(f.field(wire::kLengthField), lastLength - 1, 3);
    encode(f.field(wire::kIndexField), count - 1, 4);
    bool accepted = sendFragment(s, f, to);
    platform::drainResetReports(s);
    return accepted ? length : -1;
}

}  // namespace kuvo
