// Reassembly: reads the trailer of a fragment in place, finds or begins its
// message in the sender's table and stores the payload in its slot.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine.h"

namespace kuvo {
namespace {

// Decodes one zero-terminated trailer field; false unless the digits run to
// the terminating zero.
bool decodeDecimal(const char* field, uint32_t& value) {
    char* end = nullptr;
    long v = std::strtol(field, &end, 10);
    if (*end != 0) return false;
    value = uint32_t(int32_t(v));   // a negative count becomes a huge one
    return true;
}

bool decodeBase64(const char* field, uint32_t& value) {
    uint32_t v = 0;
    const char* p = field;
    for (int digit; *p != 0 && (digit = wire::base64Digit(*p)) >= 0; ++p) v = v * 64 + uint32_t(digit);
    value = v;
    return *p == 0;
}

}  // namespace

FragmentOutcome UdpEngine::acceptFragment(MessageTable& messages) {
    const FragmentOutcome dropped{FragmentOutcome::Dropped, 0, {}};
    char* text = reinterpret_cast<char*>(datagramBuffer);

    // Each field becomes a text by a zero over the first character behind it.
    MessageId id = Md5Digest::parseHex(text + wire::kIdField);
    text[wire::kIdField] = 0;
    bool base64 = text[wire::kLengthField] == 'A' || text[wire::kLengthField] == 'a';
    auto decode = base64 ? decodeBase64 : decodeDecimal;

    uint32_t count, index, lengthValue;
    if (!decode(text + wire::kCountField, count) || count < 1) return dropped;
    text[wire::kCountField] = 0;
    if (!decode(text + wire::kIndexField, index) || index >= count) return dropped;
    text[wire::kIndexField] = 0;
    if (!decode(text + wire::kLengthField, lengthValue) || lengthValue > 999) return dropped;
    // count x 1000 + 10 must fit the 32-bit message length.
    if (count > ReceivedMessage::kMaxFragments) return dropped;
    const uint32_t payloadLength = lengthValue + 1;
    const bool last = index == count - 1;

    auto entry = messages.find(id);
    if (entry != messages.end()) {
        ReceivedMessage& pending = *entry->second;
        bool sameMessage = pending.fragmentCount() == count;
        if (sameMessage && pending.isStored(index)) {
            // The same bytes again are a duplicate; other bytes in a stored
            // slot mean the sender began a new message under this id.
            bool sameBytes = std::memcmp(pending.slot(index), datagramBuffer, payloadLength) == 0 &&
                             (!last || pending.length == (count - 1) * wire::kPayloadSize + payloadLength);
            if (sameBytes) return dropped;
            sameMessage = false;
        }
        if (!sameMessage) {
            MessagePtr fresh = ReceivedMessage::create(count, lastSelectTime);
            if (!fresh) return {FragmentOutcome::OutOfMemory, 0, {}};
            entry->second = std::move(fresh);   // frees the stale message
        }
    } else {
        MessagePtr fresh = ReceivedMessage::create(count, lastSelectTime);
        if (!fresh) return {FragmentOutcome::OutOfMemory, 0, {}};
        try {
            entry = messages.emplace(id, std::move(fresh)).first;
        } catch (const std::bad_alloc&) {
            return {FragmentOutcome::OutOfMemory, 0, {}};
        }
    }

    ReceivedMessage& message = *entry->second;
    std::memcpy(message.slot(index), datagramBuffer, payloadLength);
    if (std::isinf(nextSweepTime)) nextSweepTime = lastSelectTime + kMessageLifetime;
    message.deadline = lastSelectTime + kMessageLifetime;
    if (last) {
        uint32_t length = (count - 1) * wire::kPayloadSize + payloadLength;
        if (length < message.length) std::memset(message.data() + length, 0, message.length - length);
        message.length = length;
    }
    message.markStored(index);
    if (--message.remainingFragments > 0) return {FragmentOutcome::Stored, payloadLength, {}};
    return {FragmentOutcome::Complete, payloadLength, entry};
}

}  // namespace kuvo
