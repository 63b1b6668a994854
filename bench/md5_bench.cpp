// MD5 throughput: Kuvo's Md5Digest against OpenSSL's MD5 through the EVP
// interface, on 1 MiB and on 1000-byte inputs, measured in turns.
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_util.h"
#include "md5.h"

namespace {

using bench::format;

constexpr int kRepetitions = 7;
constexpr size_t kBytesPerTurn = size_t(64) << 20;

struct OpenSslMd5 {
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~OpenSslMd5() {
        EVP_MD_CTX_free(context);
        EVP_MD_free(md);
    }
    bool ready() const { return md != nullptr && context != nullptr; }
    // One finished digest per call, the context reused: OpenSSL's best case.
    void digest(const uint8_t* data, size_t size, uint8_t out[16]) {
        unsigned int length = 0;
        EVP_DigestInit_ex2(context, md, nullptr);
        EVP_DigestUpdate(context, data, size);
        EVP_DigestFinal_ex(context, out, &length);
    }
};

volatile uint8_t sink;

double kuvoRate(const std::vector<uint8_t>& input, size_t rounds) {
    uint8_t acc = 0;
    uint64_t start = bench::nowNs();
    for (size_t i = 0; i < rounds; ++i) {
        kuvo::Md5Digest d(input.data(), uint32_t(input.size()));
        acc ^= d.digest()[i & 15];
    }
    uint64_t elapsed = bench::nowNs() - start;
    sink = acc;
    return double(input.size()) * double(rounds) / bench::seconds(elapsed) / 1e6;
}

double openSslRate(OpenSslMd5& md5, const std::vector<uint8_t>& input, size_t rounds) {
    uint8_t acc = 0, out[16];
    uint64_t start = bench::nowNs();
    for (size_t i = 0; i < rounds; ++i) {
        md5.digest(input.data(), input.size(), out);
        acc ^= out[i & 15];
    }
    uint64_t elapsed = bench::nowNs() - start;
    sink = acc;
    return double(input.size()) * double(rounds) / bench::seconds(elapsed) / 1e6;
}

}  // namespace

int main() {
    OpenSslMd5 md5;
    if (!md5.ready()) {
        bench::printRow({"1", "MD5", "-", "OpenSSL MD5 unavailable", "-", ">= 0.9x", "skipped"});
        return 0;
    }
    struct Case {
        const char* what;
        size_t size;
    } cases[] = {{"MD5, 1 MiB input", size_t(1) << 20}, {"MD5, 1000-byte input", 1000}};

    for (const Case& c : cases) {
        std::vector<uint8_t> input(c.size);
        bench::fillMessage(input.data(), input.size(), c.size);
        // The two must agree before their speeds mean anything.
        uint8_t expected[16];
        md5.digest(input.data(), input.size(), expected);
        kuvo::Md5Digest own(input.data(), uint32_t(input.size()));
        if (std::memcmp(own.digest(), expected, 16) != 0) {
            bench::printRow({"1", c.what, "wrong digest", "-", "-", ">= 0.9x OpenSSL", "not met"});
            continue;
        }
        size_t rounds = kBytesPerTurn / c.size;
        kuvoRate(input, rounds / 8);   // warm-up
        openSslRate(md5, input, rounds / 8);
        std::vector<double> own_, theirs;
        for (int r = 0; r < kRepetitions; ++r) {
            own_.push_back(kuvoRate(input, rounds));
            theirs.push_back(openSslRate(md5, input, rounds));
        }
        double ratio = bench::pairedRatio(own_, theirs);
        bench::printRow({"1", c.what, format("%.0f MB/s", bench::median(own_)),
                         format("%.0f MB/s (OpenSSL EVP)", bench::median(theirs)),
                         format("%.2fx", ratio), ">= 0.9x OpenSSL", bench::metText(ratio >= 0.9)});
        bench::progress("md5 %s: kuvo %.0f MB/s, openssl %.0f MB/s", c.what,
                        bench::median(own_), bench::median(theirs));
    }
    return 0;
}
