// The platform contract of the Kuvo core: sockets, readiness, the mutex, the
// receiver thread, the clock, thread names, random bytes and the per-thread
// socket error slot. Exactly one implementation file is built per system
// (posix.cpp, win32.cpp); no other file of the core includes a socket or
// thread header.
//
// Error codes use the Windows Sockets numbering on every system, so callers
// see the same numbers everywhere (see the kError constants).
#ifndef KUVO_PLATFORM_H
#define KUVO_PLATFORM_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kuvo {

using SocketHandle = uint64_t;
constexpr SocketHandle invalidSocket = ~SocketHandle(0);

// A peer or local address: 16 IPv6 address bytes in network order (IPv4 in
// the mapped form ::ffff:a.b.c.d) and a port in host order.
struct Endpoint {
    uint8_t address[16];
    uint16_t port;
};

namespace platform {

// Socket error codes, Windows Sockets numbering.
enum : int {
    kErrorNoMemory = 8,
    kErrorAccess = 10013,
    kErrorInvalid = 10022,
    kErrorTooManyFiles = 10024,
    kErrorWouldBlock = 10035,
    kErrorInProgress = 10036,
    kErrorNotSocket = 10038,
    kErrorMessageSize = 10040,
    kErrorAddressFamily = 10047,
    kErrorAddressInUse = 10048,
    kErrorAddressUnavailable = 10049,
    kErrorNetworkUnreachable = 10051,
    kErrorConnectionReset = 10054,
    kErrorNoBuffers = 10055,
    kErrorConnectionRefused = 10061,
    kErrorHostUnreachable = 10065,
    kErrorNotInitialised = 10093,
};

// The calling thread's last socket error. Every failing call below sets it.
int lastError();
void setLastError(int code);

// Starts and stops the socket library (a no-op pair on POSIX).
bool startup();
void cleanup();

// A non-blocking-capable AF_INET6 UDP socket, never inherited by child
// processes. invalidSocket on failure.
SocketHandle openUdpSocket();

// Socket options of a UDP socket; false on failure.
bool setNonBlocking(SocketHandle s);
bool setV6Only(SocketHandle s, bool on);
bool setReceiveBuffer(SocketHandle s, int bytes);
bool setReuseAddress(SocketHandle s);
bool bindSocket(SocketHandle s, const Endpoint& local);

// The local port of a bound AF_INET or AF_INET6 socket; false when the address
// cannot be read or has another family.
bool localPort(SocketHandle s, uint16_t& port);

void shutdownReceive(SocketHandle s);
// Shuts the socket down both ways, discards what is still queued and closes it.
void closeDiscarding(SocketHandle s);

// Sends one datagram; returns the bytes taken or -1 (error in lastError()).
long sendDatagram(SocketHandle s, const void* data, size_t length, const Endpoint& to);

// Reads one datagram into buf. Returns its full length, which exceeds
// `capacity` when the datagram was longer than the buffer (then only
// `capacity` bytes were stored), or -1 with lastError() set: kErrorWouldBlock
// when nothing is waiting.
long receiveDatagram(SocketHandle s, void* buf, size_t capacity, Endpoint& from);

// Takes pending connection-reset reports off a UDP socket after a send, so
// that the receiver's next read does not fail on them. Nothing to do where
// unconnected UDP sockets never carry such reports.
void drainResetReports(SocketHandle s);

// Waits at most `microseconds` for the socket to accept a datagram.
void waitWritable(SocketHandle s, long microseconds);

// Address texts: numeric AF_INET6 conversion; false when the text is no
// address. formatAddress writes the standard text (at most 63 characters and
// a terminating zero) into out[64].
bool parseAddress(const char* text, uint8_t address[16]);
void formatAddress(const uint8_t address[16], char out[64]);

// The wake pair: a connected pair of sockets whose receiving end is
// non-blocking and can be waited on like the UDP sockets.
bool createWakePair(SocketHandle& sender, SocketHandle& receiver);
void sendWakeByte(SocketHandle sender);
void drainWakeBytes(SocketHandle receiver);
void closeWakeSocket(SocketHandle s);

// One socket that a readiness wait found ready.
struct WaitItem {
    SocketHandle socket;
    bool readable;
    bool failed;   // the socket itself is unusable
};

// The sockets the receiver thread waits on, kept between waits so that a
// wait costs what the ready sockets cost, not what the watched ones do.
class Poller {
public:
    Poller() = default;
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    bool create();
    void destroy();
    bool exists() const { return handle_ != nullptr; }
    bool add(SocketHandle s);
    void remove(SocketHandle s);

    // Waits until a member is readable or failed, or until `timeoutSeconds`
    // have passed (+infinity: no limit). Fills `ready` with at most
    // `capacity` ready members and returns their number, 0 on time-out, -1
    // on failure.
    int wait(WaitItem* ready, size_t capacity, double timeoutSeconds);

private:
    void* handle_ = nullptr;
};

// The one mutex of the engine. lock() may fail (then the lock is not held).
class Mutex {
public:
    Mutex() = default;
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool create();
    void destroy();
    bool exists() const { return handle_ != nullptr; }
    bool lock();
    void unlock();

private:
    void* handle_ = nullptr;
};

// A joinable thread.
class Thread {
public:
    enum class Wait { Ended, TimedOut, Failed };

    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool start(void (*entry)(void*), void* argument);
    bool exists() const { return handle_ != nullptr; }
    // Waits up to `milliseconds` for the thread to end; an ended thread is
    // joined and its handle released.
    Wait waitFor(int milliseconds);
    // Gives the thread a name for debuggers and system tools.
    void setName(const char* name);
    // Releases the handle of a thread that has ended (or detaches it).
    void close();

private:
    void* handle_ = nullptr;
};

// Names the calling thread, unless it is the process's main thread (whose
// name is the process's name on some systems).
void nameCallingThread(const char* name);

// System time in seconds since 1601-01-01 00:00 UTC.
double systemTime();

// Cryptographically random bytes (falls back to time and address entropy).
void randomBytes(void* out, size_t length);

// Test seam: lets tests drive states the platform rarely reaches. All flags
// are off in production; tests set and reset them.
struct TestSeam {
    std::atomic<bool> failStartup{false};         // startup() fails
    std::atomic<bool> failMutex{false};           // Mutex::create() fails
    std::atomic<bool> failWakePair{false};        // createWakePair() fails
    std::atomic<bool> failThreadStart{false};     // Thread::start() fails
    std::atomic<int> failWaits{0};                // the next N Poller::wait() calls fail
    std::atomic<double (*)()> clock{nullptr};     // replaces systemTime()
};
TestSeam& testSeam();

}  // namespace platform
}  // namespace kuvo

#endif  // KUVO_PLATFORM_H
