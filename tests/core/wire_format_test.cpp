// The fixed-width numbers of the fragment trailer and the digit values their
// reader uses.
#include <string>

#include <gtest/gtest.h>

#include "wire_format.h"

namespace kuvo::wire {
namespace {

struct Case {
    uint32_t value;
    int width;
    const char* decimal;
    const char* base64;
};

TEST(WireFormat, FixedWidthNumbers) {
    const Case cases[] = {
        {0, 3, "000", "AAA"},
        {999, 3, "999", "APn"},
        {3, 4, "0003", "AAAD"},
        {11, 4, "0011", "AAAL"},
        {12, 4, "0012", "AAAM"},
        {64, 4, "0064", "AABA"},
        {2147484, 4, "7484", "IMSc"},     // fragments of the longest message
        {16777215, 4, "7215", "____"},    // the largest four base64url digits hold
        {16777216, 4, "7216", "AAAA"},    // too large: the low-order digits stay
        {12345, 3, "345", "DA5"},
    };
    for (const auto& c : cases) {
        std::string d(size_t(c.width) + 1, '#'), b(size_t(c.width) + 1, '#');
        encodeFixedDecimal(d.data(), c.value, c.width);
        encodeFixedBase64(b.data(), c.value, c.width);
        EXPECT_EQ(d, std::string(c.decimal) + "#") << c.value;   // exactly `width` characters
        EXPECT_EQ(b, std::string(c.base64) + "#") << c.value;
    }
}

TEST(WireFormat, Base64DigitValues) {
    const std::string alphabet = kBase64Alphabet;
    for (int c = 0; c < 256; ++c) {
        const size_t at = alphabet.find(char(c));
        const int expected = c == 0 || at == std::string::npos ? -1 : int(at);
        EXPECT_EQ(base64Digit(char(c)), expected) << "character " << c;
    }
}

}  // namespace
}  // namespace kuvo::wire
