// Delivery: Kuvorecv moves up to `count` complete messages of one socket into
// a private batch under the lock, then hands each to the caller's address,
// port and data callbacks without the lock.
#include <deque>

#include "engine.h"

namespace kuvo {

bool UdpEngine::receiveMessages(SocketHandle s, uint64_t count, DataCallback onData, AddressCallback onAddress,
                                PortCallback onPort, void* userValue) {
    std::deque<QueuedMessage> batch;
    {
        EngineLock lock(engineMutex);
        auto queue = deliveryTable.find(s);
        if (queue == deliveryTable.end()) return true;
        DeliveryQueue& buckets = queue->second;
        // Oldest bucket first; within a bucket, in completion order.
        while (true) {
            if (buckets.empty()) {
                deliveryTable.erase(queue);
                break;
            }
            auto bucket = buckets.begin();
            TimeBucket& messages = bucket->second;
            uint64_t room = count - batch.size();
            uint64_t take = messages.size() <= room ? messages.size() : room;
            if (take == 0 && !messages.empty()) break;
            for (uint64_t i = 0; i < take; ++i) {
                batch.push_back(std::move(messages.front()));
                messages.pop_front();
            }
            if (!messages.empty()) break;
            buckets.erase(bucket);
        }
    }

    const uint32_t taken = batch.size() > UINT32_MAX ? UINT32_MAX : uint32_t(batch.size());
    for (uint32_t index = 0; !batch.empty(); ++index) {
        QueuedMessage& m = batch.front();
        const uint32_t remaining = taken - index;
        char text[64];
        size_t textLength = addressText(m.sender.address, text);
        ReceivedMessage& message = *m.message;
        message.data()[message.length] = 0;
        bool ok = (onAddress == nullptr || onAddress(text, textLength, index, remaining, userValue)) &&
                  (onPort == nullptr || onPort(m.sender.port, index, remaining, userValue)) &&
                  (onData == nullptr ||
                   onData(reinterpret_cast<const char*>(message.data()), message.length, index, remaining, userValue));
        batch.pop_front();   // frees the message
        if (!ok) return index > 0;   // the rest of the batch is freed with it
    }
    return true;
}

}  // namespace kuvo
