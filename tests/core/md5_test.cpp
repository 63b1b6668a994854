// MD5 digest: published values, hex text in and out, and the ordering used
// as the key of partial messages.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "md5.h"

namespace kuvo {
namespace {

std::string hexOf(const Md5Digest& d) {
    char out[33] = {};
    d.writeHex(out, 33);
    return out;
}

Md5Digest digestOf(const std::string& s) { return Md5Digest(s.data(), uint32_t(s.size())); }

struct Vector {
    std::string input;
    const char* hex;
};

TEST(Md5, PublishedValuesInUpperCase) {
    const Vector vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // Lengths around the padding boundary and across several blocks.
        {std::string(55, 'a'), "EF1772B6DFF9A122358552954AD0DF65"},
        {std::string(56, 'a'), "3B0C8AC703F828B04C6C197006D17218"},
        {std::string(63, 'a'), "B06521F39153D618550606BE297466D5"},
        {std::string(64, 'a'), "014842D480B571495A4A0363793F7367"},
        {std::string(65, 'a'), "C743A45E0D2E6A95CB859ADAE0248435"},
        {std::string(1000, 'a'), "CABE45DCC9AE5B66BA86600CCA6B8BA8"},
    };
    for (const auto& v : vectors) EXPECT_EQ(hexOf(digestOf(v.input)), v.hex) << "length " << v.input.size();
}

TEST(Md5, PiecewiseUpdatesMatchOneShot) {
    const std::string message(std::string(1000, 'a'));
    for (uint32_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
        Md5Digest d;
        for (size_t at = 0; at < message.size(); at += piece)
            d.update(message.data() + at, uint32_t(std::min<size_t>(piece, message.size() - at)));
        EXPECT_EQ(hexOf(d.finalize()), "CABE45DCC9AE5B66BA86600CCA6B8BA8") << "pieces of " << piece;
    }
}

TEST(Md5, FinalizeTwiceChangesNothing) {
    Md5Digest d = digestOf("abc");
    d.finalize();
    EXPECT_TRUE(d.finalised());
    EXPECT_EQ(hexOf(d), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(Md5, WriteHexHonoursCapacity) {
    const Md5Digest d = digestOf("abc");
    const std::string hex = "900150983CD24FB0D6963F7D28E17F72";
    struct Case {
        int capacity;
        std::string expected;   // the 40 bytes of the buffer afterwards ('#' untouched)
    };
    const std::string untouched(40, '#');
    const Case cases[] = {
        {32, hex + std::string(8, '#')},
        {33, hex + std::string(1, '\0') + std::string(7, '#')},
        {40, hex + std::string(7, '#') + std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        std::string buf = untouched;
        EXPECT_EQ(d.writeHex(buf.data(), c.capacity), buf.data());
        EXPECT_EQ(buf, c.expected) << "capacity " << c.capacity;
    }
}

// A buffer too small for 32 digits must not be written past its end.
TEST(Md5, WriteHexNeverWritesPastASmallCapacity) {
    const Md5Digest d = digestOf("abc");
    for (int capacity : {0, 1, 16, 31}) {
        std::string buf(40, '#');
        d.writeHex(buf.data(), capacity);
        EXPECT_EQ(buf.substr(size_t(capacity)), std::string(40 - size_t(capacity), '#'))
            << "capacity " << capacity;
    }
}

TEST(Md5, WriteHexOnOpenDigestWritesNothing) {
    Md5Digest open;
    open.update("abc", 3);
    std::string buf(40, '#');
    const char* text = open.writeHex(buf.data(), 33);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(buf, std::string(40, '#'));
}

TEST(Md5, ParseHexStopsAtTheFirstPairThatIsNotTwoUpperCaseDigits) {
    const std::string zeros(32, '0');
    struct Case {
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"900150983CD24FB0D6963F7D28E17F72", "900150983CD24FB0D6963F7D28E17F72"},
        {"9001a0983CD24FB0D6963F7D28E17F72", "9001" + zeros.substr(4)},   // lower case
        {"9001508", "900150" + zeros.substr(6)},                            // odd count
        {"abcdef0123456789abcdef0123456789", zeros},
        {"12:4", "12" + zeros.substr(2)},
        {"12G4", "12" + zeros.substr(2)},
        {"12 4", "12" + zeros.substr(2)},
        {"1@34", zeros},                                                     // '@' lies between '9' and 'A'
        {"900150983CD24FB0D6963F7D28E17F72AB", "900150983CD24FB0D6963F7D28E17F72"},
        {"", zeros},
    };
    for (const auto& c : cases) {
        Md5Digest d = Md5Digest::parseHex(c.text);
        EXPECT_TRUE(d.finalised()) << c.text;
        EXPECT_EQ(hexOf(d), c.expected) << "'" << c.text << "'";
    }
}

TEST(Md5, ParsedIdEqualsComputedId) {
    const Md5Digest computed = digestOf("message digest");
    char text[33] = {};
    computed.writeHex(text, 33);
    const Md5Digest parsed = Md5Digest::parseHex(text);
    EXPECT_FALSE(Md5Digest::less(parsed, computed));
    EXPECT_FALSE(Md5Digest::less(computed, parsed));
}

TEST(Md5, OrdersByByte15DownToByte0) {
    // Byte 15 decides whatever bytes 0 to 14 hold.
    const Md5Digest high15 = Md5Digest::parseHex("00000000000000000000000000000002");
    const Md5Digest low15 = Md5Digest::parseHex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01");
    EXPECT_TRUE(Md5Digest::less(low15, high15));
    EXPECT_FALSE(Md5Digest::less(high15, low15));
    // Equal in bytes 15 to 1: byte 0 decides.
    const Md5Digest a = Md5Digest::parseHex("01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    const Md5Digest b = Md5Digest::parseHex("02FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    EXPECT_TRUE(Md5Digest::less(a, b));
    EXPECT_FALSE(Md5Digest::less(b, a));
    EXPECT_FALSE(Md5Digest::less(a, a));

    // Over many computed digests the order is that of the reversed bytes.
    std::vector<Md5Digest> ids;
    for (int i = 0; i < 200; ++i) ids.push_back(digestOf(std::to_string(i)));
    std::sort(ids.begin(), ids.end(), Md5Digest::less);
    auto reversed = [](const Md5Digest& d) { return std::string(reinterpret_cast<const char*>(d.digest()), 16); };
    for (size_t i = 1; i < ids.size(); ++i) {
        std::string x = reversed(ids[i - 1]), y = reversed(ids[i]);
        std::reverse(x.begin(), x.end());
        std::reverse(y.begin(), y.end());
        EXPECT_LT(std::memcmp(x.data(), y.data(), 16), 0);
    }
}

}  // namespace
}  // namespace kuvo
