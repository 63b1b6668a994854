// Loopback transfer between two processes: this process sends, a child
// process of the same executable receives and verifies every message. Kuvo
// runs (KuvosendBytes, Kuvorecv) alternate with plain UDP runs that move the
// same bytes in datagrams of the same sizes.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "figures.h"
#include "kuvo.h"

namespace bench {
namespace {

constexpr int kRepetitions = 5;
// Once the sender is done, a receiver that sees nothing new for this long
// reports what it has.
constexpr double kIdleSeconds = 0.3;

// The datagrams a message of `size` bytes travels in.
struct Split {
    uint64_t perMessage;   // datagrams per message
    size_t datagram;       // bytes of each datagram
    size_t lastPayload;    // message bytes in the last datagram
    size_t payload(uint64_t index) const { return index % perMessage == perMessage - 1 ? lastPayload : 1000; }
};

Split splitOf(size_t size) {
    if (size <= 1000) return {1, size, size};
    uint64_t n = (size + 999) / 1000;
    return {n, 1043, size - (n - 1) * 1000};
}

bool acceptAll(const char*, uint64_t, uint32_t, uint32_t, void*) { return true; }
bool acceptPort(uint16_t, uint32_t, uint32_t, void*) { return true; }

// What a receiver has verified so far.
struct Tally {
    size_t size = 0;
    std::vector<bool> seen;
    uint64_t intact = 0;
    uint64_t bad = 0;
    double bytes = 0;
    uint64_t lastNs = 0;
    uint64_t delivered = 0;

    void take(const uint8_t* data, size_t length, size_t bytesWorth) {
        ++delivered;
        uint64_t sequence = 0;
        if (length == size && checkMessage(data, length, sequence) && sequence < seen.size() &&
            !seen[sequence]) {
            seen[sequence] = true;
            ++intact;
            bytes += double(bytesWorth);
            lastNs = nowNs();
        } else {
            ++bad;
        }
    }
};

bool tallyMessage(const char* data, uint32_t length, uint32_t, uint32_t, void* user) {
    auto* tally = static_cast<Tally*>(user);
    tally->take(reinterpret_cast<const uint8_t*>(data), length, length);
    return true;
}

// When the receiver stops: everything arrived, the sender is done and the
// line has gone quiet, or the hard deadline passed.
struct Stopwatch {
    uint64_t expected;
    uint64_t hardDeadline;
    uint64_t doneAt = 0;
    uint64_t lastProgress = 0;

