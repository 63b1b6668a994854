// Datagram intake: one datagram read from a readable socket becomes stored
// state. A whole datagram (1 to 1000 bytes) is a complete message at once; a
// 1043-byte fragment goes to reassembly; every other length is dropped.
#include <cmath>
#include <cstring>
#include <new>

#include "engine.h"

namespace kuvo {

IntakeResult UdpEngine::intakeDatagram(ReceiveTable::iterator entry) {
    uint8_t* buffer = datagramBuffer;
    buffer[wire::kReadLimit] = 0;
    Endpoint from;
    long n = platform::receiveDatagram(entry->first, buffer, wire::kReadLimit, from);
    if (n < 0) {
        switch (int code = platform::lastError()) {
            case platform::kErrorWouldBlock:
            case platform::kErrorInProgress:
            // A refusal report answers an earlier send of this socket and can
            // be provoked from outside: nothing to read, the socket stays.
            case platform::kErrorConnectionReset:
            case platform::kErrorConnectionRefused:
                return {0, kErrnoAgain};
            case platform::kErrorMessageSize:
                return {1, 0};   // longer than any datagram of the format: dropped
            default:
                return {-1, code};
        }
    }
    if (n == 0) return {0, 0};

    SenderTable::iterator sender;
    try {
        sender = entry->second.try_emplace(from).first;
    } catch (const std::bad_alloc&) {
        return {-1, kErrnoNoMemory};
    }
    // Longer than the buffer: only its start was stored. Dropped like every
    // other length the format does not know; the socket keeps working.
    if (n > long(wire::kReadLimit)) return {1, 0};
    buffer[n] = 0;

    if (n <= long(wire::kPayloadSize)) {
        // A whole message of its own: it never meets a pending fragmented
        // message, whatever id its bytes would give.
        MessagePtr message = ReceivedMessage::create(1, lastSelectTime);
        if (!message) return {-1, kErrnoNoMemory};
        std::memcpy(message->data(), buffer, size_t(n));
        message->length = uint32_t(n);
        message->markStored(0);
        message->remainingFragments = 0;
        message->deadline = lastSelectTime + kMessageLifetime;
        if (std::isinf(nextSweepTime)) nextSweepTime = lastSelectTime + kMessageLifetime;
        if (!queueMessage(entry->first, std::move(message), from)) return {-1, kErrnoNoMemory};
        return {0, 0};
    }
    if (n != long(wire::kFragmentSize)) return {1, 0};

    MessageTable& messages = sender->second;
    FragmentOutcome outcome = acceptFragment(messages);
    switch (outcome.kind) {
        case FragmentOutcome::Dropped: return {1, 0};
        case FragmentOutcome::OutOfMemory: return {-1, kErrnoNoMemory};
        case FragmentOutcome::Stored: return {int32_t(outcome.payloadLength), 0};
        case FragmentOutcome::Complete: break;
    }
    MessagePtr message = std::move(outcome.entry->second);
    messages.erase(outcome.entry);
    if (!queueMessage(entry->first, std::move(message), from)) return {-1, kErrnoNoMemory};
    return {0, 0};
}

bool UdpEngine::queueMessage(SocketHandle s, MessagePtr message, const Endpoint& sender) {
    EngineLock lock(engineMutex);
    auto queue = deliveryTable.end();
    bool newQueue = false;
    DeliveryQueue::iterator bucket;
    bool newBucket = false;
    try {
        std::tie(queue, newQueue) = deliveryTable.try_emplace(s);
        std::tie(bucket, newBucket) = queue->second.try_emplace(message->firstArrival);
        bucket->second.push_back(QueuedMessage{std::move(message), sender});
        return true;
    } catch (const std::bad_alloc&) {
        // The message is freed; nothing this step created stays behind.
        if (newBucket) queue->second.erase(bucket);
        if (newQueue) deliveryTable.erase(queue);
        return false;
    }
}

}  // namespace kuvo
