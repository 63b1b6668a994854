#include "records.h"

#include <new>

namespace kuvo {

std::unique_ptr<ReceivedMessage> ReceivedMessage::create(uint32_t count, double firstArrival) {
    if (count == 0 || count > kMaxFragments) return nullptr;
    std::unique_ptr<ReceivedMessage> m(new (std::nothrow) ReceivedMessage);
    if (!m) return nullptr;
    // calloc hands out untouched zero pages for large blocks, so a message
    // whose fragments never come costs address space, not memory.
    m->data_.reset(static_cast<uint8_t*>(std::calloc(size_t(count) * kFragmentSize + 10, 1)));
    if (!m->data_) return nullptr;
    if (count > 64) {
        m->stored_.reset(static_cast<uint64_t*>(std::calloc((size_t(count) + 63) / 64, sizeof(uint64_t))));
        if (!m->stored_) return nullptr;
    }
    m->fragmentCount_ = count;
    m->remainingFragments = count;
    m->length = count * kFragmentSize;
    m->firstArrival = firstArrival;
    return m;
}

}  // namespace kuvo
