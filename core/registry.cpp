// The socket registry: every socket enters through openSocket and leaves
// through retireSocket. The close operations decide at once, under the lock,
// which sockets go and drop their queued messages; the receiver thread closes
// the sockets themselves.
#include <algorithm>
#include <new>

#include "engine.h"

namespace kuvo {
namespace {

// Large enough that a burst of fragments at full sending rate is not lost
// before the receiver thread gets to it; the kernel caps it at its maximum
// (net.core.rmem_max on Linux).
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

}  // namespace

SocketHandle UdpEngine::openSocket(const Endpoint& local) {
    if (engineState < NoReceiver) {
        platform::setLastError(platform::kErrorNotInitialised);
        return invalidSocket;
    }
    SocketHandle s = platform::openUdpSocket();
    if (s == invalidSocket) return invalidSocket;

    // Dual stack: IPv4 peers reach the same socket as ::ffff:a.b.c.d.
    bool ok = platform::setNonBlocking(s) && platform::setV6Only(s, false) &&
              platform::setReceiveBuffer(s, kReceiveBufferBytes) && platform::setReuseAddress(s) &&
              platform::bindSocket(s, local);
    if (!ok) {
        int code = platform::lastError();
        platform::closeDiscarding(s);
        platform::setLastError(code);
        return invalidSocket;
    }
    if (engineState <= NoReceiver) {
        // Send-only: no receiver thread will ever read it. The engine still
        // closes it when it is destroyed, so no descriptor outlives it.
        try {
            sendOnlySockets.push_back(s);
        } catch (const std::bad_alloc&) {
            platform::closeDiscarding(s);
            platform::setLastError(platform::kErrorNoMemory);
            return invalidSocket;
        }
        platform::shutdownReceive(s);
        return s;
    }
    EngineLock lock(engineMutex);
    try {
        openRequests.push_back(s);
        pendingOpens = openRequests.size();
    } catch (const std::bad_alloc&) {
        lock.release();
        platform::closeDiscarding(s);
        platform::setLastError(platform::kErrorNoMemory);
        return invalidSocket;
    }
    signalWake();
    return s;
}

bool UdpEngine::closeSocket(SocketHandle s) {
    {
        EngineLock lock(engineMutex);
        if (receiveTable.find(s) == receiveTable.end()) return false;
        closeRequests.add(s);
        pendingCloses = closeRequests.size();
        dropDeliveryQueues(s);
    }
    signalWake();
    return true;
}

bool UdpEngine::closePort(int32_t port) {
    {
        EngineLock lock(engineMutex);
        auto match = std::find_if(receiveTable.begin(), receiveTable.end(), [port](const auto& entry) {
            uint16_t local;
            return platform::localPort(entry.first, local) && int32_t(local) == port;
        });
        if (match == receiveTable.end()) return false;
        closeRequests.add(match->first);
        pendingCloses = closeRequests.size();
        dropDeliveryQueues(match->first);
    }
    signalWake();
    return true;
}

bool UdpEngine::closeAll() {
    EngineLock lock(engineMutex);
    while (!openRequests.empty()) {
        platform::closeDiscarding(openRequests.front());
        openRequests.pop_front();
    }
    pendingOpens = 0;
    while (!deliveryTable.empty()) dropDeliveryQueues(deliveryTable.begin()->first);

    switch (engineState.load()) {
        case Running:
            for (const auto& entry : receiveTable) closeRequests.add(entry.first);
            pendingCloses = closeRequests.size();
            lock.release();
            signalWake();
            return true;
        case Unavailable:
        case NoReceiver:
            // No receiver thread: close everything here and now.
            while (!receiveTable.empty()) retireSocket(receiveTable.begin());
            return true;
        default:   // Starting, Stopping, Stopped
            return false;
    }
}

void UdpEngine::retireSocket(ReceiveTable::iterator entry) {
    SocketHandle s = entry->first;
    unwatch(s);
    platform::closeDiscarding(s);
    receiveTable.erase(entry);   // frees every partial message of the socket
}

void UdpEngine::dropDeliveryQueues(SocketHandle s) { deliveryTable.erase(s); }

}  // namespace kuvo
