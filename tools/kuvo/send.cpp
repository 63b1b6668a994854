// `kuvo send`: one file or standard input as one Kuvo message.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "kuvo.h"

namespace kuvo::cli {
namespace {

constexpr size_t kLargestMessage = size_t(std::numeric_limits<int32_t>::max());

// An open file descriptor, closed on every way out.
class InputFile {
public:
    explicit InputFile(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~InputFile() {
        if (owned_ && fd_ >= 0) close(fd_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
    bool owned_;
};

enum class ReadOutcome { Ok, Failed, Interrupted };

// Reads the whole input, refusing more than one message can hold.
ReadOutcome readAll(const std::string& path, std::vector<char>& data, std::string& error) {
    const bool fromStdin = path == "-";
    const std::string name = fromStdin ? "standard input" : "'" + path + "'";
    InputFile input(fromStdin ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC), !fromStdin);
    if (input.fd() < 0) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return ReadOutcome::Failed;
    }
    struct stat info {};
    if (fstat(input.fd(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = name + " is a folder";
            return ReadOutcome::Failed;
        }
        if (S_ISREG(info.st_mode) && uint64_t(info.st_size) <= kLargestMessage) data.reserve(size_t(info.st_size));
    }

    constexpr size_t kChunk = 1 << 16;
    for (;;) {
        if (stopSignal) return ReadOutcome::Interrupted;
        const size_t used = data.size();
        data.resize(used + kChunk);
        const ssize_t got = read(input.fd(), data.data() + used, kChunk);
        if (got < 0) {
            data.resize(used);
            if (errno == EINTR) continue;
            error = "cannot read " + name + ": " + std::strerror(errno);
            return ReadOutcome::Failed;
        }
        data.resize(used + size_t(got));
        if (got == 0) return ReadOutcome::Ok;
        if (data.size() > kLargestMessage) {
            error = name + " is larger than the largest message (" + std::to_string(kLargestMessage) + " bytes)";
            return ReadOutcome::Failed;
        }
    }
}

}  // namespace

int runSend(const SendOptions& options) {
    std::string address;
    std::string error;
    if (!resolveHost(options.host, address, error)) {
        std::fprintf(stderr, "kuvo: %s\n", error.c_str());
        return kExitFailure;
    }

    std::vector<char> data;
    switch (readAll(options.file, data, error)) {
    case ReadOutcome::Ok: break;
    case ReadOutcome::Interrupted: return exitCodeForSignal(stopSignal);
    case ReadOutcome::Failed:
        std::fprintf(stderr, "kuvo: %s\n", error.c_str());
        return kExitFailure;
    }

    if (data.empty()) {
        std::fprintf(stderr, "kuvo: warning: sending an empty message; Kuvo receivers ignore empty datagrams\n");
    }

    EngineScope engine;
    const uint64_t socket = Kuvoinit(options.fromPort);
    if (socket == ~uint64_t(0)) {
        const int code = lastSocketError();
        if (options.fromPort != 0) {
            std::fprintf(stderr, "kuvo: cannot open a UDP socket on port %u: %s\n", unsigned(options.fromPort),
                         socketErrorText(code).c_str());
        } else {
            std::fprintf(stderr, "kuvo: cannot open a UDP socket: %s\n", socketErrorText(code).c_str());
        }
        return kExitFailure;
    }

    const int length = int(data.size());
    const int sent = KuvosendBytes(socket, address.c_str(), options.port, data.data(), length);
    const int code = lastSocketError();
    std::printf("%d\n", sent);
    const bool printed = std::fflush(stdout) == 0;
    if (sent != length) {
        // Kuvo keeps no reason for a failed send; the last socket error is
        // only a hint.
        std::fprintf(stderr, "kuvo: sending %d bytes to %s port %u failed (last %s)\n", length, address.c_str(),
                     unsigned(options.port), socketErrorText(code).c_str());
        return kExitFailure;
    }
    if (!printed) {
        std::fprintf(stderr, "kuvo: cannot write to standard output: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace kuvo::cli
