// The receive-side records: partial messages per sender of each socket, and
// the queue of complete messages per socket. A message has one owner at a
// time (its MessageTable entry, a DeliveryQueue bucket, or one Kuvorecv
// batch) and moves by pointer, never by copy.
#ifndef KUVO_RECORDS_H
#define KUVO_RECORDS_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "md5.h"
#include "platform/platform.h"

namespace kuvo {

struct EndpointLess {
    bool operator()(const Endpoint& a, const Endpoint& b) const {
        int c = std::memcmp(a.address, b.address, sizeof a.address);
        return c != 0 ? c < 0 : a.port < b.port;
    }
};

inline bool operator==(const Endpoint& a, const Endpoint& b) {
    return a.port == b.port && std::memcmp(a.address, b.address, sizeof a.address) == 0;
}

// One message, from its first accepted fragment until it is freed.
class ReceivedMessage {
public:
    static constexpr uint32_t kFragmentSize = 1000;
    // count x 1000 + 10 must fit the 32-bit length.
    static constexpr uint32_t kMaxFragments = (UINT32_MAX - 10) / kFragmentSize;

    // A message of `count` fragments (1 to kMaxFragments), all missing. Its
    // buffer of count x 1000 + 10 bytes is zero-filled memory: pages that no
    // fragment reaches are never touched. Null when memory is short.
    static std::unique_ptr<ReceivedMessage> create(uint32_t count, double firstArrival);

    uint32_t fragmentCount() const { return fragmentCount_; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    uint8_t* slot(uint32_t index) { return data_.get() + size_t(index) * kFragmentSize; }
    bool isStored(uint32_t index) const { return (bits()[index / 64] >> (index % 64)) & 1u; }
    void markStored(uint32_t index) { bits()[index / 64] |= uint64_t(1) << (index % 64); }

    uint32_t remainingFragments = 0;   // 0: complete
    uint32_t length = 0;               // exact once the last fragment is stored
    double deadline = 0;               // lastSelectTime + 30 at the last stored fragment
    double firstArrival = 0;           // the key under which it is queued

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    ReceivedMessage() = default;

    uint64_t* bits() { return stored_ ? stored_.get() : &inlineStored_; }
    const uint64_t* bits() const { return stored_ ? stored_.get() : &inlineStored_; }

    uint32_t fragmentCount_ = 0;
    std::unique_ptr<uint8_t, FreeDeleter> data_;
    // One bit per fragment: in the record for up to 64 fragments, else apart.
    uint64_t inlineStored_ = 0;
    std::unique_ptr<uint64_t, FreeDeleter> stored_;
};

using MessagePtr = std::unique_ptr<ReceivedMessage>;
using MessageTable = std::map<MessageId, MessagePtr, MessageIdLess>;
using SenderTable = std::map<Endpoint, MessageTable, EndpointLess>;

struct QueuedMessage {
    MessagePtr message;
    Endpoint sender;
};
using TimeBucket = std::deque<QueuedMessage>;
using DeliveryQueue = std::map<double, TimeBucket>;   // by firstArrival

}  // namespace kuvo

#endif  // KUVO_RECORDS_H
