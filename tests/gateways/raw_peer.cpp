// A plain UDP program on loopback, for the gateway tests: it sends datagrams
// without any Kuvo marker, or prints the datagrams it receives.
//
//   raw_peer send PORT HEX...             one datagram per HEX argument to
//                                         127.0.0.1:PORT, from one socket
//   raw_peer recv PORT COUNT TIMEOUT_MS   binds 127.0.0.1:PORT, prints "ready",
//                                         then one hex line per datagram, until
//                                         COUNT arrived or the time is up
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool fromHex(const std::string& hex, std::vector<unsigned char>& out) {
  if (hex == "-") return true;  // the empty datagram
  if (hex.size() % 2) return false;
  for (size_t k = 0; k < hex.size(); k += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(k, 2);
    const long v = std::strtol(pair.c_str(), &end, 16);
    if (*end) return false;
    out.push_back(static_cast<unsigned char>(v));
  }
  return true;
}

int sendAll(int port, int argc, char** argv) {
  Socket s;
  if (s.fd() < 0) return 1;
  const sockaddr_in to = loopback(port);
  for (int k = 0; k < argc; ++k) {
    std::vector<unsigned char> bytes;
    if (!fromHex(argv[k], bytes)) {
      std::fprintf(stderr, "raw_peer: not hex: %s\n", argv[k]);
      return 2;
    }
    if (::sendto(s.fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(bytes.size())) {
      std::perror("raw_peer: sendto");
      return 1;
    }
  }
  sockaddr_in self{};
  socklen_t len = sizeof self;
  ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&self), &len);
  std::printf("%d\n", ntohs(self.sin_port));
  return 0;
}

int receive(int port, int count, int timeoutMs) {
  Socket s;
  const sockaddr_in at = loopback(port);
  if (s.fd() < 0 || ::bind(s.fd(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
    std::perror("raw_peer: bind");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<unsigned char> buffer(70000);
  for (int got = 0; got < count;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{s.fd(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n = ::recv(s.fd(), buffer.data(), buffer.size(), 0);
    if (n < 0) continue;
    for (ssize_t k = 0; k < n; ++k) std::printf("%02x", buffer[k]);
    std::printf("\n");
    std::fflush(stdout);
    ++got;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "send") return sendAll(std::atoi(argv[2]), argc - 3, argv + 3);
  if (argc == 5 && std::string(argv[1]) == "recv")
    return receive(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: raw_peer send PORT HEX... | raw_peer recv PORT COUNT TIMEOUT_MS\n");
  return 2;
}
