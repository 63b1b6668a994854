// MD5 as RFC 1321 defines it: 64-byte blocks of sixteen little-endian words,
// four rounds of sixteen steps, the chaining value added after each block.
#include "md5.h"

#include <cstring>

#include "digit_table.h"

namespace kuvo {
namespace {

// Upper-case hex digits, '0' (48) to 'F' (70); the seven characters between
// '9' and 'A' are no digits.
constexpr DigitTable<'0', 'F'> hexDigitValue{"0123456789ABCDEF"};

int hexDigit(char c) { return hexDigitValue.digit(c); }

inline uint32_t rotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t loadLittle(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void storeLittle(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

#define KUVO_MD5_STEP(f, a, b, c, d, x, s, t) \
    a += f(b, c, d) + (x) + (t);              \
    a = rotateLeft(a, s) + b

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

}  // namespace

Md5Digest::Md5Digest(const void* bytes, uint32_t size) {
    reset();
    update(bytes, size);
    finalize();
}

void Md5Digest::reset() {
    finalised_ = false;
    std::memset(buffer_, 0, sizeof buffer_);
    bitCount_[0] = bitCount_[1] = 0;
    state_[0] = 0x67452301u;
    state_[1] = 0xEFCDAB89u;
    state_[2] = 0x98BADCFEu;
    state_[3] = 0x10325476u;
    std::memset(digest_, 0, sizeof digest_);
}

void Md5Digest::transform(const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = loadLittle(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    KUVO_MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
    KUVO_MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
    KUVO_MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
    KUVO_MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
    KUVO_MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
    KUVO_MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
    KUVO_MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
    KUVO_MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
    KUVO_MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
    KUVO_MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
    KUVO_MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
    KUVO_MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
    KUVO_MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
    KUVO_MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
    KUVO_MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
    KUVO_MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

    KUVO_MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
    KUVO_MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
    KUVO_MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
    KUVO_MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
    KUVO_MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
    KUVO_MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
    KUVO_MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
    KUVO_MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
    KUVO_MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
    KUVO_MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
    KUVO_MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
    KUVO_MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
    KUVO_MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
    KUVO_MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
    KUVO_MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
    KUVO_MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

    KUVO_MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
    KUVO_MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
    KUVO_MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
    KUVO_MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
    KUVO_MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
    KUVO_MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
    KUVO_MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
    KUVO_MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
    KUVO_MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
    KUVO_MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
    KUVO_MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
    KUVO_MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
    KUVO_MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
    KUVO_MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
    KUVO_MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
    KUVO_MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

    KUVO_MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
    KUVO_MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
    KUVO_MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
    KUVO_MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
    KUVO_MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
    KUVO_MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
    KUVO_MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
    KUVO_MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
    KUVO_MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
    KUVO_MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
    KUVO_MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
    KUVO_MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
    KUVO_MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
    KUVO_MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
    KUVO_MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
    KUVO_MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef KUVO_MD5_STEP

void Md5Digest::update(const void* bytes, uint32_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    uint32_t fill = (bitCount_[0] >> 3) & 63;

    uint32_t low = bitCount_[0] + (length << 3);
    if (low < bitCount_[0]) ++bitCount_[1];
    bitCount_[0] = low;
    bitCount_[1] += length >> 29;

    uint32_t room = 64 - fill;
    uint32_t i = 0;
    if (length >= room) {
        std::memcpy(buffer_ + fill, in, room);
        transform(buffer_);
        for (i = room; i + 63 < length; i += 64) transform(in + i);
        fill = 0;
    }
    std::memcpy(buffer_ + fill, in + i, length - i);
}

Md5Digest& Md5Digest::finalize() {
    if (finalised_) return *this;
    uint8_t bits[8];
    storeLittle(bits, bitCount_[0]);
    storeLittle(bits + 4, bitCount_[1]);

    static const uint8_t padding[64] = {0x80};
    uint32_t fill = (bitCount_[0] >> 3) & 63;
    update(padding, fill < 56 ? 56 - fill : 120 - fill);
    update(bits, 8);

    for (int i = 0; i < 4; ++i) storeLittle(digest_ + 4 * i, state_[i]);
    std::memset(buffer_, 0, sizeof buffer_);
    bitCount_[0] = bitCount_[1] = 0;
    finalised_ = true;
    return *this;
}

const char* Md5Digest::writeHex(char* out, int capacity) const {
    // Nothing to write, or no room for the whole text: the empty text.
    if (!finalised_ || capacity < 32) return "";
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = digits[digest_[i] >> 4];
        out[2 * i + 1] = digits[digest_[i] & 15];
    }
    if (capacity > 32) out[capacity - 1] = 0;
    return out;
}

Md5Digest Md5Digest::parseHex(const char* text) {
    Md5Digest d;
    d.finalised_ = true;
    for (int i = 0; i < 16; ++i) {
        int high = hexDigit(text[2 * i]);
        if (high < 0) break;
        int low = hexDigit(text[2 * i + 1]);
        if (low < 0) break;
        d.digest_[i] = uint8_t(high * 16 + low);
    }
    for (int i = 0; i < 4; ++i) d.state_[i] = loadLittle(d.digest_ + 4 * i);
    return d;
}

bool Md5Digest::less(const Md5Digest& a, const Md5Digest& b) {
    for (int i = 3; i >= 0; --i) {
        if (a.state_[i] != b.state_[i]) return a.state_[i] < b.state_[i];
    }
    return false;
}

}  // namespace kuvo
