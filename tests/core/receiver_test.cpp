// The receiving side end to end: crafted datagrams from plain sockets on
// loopback, and what Kuvorecv then delivers, in which order and from whom.
// Every bad datagram is followed by a good one to show the socket still works.
#include <algorithm>

#include "md5.h"
#include "test_support.h"

namespace kuvo::test {
namespace {

std::string hexDigest(const std::string& bytes) {
    char text[33] = {};
    Md5Digest(bytes.data(), uint32_t(bytes.size())).writeHex(text, 33);
    return text;
}

class ReceiverTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        open();
    }
    void open() {
        s = openAdopted();
        port = portOf(s);
    }

    // Sends the datagrams, then a probe, and returns what arrived before it.
    std::vector<Delivered> deliver(const Peer& from, const std::vector<std::string>& datagrams) {
        EXPECT_TRUE(from.sendAll(port, datagrams));
        const std::string probe = "probe " + std::to_string(++probes);
        EXPECT_TRUE(from.sendTo(port, probe));
        return collectUntil(s, probe);
    }
    std::vector<Delivered> deliver(const std::vector<std::string>& datagrams) { return deliver(peer, datagrams); }

    static std::vector<std::string> datas(const std::vector<Delivered>& got) {
        std::vector<std::string> out;
        for (const auto& m : got) out.push_back(m.data);
        return out;
    }

    Peer peer;
    SocketHandle s = invalidSocket;
    uint16_t port = 0;
    int probes = 0;
};

TEST_F(ReceiverTest, WholeDatagramsAreMessagesOfTheirOwn) {
    const std::vector<std::string> messages = {
        "x", pattern(1000), pattern(1000, 2, true), std::string("a\0b", 3), pattern(500), pattern(500),
    };
    const auto got = deliver(messages);
    EXPECT_EQ(datas(got), messages);
    for (const auto& m : got) {
        EXPECT_EQ(m.address, "127.0.0.1");
        EXPECT_EQ(m.addressLength, 9u);
        EXPECT_EQ(m.port, peer.port());
        EXPECT_TRUE(m.zeroAfterData);
    }
}

TEST_F(ReceiverTest, FragmentsInAnyOrderMakeOneMessage) {
    struct Case {
        const char* what;
        size_t size;
        std::vector<size_t> order;   // empty: reversed
    };
    const Case cases[] = {
        {"in order", 1001, {0, 1}},
        {"last first", 1001, {1, 0}},
        {"full last fragment", 2000, {0, 1}},
        {"shuffled", 2500, {2, 0, 1}},
        {"reversed", 3000, {}},
        {"duplicates", 3000, {0, 1, 0, 2}},
        {"base64url, shuffled", 10001, {10, 3, 7, 0, 9, 1, 5, 2, 8, 6, 4}},
        {"base64url, reversed", 25000, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ++n;
        const std::string message = pattern(c.size, uint32_t(n), n % 2 == 0);
        const auto fragments = datagramsOf(message, hexDigest(message));
        std::vector<std::string> sent;
        if (c.order.empty())
            sent.assign(fragments.rbegin(), fragments.rend());
        else
            for (size_t i : c.order) sent.push_back(fragments[i]);
        const auto got = deliver(sent);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].data, message);
        EXPECT_TRUE(got[0].zeroAfterData);
    }
}

TEST_F(ReceiverTest, EachSenderAssemblesItsOwnMessages) {
    Peer other;
    const std::string a = pattern(2500, 1), b = pattern(2500, 2);
    const auto fa = datagramsOf(a, kIdA), fb = datagramsOf(b, kIdA);   // one id for both
    for (size_t i = 0; i < fa.size(); ++i) {
        ASSERT_TRUE(peer.sendTo(port, fa[i]));
        ASSERT_TRUE(other.sendTo(port, fb[i]));
    }
    const auto got = deliver({});
    ASSERT_EQ(got.size(), 2u);
    for (const auto& m : got) EXPECT_EQ(m.data, m.port == peer.port() ? a : b);
    EXPECT_NE(got[0].port, got[1].port);
}