    void listen() {
        std::string line;
        if (doneAt == 0 && lineFromParent(line, 0)) {
            doneAt = nowNs();
            unsigned long long sent = 0;
            if (std::sscanf(line.c_str(), "done %llu", &sent) == 1 && sent < expected) expected = sent;
        }
    }
    bool over(uint64_t intact) const {
        uint64_t now = nowNs();
        if (intact >= expected || now >= hardDeadline) return true;
        if (doneAt == 0) return false;
        uint64_t quietSince = std::max(doneAt, lastProgress);
        return now - quietSince > uint64_t(kIdleSeconds * 1e9);
    }
};

int kuvoReceiver(const Arguments& args) {
    Tally tally;
    tally.size = args.number("size");
    uint64_t count = args.number("count");
    int sockets = int(args.number("sockets", 1));
    tally.seen.assign(count, false);

    uint64_t traffic = kInvalidHandle;
    uint16_t port = 0;
    for (int i = 0; i < sockets; ++i) {
        traffic = openKuvoSocket(port);
        if (traffic == kInvalidHandle) {
            sendToParent(format("failed Kuvoinit %d (socket %d)", lastSocketError(), i + 1));
            return 1;
        }
    }
    sendToParent(format("ready %u %d", port, kuvoReceiveBuffer(traffic, port)));

    Stopwatch watch{count, nowNs() + uint64_t(args.number("deadline_ms", 20000)) * 1000000};
    while (!watch.over(tally.intact)) {
        uint64_t before = tally.delivered;
        Kuvorecv(traffic, UINT64_MAX, tallyMessage, acceptAll, acceptPort, &tally);
        if (tally.delivered != before) {
            watch.lastProgress = nowNs();
        } else {
            watch.listen();
            sleepMicroseconds(kBulkPollMicroseconds);
        }
    }
    sendToParent(format("result %" PRIu64 " %.0f %" PRIu64 " %" PRIu64 " %" PRIu64, tally.intact,
                        tally.bytes, tally.lastNs, tally.bad, tally.intact));
    releaseUDP();
    return 0;
}

int rawReceiver(const Arguments& args) {
    size_t size = args.number("size");
    uint64_t count = args.number("count");
    Split split = splitOf(size);
    Tally tally;
    tally.size = split.datagram;
    tally.seen.assign(count * split.perMessage, false);

    uint16_t port = 0;
    UdpSocket socket = boundToFreePort(port);
    if (!socket.valid()) {
        sendToParent("failed bind");
        return 1;
    }
    int granted = socket.setReceiveBuffer(int(args.number("rcvbuf", kReceiveBuffer)));
    socket.setNonBlocking();
    sendToParent(format("ready %u %d", port, granted));

    Stopwatch watch{tally.seen.size(), nowNs() + uint64_t(args.number("deadline_ms", 20000)) * 1000000};
    uint8_t buffer[2048];
    bool parentOpen = true;
    while (!watch.over(tally.intact)) {
        pollfd fds[2] = {{socket.fd(), POLLIN, 0}, {0, POLLIN, 0}};
        int ready = poll(fds, parentOpen ? 2 : 1, 10);
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            uint64_t before = tally.delivered;
            for (;;) {
                ssize_t n = recv(socket.fd(), buffer, sizeof buffer, 0);
                if (n < 0) break;
                uint64_t sequence = 0;
                size_t worth = 0;
                if (size_t(n) == split.datagram && checkMessage(buffer, size_t(n), sequence))
                    worth = split.payload(sequence);
                tally.take(buffer, size_t(n), worth);
            }
            if (tally.delivered != before) watch.lastProgress = nowNs();
        }
        if (parentOpen && fds[1].revents) {
            watch.listen();
            if (watch.doneAt != 0) parentOpen = false;
        }
    }
    uint64_t whole = 0;
    for (uint64_t m = 0; m < count; ++m) {
        bool all = true;
        for (uint64_t d = m * split.perMessage; all && d < (m + 1) * split.perMessage; ++d)
            all = tally.seen[d];
        whole += all;
    }
    sendToParent(format("result %" PRIu64 " %.0f %" PRIu64 " %" PRIu64 " %" PRIu64, tally.intact,
                        tally.bytes, tally.lastNs, tally.bad, whole));
    return 0;
}

}  // namespace

uint64_t openKuvoSocket(uint16_t& port) {
    for (int tries = 0; tries < 20; ++tries) {
        port = pickPort();
        if (port == 0) break;
        uint64_t h = Kuvoinit(port);
        if (h != kInvalidHandle) return h;
    }
    return kInvalidHandle;
}

uint64_t senderHandle() {
    static uint16_t port = 0;
    static uint64_t handle = openKuvoSocket(port);
    return handle;
}

int receiverRole(const Arguments& args) {
    return args.text("mode") == "raw" ? rawReceiver(args) : kuvoReceiver(args);
}

