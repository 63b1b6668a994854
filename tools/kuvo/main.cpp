// kuvo: a command-line peer for Kuvo links, for debugging them and for
// feeding Kuvo from scripts and other languages.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <signal.h>

#include "cli.h"
#include "kuvo.h"

namespace kuvo::cli {

volatile std::sig_atomic_t stopSignal = 0;

namespace {

void onStopSignal(int signal) { stopSignal = signal; }

}  // namespace

void installStopHandlers() {
    // No SA_RESTART: a blocking read of standard input returns EINTR, so the
    // command sees the flag at once.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed output pipe shows as EPIPE on the write, which is reported.
    signal(SIGPIPE, SIG_IGN);
}

EngineScope::~EngineScope() {
    KuvocloseALL();
    releaseUDP();
}

std::string socketErrorText(int code) {
    struct Known {
        int code;
        const char* text;
    };
    static const Known known[] = {
        {0, "no error recorded"},
        {8, "no room for another socket"},
        {10013, "permission denied"},
        {10022, "invalid argument"},
        {10024, "too many open sockets"},
        {10035, "the socket would block"},
        {10038, "not an open socket"},
        {10040, "message too long"},
        {10047, "address family not supported"},
        {10048, "address already in use"},
        {10049, "address not available"},
        {10051, "network unreachable"},
        {10054, "connection reset"},
        {10055, "no buffer space"},
        {10061, "connection refused"},
        {10065, "host unreachable"},
        {10093, "socket library not started"},
    };
    for (const Known& k : known) {
        if (k.code == code) return std::string(k.text) + " (socket error " + std::to_string(code) + ")";
    }
    return "socket error " + std::to_string(code);
}

}  // namespace kuvo::cli

namespace {

using namespace kuvo::cli;

const char kUsage[] =
    "Usage: kuvo listen PORT [--count N] [--timeout SECONDS] [--out DIR | --stdout]\n"
    "       kuvo send HOST PORT [FILE|-] [--from-port P]\n"
    "       kuvo --help\n"
    "\n"
    "A command-line peer for Kuvo: receives and sends Kuvo messages over UDP.\n"
    "\n"
    "kuvo listen PORT\n"
    "  Opens a UDP socket on PORT (every local IPv4 and IPv6 address) and prints\n"
    "  one line per message received:\n"
    "      INDEX ADDRESS PORT LENGTH MARKER [FILE]\n"
    "  INDEX counts from 1, ADDRESS and PORT are the sender's, LENGTH is in bytes.\n"
    "  MARKER is int8 or serialized when the message ends in 0x00 '8' or 0x00 'S'\n"
    "  (the ending of values sent from MATLAB and Octave), and none otherwise.\n"
    "  FILE is where the message was written (--out). Once the socket is open,\n"
    "  \"kuvo: listening on port PORT\" goes to standard error.\n"
    "    --count N          stop after N messages\n"
    "    --timeout SECONDS  stop when SECONDS have passed (fractions allowed)\n"
    "    --out DIR          write message n to DIR/msg-<n>.bin; DIR is created\n"
    "    --stdout           write the bytes of each message to standard output,\n"
    "                       one after the other; the lines go to standard error\n"
    "  Without --count and --timeout it runs until interrupted.\n"
    "\n"
    "kuvo send HOST PORT [FILE|-]\n"
    "  Sends FILE, or standard input when FILE is - or absent, as one message to\n"
    "  HOST and PORT, and prints the byte count that Kuvo reports. HOST is a\n"
    "  numeric IPv4 or IPv6 address or a host name. Messages over 1000 bytes\n"
    "  travel in fragments; the largest message is 2147483647 bytes.\n"
    "    --from-port P      send from local port P (default: any free port)\n"
    "\n"
    "Exit status:\n"
    "  0    done: the message was sent, or --count messages arrived\n"
    "  1    runtime failure (socket, file or send failed)\n"
    "  2    usage error\n"
    "  3    listen: the timeout passed first\n"
    "  130  interrupted by SIGINT, 143 by SIGTERM\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "kuvo: %s\nTry 'kuvo --help' for more information.\n", message.c_str());
    return kExitUsage;
}

int printUsage() {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("missing command (listen or send)");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);

    if (command == "--help" || command == "-h" || command == "help") return printUsage();

    std::string error;
    if (command == "listen") {
        ListenOptions options;
        switch (parseListen(args, options, error)) {
        case Parsed::Help: return printUsage();
        case Parsed::Error: return usageError(error);
        case Parsed::Ok: break;
        }
        installStopHandlers();
        return runListen(options);
    }
    if (command == "send") {
        SendOptions options;
        switch (parseSend(args, options, error)) {
        case Parsed::Help: return printUsage();
        case Parsed::Error: return usageError(error);
        case Parsed::Ok: break;
        }
        installStopHandlers();
        return runSend(options);
    }
    return usageError("unknown command '" + command + "' (expected listen or send)");
}
