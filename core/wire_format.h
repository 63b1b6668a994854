// The datagram format. A message of at most 1000 bytes travels as one
// datagram holding exactly its bytes; a longer one as 1043-byte fragments:
// 1000 payload bytes, then the 43-character trailer
//   length-1 (3) | index (4) | count (4) | id (32 upper-case hex digits)
// with decimal digits for messages up to 10000 bytes, base64url above.
#ifndef KUVO_WIRE_FORMAT_H
#define KUVO_WIRE_FORMAT_H

#include <cstdint>

namespace kuvo::wire {

constexpr uint32_t kPayloadSize = 1000;        // payload bytes per fragment
constexpr uint32_t kFragmentSize = 1043;       // bytes of a fragment datagram
constexpr uint32_t kLengthField = 1000;        // offset, 3 digits
constexpr uint32_t kIndexField = 1003;         // offset, 4 digits
constexpr uint32_t kCountField = 1007;         // offset, 4 digits
constexpr uint32_t kIdField = 1011;            // offset, 32 hex digits
constexpr uint32_t kTrailerEnd = 1043;
constexpr uint32_t kDecimalLimit = 10000;      // longest decimal-encoded message
constexpr uint32_t kReadLimit = 1045;          // bytes read per datagram
constexpr uint32_t kDatagramBufferSize = 1046;

// Writes exactly `width` digits of `value`, most significant first; a value
// too large keeps its low-order digits.
void encodeFixedDecimal(char* out, uint32_t value, int width);
void encodeFixedBase64(char* out, uint32_t value, int width);

// base64url digit values for '-' (0x2D) to 'z' (0x7A); 127 marks a
// character of that range that is no digit.
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr int kBase64First = '-';
constexpr int kBase64Last = 'z';
constexpr uint8_t kNoDigit = 127;

struct Base64DigitTable {
    uint8_t value[kBase64Last - kBase64First + 1];
    constexpr Base64DigitTable() : value() {
        for (auto& v : value) v = kNoDigit;
        for (int i = 0; i < 64; ++i) value[kBase64Alphabet[i] - kBase64First] = uint8_t(i);
    }
};
inline constexpr Base64DigitTable base64DigitValue{};

// The value of one base64url digit, or -1.
inline int base64Digit(char c) {
    int code = static_cast<unsigned char>(c);
    if (code < kBase64First || code > kBase64Last) return -1;
    uint8_t v = base64DigitValue.value[code - kBase64First];
    return v == kNoDigit ? -1 : v;
}

}  // namespace kuvo::wire

#endif  // KUVO_WIRE_FORMAT_H