TransferResult runTransfer(const TransferPlan& plan) {
    TransferResult result;
    Split split = splitOf(plan.size);

    // Everything is built before the clock starts.
    std::vector<uint8_t> bytes;
    if (plan.kuvo) {
        bytes.resize(plan.count * plan.size);
        for (uint64_t m = 0; m < plan.count; ++m) fillMessage(&bytes[m * plan.size], plan.size, m);
    } else {
        uint64_t datagrams = plan.count * split.perMessage;
        bytes.resize(datagrams * split.datagram);
        for (uint64_t d = 0; d < datagrams; ++d)
            fillMessage(&bytes[d * split.datagram], split.datagram, d);
    }
    uint64_t handle = plan.kuvo ? senderHandle() : kInvalidHandle;
    UdpSocket raw = plan.kuvo ? UdpSocket() : UdpSocket::bound(0);
    if (plan.kuvo ? handle == kInvalidHandle : !raw.valid()) {
        result.failure = "no sending socket";
        return result;
    }

    ChildProcess child;
    double deadline = plan.sendSeconds + 10.0;
    if (!child.start({"role", "recv", plan.kuvo ? "mode=kuvo" : "mode=raw",
                      format("size=%zu", plan.size), format("count=%" PRIu64, plan.count),
                      format("sockets=%d", plan.sockets), format("rcvbuf=%d", plan.receiveBuffer),
                      format("deadline_ms=%.0f", deadline * 1000)})) {
        result.failure = "cannot start the receiver";
        return result;
    }
    std::string line;
    unsigned port = 0;
    if (!child.readLine(line, 10.0) ||
        std::sscanf(line.c_str(), "ready %u %d", &port, &result.receiveBuffer) != 2) {
        result.failure = "receiver: " + line;
        child.finish(1.0);
        return result;
    }

    uint64_t limit = uint64_t(plan.sendSeconds * 1e9);
    uint64_t start = nowNs();
    if (plan.kuvo) {
        for (uint64_t m = 0; m < plan.count; ++m) {
            if (m % 16 == 0 && nowNs() - start > limit) break;
            int sent = KuvosendBytes(handle, "127.0.0.1", int(port),
                                     reinterpret_cast<const char*>(&bytes[m * plan.size]), int(plan.size));
            if (sent != int(plan.size)) ++result.sendFailures;
            ++result.sent;
        }
        result.sentBytes = double(result.sent) * double(plan.size);
    } else {
        sockaddr_in6 to = loopback(uint16_t(port));
        uint64_t datagrams = plan.count * split.perMessage;
        uint64_t d = 0;
        for (; d < datagrams; ++d) {
            if (d % 64 == 0 && nowNs() - start > limit) break;
            if (sendto(raw.fd(), &bytes[d * split.datagram], split.datagram, 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to) != ssize_t(split.datagram))
                ++result.sendFailures;
        }
        result.sent = d;
        for (uint64_t i = 0; i < d; ++i) result.sentBytes += double(split.payload(i));
    }
    uint64_t end = nowNs();
    // Messages for a Kuvo receiver, datagrams for a plain one.
    child.writeLine(format("done %" PRIu64, result.sent));

    unsigned long long intact = 0, lastNs = 0, bad = 0, whole = 0;
    double intactBytes = 0;
    if (!child.readLine(line, deadline + 5.0) ||
        std::sscanf(line.c_str(), "result %llu %lf %llu %llu %llu", &intact, &intactBytes, &lastNs, &bad,
                    &whole) != 5) {
        result.failure = "receiver gave no result: " + line;
        child.finish(1.0);
        return result;
    }
    child.finish(5.0);
    result.ran = true;
    result.intact = intact;
    result.intactMessages = whole;
    result.intactBytes = intactBytes;
    result.elapsed = seconds(std::max<uint64_t>(end, lastNs) - start);
    return result;
}

namespace {

struct Series {
    std::vector<double> goodput, loss, intactShare, messageShare, elapsed;
    int failures = 0;
    std::string lastFailure;
    int buffer = -1;

    void add(const TransferResult& r, double messages) {
        if (!r.ran) {
            ++failures;
            lastFailure = r.failure;
            progress("  run failed: %s", r.failure.c_str());
            return;
        }
        goodput.push_back(r.goodput());
        loss.push_back(r.byteLoss());
        intactShare.push_back(r.sent ? double(r.intact) / double(r.sent) : 0.0);
        messageShare.push_back(messages > 0 ? double(r.intactMessages) / messages : 0.0);
        elapsed.push_back(r.elapsed);
        buffer = r.receiveBuffer;
    }
    bool empty() const { return goodput.empty(); }
};

std::string sizeName(size_t size) {
    if (size >= 1000000) return format("%zu MB", size / 1000000);
    if (size >= 1000) return format("%zu kB", size / 1000);
    return format("%zu B", size);
}

std::string percent(double fraction) {
    double p = fraction * 100.0;
    return format(p != 0.0 && p < 0.1 ? "%.3f%%" : "%.1f%%", p);
}

}  // namespace

