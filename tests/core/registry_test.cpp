// Opening and closing sockets: how they are configured, when the close
// operations know a socket, what they close, the 64-socket limit of the
// receiver's wait, and the error a failed open leaves.
#include <climits>

#include "test_support.h"

namespace kuvo::test {
namespace {

using RegistryTest = EngineTest;

int intOption(SocketHandle s, int level, int name) {
    int value = -1;
    socklen_t n = sizeof value;
    if (::getsockopt(int(s), level, name, &value, &n) != 0) return -1;
    return value;
}

long systemLimit(const char* path) {
    std::ifstream in(path);
    long v = 0;
    in >> v;
    return v;
}

TEST_F(RegistryTest, SocketsAreDualStackNonBlockingAndNotInherited) {
    const SocketHandle s = openAdopted();
    EXPECT_NE(::fcntl(int(s), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(int(s), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(intOption(s, IPPROTO_IPV6, IPV6_V6ONLY), 0);
    const long wanted = std::min<long>(8 << 20, systemLimit("/proc/sys/net/core/rmem_max"));
    EXPECT_GE(intOption(s, SOL_SOCKET, SO_RCVBUF), wanted);
    for (SocketHandle wake : {engine().wakeReceiver, engine().wakeSender})
        EXPECT_NE(::fcntl(int(wake), F_GETFD) & FD_CLOEXEC, 0);

    // IPv4 and IPv6 peers reach the same socket.
    Peer v4(AF_INET), v6(AF_INET6);
    ASSERT_TRUE(v4.sendTo(portOf(s), "from v4"));
    ASSERT_TRUE(v6.sendTo(portOf(s), "from v6"));
    auto got = collect(s, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data + "," + got[1].data, "from v4,from v6");
}

TEST_F(RegistryTest, CloseKnowsASocketFromItsAdoptionToItsRetirement) {
    const SocketHandle s = Kuvoinit(0);
    ASSERT_NE(s, invalidSocket);
    const uint16_t port = portOf(s);
    // Until the receiver has adopted the socket, the close finds nothing.
    EXPECT_TRUE(waitUntil([s] { return Kuvoclose(s) == 1; }));
    EXPECT_TRUE(waitPortFree(port));
    EXPECT_EQ(Kuvoclose(s), 0);
    EXPECT_FALSE(isRegistered(s));
}

TEST_F(RegistryTest, CloseDropsQueuedMessagesAtOnce) {
    const SocketHandle s = openAdopted();
    Peer peer;
    ASSERT_TRUE(peer.sendTo(portOf(s), "one"));
    ASSERT_TRUE(peer.sendTo(portOf(s), "two"));
    ASSERT_TRUE(waitQueued(s, 2));
    EXPECT_EQ(Kuvoclose(s), 1);
    Collector c;
    EXPECT_TRUE(c.receive(s));
    EXPECT_TRUE(c.messages.empty());
}

TEST_F(RegistryTest, ClosePortTakesTheLowestHandleFirst) {
    const SocketHandle a = openAdopted();
    const uint16_t port = portOf(a);
    const SocketHandle b = Kuvoinit(port);   // address reuse lets both bind
    ASSERT_NE(b, invalidSocket);
    ASSERT_TRUE(waitRegistered(b));
    const SocketHandle low = std::min(a, b), high = std::max(a, b);

    EXPECT_EQ(KuvoclosePort(port), 1);
    EXPECT_TRUE(waitUntil([&] { return !isRegistered(low); }));
    EXPECT_TRUE(isRegistered(high));

    EXPECT_EQ(KuvoclosePort(port), 1);
    EXPECT_TRUE(waitUntil([&] { return !isRegistered(high); }));
    EXPECT_EQ(KuvoclosePort(port), 0);
    EXPECT_TRUE(portIsFree(port));
}

TEST_F(RegistryTest, ClosePortOutsideThePortRangeMatchesNothing) {
    const SocketHandle s = openAdopted();
    const int port = portOf(s);
    for (int p : {-1, 65536, 70000, port + 65536, port - 65536, INT_MIN, INT_MAX})
        EXPECT_EQ(KuvoclosePort(p), 0) << p;
    EXPECT_TRUE(isRegistered(s));
}

TEST_F(RegistryTest, CloseAllWhileRunning) {
    EXPECT_EQ(KuvocloseALL(), 0);   // nothing to close

    std::vector<SocketHandle> sockets = {openAdopted(), openAdopted(), openAdopted()};
    Peer peer;
    ASSERT_TRUE(peer.sendTo(portOf(sockets[1]), "queued"));
    ASSERT_TRUE(waitQueued(sockets[1], 1));
    std::vector<uint16_t> ports;
    for (SocketHandle s : sockets) ports.push_back(portOf(s));

    EXPECT_EQ(KuvocloseALL(), 0);
    Collector c;
    EXPECT_TRUE(c.receive(sockets[1]));
    EXPECT_TRUE(c.messages.empty()) << "queued messages are dropped at once";
    for (uint16_t p : ports) EXPECT_TRUE(waitPortFree(p)) << p;
    EXPECT_TRUE(waitUntil([] {
        EngineLock lock(engine().engineMutex);
        return engine().receiveTable.empty();
    }));
}

TEST_F(RegistryTest, StoppedReceiverKeepsRegisteredSocketsOpen) {
    const SocketHandle withMessage = openAdopted(), other = openAdopted();
    Peer peer;
    ASSERT_TRUE(peer.sendTo(portOf(withMessage), "queued"));
    ASSERT_TRUE(waitQueued(withMessage, 1));
    ASSERT_TRUE(stopReceiver());
    const SocketHandle waiting = Kuvoinit(0);
    ASSERT_NE(waiting, invalidSocket);
    const uint16_t waitingPort = portOf(waiting), registeredPort = portOf(withMessage);

    // Two closes of one handle leave one request.
    EXPECT_EQ(Kuvoclose(other), 1);
    EXPECT_EQ(Kuvoclose(other), 1);
    {
        EngineLock lock(engine().engineMutex);
        EXPECT_EQ(engine().closeRequests.size(), 1u);
        EXPECT_TRUE(engine().closeRequests.contains(other));
    }
    EXPECT_EQ(KuvoclosePort(waitingPort), 0) << "a waiting socket is not registered";

    // Refused without a running receiver, after closing the waiting socket and
    // dropping every queued message.
    EXPECT_EQ(KuvocloseALL(), -1);
    EXPECT_TRUE(portIsFree(waitingPort));
    EXPECT_FALSE(portIsFree(registeredPort));
    EXPECT_TRUE(isRegistered(withMessage));
    EXPECT_EQ(queuedCount(withMessage), 0u);
}

TEST_F(RegistryTest, SixtyFourthSocketIsRegisteredButNeverReceives) {
    std::vector<SocketHandle> watched;
    for (int i = 0; i < 63; ++i) watched.push_back(openAdopted());
    const SocketHandle extra = openAdopted();
    {
        EngineLock lock(engine().engineMutex);
        EXPECT_TRUE(engine().watchSet.full());
        EXPECT_FALSE(engine().watchSet.contains(extra));
    }
    Peer peer;
    ASSERT_TRUE(peer.sendTo(portOf(extra), "never read"));
    ASSERT_TRUE(peer.sendTo(portOf(watched.back()), "probe"));
    EXPECT_TRUE(collectUntil(watched.back(), "probe").empty());
    std::this_thread::sleep_for(50ms);
    Collector c;
    c.receive(extra);
    EXPECT_TRUE(c.messages.empty());

    const uint16_t extraPort = portOf(extra);
    EXPECT_EQ(Kuvoclose(extra), 1);
    EXPECT_TRUE(waitPortFree(extraPort));
}

TEST_F(RegistryTest, FailedOpenLeavesTheErrorCodeAndNoDescriptor) {
    Peer blocker(AF_INET6, 0, /*anyAddress=*/true);
    ASSERT_TRUE(blocker.ok());
    ensureEngine();
    const size_t descriptors = openDescriptors();
    EXPECT_EQ(Kuvoinit(blocker.port()), invalidSocket);
    EXPECT_EQ(lastSocketError(), platform::kErrorAddressInUse);
    EXPECT_EQ(openDescriptors(), descriptors);
}

}  // namespace
}  // namespace kuvo::test
