// The receiver thread: one pass waits for the watched sockets, drains the wake
// pair, adopts new sockets, then visits every registered socket in ascending
// handle order to close it, retire it, or read one datagram from it, and
// finally sweeps out partial messages whose fragments stopped coming.
#include <cmath>
#include <limits>

#include "engine.h"

namespace kuvo {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

void UdpEngine::receiverThreadMain(void* argument) {
    UdpEngine* e = static_cast<UdpEngine*>(argument);
    int32_t expected = Starting;
    if (!e->engineState.compare_exchange_strong(expected, Running)) return;
    e->nextSweepTime = kInfinity;
    while (e->engineState != Stopping && e->receiverPass()) {
    }
    e->engineState = Stopped;
}

bool UdpEngine::receiverPass() {
    // The sockets the wait found ready; sockets adopted in this pass are not
    // among them and are read from the next pass on.
    platform::WaitItem ready[SelectSet::kCapacity];
    double timeout = std::isinf(nextSweepTime) ? kInfinity : nextSweepTime - lastSelectTime;
    int readyCount = poller.wait(ready, SelectSet::kCapacity, timeout);
    if (readyCount < 0) return false;
    lastSelectTime = platform::systemTime();

    auto find = [&](SocketHandle s) -> const platform::WaitItem* {
        for (int i = 0; i < readyCount; ++i)
            if (ready[i].socket == s) return &ready[i];
        return nullptr;
    };
    if (const platform::WaitItem* wake = find(wakeReceiver); wake != nullptr && wake->readable)
        platform::drainWakeBytes(wakeReceiver);

    if (pendingOpens.load() != 0) {
        EngineLock lock(engineMutex);
        while (!openRequests.empty()) {
            SocketHandle s = openRequests.front();
            watch(s);
            receiveTable.try_emplace(s);
            openRequests.pop_front();
        }
        pendingOpens = 0;
    }

    for (auto entry = receiveTable.begin(); entry != receiveTable.end();) {
        auto next = std::next(entry);
        SocketHandle s = entry->first;
        if (pendingCloses.load() != 0) {
            EngineLock lock(engineMutex);
            if (closeRequests.contains(s)) {
                closeRequests.remove(s);
                pendingCloses = closeRequests.size();
                retireSocket(entry);
                entry = next;
                continue;
            }
        }
        const platform::WaitItem* item = find(s);
        if (item != nullptr && item->failed) {
            EngineLock lock(engineMutex);
            retireSocket(entry);
        } else if (item != nullptr && item->readable) {
            IntakeResult r = intakeDatagram(entry);
            if (r.value < 0 && r.error != kErrnoNoMemory) {
                EngineLock lock(engineMutex);
                retireSocket(entry);
            } else if (std::isinf(nextSweepTime)) {
                nextSweepTime = -kInfinity;   // sweep at the end of this pass
            }
        }
        entry = next;
    }

    if (nextSweepTime <= lastSelectTime) sweep();
    return true;
}

void UdpEngine::sweep() {
    nextSweepTime = lastSelectTime + kMessageLifetime;
    bool live = false;
    for (auto& socket : receiveTable) {
        SenderTable& senders = socket.second;
        for (auto sender = senders.begin(); sender != senders.end();) {
            MessageTable& messages = sender->second;
            for (auto m = messages.begin(); m != messages.end();) {
                const ReceivedMessage& message = *m->second;
                if (message.remainingFragments == 0) {
                    ++m;
                } else if (message.deadline > lastSelectTime) {
                    live = true;
                    ++m;
                } else {
                    m = messages.erase(m);
                }
            }
            sender = messages.empty() ? senders.erase(sender) : std::next(sender);
        }
    }
    if (!live) nextSweepTime = kInfinity;
}

}  // namespace kuvo