void transferFigure() {
    const size_t sizes[] = {1000, 64000, 1000000, 16000000, 128000000};
    for (size_t size : sizes) {
        // About 64 MB per run; the 128 MB run is one message.
        uint64_t count = size >= 128000000 ? 1 : std::max<uint64_t>(1, 64000000 / size);
        int repetitions = kRepetitions;
        Series kuvo, raw;
        uint64_t started = nowNs();
        for (int r = 0; r < repetitions; ++r) {
            TransferResult k = runTransfer({true, size, count});
            kuvo.add(k, double(k.sent));
            TransferResult u = runTransfer({false, size, count});
            raw.add(u, double(u.sent / splitOf(size).perMessage));
            progress("transfer %s #%d: kuvo %.0f MB/s (%s intact), raw %.0f MB/s (%s loss)",
                     sizeName(size).c_str(), r + 1, k.goodput(),
                     percent(k.sent ? double(k.intact) / double(k.sent) : 0).c_str(), u.goodput(),
                     percent(u.byteLoss()).c_str());
        }
        progress("transfer %s: %.1f s", sizeName(size).c_str(), seconds(nowNs() - started));
        Row row{"3", format("Transfer, %s messages (x%" PRIu64 ", %d runs)", sizeName(size).c_str(), count,
                            repetitions)};
        row.target = ">= 0.8x raw, loss <= raw";
        if (kuvo.empty() || raw.empty()) {
            row.kuvo = kuvo.empty() ? "failed: " + kuvo.lastFailure : "";
            row.baseline = raw.empty() ? "failed: " + raw.lastFailure : "";
            row.met = "not measured";
            printRow(row);
            continue;
        }
        double ratio = pairedRatio(kuvo.goodput, raw.goodput);
        double kuvoLoss = median(kuvo.loss), rawLoss = median(raw.loss);
        row.kuvo = format("%.0f MB/s, %s intact", median(kuvo.goodput), percent(median(kuvo.intactShare)).c_str());
        row.baseline = format("%.0f MB/s, %s loss", median(raw.goodput), percent(rawLoss).c_str());
        if (splitOf(size).perMessage > 1)
            row.baseline += format(" (%s of messages whole)", percent(median(raw.messageShare)).c_str());
        row.ratio = format("%.2fx", ratio);
        row.met = metText(ratio >= 0.8 && kuvoLoss <= rawLoss + 1e-9);
        printRow(row);
    }
}

void smallMessageFigure() {
    constexpr size_t kSize = 100;
    constexpr uint64_t kCount = 100000;
    Series kuvo, raw;
    std::vector<double> kuvoRate, rawRate;
    for (int r = 0; r < kRepetitions; ++r) {
        TransferResult k = runTransfer({true, kSize, kCount, 1, 2.0});
        TransferResult u = runTransfer({false, kSize, kCount, 1, 2.0});
        kuvo.add(k, double(k.sent));
        raw.add(u, double(u.sent));
        if (k.ran && u.ran) {
            kuvoRate.push_back(double(k.intact) / k.elapsed);
            rawRate.push_back(double(u.intact) / u.elapsed);
            progress("small #%d: kuvo %.0f msg/s (%s intact), raw %.0f msg/s (%s loss)", r + 1,
                     kuvoRate.back(), percent(double(k.intact) / double(k.sent)).c_str(), rawRate.back(),
                     percent(u.byteLoss()).c_str());
        }
    }
    Row row{"4", "Small messages, 100 B, delivered end to end"};
    row.target = ">= 0.7x raw";
    if (kuvoRate.empty()) {
        row.kuvo = "failed: " + kuvo.lastFailure + raw.lastFailure;
        row.met = "not measured";
        printRow(row);
        return;
    }
    double ratio = pairedRatio(kuvoRate, rawRate);
    row.kuvo = format("%.0f msg/s, %s intact", median(kuvoRate), percent(median(kuvo.intactShare)).c_str());
    row.baseline = format("%.0f msg/s, %s loss", median(rawRate), percent(median(raw.loss)).c_str());
    row.ratio = format("%.2fx", ratio);
    row.met = metText(ratio >= 0.7);
    printRow(row);
}

