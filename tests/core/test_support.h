// Shared pieces of the core tests: plain-socket peers on loopback, a fake
// clock, bounded polling of Kuvorecv, an independent writer of the datagram
// format, and a fixture that leaves no engine behind.
#ifndef KUVO_TESTS_CORE_TEST_SUPPORT_H
#define KUVO_TESTS_CORE_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine.h"
#include "kuvo.h"

namespace kuvo::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Upper bound of every wait for something the engine is expected to do.
constexpr auto kPatience = 2s;

// Polls `done` in 1 ms steps until it holds or `limit` has passed.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kPatience) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end) return done();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// ---------------------------------------------------------------- test seam

inline void resetSeam() {
    auto& seam = platform::testSeam();
    seam.failStartup = false;
    seam.failMutex = false;
    seam.failWakePair = false;
    seam.failThreadStart = false;
    seam.failWaits = 0;
    seam.clock = nullptr;
}

// Replaces the engine's clock while alive. Times are on the engine's scale:
// seconds since 1601-01-01 (kEpochNow is some day in 2020).
class FakeClock {
public:
    static constexpr double kEpochNow = 13240000000.0;

    explicit FakeClock(double start = kEpochNow) {
        now_ = start;
        platform::testSeam().clock = &FakeClock::read;
    }
    ~FakeClock() { platform::testSeam().clock = nullptr; }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void set(double t) { now_ = t; }
    double now() const { return now_; }

private:
    static double read() { return now_.load(); }
    static inline std::atomic<double> now_{0.0};
};

// Every test starts and ends without an engine and with the seam at rest.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        releaseUDP();
        resetSeam();
    }
    void TearDown() override {
        releaseUDP();
        resetSeam();
    }

    static UdpEngine& engine() {
        UdpEngine* e = currentEngine();
        if (e == nullptr) throw std::runtime_error("no engine");
        return *e;
    }
};

// --------------------------------------------------------- engine state

inline uint16_t portOf(SocketHandle s) {
    uint16_t port = 0;
    EXPECT_TRUE(platform::localPort(s, port));
    return port;
}

inline bool isRegistered(SocketHandle s) {
    UdpEngine& e = *currentEngine();
    EngineLock lock(e.engineMutex);
    return e.receiveTable.count(s) != 0;
}

inline bool waitRegistered(SocketHandle s) {
    return waitUntil([s] { return isRegistered(s); });
}

// Complete messages waiting in the socket's queue.
inline size_t queuedCount(SocketHandle s) {
    UdpEngine& e = *currentEngine();
    EngineLock lock(e.engineMutex);
    auto it = e.deliveryTable.find(s);
    if (it == e.deliveryTable.end()) return 0;
    size_t n = 0;
    for (const auto& bucket : it->second) n += bucket.second.size();
    return n;
}

inline bool waitQueued(SocketHandle s, size_t n) {
    return waitUntil([s, n] { return queuedCount(s) >= n; });
}

// Opens an engine socket on an ephemeral port and waits for its adoption.
inline SocketHandle openAdopted() {
    SocketHandle s = Kuvoinit(0);
    EXPECT_NE(s, invalidSocket);
    if (s != invalidSocket) {
        EXPECT_TRUE(waitRegistered(s));
    }
    return s;
}

// Makes the running receiver thread fail its next wait and leave its loop.
inline bool stopReceiver() {
    UdpEngine& e = *currentEngine();
    platform::testSeam().failWaits = 1;
    e.signalWake();
    return waitUntil([&e] { return e.engineState.load() == Stopped; });
}

// --------------------------------------------------------- plain sockets

