#include "wire_format.h"

namespace kuvo::wire {
namespace {

template <uint32_t Base>
void encodeFixed(char* out, uint32_t value, int width, const char* digits) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = digits[value % Base];
        value /= Base;
    }
}

}  // namespace

void encodeFixedDecimal(char* out, uint32_t value, int width) {
    encodeFixed<10>(out, value, width, "0123456789");
}

void encodeFixedBase64(char* out, uint32_t value, int width) {
    encodeFixed<64>(out, value, width, kBase64Alphabet);
}

}  // namespace kuvo::wire