void scaleFigure() {
    constexpr size_t kSize = 1000000;
    constexpr uint64_t kCount = 64;
    const int counts[] = {1, 16, 63};
    std::map<int, Series> series;
    for (int r = 0; r < kRepetitions; ++r) {
        for (int sockets : counts) {
            TransferResult k = runTransfer({true, kSize, kCount, sockets});
            series[sockets].add(k, double(k.sent));
            progress("scale %d sockets #%d: %.0f MB/s", sockets, r + 1, k.goodput());
        }
    }
    for (int sockets : counts) {
        Series& s = series[sockets];
        Row row{"6", format("Transfer, 1 MB messages, %d socket%s open in the receiver", sockets,
                            sockets == 1 ? "" : "s")};
        if (s.empty() || series[1].empty()) {
            row.kuvo = "failed: " + s.lastFailure;
            row.met = "not measured";
            printRow(row);
            continue;
        }
        row.kuvo = format("%.0f MB/s, %s intact", median(s.goodput), percent(median(s.intactShare)).c_str());
        if (sockets == 1) {
            row.baseline = "(reference)";
            row.ratio = "1.00x";
            row.target = "-";
            row.met = "-";
        } else {
            double ratio = pairedRatio(s.goodput, series[1].goodput);
            row.baseline = format("%.0f MB/s with 1 socket", median(series[1].goodput));
            row.ratio = format("%.2fx", ratio);
            row.target = sockets == 63 ? ">= 0.8x of 1 socket" : "-";
            row.met = sockets == 63 ? metText(ratio >= 0.8) : "-";
        }
        printRow(row);
    }
}

int kuvoSocketBuffer() {
    uint16_t port = 0;
    uint64_t h = openKuvoSocket(port);
    if (h == kInvalidHandle) return -1;
    int granted = kuvoReceiveBuffer(h, port);
    Kuvoclose(h);
    return granted;
}