// True when a plain dual-stack socket can bind the port without address
// reuse: no socket of the engine holds it any more.
inline bool portIsFree(uint16_t port) {
    int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

inline bool waitPortFree(uint16_t port) {
    return waitUntil([port] { return portIsFree(port); });
}

inline size_t openDescriptors() {
    size_t n = 0;
    for (int fd = 0; fd < 4096; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) ++n;
    return n;
}

struct Datagram {
    std::string bytes;
    std::string address;
    uint16_t port = 0;
};

// A plain UDP socket on loopback (127.0.0.1 or ::1), or on every address when
// `anyAddress` is set (dual-stack), that sends to and reads from the engine.
class Peer {
public:
    explicit Peer(int family = AF_INET, uint16_t port = 0, bool anyAddress = false)
        : family_(family) {
        fd_ = ::socket(family, SOCK_DGRAM, 0);
        if (fd_ < 0) return;
        int big = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        bool bound;
        if (family == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
            a.sin_port = htons(port);
            bound = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        } else {
            int v6only = anyAddress ? 0 : 1;
            ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = anyAddress ? in6addr_any : in6addr_loopback;
            a.sin6_port = htons(port);
            bound = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
        if (!bound) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Peer() {
        if (fd_ >= 0) ::close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The loopback text the engine sees this peer under.
    const char* loopbackText() const { return family_ == AF_INET ? "127.0.0.1" : "::1"; }

    uint16_t port() const {
        sockaddr_storage a{};
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        return a.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port)
                                      : ntohs(reinterpret_cast<sockaddr_in6&>(a).sin6_port);
    }

    // Sends one datagram to the port on this peer's loopback address.
    bool sendTo(uint16_t port, const std::string& bytes) const {
        long n;
        if (family_ == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(port);
            n = ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            a.sin6_port = htons(port);
            n = ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        return n == long(bytes.size());
    }

    bool sendAll(uint16_t port, const std::vector<std::string>& datagrams) const {
        for (const auto& d : datagrams)
            if (!sendTo(port, d)) return false;
        return true;
    }

    // One datagram, waiting at most `limit`.
    std::optional<Datagram> receive(std::chrono::milliseconds limit = kPatience) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(limit.count())) != 1) return std::nullopt;
        std::string buf(70000, '\0');
        sockaddr_storage from{};
        socklen_t n = sizeof from;
        long got = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &n);
        if (got < 0) return std::nullopt;
        Datagram d;
        d.bytes.assign(buf.data(), size_t(got));
        char text[INET6_ADDRSTRLEN] = {};
        if (from.ss_family == AF_INET) {
            auto& a = reinterpret_cast<sockaddr_in&>(from);
            ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
            d.port = ntohs(a.sin_port);
        } else {
            auto& a = reinterpret_cast<sockaddr_in6&>(from);
            ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
            d.port = ntohs(a.sin6_port);
        }
        d.address = text;
        return d;
    }

    // Up to `count` datagrams; stops at the first wait that finds nothing.
    std::vector<Datagram> receiveMany(size_t count, std::chrono::milliseconds limit = kPatience) const {
        std::vector<Datagram> out;
        while (out.size() < count) {
            auto d = receive(limit);
            if (!d) break;
            out.push_back(std::move(*d));
        }
        return out;
    }

private:
    int family_;
    int fd_ = -1;
};

// ------------------------------------------------------------ delivery

struct Delivered {
    std::string address;
    uint64_t addressLength = 0;
    uint16_t port = 0;
    std::string data;
    uint32_t index = 0;
    uint32_t remaining = 0;
    bool zeroAfterData = false;
};

// Collects what Kuvorecv delivers. `refuse` names one call ('A'ddress,
// 'P'ort, 'D'ata) and the message index at which that callback says no.
struct Collector {
    std::vector<Delivered> messages;
    std::string trace;   // e.g. "A0P0D0A1": the calls in the order made
    char refuseKind = 0;
    uint32_t refuseIndex = 0;

    bool refuses(char kind, uint32_t index) const { return refuseKind == kind && refuseIndex == index; }

    static bool onAddress(const char* text, uint64_t length, uint32_t index, uint32_t remaining, void* user) {
        auto& c = *static_cast<Collector*>(user);
        c.trace += 'A' + std::to_string(index);
        if (c.refuses('A', index)) return false;
        Delivered d;
        d.address = text;
        d.addressLength = length;
        d.index = index;
        d.remaining = remaining;
        c.messages.push_back(d);
        return true;
    }
    static bool onPort(uint16_t port, uint32_t index, uint32_t, void* user) {
        auto& c = *static_cast<Collector*>(user);
        c.trace += 'P' + std::to_string(index);
        if (c.refuses('P', index)) return false;
        if (!c.messages.empty()) c.messages.back().port = port;
        return true;
    }
    static bool onData(const char* data, uint32_t length, uint32_t index, uint32_t, void* user) {
        auto& c = *static_cast<Collector*>(user);
        c.trace += 'D' + std::to_string(index);
        if (c.refuses('D', index)) return false;
        if (!c.messages.empty()) {
            c.messages.back().data.assign(data, length);
            c.messages.back().zeroAfterData = data[length] == '\0';
        }
        return true;
    }

