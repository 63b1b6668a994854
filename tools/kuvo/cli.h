// Shared pieces of the `kuvo` command-line tool: the parsed commands, the
// exit codes, the stop flag set by SIGINT and SIGTERM, and the scope that
// owns the Kuvo engine.
#ifndef KUVO_CLI_H
#define KUVO_CLI_H

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kuvo::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,   // a runtime failure: socket, file, send
    kExitUsage = 2,     // the command line was wrong
    kExitTimeout = 3,   // listen: the timeout passed before --count messages
};

struct ListenOptions {
    uint16_t port = 0;
    uint64_t count = 0;                   // 0: no limit
    std::optional<double> timeoutSeconds; // none: no limit
    std::string outDir;                   // empty: write no files
    bool toStdout = false;                // message bytes to stdout, lines to stderr
};

struct SendOptions {
    std::string host;
    uint16_t port = 0;
    std::string file = "-";               // "-": standard input
    uint16_t fromPort = 0;                // 0: any free port
};

enum class Parsed { Ok, Help, Error };

// Parse the arguments that follow the command word. On Error, `error` says
// what was wrong in one line.
Parsed parseListen(const std::vector<std::string>& args, ListenOptions& out, std::string& error);
Parsed parseSend(const std::vector<std::string>& args, SendOptions& out, std::string& error);

int runListen(const ListenOptions& options);
int runSend(const SendOptions& options);

// Turns HOST into the numeric address text Kuvo takes: numeric IPv4 and
// IPv6 texts pass through, names are looked up. False with `error` set when
// there is no such host.
bool resolveHost(const std::string& host, std::string& numeric, std::string& error);

// The signal that asked the tool to stop, 0 while none did. The handler only
// stores the number; the commands poll it and clean up themselves.
extern volatile std::sig_atomic_t stopSignal;
void installStopHandlers();
inline int exitCodeForSignal(int signal) { return 128 + signal; }

// A readable description of a Kuvo socket error code (Windows Sockets
// numbering, as lastSocketError reports it).
std::string socketErrorText(int code);

// Owns the process's Kuvo engine for a scope: on every way out it requests
// the close of every socket and destroys the engine with its queues.
class EngineScope {
public:
    EngineScope() = default;
    ~EngineScope();
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;
};

}  // namespace kuvo::cli

#endif  // KUVO_CLI_H
