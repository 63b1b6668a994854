// The datagram format. A message of at most 1000 bytes travels as one
// datagram holding exactly its bytes; a longer one as 1043-byte fragments:
// 1000 payload bytes, then the 43-character trailer
//   length-1 (3) | index (4) | count (4) | id (32 upper-case hex digits)
// with decimal digits for messages up to 10000 bytes, base64url above.
#ifndef KUVO_WIRE_FORMAT_H
#define KUVO_WIRE_FORMAT_H

#include <cstdint>

#include "digit_table.h"

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

// base64url digit values for '-' (0x2D) to 'z' (0x7A).
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
inline constexpr DigitTable<'-', 'z'> base64DigitValue{kBase64Alphabet};

inline int base64Digit(char c) { return base64DigitValue.digit(c); }

}  // namespace kuvo::wire

#endif  // KUVO_WIRE_FORMAT_H
