#include "bench_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

uint64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void sleepMicroseconds(long us) {
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void tightenTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0); }

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    // Linear interpolation between the closest ranks; for 0.5 the usual median.
    double rank = fraction * double(values.size() - 1);
    size_t low = size_t(rank);
    size_t high = std::min(low + 1, values.size() - 1);
    double weight = rank - double(low);
    return values[low] * (1.0 - weight) + values[high] * weight;
}

double pairedRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (b[i] != 0.0) ratios.push_back(a[i] / b[i]);
    return median(std::move(ratios));
}

// ---- message pattern ----

namespace {

constexpr uint64_t kStep = 0xD1B54A32D192ED03ull;
constexpr uint64_t kNoZeroByte = 0x0101010101010101ull;

uint64_t patternBase(uint64_t sequence, uint64_t length) {
    uint64_t x = (sequence + 1) * 0x9E3779B97F4A7C15ull ^ length;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    return x ^ (x >> 29);
}

void writeHex16(uint8_t* out, uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
        out[i] = uint8_t(digits[value & 15]);
        value >>= 4;
    }
}

bool readHex16(const uint8_t* in, uint64_t& value) {
    value = 0;
    for (int i = 0; i < 16; ++i) {
        uint8_t c = in[i];
        uint64_t digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return false;
        value = (value << 4) | digit;
    }
    return true;
}

}  // namespace

void fillMessage(uint8_t* out, size_t length, uint64_t sequence) {
    writeHex16(out, sequence);
    writeHex16(out + 16, length);
    uint64_t word = patternBase(sequence, length);
    size_t offset = kHeaderSize;
    for (; offset + 8 <= length; offset += 8, word += kStep) {
        uint64_t w = word | kNoZeroByte;
        std::memcpy(out + offset, &w, 8);
    }
    if (offset < length) {
        uint64_t w = word | kNoZeroByte;
        std::memcpy(out + offset, &w, length - offset);
    }
}

bool checkMessage(const uint8_t* data, size_t length, uint64_t& sequence) {
    uint64_t stated = 0;
    if (length < kHeaderSize || !readHex16(data, sequence) || !readHex16(data + 16, stated) ||
        stated != length)
        return false;
    uint64_t word = patternBase(sequence, length);
    uint64_t difference = 0;
    size_t offset = kHeaderSize;
    for (; offset + 8 <= length; offset += 8, word += kStep) {
        uint64_t w;
        std::memcpy(&w, data + offset, 8);
        difference |= w ^ (word | kNoZeroByte);
    }
    if (offset < length) {
        uint64_t expected = word | kNoZeroByte;
        if (std::memcmp(data + offset, &expected, length - offset) != 0) return false;
    }
    return difference == 0;
}

// ---- sockets ----

UdpSocket::~UdpSocket() {
    if (fd_ >= 0) close(fd_);
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

UdpSocket UdpSocket::bound(uint16_t port) {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return UdpSocket();
    UdpSocket s(fd);
    int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    any.sin6_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return UdpSocket();
    return s;
}

uint16_t UdpSocket::localPort() const {
    sockaddr_in6 local{};
    socklen_t size = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
    return ntohs(local.sin6_port);
}

int UdpSocket::setReceiveBuffer(int bytes) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return receiveBuffer();
}

int UdpSocket::receiveBuffer() const {
    int granted = -1;
    socklen_t size = sizeof granted;
    if (getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return -1;
    return granted;
}

void UdpSocket::setNonBlocking() { fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK); }

void UdpSocket::setReceiveTimeout(long microseconds) {
    timeval tv{microseconds / 1000000, microseconds % 1000000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

sockaddr_in6 loopback(uint16_t port) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(port);
    inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.sin6_addr);
    return to;
}

uint16_t pickPort() {
    constexpr int kFirst = 43000, kCount = 1000;
    static int next = int((uint32_t(getpid()) * 2654435761u) % kCount);
    for (int tries = 0; tries < kCount; ++tries) {
        uint16_t port = uint16_t(kFirst + next);
        next = (next + 1) % kCount;
        // A plain bind fails while anyone holds the port, with or without
        // address sharing, so a port that passes is free right now.
        if (UdpSocket::bound(port).valid()) return port;
    }
    return 0;
}

UdpSocket boundToFreePort(uint16_t& port) {
    UdpSocket socket;
    for (int tries = 0; tries < 20 && !socket.valid(); ++tries) {
        port = pickPort();
        socket = UdpSocket::bound(port);
    }
    return socket;
}

