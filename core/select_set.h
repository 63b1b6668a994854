// A set of at most 64 socket handles in insertion order: the engine's
// watchSet and closeRequests. Adding a present handle or adding to a full set
// does nothing; removing moves the later handles down one slot.
#ifndef KUVO_SELECT_SET_H
#define KUVO_SELECT_SET_H

#include <cstdint>

#include "platform/platform.h"

namespace kuvo {

class SelectSet {
public:
    static constexpr uint32_t kCapacity = 64;

    uint32_t size() const { return count_; }
    bool full() const { return count_ == kCapacity; }
    SocketHandle operator[](uint32_t i) const { return slots_[i]; }
    const SocketHandle* begin() const { return slots_; }
    const SocketHandle* end() const { return slots_ + count_; }

    bool contains(SocketHandle s) const {
        for (uint32_t i = 0; i < count_; ++i)
            if (slots_[i] == s) return true;
        return false;
    }
    void add(SocketHandle s) {
        if (count_ < kCapacity && !contains(s)) slots_[count_++] = s;
    }
    void remove(SocketHandle s) {
        for (uint32_t i = 0; i < count_; ++i) {
            if (slots_[i] != s) continue;
            for (uint32_t j = i + 1; j < count_; ++j) slots_[j - 1] = slots_[j];
            --count_;
            return;
        }
    }
    void clear() { count_ = 0; }

private:
    uint32_t count_ = 0;
    SocketHandle slots_[kCapacity] = {};
};

}  // namespace kuvo

#endif  // KUVO_SELECT_SET_H