    bool receive(SocketHandle s, uint64_t count = UINT64_MAX) {
        return Kuvorecv(s, count, &Collector::onData, &Collector::onAddress, &Collector::onPort, this);
    }
};

// Collects the socket's messages until one with the bytes `probe` arrives;
// returns those before it. The probe is a whole datagram sent last by the
// test, so everything sent before it from the same peer has been read.
inline std::vector<Delivered> collectUntil(SocketHandle s, const std::string& probe) {
    Collector c;
    auto hasProbe = [&] {
        for (const auto& m : c.messages)
            if (m.data == probe) return true;
        return false;
    };
    waitUntil([&] {
        c.receive(s);
        return hasProbe();
    });
    EXPECT_TRUE(hasProbe()) << "probe '" << probe << "' never arrived";
    std::vector<Delivered> before;
    for (auto& m : c.messages) {
        if (m.data == probe) break;
        before.push_back(std::move(m));
    }
    return before;
}

// Collects until `n` messages have arrived or the patience runs out.
inline std::vector<Delivered> collect(SocketHandle s, size_t n) {
    Collector c;
    waitUntil([&] {
        c.receive(s);
        return c.messages.size() >= n;
    });
    return c.messages;
}

// ------------------------------------------------------- datagram format

// Fixed-width numbers of the trailer: decimal or base64url ('A' is zero).
inline std::string fixedDigits(uint64_t value, int width, bool base64) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out(size_t(width), '0');
    const unsigned base = base64 ? 64 : 10;
    for (int i = width - 1; i >= 0; --i) {
        out[size_t(i)] = base64 ? alphabet[value % base] : char('0' + value % base);
        value /= base;
    }
    return out;
}

// One 1043-byte fragment with the given field texts (3, 4, 4 and 32 chars).
inline std::string fragment(const std::string& payload, const std::string& length,
                            const std::string& index, const std::string& count, const std::string& id) {
    std::string d = payload.substr(0, 1000);
    d.resize(1000, ' ');
    d += length + index + count + id;
    d.resize(1043, '\0');
    return d;
}

// The datagrams a message travels in: itself when at most 1000 bytes, else
// its fragments under `id`, in decimal up to 10000 bytes, base64url above
// (or as forced by `base64`).
inline std::vector<std::string> datagramsOf(const std::string& message, const std::string& id,
                                            std::optional<bool> base64 = std::nullopt) {
    if (message.size() <= 1000) return {message};
    const bool b64 = base64.value_or(message.size() > 10000);
    const size_t n = (message.size() + 999) / 1000;
    std::vector<std::string> out;
    for (size_t i = 0; i < n; ++i) {
        std::string payload = message.substr(i * 1000, 1000);
        out.push_back(fragment(payload, fixedDigits(payload.size() - 1, 3, b64), fixedDigits(i, 4, b64),
                               fixedDigits(n, 4, b64), id));
    }
    return out;
}

// Deterministic message bytes; `zeros` puts a zero byte at every 97th place.
inline std::string pattern(size_t length, uint32_t seed = 1, bool zeros = false) {
    std::string s(length, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        char c = char('!' + (x >> 16) % 90);
        s[i] = zeros && i % 97 == 0 ? '\0' : c;
    }
    return s;
}

inline const std::string kIdA = "0123456789ABCDEF0123456789ABCDEF";
inline const std::string kIdB = "FEDCBA9876543210FEDCBA9876543210";

// ------------------------------------------------------------- process

// Resident set size of this process in bytes.
inline size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * size_t(::sysconf(_SC_PAGESIZE));
}

}  // namespace kuvo::test

#endif  // KUVO_TESTS_CORE_TEST_SUPPORT_H