int kuvoReceiveBuffer(uint64_t handle, uint16_t port) {
    if (handle > uint64_t(INT_MAX)) return -1;
    int fd = int(handle);
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_DGRAM) return -1;
    sockaddr_in6 local{};
    size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
        local.sin6_family != AF_INET6 || ntohs(local.sin6_port) != port)
        return -1;
    int granted = -1;
    size = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return -1;
    return granted;
}

// ---- child process ----

ChildProcess::~ChildProcess() {
    if (pid_ > 0) finish(1.0);
}

bool ChildProcess::start(const std::vector<std::string>& arguments) {
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0) return false;
    if (pipe2(up, O_CLOEXEC) != 0) {
        close(down[0]);
        close(down[1]);
        return false;
    }
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made.
    std::vector<char*> argv;
    static char self[] = "/proc/self/exe";
    argv.push_back(self);
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        close(down[0]);
        close(down[1]);
        close(up[0]);
        close(up[1]);
        return false;
    }
    if (pid == 0) {
        dup2(down[0], 0);
        dup2(up[1], 1);
        execv(self, argv.data());
        _exit(127);
    }
    close(down[0]);
    close(up[1]);
    pid_ = pid;
    toChild_ = down[1];
    fromChild_ = up[0];
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool ChildProcess::readLine(std::string& line, double timeoutSeconds) {
    uint64_t deadline = nowNs() + uint64_t(timeoutSeconds * 1e9);
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        uint64_t now = nowNs();
        if (fromChild_ < 0 || now >= deadline) return false;
        pollfd p{fromChild_, POLLIN, 0};
        int waitMs = int((deadline - now) / 1000000) + 1;
        if (poll(&p, 1, waitMs) <= 0) continue;
        char chunk[512];
        ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n <= 0) {
            close(fromChild_);
            fromChild_ = -1;
            return false;
        }
        pending_.append(chunk, size_t(n));
    }
}

bool ChildProcess::writeLine(const std::string& line) {
    if (toChild_ < 0) return false;
    std::string text = line + "\n";
    return write(toChild_, text.data(), text.size()) == ssize_t(text.size());
}

int ChildProcess::finish(double timeoutSeconds) {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
    int status = -1;
    if (pid_ > 0) {
        uint64_t deadline = nowNs() + uint64_t(timeoutSeconds * 1e9);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (nowNs() >= deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            sleepMicroseconds(2000);
        }
        pid_ = -1;
    }
    if (fromChild_ >= 0) close(fromChild_);
    fromChild_ = -1;
    return status;
}

void sendToParent(const std::string& line) {
    std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}

bool lineFromParent(std::string& line, double timeoutSeconds) {
    static std::string pending;
    static bool closed = false;
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        if (closed) return false;
        pollfd p{0, POLLIN, 0};
        if (poll(&p, 1, int(timeoutSeconds * 1000)) <= 0) return false;
        char chunk[256];
        ssize_t n = read(0, chunk, sizeof chunk);
        if (n <= 0) {
            // The parent is gone or done: report it as a line of its own.
            closed = true;
            line = "eof";
            return true;
        }
        pending.append(chunk, size_t(n));
        timeoutSeconds = 0;
    }
}

// ---- table ----

void printRow(const Row& r) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", r.figure.c_str(), r.what.c_str(),
                r.kuvo.c_str(), r.baseline.c_str(), r.ratio.c_str(), r.target.c_str(),
                r.met.c_str());
    std::fflush(stdout);
}

std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string metText(bool met) { return met ? "**met**" : "not met"; }

void progress(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
}

Arguments Arguments::parse(int argc, char** argv, int first) {
    Arguments a;
    for (int i = first; i < argc; ++i) {
        std::string token = argv[i];
        size_t eq = token.find('=');
        if (eq == std::string::npos) a.pairs.emplace_back(token, "");
        else a.pairs.emplace_back(token.substr(0, eq), token.substr(eq + 1));
    }
    return a;
}

std::string Arguments::text(const std::string& key, const std::string& fallback) const {
    for (const auto& p : pairs)
        if (p.first == key) return p.second;
    return fallback;
}

uint64_t Arguments::number(const std::string& key, uint64_t fallback) const {
    std::string t = text(key);
    return t.empty() ? fallback : std::strtoull(t.c_str(), nullptr, 10);
}

}  // namespace bench
