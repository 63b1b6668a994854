// The engine's lifecycle: construction with the wake pair and the receiver
// thread's start handshake, and destruction.
#include "engine.h"

#include <limits>

namespace kuvo {
namespace {
constexpr int kThreadWaitStepMs = 50;
}

UdpEngine::UdpEngine() : nextSweepTime(std::numeric_limits<double>::infinity()) {
    platform::randomBytes(idSeed, sizeof idSeed);

    if (!platform::startup()) return;   // Unavailable, and no mutex
    if (!engineMutex.create()) {
        engineState = NoReceiver;
        return;
    }
    engineState = NoReceiver;
    if (!poller.create()) return;
    if (!platform::createWakePair(wakeSender, wakeReceiver)) {
        wakeSender = wakeReceiver = invalidSocket;
        poller.destroy();
        return;
    }
    watch(wakeReceiver);
    startReceiver();
}

void UdpEngine::startReceiver() {
    engineState = Starting;
    bool started = receiverThread.start(&UdpEngine::receiverThreadMain, this);
    // Handshake: the thread reports Running, or Stopped when its first
    // passes failed; there is no overall time-out.
    while (started) {
        platform::Thread::Wait w = receiverThread.waitFor(kThreadWaitStepMs);
        if (w != platform::Thread::Wait::TimedOut || engineState == Stopped) {
            started = false;
        } else if (engineState == Running) {
            break;
        }
    }
    if (started) {
        receiverThread.setName("UDP_receiver_thread");
        platform::nameCallingThread("Matlab mex thread");
        return;
    }
    // Start failure: work on without a receiver thread.
    engineState = NoReceiver;
    if (receiverThread.exists()) {
        while (receiverThread.waitFor(kThreadWaitStepMs) == platform::Thread::Wait::TimedOut) {
        }
        receiverThread.close();
    }
    platform::closeWakeSocket(wakeReceiver);
    platform::closeWakeSocket(wakeSender);
    wakeReceiver = wakeSender = invalidSocket;
    watchSet.clear();
    poller.destroy();
}

UdpEngine::~UdpEngine() {
    if (receiverThread.exists()) {
        if (engineState != Stopped) engineState = Stopping;
        do {
            signalWake();
        } while (receiverThread.waitFor(kThreadWaitStepMs) == platform::Thread::Wait::TimedOut);
        receiverThread.close();
        engineMutex.destroy();
        engineState = NoReceiver;
    }
    closeAll();
    for (SocketHandle s : sendOnlySockets) platform::closeDiscarding(s);
    platform::closeWakeSocket(wakeReceiver);
    platform::closeWakeSocket(wakeSender);
    wakeReceiver = wakeSender = invalidSocket;
    platform::cleanup();
}

void UdpEngine::signalWake() { platform::sendWakeByte(wakeSender); }

void UdpEngine::watch(SocketHandle s) {
    // A socket the poller cannot take is treated like one the full set
    // cannot: registered, closable, never read.
    if (!watchSet.full() && !watchSet.contains(s) && poller.add(s)) watchSet.add(s);
}

void UdpEngine::unwatch(SocketHandle s) {
    if (!watchSet.contains(s)) return;
    watchSet.remove(s);
    poller.remove(s);
}

}  // namespace kuvo
