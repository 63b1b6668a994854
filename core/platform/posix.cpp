// The platform contract on POSIX systems: BSD sockets, poll, pthreads.
#if !defined(_WIN32)

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>
#if defined(__linux__)
#include <sys/epoll.h>
#endif
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <new>

#include "platform.h"

namespace kuvo::platform {
namespace {

thread_local int lastErrorCode = 0;

// errno values mapped to the Windows Sockets numbers that callers see on
// every system; unmapped values pass through.
int toSocketError(int e) {
    switch (e) {
        case 0: return 0;
        case EWOULDBLOCK: return kErrorWouldBlock;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN: return kErrorWouldBlock;
#endif
        case EINPROGRESS: return kErrorInProgress;
        case EMSGSIZE: return kErrorMessageSize;
        case EADDRINUSE: return kErrorAddressInUse;
        case EADDRNOTAVAIL: return kErrorAddressUnavailable;
        case EACCES: return kErrorAccess;
        case EAFNOSUPPORT: return kErrorAddressFamily;
        case EINVAL: return kErrorInvalid;
        case EBADF: return kErrorNotSocket;
        case ENOTSOCK: return kErrorNotSocket;
        case EMFILE: return kErrorTooManyFiles;
        case ENOBUFS: return kErrorNoBuffers;
        case ECONNRESET: return kErrorConnectionReset;
        case ECONNREFUSED: return kErrorConnectionRefused;
        case ENETUNREACH: return kErrorNetworkUnreachable;
        case EHOSTUNREACH: return kErrorHostUnreachable;
        default: return e;
    }
}

void setFromErrno() { lastErrorCode = toSocketError(errno); }

// Socket handles are file descriptors widened to 64 bits.
int fd(SocketHandle s) { return s > SocketHandle(INT32_MAX) ? -1 : int(s); }

sockaddr_in6 toSockaddr(const Endpoint& e) {
    sockaddr_in6 a;
    std::memset(&a, 0, sizeof a);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(e.port);
    std::memcpy(&a.sin6_addr, e.address, 16);
    return a;
}

bool setIntOption(SocketHandle s, int level, int name, int value) {
    if (setsockopt(fd(s), level, name, &value, sizeof value) == 0) return true;
    setFromErrno();
    return false;
}

TestSeam seam;

}  // namespace

TestSeam& testSeam() { return seam; }

int lastError() { return lastErrorCode; }
void setLastError(int code) { lastErrorCode = code; }

bool startup() { return !seam.failStartup; }
void cleanup() {}

SocketHandle openUdpSocket() {
    int s = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) {
        setFromErrno();
        return invalidSocket;
    }
    return SocketHandle(s);
}

bool setNonBlocking(SocketHandle s) {
    int flags = fcntl(fd(s), F_GETFL, 0);
    if (flags >= 0 && fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) == 0) return true;
    setFromErrno();
    return false;
}

bool setV6Only(SocketHandle s, bool on) { return setIntOption(s, IPPROTO_IPV6, IPV6_V6ONLY, on ? 1 : 0); }

bool setReceiveBuffer(SocketHandle s, int bytes) { return setIntOption(s, SOL_SOCKET, SO_RCVBUF, bytes); }

// POSIX wants the option as an int (a one-byte value is refused on Linux).
bool setReuseAddress(SocketHandle s) { return setIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1); }

