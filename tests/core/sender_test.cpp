// The sender as seen by a plain socket on loopback: every datagram it emits,
// byte for byte, the id of each fragmented message, destinations and ports,
// and the sends it must refuse.
#include <algorithm>
#include <set>

#include "test_support.h"

namespace kuvo::test {
namespace {

class SenderTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        sender = Kuvoinit(0);
        ASSERT_NE(sender, invalidSocket);
    }
    SocketHandle sender = invalidSocket;
};

bool isId(const std::string& s) {
    return s.size() == 32 && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string idOf(const std::string& fragment) { return fragment.size() == 1043 ? fragment.substr(1011, 32) : ""; }

// Compares received datagrams with the reference; reports the first
// differing byte rather than two kilobytes of text.
void expectDatagrams(const std::vector<Datagram>& got, const std::vector<std::string>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].bytes.size(), want[i].size()) << "datagram " << i;
        const auto diff = std::mismatch(want[i].begin(), want[i].end(), got[i].bytes.begin());
        EXPECT_EQ(diff.first, want[i].end()) << "datagram " << i << " differs at offset "
                                             << (diff.first - want[i].begin());
    }
}

TEST_F(SenderTest, DatagramsFollowTheWireFormat) {
    struct Case {
        size_t size;
        bool zeros;
    };
    const Case cases[] = {{0, false},    {1, false},     {999, false},   {1000, false},  {1000, true},
                          {1001, false}, {1001, true},   {1999, false},  {2000, false},  {2000, true},
                          {10000, false}, {10001, false}, {10001, true}, {70000, false}};
    Peer peer;
    ASSERT_TRUE(peer.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.zeros ? " bytes with zeros" : " bytes"));
        const std::string message = pattern(c.size, uint32_t(c.size), c.zeros);
        EXPECT_EQ(KuvosendBytes(sender, "127.0.0.1", peer.port(), message.data(), int(message.size())),
                  int(message.size()));
        const size_t count = c.size <= 1000 ? 1 : (c.size + 999) / 1000;
        const auto got = peer.receiveMany(count);
        ASSERT_EQ(got.size(), count);
        for (const auto& d : got) {
            EXPECT_EQ(d.address, "127.0.0.1");
            EXPECT_EQ(d.port, portOf(sender));
        }
        const std::string id = idOf(got[0].bytes);
        if (count > 1) {
            EXPECT_TRUE(isId(id)) << id;
        }
        expectDatagrams(got, datagramsOf(message, id));
        EXPECT_FALSE(peer.receive(20ms).has_value()) << "no datagram beyond the message";
    }
}

TEST_F(SenderTest, DestinationTexts) {
    struct Case {
        const char* text;
        int peerFamily;
    };
    const Case cases[] = {
        {"127.0.0.1", AF_INET},
        {"::ffff:127.0.0.1", AF_INET},
        {"::FFFF:127.0.0.1", AF_INET},
        {"::1", AF_INET6},
        {"0:0:0:0:0:0:0:1", AF_INET6},
    };
    const std::string longMessage = pattern(1500);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Peer peer(c.peerFamily);
        ASSERT_TRUE(peer.ok());
        EXPECT_EQ(Kuvosend(sender, c.text, peer.port(), "short"), 5);
        EXPECT_EQ(KuvosendBytes(sender, c.text, peer.port(), longMessage.data(), 1500), 1500);
        const auto got = peer.receiveMany(3);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].bytes, "short");
        expectDatagrams({got[1], got[2]}, datagramsOf(longMessage, idOf(got[1].bytes)));
    }
}

TEST_F(SenderTest, EveryFragmentedMessageHasAnIdOfItsOwn) {
    Peer peer;
    // Equal messages, and messages equal up to a leading zero byte.
    const std::string same = pattern(1500);
    std::string zeroFirstA = pattern(1500, 7), zeroFirstB = pattern(1500, 8);
    zeroFirstA[0] = zeroFirstB[0] = '\0';
    std::set<std::string> ids;
    for (const std::string* m : std::vector<const std::string*>{&same, &same, &zeroFirstA, &zeroFirstB}) {
        ASSERT_EQ(KuvosendBytes(sender, "127.0.0.1", peer.port(), m->data(), int(m->size())), 1500);
        const auto got = peer.receiveMany(2);
        ASSERT_EQ(got.size(), 2u);
        const std::string id = idOf(got[0].bytes);
        EXPECT_TRUE(isId(id)) << id;
        EXPECT_EQ(idOf(got[1].bytes), id) << "both fragments carry one id";
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 4u);
}

TEST_F(SenderTest, PortKeepsItsLow16Bits) {
    Peer peer(AF_INET, 4464);
    if (!peer.ok()) GTEST_SKIP() << "port 4464 is taken on this machine";
    EXPECT_EQ(Kuvosend(sender, "127.0.0.1", 70000, "wrapped"), 7);
    auto d = peer.receive();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->bytes, "wrapped");
}

TEST_F(SenderTest, AddressTextThatIsNoAddressSendsNothing) {
    Peer peer(AF_INET6, 0, /*anyAddress=*/true);   // would see a send to any local address
    ASSERT_TRUE(peer.ok());
    const std::string longMessage = pattern(1500);
    const std::string texts[] = {
        "", "localhost", "1.2.3", "1.2.3.4.5", "300.1.1.1", "127.0.0.1 ", "::g", "1::2::3",
        std::string(70, '1'), "::ffff:" + std::string(60, '1'), "0000:0000:0000:0000:0000:0000:0000:0000:0001",
    };
    for (const auto& text : texts) {
        EXPECT_EQ(Kuvosend(sender, text.c_str(), peer.port(), "bad"), -1) << "'" << text << "'";
        EXPECT_EQ(KuvosendBytes(sender, text.c_str(), peer.port(), longMessage.data(), 1500), -1)
            << "'" << text << "'";
    }
    ASSERT_EQ(Kuvosend(sender, "127.0.0.1", peer.port(), "good"), 4);
    auto d = peer.receive();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->bytes, "good") << "nothing went out before the good send";
}

TEST_F(SenderTest, MissingAddressOrDataAndNegativeLengthsAreRefused) {
    Peer peer;
    EXPECT_EQ(Kuvosend(sender, nullptr, peer.port(), "text"), -1);
    EXPECT_EQ(KuvosendBytes(sender, nullptr, peer.port(), "data", 4), -1);
    EXPECT_EQ(KuvosendBytes(sender, "127.0.0.1", peer.port(), nullptr, 4), -1);
    EXPECT_EQ(KuvosendBytes(sender, "127.0.0.1", peer.port(), "data", -1), -1);
    EXPECT_FALSE(peer.receive(20ms).has_value());
}

TEST_F(SenderTest, SendOnSomethingThatIsNoSocketFails) {
    Peer peer;
    const int notSocket = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(notSocket, 0);
    const std::string longMessage = pattern(2500);
    for (SocketHandle h : {invalidSocket, SocketHandle(notSocket)}) {
        EXPECT_EQ(KuvosendBytes(h, "127.0.0.1", peer.port(), "x", 1), -1);
        EXPECT_EQ(KuvosendBytes(h, "127.0.0.1", peer.port(), longMessage.data(), 2500), -1);
    }
    ::close(notSocket);
    EXPECT_FALSE(peer.receive(20ms).has_value());
}

}  // namespace
}  // namespace kuvo::test
