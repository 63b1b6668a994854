// Round trips of a 100-byte message between this process and an echoing
// child: Kuvo on both sides (Kuvorecv polled, with short sleeps or without)
// against plain UDP with blocking reads on both sides.
#include <sched.h>
#include <sys/socket.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "figures.h"
#include "kuvo.h"

namespace bench {
namespace {

constexpr size_t kSize = 100;
constexpr int kWarmUp = 50;
constexpr int kRoundTrips = 1000;
constexpr int kRepetitions = 5;
constexpr double kReplySeconds = 1.0;

void pause(long pollMicroseconds) {
    if (pollMicroseconds > 0) sleepMicroseconds(pollMicroseconds);
    else sched_yield();
}

bool acceptAddress(const char*, uint64_t, uint32_t, uint32_t, void*) { return true; }

// Messages taken by one Kuvorecv call of the echo, with their senders' ports.
struct Inbox {
    uint16_t port = 0;
    std::vector<std::pair<uint16_t, std::string>> messages;
};

bool notePort(uint16_t port, uint32_t, uint32_t, void* user) {
    static_cast<Inbox*>(user)->port = port;
    return true;
}

bool keepMessage(const char* data, uint32_t length, uint32_t, uint32_t, void* user) {
    auto* inbox = static_cast<Inbox*>(user);
    inbox->messages.emplace_back(inbox->port, std::string(data, length));
    return true;
}

int kuvoEcho(long pollMicroseconds, uint64_t deadline) {
    uint16_t port = 0;
    uint64_t h = openKuvoSocket(port);
    if (h == kInvalidHandle) {
        sendToParent("failed Kuvoinit");
        return 1;
    }
    sendToParent(format("ready %u", port));
    Inbox inbox;
    std::string line;
    while (nowNs() < deadline) {
        inbox.messages.clear();
        Kuvorecv(h, UINT64_MAX, keepMessage, acceptAddress, notePort, &inbox);
        for (const auto& m : inbox.messages)
            KuvosendBytes(h, "127.0.0.1", m.first, m.second.data(), int(m.second.size()));
        if (!inbox.messages.empty()) continue;
        if (lineFromParent(line, 0)) break;
        pause(pollMicroseconds);
    }
    releaseUDP();
    return 0;
}

int rawEcho(uint64_t deadline) {
    uint16_t port = 0;
    UdpSocket socket = boundToFreePort(port);
    if (!socket.valid()) {
        sendToParent("failed bind");
        return 1;
    }
    socket.setReceiveTimeout(100000);
    sendToParent(format("ready %u", port));
    char buffer[2048];
    std::string line;
    while (nowNs() < deadline) {
        sockaddr_in6 from{};
        socklen_t size = sizeof from;
        ssize_t n = recvfrom(socket.fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (n >= 0) {
            sendto(socket.fd(), buffer, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), size);
            continue;
        }
        if (lineFromParent(line, 0)) break;
    }
    return 0;
}

// The reply the pinging side waits for.
struct Awaited {
    uint64_t sequence;
    bool arrived;
};

bool matchReply(const char* data, uint32_t length, uint32_t, uint32_t, void* user) {
    auto* awaited = static_cast<Awaited*>(user);
    uint64_t sequence = 0;
    if (checkMessage(reinterpret_cast<const uint8_t*>(data), length, sequence) &&
        sequence == awaited->sequence)
        awaited->arrived = true;
    return true;
}

bool ignorePort(uint16_t, uint32_t, uint32_t, void*) { return true; }
bool ignoreData(const char*, uint32_t, uint32_t, uint32_t, void*) { return true; }

struct PingResult {
    bool ran = false;
    std::string failure;
    std::vector<double> microseconds;
    int lost = 0;
};

// pollMicroseconds < 0: plain UDP with blocking reads.
PingResult pingPong(long pollMicroseconds) {
    PingResult result;
    bool kuvo = pollMicroseconds >= 0;
    uint64_t handle = kuvo ? senderHandle() : kInvalidHandle;
    UdpSocket raw = kuvo ? UdpSocket() : UdpSocket::bound(0);
    if (kuvo ? handle == kInvalidHandle : !raw.valid()) {
        result.failure = "no socket";
        return result;
    }
    if (kuvo) Kuvorecv(handle, UINT64_MAX, ignoreData, acceptAddress, ignorePort, nullptr);
    else raw.setReceiveTimeout(long(kReplySeconds * 1e6));

    ChildProcess child;
    if (!child.start({"role", "echo", kuvo ? "mode=kuvo" : "mode=raw", format("poll_us=%ld", pollMicroseconds),
                      "deadline_ms=30000"})) {
        result.failure = "cannot start the echo";
        return result;
    }
    std::string line;
    unsigned port = 0;
    if (!child.readLine(line, 10.0) || std::sscanf(line.c_str(), "ready %u", &port) != 1) {
        result.failure = "echo: " + line;
        return result;
    }
    sockaddr_in6 to = loopback(uint16_t(port));
    uint8_t message[kSize], reply[2048];
    for (int i = 0; i < kWarmUp + kRoundTrips; ++i) {
        fillMessage(message, kSize, uint64_t(i));
        Awaited awaited{uint64_t(i), false};
        uint64_t start = nowNs(), limit = start + uint64_t(kReplySeconds * 1e9);
        if (kuvo) {
            KuvosendBytes(handle, "127.0.0.1", int(port), reinterpret_cast<const char*>(message), int(kSize));
            for (;;) {
                Kuvorecv(handle, UINT64_MAX, matchReply, acceptAddress, ignorePort, &awaited);
                if (awaited.arrived || nowNs() > limit) break;
                pause(pollMicroseconds);
            }
        } else {
            sendto(raw.fd(), message, kSize, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            while (!awaited.arrived && nowNs() <= limit) {
                ssize_t n = recv(raw.fd(), reply, sizeof reply, 0);
                if (n > 0) matchReply(reinterpret_cast<const char*>(reply), uint32_t(n), 0, 0, &awaited);
            }
        }
        uint64_t end = nowNs();
        if (i < kWarmUp) continue;
        if (awaited.arrived) result.microseconds.push_back(double(end - start) / 1e3);
        else ++result.lost;
    }
    child.writeLine("done");
    child.finish(2.0);
    result.ran = true;
    return result;
}

}  // namespace

int echoRole(const Arguments& args) {
    uint64_t deadline = nowNs() + args.number("deadline_ms", 30000) * 1000000;
    if (args.text("mode") == "raw") return rawEcho(deadline);
    return kuvoEcho(std::stol(args.text("poll_us", "0")), deadline);
}

void latencyFigure() {
    struct Variant {
        Variant(long poll_, const char* what_) : poll(poll_), what(what_) {}
        long poll;
        const char* what;
        std::vector<double> median, p99;
        int lost = 0;
        std::string failure;
    };
    Variant variants[] = {
        {kPollMicroseconds, "Round trip, 100 B: Kuvorecv polled with 50 us sleeps"},
        {-1, "plain UDP, blocking reads"},
        {0, "Round trip, 100 B: Kuvorecv polled without sleeping"},
    };
    for (int r = 0; r < kRepetitions; ++r)
        for (Variant& v : variants) {
            PingResult p = pingPong(v.poll);
            if (!p.ran || p.microseconds.empty()) {
                v.failure = p.failure;
                progress("  ping-pong failed: %s", p.failure.c_str());
                continue;
            }
            v.median.push_back(median(p.microseconds));
            v.p99.push_back(percentile(p.microseconds, 0.99));
            v.lost += p.lost;
            progress("latency %s #%d: median %.1f us, p99 %.1f us, %d lost", v.poll < 0 ? "raw" : "kuvo", r + 1,
                     v.median.back(), v.p99.back(), p.lost);
        }
    const Variant& raw = variants[1];
    for (const Variant* v : {&variants[0], &variants[2]}) {
        Row row{"5", v->what};
        row.target = "median <= 1.3x raw";
        if (v->median.empty() || raw.median.empty()) {
            row.kuvo = "failed: " + v->failure + raw.failure;
            row.met = "not measured";
            printRow(row);
            continue;
        }
        double ratio = pairedRatio(v->median, raw.median);
        row.kuvo = format("%.0f us median, %.0f us p99", median(v->median), median(v->p99));
        if (v->lost) row.kuvo += format(", %d lost", v->lost);
        row.baseline = format("%.0f us median, %.0f us p99", median(raw.median), median(raw.p99));
        if (raw.lost) row.baseline += format(", %d lost", raw.lost);
        row.ratio = format("%.2fx (p99 %.2fx)", ratio, pairedRatio(v->p99, raw.p99));
        row.met = metText(ratio <= 1.3);
        printRow(row);
    }
}

}  // namespace bench
