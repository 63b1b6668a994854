// Reassembly of fragments, driven directly on an engine without receiver
// thread: trailer reading, order, duplicates, conflicting fragments under one
// id, deadlines, and the sweep that frees abandoned messages.
#include <cmath>
#include <limits>

#include "test_support.h"

namespace kuvo::test {
namespace {

constexpr double kNow = FakeClock::kEpochNow;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class ReassemblyTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        platform::testSeam().failThreadStart = true;
        e = ensureEngine();
        platform::testSeam().failThreadStart = false;
        ASSERT_EQ(e->engineState.load(), NoReceiver);
        e->lastSelectTime = kNow;
    }
    void TearDown() override {
        messages.clear();
        EngineTest::TearDown();
    }

    FragmentOutcome feed(const std::string& datagram, MessageTable& table) {
        EXPECT_EQ(datagram.size(), 1043u);
        std::memcpy(e->datagramBuffer, datagram.data(), 1043);
        e->datagramBuffer[1043] = 0;
        return e->acceptFragment(table);
    }
    FragmentOutcome feed(const std::string& datagram) { return feed(datagram, messages); }

    // The bytes of the message a Complete outcome names; takes it out of the table.
    std::string take(const FragmentOutcome& outcome) {
        EXPECT_EQ(outcome.kind, FragmentOutcome::Complete);
        if (outcome.kind != FragmentOutcome::Complete) return "";
        const ReceivedMessage& m = *outcome.entry->second;
        EXPECT_EQ(m.remainingFragments, 0u);
        EXPECT_EQ(m.data()[m.length], 0) << "a zero byte follows the message";
        std::string bytes(reinterpret_cast<const char*>(m.data()), m.length);
        messages.erase(outcome.entry);
        return bytes;
    }

    UdpEngine* e = nullptr;
    MessageTable messages;
};

