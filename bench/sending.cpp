// Sending rate: KuvosendBytes of 1 MiB messages against a plain sendto loop
// of 1043-byte datagrams, both to a loopback sink drained by another thread.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "figures.h"
#include "kuvo.h"

namespace bench {
namespace {

constexpr size_t kMessage = size_t(1) << 20;
constexpr uint64_t kFragments = (kMessage + 999) / 1000;
constexpr int kMessagesPerRun = 48;
constexpr int kRepetitions = 7;

// Reads and drops every datagram that reaches its port until stopped.
class Sink {
public:
    Sink() : socket_(UdpSocket::bound(0)) {
        if (!socket_.valid()) return;
        socket_.setReceiveBuffer(kReceiveBuffer);
        socket_.setReceiveTimeout(20000);
        thread_ = std::thread([this] {
            char buffer[2048];
            while (!stop_.load(std::memory_order_relaxed))
                if (recv(socket_.fd(), buffer, sizeof buffer, 0) > 0) received_.fetch_add(1, std::memory_order_relaxed);
        });
    }
    ~Sink() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    bool valid() const { return socket_.valid(); }
    uint16_t port() const { return socket_.localPort(); }
    uint64_t received() const { return received_.load(); }

private:
    UdpSocket socket_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

}  // namespace

void sendingFigure() {
    Row row{"2", "Sending, 1 MiB messages to a draining loopback sink"};
    row.target = ">= 0.85x raw";
    Sink sink;
    uint64_t handle = senderHandle();
    UdpSocket raw = UdpSocket::bound(0);
    if (!sink.valid() || handle == kInvalidHandle || !raw.valid()) {
        row.kuvo = "no socket";
        row.met = "not measured";
        printRow(row);
        return;
    }
    // The message, padded with spaces to whole fragments for the plain loop.
    std::vector<uint8_t> message(kFragments * 1000, ' ');
    fillMessage(message.data(), kMessage, 0);
    const uint16_t port = sink.port();
    const sockaddr_in6 to = loopback(port);

    auto kuvoRun = [&] {
        uint64_t failures = 0, start = nowNs();
        for (int m = 0; m < kMessagesPerRun; ++m)
            if (KuvosendBytes(handle, "127.0.0.1", port, reinterpret_cast<const char*>(message.data()),
                              int(kMessage)) != int(kMessage))
                ++failures;
        double elapsed = seconds(nowNs() - start);
        if (failures) progress("  %llu Kuvo sends failed", static_cast<unsigned long long>(failures));
        return double(kFragments * kMessagesPerRun) / elapsed;
    };
    // The same datagrams: each fragment copied into one buffer, its index
    // written, then sent.
    auto rawRun = [&] {
        uint8_t datagram[1043];
        std::memset(datagram + 1000, 'A', 43);
        uint64_t failures = 0, start = nowNs();
        for (int m = 0; m < kMessagesPerRun; ++m)
            for (uint64_t i = 0; i < kFragments; ++i) {
                std::memcpy(datagram, &message[i * 1000], 1000);
                std::memcpy(datagram + 1003, &i, 4);
                if (sendto(raw.fd(), datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to) != ssize_t(sizeof datagram))
                    ++failures;
            }
        double elapsed = seconds(nowNs() - start);
        if (failures) progress("  %llu plain sends failed", static_cast<unsigned long long>(failures));
        return double(kFragments * kMessagesPerRun) / elapsed;
    };

    kuvoRun();   // warm-up
    rawRun();
    std::vector<double> kuvo, plain;
    for (int r = 0; r < kRepetitions; ++r) {
        kuvo.push_back(kuvoRun());
        plain.push_back(rawRun());
        progress("sending #%d: kuvo %.0f datagrams/s, raw %.0f datagrams/s", r + 1, kuvo.back(), plain.back());
    }
    double ratio = pairedRatio(kuvo, plain);
    row.kuvo = format("%.0f datagrams/s", median(kuvo));
    row.baseline = format("%.0f datagrams/s (sendto loop)", median(plain));
    row.ratio = format("%.2fx", ratio);
    row.met = metText(ratio >= 0.85);
    printRow(row);
}

}  // namespace bench
