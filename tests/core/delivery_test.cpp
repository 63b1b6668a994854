// Kuvorecv's contract: how many messages one call takes, the index and
// remaining values, the order of the three callbacks, what a refusal costs,
// and the order of messages from several senders.
#include "test_support.h"

namespace kuvo::test {
namespace {

class DeliveryTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        s = openAdopted();
        port = portOf(s);
    }
    // Sends whole datagrams and waits until all of them are queued.
    void queue(const std::vector<std::string>& messages, const Peer* from = nullptr) {
        const size_t before = queuedCount(s);
        ASSERT_TRUE((from ? *from : peer).sendAll(port, messages));
        ASSERT_TRUE(waitQueued(s, before + messages.size()));
    }
    static std::vector<std::string> datas(const Collector& c) {
        std::vector<std::string> out;
        for (const auto& m : c.messages) out.push_back(m.data);
        return out;
    }

    Peer peer;
    SocketHandle s = invalidSocket;
    uint16_t port = 0;
};

TEST_F(DeliveryTest, CountBoundsOneCall) {
    queue({"m0", "m1", "m2"});

    Collector none;
    EXPECT_TRUE(none.receive(s, 0));
    EXPECT_EQ(none.trace, "");
    EXPECT_EQ(queuedCount(s), 3u);

    Collector one;
    EXPECT_TRUE(one.receive(s, 1));
    EXPECT_EQ(one.trace, "A0P0D0");
    ASSERT_EQ(one.messages.size(), 1u);
    EXPECT_EQ(one.messages[0].data, "m0");
    EXPECT_EQ(one.messages[0].remaining, 1u);
    EXPECT_EQ(queuedCount(s), 2u);

    Collector rest;
    EXPECT_TRUE(rest.receive(s, 5));
    EXPECT_EQ(datas(rest), (std::vector<std::string>{"m1", "m2"}));
    ASSERT_EQ(rest.messages.size(), 2u);
    EXPECT_EQ(rest.messages[0].index, 0u);
    EXPECT_EQ(rest.messages[0].remaining, 2u);
    EXPECT_EQ(rest.messages[1].index, 1u);
    EXPECT_EQ(rest.messages[1].remaining, 1u);
    {
        EngineLock lock(engine().engineMutex);
        EXPECT_EQ(engine().deliveryTable.count(s), 0u) << "an emptied queue leaves no entry";
    }

    queue({"m3", "m4", "m5"});
    Collector all;
    EXPECT_TRUE(all.receive(s, UINT64_MAX));
    EXPECT_EQ(datas(all), (std::vector<std::string>{"m3", "m4", "m5"}));
    EXPECT_EQ(all.trace, "A0P0D0A1P1D1A2P2D2");
}

TEST_F(DeliveryTest, RefusalEndsTheCallAndDropsWhatItTook) {
    struct Case {
        char kind;
        uint32_t index;
        bool result;
        const char* trace;
    };
    const Case cases[] = {
        {'A', 0, false, "A0"},         {'P', 0, false, "A0P0"},         {'D', 0, false, "A0P0D0"},
        {'A', 1, true, "A0P0D0A1"},    {'P', 1, true, "A0P0D0A1P1"},    {'D', 1, true, "A0P0D0A1P1D1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.kind) + std::to_string(c.index));
        queue({"r0", "r1", "r2"});
        Collector refusing;
        refusing.refuseKind = c.kind;
        refusing.refuseIndex = c.index;
        EXPECT_EQ(refusing.receive(s), c.result);
        EXPECT_EQ(refusing.trace, c.trace);
        if (c.index == 1) {
            EXPECT_EQ(refusing.messages.at(0).data, "r0") << "the first was delivered whole";
        }

        // The refused message and those after it are gone; later ones arrive.
        EXPECT_EQ(queuedCount(s), 0u);
        queue({"later"});
        Collector next;
        EXPECT_TRUE(next.receive(s));
        EXPECT_EQ(datas(next), std::vector<std::string>{"later"});
    }
}

TEST_F(DeliveryTest, HandlesWithoutMessagesGiveTrueAndNoCalls) {
    const SocketHandle quiet = openAdopted();
    const SocketHandle closed = openAdopted();
    Peer other;
    ASSERT_TRUE(other.sendTo(portOf(closed), "dropped by the close"));
    ASSERT_TRUE(waitQueued(closed, 1));
    ASSERT_EQ(Kuvoclose(closed), 1);
    for (SocketHandle h : {quiet, closed, SocketHandle(987654), invalidSocket}) {
        Collector c;
        EXPECT_TRUE(c.receive(h)) << h;
        EXPECT_EQ(c.trace, "") << h;
    }
}

// Messages are delivered by the receiver pass in which their first fragment
// arrived, across senders, not by the moment they became complete.
TEST_F(DeliveryTest, OrderFollowsFirstArrivalAcrossSenders) {
    releaseUDP();
    FakeClock clock;
    s = openAdopted();
    port = portOf(s);
    Peer other;
    const std::string longMessage = pattern(1500);
    const auto fragments = datagramsOf(longMessage, kIdA);

    // Each step waits until its whole datagram is queued, then moves the clock.
    auto step = [&](const Peer& from, const std::vector<std::string>& datagrams, size_t queued) {
        ASSERT_TRUE(from.sendAll(port, datagrams));
        ASSERT_TRUE(waitQueued(s, queued));
        clock.set(clock.now() + 1);
    };
    step(peer, {fragments[0], "a1"}, 1);
    step(other, {"b1"}, 2);
    step(peer, {fragments[1]}, 3);   // completes the message begun with a1
    step(peer, {"a2"}, 4);

    Collector c;
    EXPECT_TRUE(c.receive(s));
    EXPECT_EQ(datas(c), (std::vector<std::string>{"a1", longMessage, "b1", "a2"}));
    ASSERT_EQ(c.messages.size(), 4u);
    EXPECT_EQ(c.messages[2].port, other.port());
    EXPECT_EQ(c.messages[3].port, peer.port());
}

// Callbacks run without the engine's lock held: they may call the library.
TEST_F(DeliveryTest, CallbacksMayCallTheLibrary) {
    queue({"outer", "inner"});
    struct Nested {
        SocketHandle s;
        Collector inner;
        std::string outer;
    } nested{s, {}, {}};
    auto onData = [](const char* data, uint32_t length, uint32_t, uint32_t, void* user) {
        auto& n = *static_cast<Nested*>(user);
        n.outer.assign(data, length);
        return n.inner.receive(n.s, 1);
    };
    auto onAddress = [](const char*, uint64_t, uint32_t, uint32_t, void*) { return true; };
    auto onPort = [](uint16_t, uint32_t, uint32_t, void*) { return true; };
    EXPECT_TRUE(Kuvorecv(s, 1, onData, onAddress, onPort, &nested));
    EXPECT_EQ(nested.outer, "outer");
    EXPECT_EQ(datas(nested.inner), std::vector<std::string>{"inner"});
}

}  // namespace
}  // namespace kuvo::test