bool bindSocket(SocketHandle s, const Endpoint& local) {
    sockaddr_in6 a = toSockaddr(local);
    if (bind(fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
    setFromErrno();
    return false;
}

bool localPort(SocketHandle s, uint16_t& port) {
    sockaddr_storage a;
    socklen_t length = sizeof a;
    if (getsockname(fd(s), reinterpret_cast<sockaddr*>(&a), &length) != 0) return false;
    if (a.ss_family == AF_INET6) {
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port);
        return true;
    }
    if (a.ss_family == AF_INET) {
        port = ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
        return true;
    }
    return false;
}

void shutdownReceive(SocketHandle s) { shutdown(fd(s), SHUT_RD); }

void closeDiscarding(SocketHandle s) {
    int f = fd(s);
    if (f < 0) return;
    int saved = errno;
    shutdown(f, SHUT_RDWR);
    char scratch[1024];
    // Bounded: a shut-down socket takes no new data, so this ends once the
    // queue is empty (or the socket is not readable without blocking).
    while (recv(f, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    close(f);
    errno = saved;
}

long sendDatagram(SocketHandle s, const void* data, size_t length, const Endpoint& to) {
    sockaddr_in6 a = toSockaddr(to);
    ssize_t r = sendto(fd(s), data, length, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r < 0) {
        setFromErrno();
        return -1;
    }
    return long(r);
}

long receiveDatagram(SocketHandle s, void* buf, size_t capacity, Endpoint& from) {
    sockaddr_storage a;
    socklen_t length = sizeof a;
    // MSG_TRUNC makes recvfrom return the datagram's real length, so an
    // oversized datagram is recognised instead of silently cut.
    ssize_t r = recvfrom(fd(s), buf, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &length);
    if (r < 0) {
        setFromErrno();
        return -1;
    }
    std::memset(&from, 0, sizeof from);
    if (a.ss_family == AF_INET6) {
        const sockaddr_in6* a6 = reinterpret_cast<const sockaddr_in6*>(&a);
        std::memcpy(from.address, &a6->sin6_addr, 16);
        from.port = ntohs(a6->sin6_port);
    } else if (a.ss_family == AF_INET) {
        const sockaddr_in* a4 = reinterpret_cast<const sockaddr_in*>(&a);
        from.address[10] = from.address[11] = 0xFF;
        std::memcpy(from.address + 12, &a4->sin_addr, 4);
        from.port = ntohs(a4->sin_port);
    }
    return long(r);
}

// Unconnected UDP sockets on POSIX never carry connection-reset reports.
void drainResetReports(SocketHandle) {}

void waitWritable(SocketHandle s, long microseconds) {
    pollfd p{fd(s), POLLOUT, 0};
    timespec t{microseconds / 1000000, (microseconds % 1000000) * 1000};
    ppoll(&p, 1, &t, nullptr);
}

bool parseAddress(const char* text, uint8_t address[16]) {
    in6_addr a;
    if (inet_pton(AF_INET6, text, &a) != 1) return false;
    std::memcpy(address, &a, 16);
    return true;
}

void formatAddress(const uint8_t address[16], char out[64]) {
    in6_addr a;
    std::memcpy(&a, address, 16);
    if (inet_ntop(AF_INET6, &a, out, 64) == nullptr) out[0] = 0;
}

// A socketpair needs no port and cannot be reached by other processes.
bool createWakePair(SocketHandle& sender, SocketHandle& receiver) {
    if (seam.failWakePair) return false;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        setFromErrno();
        return false;
    }
    if (!setNonBlocking(SocketHandle(pair[1]))) {
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    sender = SocketHandle(pair[0]);
    receiver = SocketHandle(pair[1]);
    return true;
}

void sendWakeByte(SocketHandle sender) {
    if (sender == invalidSocket) return;
    char zero = 0;
    // MSG_NOSIGNAL: a vanished peer must not raise SIGPIPE in the host.
    send(fd(sender), &zero, 1, MSG_NOSIGNAL);
}

void drainWakeBytes(SocketHandle receiver) {
    char scratch[64];
    while (recv(fd(receiver), scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
}

void closeWakeSocket(SocketHandle s) {
    if (s == invalidSocket) return;
    shutdown(fd(s), SHUT_RDWR);
    close(fd(s));
}

// Poller ---------------------------------------------------------------------
// Linux: an epoll set, so that a wait with 63 idle sockets costs what one
// ready socket costs. Elsewhere: poll over the members.

namespace {

bool takeSeamFailure() {
    if (seam.failWaits.load() <= 0) return false;
    seam.failWaits.fetch_sub(1);
    lastErrorCode = kErrorInvalid;
    return true;
}

// Milliseconds for a wait, rounded up so that a deadline is never missed;
// -1 for no limit.
int timeoutMilliseconds(double seconds) {
    if (!std::isfinite(seconds)) return -1;
    if (seconds <= 0) return 0;
    double ms = std::ceil(seconds * 1000.0);
    return ms > 2147483647.0 ? 2147483647 : int(ms);
}

}  // namespace

#if defined(__linux__) && !defined(KUVO_POLLER_POLL)

struct PollerState {
    int epoll;
};

Poller::~Poller() { destroy(); }

bool Poller::create() {
    int e = epoll_create1(EPOLL_CLOEXEC);
    if (e < 0) {
        setFromErrno();
        return false;
    }
    handle_ = new (std::nothrow) PollerState{e};
    if (handle_ == nullptr) {
        close(e);
        lastErrorCode = kErrorNoMemory;
        return false;
    }
    return true;
}

void Poller::destroy() {
    if (handle_ == nullptr) return;
    close(static_cast<PollerState*>(handle_)->epoll);
    delete static_cast<PollerState*>(handle_);
    handle_ = nullptr;
}

bool Poller::add(SocketHandle s) {
    if (handle_ == nullptr) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = s;
    if (epoll_ctl(static_cast<PollerState*>(handle_)->epoll, EPOLL_CTL_ADD, fd(s), &ev) == 0) return true;
    setFromErrno();
    return false;
}

void Poller::remove(SocketHandle s) {
    if (handle_ == nullptr) return;
    epoll_ctl(static_cast<PollerState*>(handle_)->epoll, EPOLL_CTL_DEL, fd(s), nullptr);
}

int Poller::wait(WaitItem* ready, size_t capacity, double timeoutSeconds) {
    if (takeSeamFailure() || handle_ == nullptr) return -1;
    epoll_event events[64];
    int most = int(capacity < 64 ? capacity : 64);
    int n = epoll_wait(static_cast<PollerState*>(handle_)->epoll, events, most, timeoutMilliseconds(timeoutSeconds));
    if (n < 0) {
        if (errno == EINTR) return 0;   // a signal is no failure: the pass goes on
        setFromErrno();
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        // EPOLLERR on a UDP socket is a pending ICMP report, which the next
        // read clears: readable, not a broken socket.
        ready[i] = {events[i].data.u64, true, false};
    }
    return n;
}

#else

struct PollerState {
    SocketHandle members[64];
    size_t count;
};

Poller::~Poller() { destroy(); }

bool Poller::create() {
    handle_ = new (std::nothrow) PollerState{{}, 0};
    if (handle_ == nullptr) lastErrorCode = kErrorNoMemory;
    return handle_ != nullptr;
}

void Poller::destroy() {
    delete static_cast<PollerState*>(handle_);
    handle_ = nullptr;
}

bool Poller::add(SocketHandle s) {
    PollerState* p = static_cast<PollerState*>(handle_);
    if (p == nullptr || p->count == 64) return false;
    p->members[p->count++] = s;
    return true;
}

void Poller::remove(SocketHandle s) {
    PollerState* p = static_cast<PollerState*>(handle_);
    if (p == nullptr) return;
    for (size_t i = 0; i < p->count; ++i) {
        if (p->members[i] != s) continue;
        p->members[i] = p->members[--p->count];
        return;
    }
}

int Poller::wait(WaitItem* ready, size_t capacity, double timeoutSeconds) {
    PollerState* p = static_cast<PollerState*>(handle_);
    if (takeSeamFailure() || p == nullptr) return -1;
    pollfd fds[64];
    for (size_t i = 0; i < p->count; ++i) fds[i] = {fd(p->members[i]), POLLIN, 0};
    int r = poll(fds, nfds_t(p->count), timeoutMilliseconds(timeoutSeconds));
    if (r < 0) {
        if (errno == EINTR) return 0;
        setFromErrno();
        return -1;
    }
    int n = 0;
    for (size_t i = 0; i < p->count && size_t(n) < capacity; ++i) {
        if (fds[i].revents == 0) continue;
        // POLLERR on a UDP socket is a pending ICMP report (see above).
        ready[n++] = {p->members[i], (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0,
                      (fds[i].revents & POLLNVAL) != 0};
    }
    return n;
}

#endif

// Mutex ----------------------------------------------------------------------

Mutex::~Mutex() { destroy(); }

bool Mutex::create() {
    if (seam.failMutex) return false;
    pthread_mutex_t* m = new (std::nothrow) pthread_mutex_t;
    if (m == nullptr || pthread_mutex_init(m, nullptr) != 0) {
        delete m;
        return false;
    }
    handle_ = m;
    return true;
}

void Mutex::destroy() {
    if (handle_ == nullptr) return;
    pthread_mutex_t* m = static_cast<pthread_mutex_t*>(handle_);
    pthread_mutex_destroy(m);
    delete m;
    handle_ = nullptr;
}

bool Mutex::lock() {
    return handle_ != nullptr && pthread_mutex_lock(static_cast<pthread_mutex_t*>(handle_)) == 0;
}

void Mutex::unlock() {
    if (handle_ != nullptr) pthread_mutex_unlock(static_cast<pthread_mutex_t*>(handle_));
}

// Thread ---------------------------------------------------------------------

namespace {
struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};

void* threadTrampoline(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.entry(start.argument);
    return nullptr;
}
}  // namespace

Thread::~Thread() { close(); }

bool Thread::start(void (*entry)(void*), void* argument) {
    if (seam.failThreadStart) return false;
    ThreadStart* start = new (std::nothrow) ThreadStart{entry, argument};
    pthread_t* t = new (std::nothrow) pthread_t;
    if (start == nullptr || t == nullptr || pthread_create(t, nullptr, threadTrampoline, start) != 0) {
        delete start;
        delete t;
        return false;
    }
    handle_ = t;
    return true;
}

Thread::Wait Thread::waitFor(int milliseconds) {
    if (handle_ == nullptr) return Wait::Failed;
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += long(milliseconds % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000;
    }
    pthread_t* t = static_cast<pthread_t*>(handle_);
    int r = pthread_timedjoin_np(*t, nullptr, &deadline);
    if (r == 0) {
        delete t;
        handle_ = nullptr;
        return Wait::Ended;
    }
    return r == ETIMEDOUT ? Wait::TimedOut : Wait::Failed;
}

namespace {
// Linux allows thread names of 15 characters.
void setThreadName(pthread_t thread, const char* name) {
    char shortName[16];
    std::strncpy(shortName, name, 15);
    shortName[15] = 0;
    pthread_setname_np(thread, shortName);
}
}  // namespace

void Thread::setName(const char* name) {
    if (handle_ != nullptr) setThreadName(*static_cast<pthread_t*>(handle_), name);
}

void Thread::close() {
    if (handle_ == nullptr) return;
    pthread_t* t = static_cast<pthread_t*>(handle_);
    pthread_detach(*t);
    delete t;
    handle_ = nullptr;
}

void nameCallingThread(const char* name) {
    // On Linux the main thread's name is the process's name in ps and top.
    if (long(syscall(SYS_gettid)) == long(getpid())) return;
    setThreadName(pthread_self(), name);
}

// Clock and randomness -------------------------------------------------------

double systemTime() {
    if (auto clock = seam.clock.load()) return clock();
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    // 11644473600 s lie between 1601-01-01 and 1970-01-01.
    return double(t.tv_sec) + 11644473600.0 + double(t.tv_nsec) * 1e-9;
}

void randomBytes(void* out, size_t length) {
    uint8_t* p = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < length) {
        ssize_t r = getrandom(p + done, length - done, GRND_NONBLOCK);
        if (r <= 0) break;
        done += size_t(r);
    }
    if (done == length) return;
    // No entropy source: mix time, process id and an address, enough to keep
    // two engines from drawing the same message ids.
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    uint64_t x = uint64_t(t.tv_nsec) ^ (uint64_t(t.tv_sec) << 20) ^ (uint64_t(getpid()) << 40) ^
                 uint64_t(reinterpret_cast<uintptr_t>(&t));
    for (; done < length; ++done) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        p[done] = uint8_t(x);
    }
}

}  // namespace kuvo::platform

#endif  // !_WIN32
