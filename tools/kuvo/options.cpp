// Command-line parsing of `kuvo listen` and `kuvo send`. Options may stand
// before, between or after the operands, as --name VALUE or --name=VALUE;
// "--" ends the options and "-" is an operand (standard input).
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

#include "cli.h"

namespace kuvo::cli {
namespace {

// Decimal digits only: no sign, no spaces, no base prefix.
bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

bool parsePort(const std::string& text, uint16_t lowest, uint16_t& out) {
    uint64_t value = 0;
    if (!parseUnsigned(text, 65535, value) || value < lowest) return false;
    out = uint16_t(value);
    return true;
}

bool parseSeconds(const std::string& text, double& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size()) return false;
    if (!std::isfinite(value) || value <= 0) return false;
    out = value;
    return true;
}

// One argument list split into options (name and value) and operands.
struct Split {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> operands;
    bool help = false;
};

// `valued` names the options that take a value, `flags` those that do not.
bool splitArguments(const std::vector<std::string>& args, const std::set<std::string>& valued,
                    const std::set<std::string>& flags, Split& out, std::string& error) {
    std::set<std::string> seen;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            out.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            out.help = true;
            continue;
        }
        if (arg.compare(0, 2, "--") != 0) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (valued.count(name)) {
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + name + " needs a value";
                return false;
            }
            if (!seen.insert(name).second) {
                error = "option " + name + " given twice";
                return false;
            }
            out.options.emplace_back(name, value);
        } else if (flags.count(name)) {
            if (equals != std::string::npos) {
                error = "option " + name + " takes no value";
                return false;
            }
            if (!seen.insert(name).second) {
                error = "option " + name + " given twice";
                return false;
            }
            out.options.emplace_back(name, std::string());
        } else {
            error = "unknown option '" + name + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

Parsed parseListen(const std::vector<std::string>& args, ListenOptions& out, std::string& error) {
    Split split;
    if (!splitArguments(args, {"--count", "--timeout", "--out"}, {"--stdout"}, split, error))
        return Parsed::Error;
    if (split.help) return Parsed::Help;

    for (const auto& [name, value] : split.options) {
        if (name == "--count") {
            if (!parseUnsigned(value, std::numeric_limits<uint64_t>::max(), out.count) || out.count == 0) {
                error = "--count needs a whole number of at least 1, not '" + value + "'";
                return Parsed::Error;
            }
        } else if (name == "--timeout") {
            double seconds = 0;
            if (!parseSeconds(value, seconds)) {
                error = "--timeout needs a number of seconds above 0, not '" + value + "'";
                return Parsed::Error;
            }
            out.timeoutSeconds = seconds;
        } else if (name == "--out") {
            if (value.empty()) {
                error = "--out needs a folder";
                return Parsed::Error;
            }
            out.outDir = value;
        } else if (name == "--stdout") {
            out.toStdout = true;
        }
    }
    if (out.toStdout && !out.outDir.empty()) {
        error = "--out and --stdout exclude each other";
        return Parsed::Error;
    }
    if (split.operands.empty()) {
        error = "listen needs a PORT";
        return Parsed::Error;
    }
    if (split.operands.size() > 1) {
        error = "listen takes one PORT; unexpected '" + split.operands[1] + "'";
        return Parsed::Error;
    }
    if (!parsePort(split.operands[0], 1, out.port)) {
        error = "PORT must be a number from 1 to 65535, not '" + split.operands[0] + "'";
        return Parsed::Error;
    }
    return Parsed::Ok;
}

Parsed parseSend(const std::vector<std::string>& args, SendOptions& out, std::string& error) {
    Split split;
    if (!splitArguments(args, {"--from-port"}, {}, split, error)) return Parsed::Error;
    if (split.help) return Parsed::Help;

    for (const auto& [name, value] : split.options) {
        if (name == "--from-port" && !parsePort(value, 0, out.fromPort)) {
            error = "--from-port must be a number from 0 to 65535, not '" + value + "'";
            return Parsed::Error;
        }
    }
    if (split.operands.size() < 2) {
        error = "send needs HOST and PORT";
        return Parsed::Error;
    }
    if (split.operands.size() > 3) {
        error = "send takes HOST PORT [FILE]; unexpected '" + split.operands[3] + "'";
        return Parsed::Error;
    }
    out.host = split.operands[0];
    if (out.host.empty()) {
        error = "HOST must not be empty";
        return Parsed::Error;
    }
    if (!parsePort(split.operands[1], 1, out.port)) {
        error = "PORT must be a number from 1 to 65535, not '" + split.operands[1] + "'";
        return Parsed::Error;
    }
    if (split.operands.size() == 3) {
        out.file = split.operands[2];
        if (out.file.empty()) {
            error = "FILE must not be empty (use - for standard input)";
            return Parsed::Error;
        }
    }
    return Parsed::Ok;
}

}  // namespace kuvo::cli
