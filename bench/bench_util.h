// Shared pieces of the Kuvo benchmark: the clock, statistics, the verifiable
// message pattern, plain UDP sockets for the baselines, loopback ports, the
// child process that plays the second host program, and the result table.
#ifndef KUVO_BENCH_UTIL_H
#define KUVO_BENCH_UTIL_H

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: one clock for every process of the machine,
// so a sender and its receiver process can compare their readings.
uint64_t nowNs();
inline double seconds(uint64_t ns) { return double(ns) * 1e-9; }
void sleepMicroseconds(long us);
// Makes short sleeps last close to what they ask (the default timer slack
// adds about 50 microseconds to each).
void tightenTimerSlack();

double median(std::vector<double> values);
double percentile(std::vector<double> values, double fraction);
// The median of a[i] / b[i] over the interleaved pairs whose b[i] is not 0.
double pairedRatio(const std::vector<double>& a, const std::vector<double>& b);

// A message of `length` bytes (at least kHeaderSize) that identifies itself
// and can be verified word by word: 16 hex digits of its sequence number,
// 16 of its length, then words derived from both. It holds no zero byte, so
// a receiver treats it like an int8 payload of the host, end to end.
constexpr size_t kHeaderSize = 32;
void fillMessage(uint8_t* out, size_t length, uint64_t sequence);
// True when `data` is exactly a message of `length` bytes made by
// fillMessage; its sequence number is stored in `sequence`.
bool checkMessage(const uint8_t* data, size_t length, uint64_t& sequence);

// An IPv6 UDP socket that also takes IPv4 peers (like Kuvo's), closed on
// destruction.
class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Opens and binds to `port` on every local address (0: any free port).
    static UdpSocket bound(uint16_t port);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    uint16_t localPort() const;
    // Asks for `bytes` of receive buffer; returns what the kernel granted.
    int setReceiveBuffer(int bytes);
    int receiveBuffer() const;
    void setNonBlocking();
    void setReceiveTimeout(long microseconds);

private:
    explicit UdpSocket(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// ::ffff:127.0.0.1 at `port`: the loopback address as Kuvo sends to it.
sockaddr_in6 loopback(uint16_t port);

// A port of 43000-43999 that nobody holds at the moment of the call (probed
// with a bind that does not share the port). 0 when none is found.
uint16_t pickPort();

// A plain UDP socket bound to a free port of pickPort's range, which is
// stored in `port`; an invalid socket when none could be bound.
UdpSocket boundToFreePort(uint16_t& port);

// The receive buffer of a Kuvo socket, read through its handle where the
// handle is the descriptor of a UDP socket bound to `port`; -1 otherwise.
int kuvoReceiveBuffer(uint64_t handle, uint16_t port);

// The second program of a figure: this executable started again with a role
// argument, its standard input and output connected to the parent by pipes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& arguments);
    // Reads one line (without its line break); false on time-out or end.
    bool readLine(std::string& line, double timeoutSeconds);
    bool writeLine(const std::string& line);
    // Waits for the child to end; kills it after `timeoutSeconds`.
    int finish(double timeoutSeconds);

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string pending_;
};

// The child's side of the pipes: lines to the parent on standard output, and
// a non-blocking look at standard input.
void sendToParent(const std::string& line);
// Reads a line from the parent if one is waiting within `timeoutSeconds`.
bool lineFromParent(std::string& line, double timeoutSeconds);

// One line of the result table.
struct Row {
    Row(std::string figure_, std::string what_, std::string kuvo_ = "", std::string baseline_ = "",
        std::string ratio_ = "", std::string target_ = "", std::string met_ = "")
        : figure(std::move(figure_)), what(std::move(what_)), kuvo(std::move(kuvo_)),
          baseline(std::move(baseline_)), ratio(std::move(ratio_)), target(std::move(target_)),
          met(std::move(met_)) {}
    std::string figure;
    std::string what;
    std::string kuvo;
    std::string baseline;
    std::string ratio;
    std::string target;
    std::string met;   // "yes", "no" or a note
};
void printRow(const Row& row);
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string metText(bool met);

// Progress goes to standard error, the table to standard output.
void progress(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// key=value arguments of a role.
struct Arguments {
    std::vector<std::pair<std::string, std::string>> pairs;
    static Arguments parse(int argc, char** argv, int first);
    std::string text(const std::string& key, const std::string& fallback = "") const;
    uint64_t number(const std::string& key, uint64_t fallback = 0) const;
};

}  // namespace bench

#endif  // KUVO_BENCH_UTIL_H