TEST_F(ReceiverTest, NativeIpv6Sender) {
    Peer v6(AF_INET6);
    const std::string longMessage = pattern(1500);
    const auto got = deliver(v6, {"short", datagramsOf(longMessage, kIdA)[0], datagramsOf(longMessage, kIdA)[1]});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].data, longMessage);
    for (const auto& m : got) {
        EXPECT_EQ(m.address, "::1");
        EXPECT_EQ(m.addressLength, 3u);
        EXPECT_EQ(m.port, v6.port());
    }
}

TEST_F(ReceiverTest, BadDatagramsAreDroppedAndTheSocketKeepsWorking) {
    // A one-fragment message of "hello": delivered if any check were missing.
    const std::string good = fragment("hello", "004", "0000", "0001", kIdA);
    struct Case {
        const char* what;
        std::string datagram;
    };
    const Case cases[] = {
        {"empty", ""},
        {"1001 bytes", pattern(1001)},
        {"truncated fragment", good.substr(0, 1042)},
        {"1044 bytes", good + "x"},
        {"1045 bytes", good + "xx"},
        {"1046 bytes", good + "xxx"},
        {"1500 bytes", good + std::string(457, 'x')},
        {"65000 bytes", good + std::string(65000 - 1043, 'x')},
        {"count 0", fragment("hello", "004", "0000", "0000", kIdA)},
        {"index equal to count", fragment("hello", "004", "0001", "0001", kIdA)},
        {"negative count", fragment("hello", "004", "0000", "-001", kIdA)},
        {"negative length", fragment("hello", "-01", "0000", "0001", kIdA)},
        {"letter after the digits", fragment("hello", "004", "0000", "001x", kIdA)},
        {"base64url non-digit", fragment("hello", "AAE", "AAAA", "AA*B", kIdA)},
        {"count beyond 32-bit length", fragment("hello", "APn", "AAAA", "QYk4", kIdA)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(deliver({c.datagram}).empty());
    }
    EXPECT_TRUE(isRegistered(s));
    EXPECT_EQ(datas(deliver({"still here"})), std::vector<std::string>{"still here"});
}

TEST_F(ReceiverTest, TrailerNumberVariantsAreAccepted) {
    const std::string message = pattern(1100);
    const std::string head = message.substr(0, 1000), tail = message.substr(1000);
    struct Case {
        const char* what;
        std::vector<std::string> datagrams;
    };
    const Case cases[] = {
        {"blanks", {fragment(head, "999", "   0", "   2", kIdA), fragment(tail, " 99", "   1", "  02", kIdA)}},
        {"plus signs", {fragment(head, "999", "+000", "+002", kIdA), fragment(tail, "+99", "+001", " +02", kIdA)}},
        {"base64url for a short message", datagramsOf(message, kIdA, /*base64=*/true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(datas(deliver(c.datagrams)), std::vector<std::string>{message});
    }
}

TEST_F(ReceiverTest, MessagesSharingAnIdAreNeverMixed) {
    struct Case {
        const char* what;
        size_t lost;            // the fragment of the first message that never comes
        size_t secondSize;
    };
    const Case cases[] = {
        {"middle lost, same count", 1, 2500},
        {"last lost, same count", 2, 2500},
        {"middle lost, other count", 1, 1500},
        {"last lost, other count", 2, 4000},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string id = std::string(31, 'C') + char('0' + ++n);
        const std::string first = pattern(2500, 100 + n), second = pattern(c.secondSize, 200 + n);
        std::vector<std::string> sent;
        for (size_t i = 0; i < 3; ++i)
            if (i != c.lost) sent.push_back(datagramsOf(first, id)[i]);
        for (const auto& f : datagramsOf(second, id)) sent.push_back(f);
        EXPECT_EQ(datas(deliver(sent)), std::vector<std::string>{second});
    }
}

TEST_F(ReceiverTest, WholeDatagramNeverMeetsAPendingMessage) {
    // The pending message's id is the digest a whole datagram of "short"
    // padded to 1000 bytes would get, were whole datagrams keyed by content.
    const std::string text = "short";
    const std::string message = pattern(1500);
    const auto fragments = datagramsOf(message, hexDigest(text + std::string(1000 - text.size(), ' ')));

    EXPECT_EQ(datas(deliver({fragments[0], text})), std::vector<std::string>{text});
    EXPECT_EQ(datas(deliver({fragments[1]})), std::vector<std::string>{message});
}

TEST_F(ReceiverTest, HugeFragmentCountCostsLittleMemory) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's allocator fills zeroed allocations, touching every page";
#endif
    deliver({"warm up"});
    const size_t before = residentBytes();
    // The first of 4,294,967 fragments: a buffer of almost 4 GiB if touched.
    EXPECT_TRUE(deliver({fragment("hostile", "AAG", "AAAA", "QYk3", kIdA)}).empty());
    const size_t after = residentBytes();
    RecordProperty("resident growth KiB", int((after > before ? after - before : 0) / 1024));
    EXPECT_LT(after, before + (8u << 20)) << "resident set grew by " << (after - before) / 1024 << " KiB";
    EXPECT_EQ(datas(deliver({"still here"})), std::vector<std::string>{"still here"});
}

TEST_F(ReceiverTest, RefusedSendLeavesTheSocketWorking) {
    uint16_t closedPort;
    {
        Peer gone;
        closedPort = gone.port();
    }
    EXPECT_EQ(Kuvosend(s, "127.0.0.1", closedPort, "nobody"), 6);
    EXPECT_EQ(Kuvosend(s, "::1", closedPort, "nobody"), 6);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(datas(deliver({"still here"})), std::vector<std::string>{"still here"});
    EXPECT_TRUE(isRegistered(s));
}

// The sweep, with the engine's clock under the test's control: a message
// whose fragments stopped coming is freed once 30 s (on that clock) have
// passed since its last stored fragment.
TEST_F(ReceiverTest, PartialMessageExpiresThirtySecondsAfterItsLastFragment) {
    struct Stored {
        size_t fragment;
        double at;
    };
    struct Case {
        const char* what;
        std::vector<Stored> stored;
        double check;   // when the missing fragments come
        bool delivered;
    };
    const Case cases[] = {
        {"before the deadline", {{0, 0}}, 29, true},
        {"after the deadline", {{0, 0}}, 31, false},
        {"a later fragment moves the deadline", {{0, 0}, {1, 20}}, 45, true},
        {"after the moved deadline", {{0, 0}, {1, 20}}, 51, false},
        {"a duplicate does not move it", {{0, 0}, {0, 20}}, 31, false},
    };
    const std::string message = pattern(2500);
    const auto fragments = datagramsOf(message, kIdA);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        releaseUDP();
        FakeClock clock;
        open();
        std::vector<bool> sent(fragments.size());
        for (const auto& st : c.stored) {
            clock.set(FakeClock::kEpochNow + st.at);
            EXPECT_TRUE(deliver({fragments[st.fragment]}).empty());
            sent[st.fragment] = true;
        }
        clock.set(FakeClock::kEpochNow + c.check);
        // A dropped datagram wakes the receiver, whose pass then sweeps.
        std::vector<std::string> rest = {std::string(1020, 'w')};
        for (size_t i = 0; i < fragments.size(); ++i)
            if (!sent[i]) rest.push_back(fragments[i]);
        const auto got = deliver(rest);
        EXPECT_EQ(got.size(), c.delivered ? 1u : 0u);
        if (c.delivered && !got.empty()) {
            EXPECT_EQ(got[0].data, message);
        }
    }
}

}  // namespace
}  // namespace kuvo::test