TEST_F(ReassemblyTest, FragmentsInAnyOrder) {
    struct Case {
        size_t size;
        std::vector<size_t> order;
    };
    const Case cases[] = {
        {1001, {0, 1}},
        {1001, {1, 0}},
        {2000, {0, 1}},
        {2500, {2, 0, 1}},
        {3000, {2, 1, 0}},
        {3000, {1, 2, 0}},
        {10001, {10, 3, 7, 0, 9, 1, 5, 2, 8, 6, 4}},   // base64url trailers
        {65432, {}},                                   // 66 fragments, reversed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes");
        const std::string message = pattern(c.size, uint32_t(c.size));
        const auto fragments = datagramsOf(message, kIdA);
        std::vector<size_t> order = c.order;
        if (order.empty())
            for (size_t i = fragments.size(); i-- > 0;) order.push_back(i);
        ASSERT_EQ(order.size(), fragments.size());
        for (size_t k = 0; k + 1 < order.size(); ++k) {
            const FragmentOutcome o = feed(fragments[order[k]]);
            EXPECT_EQ(o.kind, FragmentOutcome::Stored) << "fragment " << order[k];
            const size_t expectedLength = order[k] + 1 == fragments.size() ? c.size - 1000 * order[k] : 1000;
            EXPECT_EQ(o.payloadLength, expectedLength) << "fragment " << order[k];
        }
        EXPECT_EQ(take(feed(fragments[order.back()])), message);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(ReassemblyTest, TrailerFields) {
    enum Expect { Dropped, Stored, Complete };
    struct Case {
        const char* what;
        const char *length, *index, *count;
        Expect expect;
    };
    // "hello" as a one-fragment message, or the last fragment of two.
    const Case cases[] = {
        {"decimal", "004", "0000", "0001", Complete},
        {"blanks before the count", "004", "0000", "  01", Complete},
        {"plus signs", "004", "+000", "+001", Complete},
        {"blank and sign", "004", " +00", " +01", Complete},
        {"last of two", "004", "0001", "0002", Stored},
        {"count 0", "004", "0000", "0000", Dropped},
        {"index equal to count", "004", "0001", "0001", Dropped},
        {"index above count", "004", "0005", "0002", Dropped},
        {"negative count", "004", "0000", "-001", Dropped},
        {"negative length", "-01", "0000", "0001", Dropped},
        {"negative index", "004", "-001", "0002", Dropped},
        {"character after the count", "004", "0000", "01x ", Dropped},
        {"blank after the count", "004", "0000", "01  ", Dropped},
        {"hex prefix", "004", "0000", "0x01", Dropped},
        {"letter in the length", "9x9", "0000", "0001", Dropped},
        {"blank length", "   ", "0000", "0001", Dropped},
        {"letters as index", "004", "abcd", "0001", Dropped},
        {"base64url", "AAE", "AAAA", "AAAB", Complete},
        {"base64url, last of two", "AAE", "AAAB", "AAAC", Stored},
        {"base64url non-digit", "AAE", "AA*A", "AAAB", Dropped},
        {"base64url blank", "AAE", "AAAA", " AAB", Dropped},
        {"base64url length 1000", "APo", "AAAA", "AAAB", Dropped},
        {"base64url count 0", "AAE", "AAAA", "AAAA", Dropped},
        {"lower-case first length digit", "aAE", "AAAA", "AAAB", Dropped},
        {"count beyond 32-bit length", "APn", "AAAA", "QYk4", Dropped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        const FragmentOutcome o = feed(fragment("hello", c.length, c.index, c.count, kIdA));
        switch (c.expect) {
        case Dropped:
            EXPECT_EQ(o.kind, FragmentOutcome::Dropped);
            EXPECT_TRUE(messages.empty());
            break;
        case Stored:
            EXPECT_EQ(o.kind, FragmentOutcome::Stored);
            EXPECT_EQ(o.payloadLength, 5u);
            break;
        case Complete:
            EXPECT_EQ(take(o), "hello");
            break;
        }
    }
}

TEST_F(ReassemblyTest, DuplicateIsDroppedAndDoesNotExtendTheDeadline) {
    const auto fragments = datagramsOf(pattern(1500), kIdA);
    EXPECT_EQ(feed(fragments[0]).kind, FragmentOutcome::Stored);
    e->lastSelectTime = kNow + 10;
    EXPECT_EQ(feed(fragments[0]).kind, FragmentOutcome::Dropped);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.begin()->second->deadline, kNow + 30);
    EXPECT_EQ(take(feed(fragments[1])), pattern(1500));
}

// Fragments that cannot belong to the pending message under their id: the
// stale message goes and the newcomer starts a message of its own.
TEST_F(ReassemblyTest, ConflictingFragmentStartsANewMessage) {
    struct Case {
        const char* what;
        std::string pending, newcomer;
    };
    const Case cases[] = {
        {"same count, slot holds other bytes", pattern(2500, 1), pattern(2500, 2)},
        {"other count", pattern(2500, 1), pattern(1500, 2)},
        {"other count, same first slot", pattern(2500, 1), pattern(2500, 1).substr(0, 1500)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        const auto old = datagramsOf(c.pending, kIdA), fresh = datagramsOf(c.newcomer, kIdA);
        ASSERT_EQ(feed(old[0]).kind, FragmentOutcome::Stored);
        for (size_t i = 0; i + 1 < fresh.size(); ++i) ASSERT_EQ(feed(fresh[i]).kind, FragmentOutcome::Stored) << i;
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(take(feed(fresh.back())), c.newcomer);
    }
}

TEST_F(ReassemblyTest, ShortNonLastFragmentStillFillsItsSlot) {
    const FragmentOutcome first = feed(fragment("hello", "004", "0000", "0002", kIdA));
    EXPECT_EQ(first.kind, FragmentOutcome::Stored);
    const std::string got = take(feed(fragment("hi", "001", "0001", "0002", kIdA)));
    ASSERT_EQ(got.size(), 1002u);
    EXPECT_EQ(got.substr(0, 5), "hello");
    EXPECT_EQ(got.substr(5, 995), std::string(995, '\0'));
    EXPECT_EQ(got.substr(1000), "hi");
}

TEST_F(ReassemblyTest, StoredFragmentsScheduleTheSweepAndMoveTheDeadline) {
    const auto fragments = datagramsOf(pattern(3000), kIdA);
    for (double start : {kInfinity, -kInfinity}) {
        messages.clear();
        e->nextSweepTime = start;
        e->lastSelectTime = kNow;
        ASSERT_EQ(feed(fragments[0]).kind, FragmentOutcome::Stored);
        EXPECT_EQ(e->nextSweepTime, kNow + 30);
        const ReceivedMessage& m = *messages.begin()->second;
        EXPECT_EQ(m.firstArrival, kNow);
        EXPECT_EQ(m.deadline, kNow + 30);

        e->lastSelectTime = kNow + 5;
        ASSERT_EQ(feed(fragments[2]).kind, FragmentOutcome::Stored);
        EXPECT_EQ(e->nextSweepTime, kNow + 30) << "a scheduled sweep stays";
        EXPECT_EQ(m.deadline, kNow + 35);
        EXPECT_EQ(m.firstArrival, kNow);
    }
}

TEST_F(ReassemblyTest, SweepFreesMessagesWhoseDeadlinePassed) {
    const SocketHandle s = platform::openUdpSocket();
    ASSERT_NE(s, invalidSocket);
    Endpoint sender{}, silent{};
    sender.port = 1000;
    silent.port = 2000;
    {
        EngineLock lock(e->engineMutex);
        e->receiveTable[s][silent];   // a sender whose datagrams were all dropped
    }
    const auto fragments = datagramsOf(pattern(1500), kIdA);
    ASSERT_EQ(feed(fragments[0], e->receiveTable[s][sender]).kind, FragmentOutcome::Stored);

    e->lastSelectTime = kNow + 29.5;
    e->sweep();
    EXPECT_EQ(e->nextSweepTime, kNow + 59.5);
    ASSERT_EQ(e->receiveTable[s].size(), 1u) << "the empty sender entry goes, the live message stays";
    EXPECT_EQ(e->receiveTable[s].begin()->second.size(), 1u);

    e->lastSelectTime = kNow + 30;
    e->sweep();
    EXPECT_TRUE(e->receiveTable[s].empty());
    EXPECT_EQ(e->nextSweepTime, kInfinity);
}

}  // namespace
}  // namespace kuvo::test
