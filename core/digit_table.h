// A reverse table from character to digit value over a range of character
// codes, built at compile time from a digit alphabet.
#ifndef KUVO_DIGIT_TABLE_H
#define KUVO_DIGIT_TABLE_H

#include <cstdint>

namespace kuvo {

template <int First, int Last>
struct DigitTable {
    static constexpr uint8_t kNoDigit = 127;   // a character of the range that is no digit
    uint8_t value[Last - First + 1];

    constexpr explicit DigitTable(const char* alphabet) : value() {
        for (auto& v : value) v = kNoDigit;
        for (int i = 0; alphabet[i] != 0; ++i) value[alphabet[i] - First] = uint8_t(i);
    }

    // The value of one digit, or -1.
    constexpr int digit(char c) const {
        int code = static_cast<unsigned char>(c);
        if (code < First || code > Last) return -1;
        return value[code - First] == kNoDigit ? -1 : value[code - First];
    }
};

}  // namespace kuvo

#endif  // KUVO_DIGIT_TABLE_H
