// The engine's life: creation on first use, destruction by releaseUDP, the
// states reached when a part of the start fails, and a receiver thread that
// stops on its own.
#include <dirent.h>
#include <pthread.h>

#include <functional>
#include <set>
#include <string>

#include "test_support.h"

namespace kuvo::test {
namespace {

std::string readFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::multiset<std::string> threadNames() {
    std::multiset<std::string> names;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return names;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        names.insert(readFirstLine(std::string("/proc/self/task/") + e->d_name + "/comm"));
    }
    ::closedir(dir);
    return names;
}

using LifecycleTest = EngineTest;

TEST_F(LifecycleTest, NoEngineUntilASocketCall) {
    EXPECT_EQ(currentEngine(), nullptr);
    lastSocketError();
    EXPECT_EQ(currentEngine(), nullptr);
    releaseUDP();
    EXPECT_EQ(currentEngine(), nullptr);
}

bool refuseAll(const char*, uint32_t, uint32_t, uint32_t, void*) { return false; }
bool refuseAddress(const char*, uint64_t, uint32_t, uint32_t, void*) { return false; }
bool refusePort(uint16_t, uint32_t, uint32_t, void*) { return false; }

TEST_F(LifecycleTest, EverySocketCallCreatesARunningEngine) {
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Kuvoinit", [] { Kuvoinit(0); }},
        {"Kuvoclose", [] { Kuvoclose(123456); }},
        {"KuvoclosePort", [] { KuvoclosePort(-1); }},
        {"KuvocloseALL", [] { KuvocloseALL(); }},
        {"Kuvosend", [] { Kuvosend(invalidSocket, "127.0.0.1", 9, "x"); }},
        {"KuvosendBytes", [] { KuvosendBytes(invalidSocket, "127.0.0.1", 9, "x", 1); }},
        {"Kuvorecv", [] { Kuvorecv(123456, 1, refuseAll, refuseAddress, refusePort, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        ASSERT_EQ(currentEngine(), nullptr) << name;
        call();
        UdpEngine* e = currentEngine();
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->engineState.load(), Running) << name;
        EXPECT_TRUE(e->receiverThread.exists()) << name;
        releaseUDP();
        EXPECT_EQ(currentEngine(), nullptr) << name;
    }
}

TEST_F(LifecycleTest, FreshEngineKnowsNoOldHandle) {
    const SocketHandle s = openAdopted();
    const uint16_t port = portOf(s);
    Peer peer;
    ASSERT_TRUE(peer.sendTo(port, "queued"));
    ASSERT_TRUE(waitQueued(s, 1));

    releaseUDP();
    EXPECT_TRUE(portIsFree(port));

    EXPECT_EQ(Kuvoclose(s), 0);
    EXPECT_EQ(engine().engineState.load(), Running);
    Collector c;
    EXPECT_TRUE(c.receive(s));
    EXPECT_TRUE(c.messages.empty());
}

TEST_F(LifecycleTest, ThreadNames) {
    const std::string mainName = readFirstLine("/proc/self/comm");
    ensureEngine();
    EXPECT_EQ(threadNames().count("UDP_receiver_th"), 1u);
    EXPECT_EQ(readFirstLine("/proc/self/comm"), mainName) << "the main thread keeps its name";
    releaseUDP();
    EXPECT_EQ(threadNames().count("UDP_receiver_th"), 0u);

    // A calling thread other than the main thread is named.
    std::string workerName;
    std::thread worker([&] {
        ensureEngine();
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        workerName = name;
    });
    worker.join();
    EXPECT_EQ(workerName.rfind("Matlab mex", 0), 0u) << workerName;
}

struct StartFailure {
    const char* name;
    std::function<void(platform::TestSeam&)> arrange;
    EngineState state;
    bool mutex;
};

TEST_F(LifecycleTest, StartFailuresLeaveAnEngineWithoutReceiver) {
    const StartFailure failures[] = {
        {"startup", [](auto& s) { s.failStartup = true; }, Unavailable, false},
        {"mutex", [](auto& s) { s.failMutex = true; }, NoReceiver, false},
        {"wake pair", [](auto& s) { s.failWakePair = true; }, NoReceiver, true},
        {"thread start", [](auto& s) { s.failThreadStart = true; }, NoReceiver, true},
        {"first wait", [](auto& s) { s.failWaits = 1; }, NoReceiver, true},
    };
    Peer peer;
    ASSERT_TRUE(peer.ok());
    for (const auto& f : failures) {
        SCOPED_TRACE(f.name);
        const size_t descriptors = openDescriptors();
        f.arrange(platform::testSeam());
        const SocketHandle s = Kuvoinit(0);
        resetSeam();

        UdpEngine& e = engine();
        EXPECT_EQ(e.engineState.load(), f.state);
        EXPECT_EQ(e.engineMutex.exists(), f.mutex);
        EXPECT_FALSE(e.receiverThread.exists());
        EXPECT_EQ(e.wakeReceiver, invalidSocket);
        EXPECT_EQ(e.wakeSender, invalidSocket);
        EXPECT_EQ(e.watchSet.size(), 0u);

        if (f.state == Unavailable) {
            EXPECT_EQ(s, invalidSocket);
            EXPECT_EQ(lastSocketError(), platform::kErrorNotInitialised);
        } else {
            // A send-only socket: it sends, nothing sent to it is read, and no
            // close operation knows it.
            ASSERT_NE(s, invalidSocket);
            EXPECT_EQ(KuvosendBytes(s, "127.0.0.1", peer.port(), "hello", 5), 5);
            auto d = peer.receive();
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(d->bytes, "hello");
            EXPECT_EQ(d->port, portOf(s));
            peer.sendTo(portOf(s), "unread");
            EXPECT_EQ(Kuvoclose(s), 0);
            EXPECT_EQ(KuvoclosePort(portOf(s)), 0);
        }
        EXPECT_EQ(KuvocloseALL(), 0);
        Collector c;
        EXPECT_TRUE(c.receive(s));
        EXPECT_TRUE(c.messages.empty());

        releaseUDP();
        if (s != invalidSocket && ::fcntl(int(s), F_GETFD) != -1) ::close(int(s));
        EXPECT_EQ(openDescriptors(), descriptors) << "descriptors left behind";
    }
}

// Destroying the engine closes every socket it opened, the send-only ones of
// an engine without receiver too: no later call could close them.
TEST_F(LifecycleTest, SendOnlySocketsCloseWithTheEngine) {
    platform::testSeam().failThreadStart = true;
    const SocketHandle s = Kuvoinit(0);
    resetSeam();
    ASSERT_NE(s, invalidSocket);
    const uint16_t port = portOf(s);
    releaseUDP();
    EXPECT_TRUE(portIsFree(port));
    if (::fcntl(int(s), F_GETFD) != -1) ::close(int(s));
}

TEST_F(LifecycleTest, StoppedReceiverStillClosesEverySocketAtDestruction) {
    const SocketHandle adopted = openAdopted();
    ASSERT_TRUE(stopReceiver());
    const SocketHandle waiting = Kuvoinit(0);
    ASSERT_NE(waiting, invalidSocket);

    // Nothing adopts or closes sockets any more.
    EXPECT_EQ(Kuvoclose(waiting), 0);
    EXPECT_EQ(Kuvoclose(adopted), 1);
    const uint16_t adoptedPort = portOf(adopted), waitingPort = portOf(waiting);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(portIsFree(adoptedPort));
    EXPECT_FALSE(portIsFree(waitingPort));

    releaseUDP();
    EXPECT_TRUE(portIsFree(adoptedPort));
    EXPECT_TRUE(portIsFree(waitingPort));
}

}  // namespace
}  // namespace kuvo::test
