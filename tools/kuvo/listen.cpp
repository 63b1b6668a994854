// `kuvo listen`: opens one socket and reports every message Kuvo delivers on
// it, optionally keeping the bytes.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include <unistd.h>

#include "cli.h"
#include "kuvo.h"

namespace kuvo::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long to wait before asking Kuvo again when nothing was queued.
constexpr auto kIdleSleep = std::chrono::milliseconds(2);

// Values sent from MATLAB and Octave end in 0x00 and a kind letter.
const char* markerKind(const char* data, uint32_t length) {
    if (length < 2 || data[length - 2] != '\0') return "none";
    if (data[length - 1] == '8') return "int8";
    if (data[length - 1] == 'S') return "serialized";
    return "none";
}

bool writeFully(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, data, length);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += put;
        length -= size_t(put);
    }
    return true;
}

bool writeFile(const fs::path& path, const char* data, size_t length, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data, 1, length, file) == length;
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "cannot write " + path.string() + ": " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

// What the three callbacks of one Kuvorecv call share. The address and port
// arrive before the data of the same message.
struct Collector {
    Collector(const ListenOptions& o, std::FILE* l) : options(o), lines(l) {}

    const ListenOptions& options;
    std::FILE* lines;          // where the one-line reports go
    uint64_t received = 0;
    std::string address;
    uint16_t port = 0;
    bool failed = false;
    std::string error;

    bool take(const char* data, uint32_t length) {
        const uint64_t n = received + 1;
        std::string where;
        if (!options.outDir.empty()) {
            const fs::path path = fs::path(options.outDir) / ("msg-" + std::to_string(n) + ".bin");
            if (!writeFile(path, data, length, error)) return fail();
            where = " " + path.string();
        } else if (options.toStdout && !writeFully(STDOUT_FILENO, data, length)) {
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return fail();
        }
        received = n;
        std::fprintf(lines, "%llu %s %u %u %s%s\n", static_cast<unsigned long long>(n), address.c_str(),
                     unsigned(port), unsigned(length), markerKind(data, length), where.c_str());
        if (std::fflush(lines) != 0) {
            error = std::string("cannot write the report: ") + std::strerror(errno);
            return fail();
        }
        return true;
    }

    bool fail() {
        failed = true;
        return false;
    }
};

bool onAddress(const char* text, uint64_t length, uint32_t, uint32_t, void* user) {
    static_cast<Collector*>(user)->address.assign(text, size_t(length));
    return true;
}

bool onPort(uint16_t port, uint32_t, uint32_t, void* user) {
    static_cast<Collector*>(user)->port = port;
    return true;
}

bool onData(const char* data, uint32_t length, uint32_t, uint32_t, void* user) {
    return static_cast<Collector*>(user)->take(data, length);
}

}  // namespace

int runListen(const ListenOptions& options) {
    if (!options.outDir.empty()) {
        std::error_code failure;
        fs::create_directories(options.outDir, failure);
        if (failure || !fs::is_directory(options.outDir)) {
            std::fprintf(stderr, "kuvo: cannot use '%s' as the output folder: %s\n", options.outDir.c_str(),
                         failure ? failure.message().c_str() : "not a folder");
            return kExitFailure;
        }
    }

    EngineScope engine;
    const uint64_t socket = Kuvoinit(options.port);
    if (socket == ~uint64_t(0)) {
        std::fprintf(stderr, "kuvo: cannot open a UDP socket on port %u: %s\n", unsigned(options.port),
                     socketErrorText(lastSocketError()).c_str());
        return kExitFailure;
    }
    std::fprintf(stderr, "kuvo: listening on port %u\n", unsigned(options.port));
    std::fflush(stderr);

    Collector collector(options, options.toStdout ? stderr : stdout);
    const Clock::time_point start = Clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };

    for (;;) {
        if (stopSignal) {
            std::fprintf(stderr, "kuvo: interrupted; messages received: %llu\n",
                         static_cast<unsigned long long>(collector.received));
            return exitCodeForSignal(stopSignal);
        }
        // Take no more than still wanted: the rest stays queued, not lost.
        const uint64_t wanted =
            options.count ? options.count - collector.received : std::numeric_limits<uint64_t>::max();
        const uint64_t before = collector.received;
        const bool delivered = Kuvorecv(socket, wanted, onData, onAddress, onPort, &collector);
        if (collector.failed) {
            std::fprintf(stderr, "kuvo: %s\n", collector.error.c_str());
            return kExitFailure;
        }
        if (!delivered) {
            std::fprintf(stderr, "kuvo: receiving on port %u failed\n", unsigned(options.port));
            return kExitFailure;
        }
        if (options.count && collector.received >= options.count) return kExitOk;
        if (options.timeoutSeconds && elapsed() >= *options.timeoutSeconds) {
            std::fprintf(stderr, "kuvo: timed out after %g s; messages received: %llu\n", *options.timeoutSeconds,
                         static_cast<unsigned long long>(collector.received));
            return kExitTimeout;
        }
        if (collector.received == before) std::this_thread::sleep_for(kIdleSleep);
    }
}

}  // namespace kuvo::cli