// Figure 7: the Octave runs' wall times (written by bench/octave/values_bench.m)
// against udpport and against the C-level transfer of the same byte count,
// which the Octave sender runs in turns with its own.
void octaveRows(const std::string& resultsFile) {
    std::ifstream in(resultsFile);
    struct Payload {
        std::string title;
        uint64_t bytes = 0;
        std::vector<double> kuvo, udp;   // seconds; NaN for a run that failed
        std::vector<double> cLevel;      // seconds of one C-level message
        std::vector<bool> udpComplete;   // every byte arrived, unchanged
        std::vector<double> udpShare;    // share of the bytes that arrived
    };
    std::map<std::string, Payload> payloads;
    std::vector<std::string> order;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, name;
        words >> kind >> name;
        if (kind.empty() || name.empty()) continue;
        if (!payloads.count(name)) order.push_back(name);
        Payload& p = payloads[name];
        if (kind == "payload") {
            words >> p.bytes;
            std::getline(words, p.title);
            if (!p.title.empty() && p.title[0] == ' ') p.title.erase(0, 1);
        } else if (kind == "kuvo") {
            double t = NAN;
            int ok = 0;
            words >> t >> ok;
            p.kuvo.push_back(ok ? t : NAN);
        } else if (kind == "clevel") {
            double t = NAN;
            int ok = 0;
            words >> t >> ok;
            p.cLevel.push_back(ok ? t : NAN);
        } else if (kind == "udp") {
            double t = NAN, share = 0;
            int ok = 0;
            words >> t >> ok >> share;
            p.udp.push_back(share > 0 ? t : NAN);
            p.udpComplete.push_back(ok != 0);
            p.udpShare.push_back(share);
        }
    }
    if (order.empty()) {
        printRow({"7", "From Octave", "no results", "-", "-", "faster than udpport", "not measured"});
        return;
    }
    auto valid = [](const std::vector<double>& v) {
        std::vector<double> out;
        for (double x : v)
            if (!std::isnan(x)) out.push_back(x);
        return out;
    };
    for (const std::string& name : order) {
        Payload& p = payloads[name];
        std::vector<double> kuvoOk = valid(p.kuvo), udpOk = valid(p.udp), cOk = valid(p.cLevel);
        std::vector<double> pairK, pairU;
        for (size_t i = 0; i < p.kuvo.size() && i < p.udp.size(); ++i)
            if (!std::isnan(p.kuvo[i]) && !std::isnan(p.udp[i])) {
                pairK.push_back(p.kuvo[i]);
                pairU.push_back(p.udp[i]);
            }

        Row vsUdp{"7", format("Octave, %s (%.2f MB), wall time", p.title.c_str(), double(p.bytes) / 1e6)};
        vsUdp.target = "faster than udpport";
        size_t complete = 0;
        for (bool c : p.udpComplete) complete += c;
        vsUdp.kuvo = kuvoOk.empty() ? "no intact run"
                                    : format("%.1f ms (%zu/%zu intact)", median(kuvoOk) * 1e3, kuvoOk.size(),
                                             p.kuvo.size());
        if (udpOk.empty()) {
            vsUdp.baseline = "udpport: nothing arrived";
            vsUdp.ratio = "-";
            vsUdp.met = metText(!kuvoOk.empty());
        } else {
            double ratio = pairK.empty() ? NAN : pairedRatio(pairK, pairU);
            vsUdp.baseline = format("%.1f ms with udpport (%zu/%zu complete, median %s of the bytes)",
                                    median(udpOk) * 1e3, complete, p.udp.size(),
                                    percent(median(p.udpShare)).c_str());
            vsUdp.ratio = std::isnan(ratio) ? "-" : format("%.2fx time", ratio);
            bool allIntact = kuvoOk.size() == p.kuvo.size() && !kuvoOk.empty();
            bool udpLossy = 2 * complete < p.udp.size();
            if (std::isnan(ratio)) vsUdp.met = "not measured";
            else if (ratio < 1.0) vsUdp.met = metText(true);
            else if (allIntact && udpLossy) vsUdp.met = "**met**: udpport did not deliver it whole";
            else vsUdp.met = metText(false);
        }
        printRow(vsUdp);

        Row vsC{"7", format("Octave, %s: gateway overhead", p.title.c_str())};
        vsC.target = "< 25% over C level";
        // Overhead per turn: the Octave run against the C-level run next to it.
        std::vector<double> octave, c;
        for (size_t i = 0; i < p.kuvo.size() && i < p.cLevel.size(); ++i)
            if (!std::isnan(p.kuvo[i]) && !std::isnan(p.cLevel[i])) {
                octave.push_back(p.kuvo[i]);
                c.push_back(p.cLevel[i]);
            }
        vsC.kuvo = kuvoOk.empty() ? "no intact run" : format("%.1f ms from Octave", median(kuvoOk) * 1e3);
        vsC.baseline = cOk.empty() ? "C level: no intact run"
                                   : format("%.1f ms C level (%zu/%zu intact)", median(cOk) * 1e3, cOk.size(),
                                            p.cLevel.size());
        if (octave.empty()) {
            vsC.met = "not measured";
        } else {
            double ratio = pairedRatio(octave, c);
            vsC.ratio = format("%+.0f%%", (ratio - 1.0) * 100.0);
            vsC.met = metText(ratio < 1.25);
        }
        printRow(vsC);
    }
}

}  // namespace bench
