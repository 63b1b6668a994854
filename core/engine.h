// The one engine of the process: every socket, the receiver thread that reads
// them, and the tables of partial and complete messages.
//
// Threads: the host's thread calls the exports; the receiver thread alone
// reads sockets, adopts and retires them, and alone touches watchSet,
// nextSweepTime, lastSelectTime, datagramBuffer and the values
// of receiveTable. engineMutex guards openRequests, closeRequests,
// deliveryTable and the insertion and erasure of receiveTable entries; it is
// never held while the receiver waits or while a Kuvorecv callback runs.
#ifndef KUVO_ENGINE_H
#define KUVO_ENGINE_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "kuvo.h"
#include "md5.h"
#include "platform/platform.h"
#include "records.h"
#include "select_set.h"
#include "wire_format.h"

namespace kuvo {

enum EngineState : int32_t {
    Unavailable = 0,   // the socket library did not start
    NoReceiver = 1,    // sockets work, but no receiver thread runs
    Starting = 3,
    Running = 4,
    Stopping = 5,
    Stopped = 6,       // the receiver thread has left its loop
};

// A partial message expires this many seconds after its last stored fragment.
constexpr double kMessageLifetime = 30.0;

// errno-style codes that travel from intake to the receiver loop.
constexpr int kErrnoAgain = 11;
constexpr int kErrnoNoMemory = 12;

// Holds engineMutex for a scope, when it exists and the wait succeeds.
class EngineLock {
public:
    explicit EngineLock(platform::Mutex& m) : mutex_(m), held_(m.exists() && m.lock()) {}
    ~EngineLock() { release(); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
    void release() {
        if (held_) mutex_.unlock();
        held_ = false;
    }

private:
    platform::Mutex& mutex_;
    bool held_;
};

// Outcome of one datagram taken by intakeDatagram: `value` below 0 is a
// failure whose cause is `error` (a socket error code, or kErrnoNoMemory).
struct IntakeResult {
    int32_t value;
    int error;
};

// Outcome of acceptFragment.
struct FragmentOutcome {
    enum Kind { Dropped, OutOfMemory, Stored, Complete } kind;
    uint32_t payloadLength;           // Stored
    MessageTable::iterator entry;     // Complete: the message's table entry
};

class UdpEngine {
public:
    using ReceiveTable = std::map<SocketHandle, SenderTable>;

    UdpEngine();
    ~UdpEngine();
    UdpEngine(const UdpEngine&) = delete;
    UdpEngine& operator=(const UdpEngine&) = delete;

    // Registry (registry.cpp).
    SocketHandle openSocket(const Endpoint& local);
    bool closeSocket(SocketHandle s);
    bool closePort(int32_t port);
    bool closeAll();
    void retireSocket(ReceiveTable::iterator entry);   // engineMutex held
    void dropDeliveryQueues(SocketHandle s);            // engineMutex held

    // Sending (sender.cpp).
    int32_t sendMessage(SocketHandle s, const Endpoint& to, const uint8_t* data, int32_t length);

    // Delivery (delivery.cpp).
    bool receiveMessages(SocketHandle s, uint64_t count, DataCallback onData,
                         AddressCallback onAddress, PortCallback onPort, void* userValue);

    // Receiver thread (receiver_loop.cpp, intake.cpp, reassembly.cpp).
    static void receiverThreadMain(void* engine);
    bool receiverPass();
    void sweep();
    IntakeResult intakeDatagram(ReceiveTable::iterator entry);
    FragmentOutcome acceptFragment(MessageTable& messages);
    bool queueMessage(SocketHandle s, MessagePtr message, const Endpoint& sender);

    void signalWake();
    // Adds a socket to watchSet (and the poller that waits on it) by the set's
    // rules, and takes it out again.
    void watch(SocketHandle s);
    void unwatch(SocketHandle s);

    // Fields, in the order of the engine's data model.
    ReceiveTable receiveTable;
    std::map<SocketHandle, DeliveryQueue> deliveryTable;
    SelectSet watchSet;
    platform::Poller poller;   // waits on the members of watchSet
    std::atomic<int32_t> engineState{Unavailable};
    platform::Thread receiverThread;
    platform::Mutex engineMutex;
    SocketHandle wakeReceiver = invalidSocket;
    SocketHandle wakeSender = invalidSocket;
    std::deque<SocketHandle> openRequests;
    // openRequests.size(), set under the lock, read without it: a pass takes
    // the lock for adoption only when a socket waits.
    std::atomic<size_t> pendingOpens{0};
    SelectSet closeRequests;
    // closeRequests.size(), set under the lock, read without it: the receiver
    // takes the lock per socket only while a close is pending.
    std::atomic<uint32_t> pendingCloses{0};
    double nextSweepTime;
    double lastSelectTime = 0.0;

    // Sockets opened while no receiver thread ran: registered nowhere, but
    // closed with the engine.
    std::vector<SocketHandle> sendOnlySockets;

    // Sender side: fragmented messages get ids of their own, the MD5 of a
    // random seed drawn once per engine and a per-message counter.
    uint8_t idSeed[16] = {};
    std::atomic<uint64_t> idCounter{0};

    // Receiver side: every datagram is read into this buffer.
    uint8_t datagramBuffer[wire::kDatagramBufferSize] = {};

private:
    bool createWakePair();
    void startReceiver();
};

// Process-wide engine (exports.cpp). ensureEngine creates it on first use;
// null only when not even the engine object could be allocated.
UdpEngine* ensureEngine();
UdpEngine* currentEngine();
void destroyEngine();

// Turns an address text into 16 IPv6 address bytes: a dotted text without
// ':' is read as "::FFFF:<text>". False when the text is no numeric address.
bool parseAddressText(const char* text, uint8_t address[16]);

// The text of a sender address: dotted IPv4 for mapped addresses, the
// standard IPv6 text otherwise. `out` holds 64 bytes; returns the length.
size_t addressText(const uint8_t address[16], char out[64]);

}  // namespace kuvo

#endif  // KUVO_ENGINE_H
