// The figures of the Kuvo benchmark that involve the library: sending rate,
// loopback transfer between two processes, small messages, round trips and
// the number of open sockets, each run in turns with its plain UDP baseline.
#ifndef KUVO_BENCH_FIGURES_H
#define KUVO_BENCH_FIGURES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "bench_util.h"

namespace bench {

// What the receivers ask of the kernel, as Kuvo does for its sockets.
constexpr int kReceiveBuffer = 8 << 20;
// The pause of a Kuvo round-trip receiver whose Kuvorecv found nothing.
constexpr long kPollMicroseconds = 50;
// The pause of a Kuvo bulk receiver whose Kuvorecv found nothing: a host
// session polling in a loop. A tighter loop wakes so often that, on a
// two-core machine shared with the sender, it takes the core from the
// engine's receiver thread and the kernel drops fragments.
constexpr long kBulkPollMicroseconds = 1000;

// One run of messages from this process to a receiver process.
struct TransferPlan {
    bool kuvo = true;          // false: plain UDP datagrams of the same bytes
    size_t size = 0;           // message length in bytes
    uint64_t count = 0;        // messages to send
    int sockets = 1;           // Kuvo sockets open in the receiving engine
    double sendSeconds = 4.0;  // the sender stops after this long
    int receiveBuffer = kReceiveBuffer;   // SO_RCVBUF of a plain receiver
};

struct TransferResult {
    bool ran = false;          // false: the receiver could not be started
    std::string failure;
    uint64_t sent = 0;         // messages (plain UDP: their datagrams) sent
    uint64_t sendFailures = 0;
    uint64_t intact = 0;       // messages (plain UDP: datagrams) delivered intact
    uint64_t intactMessages = 0;   // plain UDP: messages all of whose datagrams came
    double intactBytes = 0;    // message bytes delivered intact
    double sentBytes = 0;
    double elapsed = 0;        // first send to last intact delivery or last send
    int receiveBuffer = -1;    // the receiving socket's buffer, as granted

    double goodput() const { return elapsed > 0 ? intactBytes / elapsed / 1e6 : 0.0; }
    double byteLoss() const { return sentBytes > 0 ? 1.0 - intactBytes / sentBytes : 0.0; }
};

TransferResult runTransfer(const TransferPlan& plan);

constexpr uint64_t kInvalidHandle = ~uint64_t(0);
// Opens a Kuvo socket on a free port of the benchmark's range.
uint64_t openKuvoSocket(uint16_t& port);
// The sending socket of this process's engine, opened once.
uint64_t senderHandle();

// Child roles, started by the figures above.
int receiverRole(const Arguments& args);
int echoRole(const Arguments& args);

// Figures 2 to 6: each prints its rows of the table.
void sendingFigure();
void transferFigure();
void smallMessageFigure();
void latencyFigure();
void scaleFigure();

// Figure 7's C-level half and its rows, from the results of the Octave runs.
void octaveRows(const std::string& resultsFile);

// The receive buffer Kuvo's sockets get on this machine, or -1.
int kuvoSocketBuffer();

}  // namespace bench

#endif  // KUVO_BENCH_FIGURES_H
