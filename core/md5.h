// MD5 (RFC 1321) as a value type; a finalised digest is also the MessageId
// that groups the fragments of one message.
#ifndef KUVO_MD5_H
#define KUVO_MD5_H

#include <cstdint>

namespace kuvo {

class Md5Digest {
public:
    Md5Digest() { reset(); }
    // Digest of a whole byte string, finalised.
    Md5Digest(const void* bytes, uint32_t size);

    void reset();
    void update(const void* bytes, uint32_t length);
    Md5Digest& finalize();

    // Writes the 32 upper-case hex digits into out (no terminator unless
    // capacity > 32, then out[capacity - 1] = 0) and returns out; on an open
    // digest, or with a capacity below 32, writes nothing and returns "".
    const char* writeHex(char* out, int capacity) const;

    // Reads up to 32 upper-case hex digits, pair by pair, stopping at the first
    // pair that is not two such digits; missing bytes stay zero. Finalised.
    static Md5Digest parseHex(const char* text);

    // Orders finalised digests by digest bytes 15 down to 0.
    static bool less(const Md5Digest& a, const Md5Digest& b);

    bool finalised() const { return finalised_; }
    const uint8_t* digest() const { return digest_; }

private:
    void transform(const uint8_t block[64]);

    bool finalised_;
    uint8_t buffer_[64];
    uint32_t bitCount_[2];   // low word first
    uint32_t state_[4];
    uint8_t digest_[16];
};

using MessageId = Md5Digest;

struct MessageIdLess {
    bool operator()(const Md5Digest& a, const Md5Digest& b) const { return Md5Digest::less(a, b); }
};

}  // namespace kuvo

#endif  // KUVO_MD5_H
