// Several threads sending to one socket while two others collect from it and
// the main thread opens and closes sockets: every message arrives intact and
// once, or not at all.
#include <set>

#include "test_support.h"

namespace kuvo::test {
namespace {

constexpr int kSenders = 4;
constexpr int kMessagesPerSender = 100;

// A message names its sender, its number and its length in its first eight
// bytes; the rest follows from those, so the receiver can rebuild it.
std::string messageFor(int sender, int number) {
    static const size_t sizes[] = {8, 500, 1000, 1001, 3500, 9999, 10001, 14000};
    const size_t length = sizes[size_t(sender * 3 + number) % std::size(sizes)];
    std::string m = pattern(length, uint32_t(sender * 1000 + number), number % 3 == 0);
    const uint32_t header[2] = {uint32_t(sender) << 16 | uint32_t(number), uint32_t(length)};
    std::memcpy(m.data(), header, sizeof header);
    return m;
}

bool parseHeader(const std::string& m, int& sender, int& number) {
    if (m.size() < 8) return false;
    uint32_t header[2];
    std::memcpy(header, m.data(), sizeof header);
    sender = int(header[0] >> 16);
    number = int(header[0] & 0xFFFF);
    return sender < kSenders && number < kMessagesPerSender && header[1] == m.size();
}

using ConcurrencyTest = EngineTest;

TEST_F(ConcurrencyTest, ManySendersTwoCollectors) {
    const SocketHandle receiver = openAdopted();
    const uint16_t port = portOf(receiver);
    const SocketHandle sending[2] = {Kuvoinit(0), Kuvoinit(0)};
    ASSERT_NE(sending[0], invalidSocket);
    ASSERT_NE(sending[1], invalidSocket);
    const uint16_t sendingPort[2] = {portOf(sending[0]), portOf(sending[1])};

    std::atomic<int> failedSends{0};
    std::atomic<bool> stop{false}, sawEnd{false};
    std::vector<std::thread> senders;
    for (int t = 0; t < kSenders; ++t)
        senders.emplace_back([&, t] {
            for (int n = 0; n < kMessagesPerSender; ++n) {
                const std::string m = messageFor(t, n);
                if (KuvosendBytes(sending[t % 2], "127.0.0.1", port, m.data(), int(m.size())) != int(m.size()))
                    ++failedSends;
                std::this_thread::sleep_for(100us);
            }
        });

    Collector collected[2];
    std::vector<std::thread> collectors;
    for (auto& c : collected)
        collectors.emplace_back([&, &c = c] {
            const auto end = Clock::now() + 20s;
            while (!stop && Clock::now() < end) {
                const size_t before = c.messages.size();
                c.receive(receiver, 3);
                for (size_t i = before; i < c.messages.size(); ++i)
                    if (c.messages[i].data == "end") sawEnd = true;
                std::this_thread::sleep_for(100us);
            }
            c.receive(receiver);
        });

    // Meanwhile sockets come and go.
    for (int i = 0; i < 10; ++i) {
        const SocketHandle h = openAdopted();
        EXPECT_EQ(Kuvoclose(h), 1);
    }

    for (auto& t : senders) t.join();
    // The receiving socket's queue is first in, first out: once "end" is
    // delivered, every complete message sent before it has been queued.
    Peer peer;
    ASSERT_TRUE(peer.sendTo(port, "end"));
    EXPECT_TRUE(waitUntil([&] { return sawEnd.load(); }, 5s));
    stop = true;
    for (auto& t : collectors) t.join();

    std::set<std::pair<int, int>> seen;
    size_t intact = 0;
    for (const auto& c : collected)
        for (const auto& m : c.messages) {
            if (m.data == "end") continue;
            int sender = -1, number = -1;
            ASSERT_TRUE(parseHeader(m.data, sender, number)) << "mangled header, " << m.data.size() << " bytes";
            EXPECT_EQ(m.data, messageFor(sender, number)) << "sender " << sender << " message " << number;
            EXPECT_TRUE(seen.insert({sender, number}).second) << "delivered twice: " << sender << "/" << number;
            EXPECT_EQ(m.address, "127.0.0.1");
            EXPECT_EQ(m.port, sendingPort[sender % 2]);
            EXPECT_TRUE(m.zeroAfterData);
            ++intact;
        }
    EXPECT_GT(intact, 0u);
    RecordProperty("delivered", int(intact));
    RecordProperty("sent", kSenders * kMessagesPerSender);
    RecordProperty("failed sends", failedSends.load());
}

}  // namespace
}  // namespace kuvo::test
