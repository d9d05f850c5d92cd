// kelvane-cli's command line, read with CLI11.
#include "cli/CliArguments.h"

#include "protocol/DioCommand.h"
#include "protocol/DioWords.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>

namespace {

constexpr int MAX_DIO = 255;
constexpr int MAX_MS = 86400000; // a day

// The most DIOs one request of the command covers: as many as its request and its answer
// each have room for in a frame.
int MostDiosPerRequest(std::uint8_t code) {
    const DioCommand& command = *FindDioCommand(code);
    int most = 0;
    for (int count = 1; count <= MAX_DIO + 1; ++count) {
        const std::uint8_t range[2] = {0, static_cast<std::uint8_t>(count - 1)};
        const int request = DioRequestPayloadLength(command, range);
        if (request < 0 || request > DIO_FRAME_MAX_PAYLOAD ||
            DioReplyPayloadLength(command, range) < 0) {
            break;
        }
        most = count;
    }
    return most;
}

const int MAX_RANGE_READ = MostDiosPerRequest(DIO_CMD_MULTI_READ);
const int MAX_RANGE_WRITE = MostDiosPerRequest(DIO_CMD_MULTI_WRITE);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A decimal number from 0 to max, digits only.
bool ParseNumber(const std::string& text, int max, int& value) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    long long number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    if (number > max) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool ParseDio(const std::string& text, const std::string& what, int& dio, std::string& error) {
    if (!ParseNumber(text, 1000000, dio)) {
        error = what + ": '" + text + "' is not a DIO number";
        return false;
    }
    if (dio > MAX_DIO) {
        error = what + ": DIO " + text + " is above " + std::to_string(MAX_DIO);
        return false;
    }
    return true;
}

bool ParseMode(const std::string& text, int& mode) {
    const std::string word = Lower(text);
    // The full word, or its short form or number.
    if (ParseDioModeKey(word, mode)) {
        return true;
    }
    if (word == "in" || word == "0") {
        mode = DIO_MODE_INPUT;
    } else if (word == "out" || word == "1") {
        mode = DIO_MODE_OUTPUT;
    } else {
        return false;
    }
    return true;
}

bool ParseState(const std::string& text, int& state) {
    const std::string word = Lower(text);
    if (ParseDioStateKey(word, state)) {
        return true;
    }
    if (word == "0") {
        state = DIO_STATE_LOW;
    } else if (word == "1") {
        state = DIO_STATE_HIGH;
    } else {
        return false;
    }
    return true;
}

bool ParseModeState(const std::string& modeText, const std::string& stateText,
                    const std::string& what, DioModeState& value, std::string& error) {
    if (!ParseMode(modeText, value.mode)) {
        error = what + ": mode '" + modeText + "' is not input, output, in, out, 0 or 1";
        return false;
    }
    if (!ParseState(stateText, value.state)) {
        error = what + ": state '" + stateText + "' is not low, high, 0 or 1";
        return false;
    }
    return true;
}

// Watch seconds: a decimal number such as 10 or 0.5, at most a day.
bool ParseSeconds(const std::string& text, int& milliseconds) {
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || fraction.size() > 3) {
        return false;
    }
    int seconds = 0;
    int thousandths = 0;
    fraction.resize(3, '0');
    if ((!whole.empty() && !ParseNumber(whole, MAX_MS / 1000, seconds)) ||
        !ParseNumber(fraction, 999, thousandths)) {
        return false;
    }
    milliseconds = seconds * 1000 + thousandths;
    return true;
}

// The usage line says what the one list of words after the options holds.
class CUsageFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: kelvane-cli [OPTIONS] HOST COMMAND [ARGS...] [COMMAND [ARGS...]]...\n";
    }
    std::string make_positionals(const CLI::App*) const override { return {}; }
};

bool IsCommandWord(const std::string& word) {
    return word == "read" || word == "write" || word == "read-range" || word == "write-range" ||
           word == "watch";
}

constexpr const char* COMMANDS_HELP = R"(
Commands (run in order on one connection):
  read DIO              prints "DIO3 Output High"
  write DIO MODE STATE  sets one DIO and waits for the acknowledgement; prints "DIO3 written"
                        MODE: input, output, in, out, 0 or 1; STATE: low, high, 0 or 1
                        (either case)
  read-range START END  prints one line per DIO, as read does (at most MOST_READ DIOs)
  write-range START END MODE:STATE...
                        sets END-START+1 DIOs at once (at most MOST_WRITE), e.g. write-range 0 2
                        out:high in:low out:low, and waits for the acknowledgement
  watch [SECONDS]       prints every report the device sends (inputs changing by themselves)
                        until SECONDS have passed (decimals allowed), the device closes
                        (unless --reconnect), or Ctrl+C
DIOs are 0 to 255. HOST is a host name, an IPv4 or an IPv6 address; HOST:PORT and
[IPv6]:PORT are accepted too.

--json prints one object per line on stdout and nothing else:
  {"dio":3,"mode":"output","state":"high"}  each DIO read or reported
  {"dio":3,"written":true}                  each DIO written
  watch lines add "t", the seconds since the first connection was made; with --repeat every
  line adds "round", counted from 1.

--reconnect: when the device closes or resets the connection during --repeat or a watch,
kelvane-cli connects again after 1 s, 2 s and 4 s, then every 5 s, until it connects or
Ctrl+C, and goes on: a watch watches for the rest of its time, --repeat goes on with the next
round as soon as it is connected. The drop and each failed attempt print one line
"kelvane-cli: ...; connecting again in N s" on stderr. A round that a drop cuts short is told
on that line and not run again; it counts for nothing in the exit status, the last round
included. A watch that is the run's last command stops trying when its time is up. Without
--repeat only a drop during a watch is reconnected: at any other time a drop ends the run with
4, as without --reconnect.

Exit status (every failure also prints one line "kelvane-cli: ..." on stderr):
  0    every command was answered (with --reconnect: but for the rounds a drop cut short).
       Ctrl+C ends with 0 too, after an orderly close, when it comes in a watch that ends its
       round, in the pause between rounds or in a --repeat 0 run
  1    an answer did not come in time or could not be used (the line names the command and
       shows the bytes); what was printed before stays
  2    usage: unknown command, bad number, wrong count of pairs, DIO above 255, START above
       END, read-range of more than MOST_READ DIOs, write-range of more than MOST_WRITE
  3    cannot connect: the name does not resolve, the connection is refused or timed out
  4    the device closed or reset the connection while commands or rounds were left, without
       --reconnect (or, without --repeat, outside a watch); the run ends there at once (a
       watch that the device ends with nothing after it gives 0)
  5    the results cannot be written to stdout ("cannot write the results: REASON"); into a
       pipe that closed (kelvane-cli ... | head -n 1) the run ends quietly, without the line
  130  Ctrl+C at any other time before every command was answered, a watch with commands
       after it included, and while connecting again for the next round; no request goes
       out after it. It ends at once the wait for an answer, the wait to connect again and
       an attempt to (the first connect in progress runs to its end: Ctrl+C again ends the
       program there and then)

Examples:
  kelvane-cli 192.168.0.50 write 3 out high --verify
  kelvane-cli --json -p 5001 localhost read-range 0 8
  kelvane-cli --repeat 0 --interval 500 [::1]:5001 read 4
  kelvane-cli --reconnect 10.0.0.7 watch
)";

} // namespace

bool SplitHostPort(const std::string& text, std::string& host, std::uint16_t& port, bool& hasPort) {
    hasPort = false;
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            portText = rest.substr(1);
            hasPort = true;
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        hasPort = true;
    } else {
        host = text; // a name, an IPv4 address or a bare IPv6 address
    }
    if (host.empty()) {
        return false;
    }
    if (hasPort) {
        int value = 0;
        if (!ParseNumber(portText, 65535, value) || value == 0) {
            return false;
        }
        port = static_cast<std::uint16_t>(value);
    }
    return true;
}

bool ParseCliCommands(const std::vector<std::string>& words, std::vector<CliCommand>& commands,
                      std::string& error) {
    commands.clear();
    std::size_t i = 0;
    // The argument after the command word, or an error naming what is missing.
    auto next = [&](const std::string& what, std::string& word) {
        if (i >= words.size()) {
            error = what + " is missing";
            return false;
        }
        word = words[i++];
        return true;
    };
    while (i < words.size()) {
        CliCommand command;
        const std::string name = words[i++];
        const std::size_t first = i - 1;
        std::string a;
        std::string b;
        std::string c;
        if (name == "read") {
            command.m_kind = CliCommandKind::Read;
            if (!next("read: the DIO", a) || !ParseDio(a, name, command.m_nFirst, error)) {
                return false;
            }
            command.m_nLast = command.m_nFirst;
        } else if (name == "write") {
            command.m_kind = CliCommandKind::Write;
            DioModeState value{};
            if (!next("write: the DIO", a) || !ParseDio(a, name, command.m_nFirst, error) ||
                !next("write: the mode", b) || !next("write: the state", c) ||
                !ParseModeState(b, c, name, value, error)) {
                return false;
            }
            command.m_nLast = command.m_nFirst;
            command.m_vecValues.push_back(value);
        } else if (name == "read-range" || name == "write-range") {
            const bool write = name == "write-range";
            command.m_kind = write ? CliCommandKind::WriteRange : CliCommandKind::ReadRange;
            if (!next(name + ": START", a) || !ParseDio(a, name, command.m_nFirst, error) ||
                !next(name + ": END", b) || !ParseDio(b, name, command.m_nLast, error)) {
                return false;
            }
            if (command.m_nFirst > command.m_nLast) {
                error = name + ": START " + a + " is above END " + b;
                return false;
            }
            const int count = command.m_nLast - command.m_nFirst + 1;
            const int most = write ? MAX_RANGE_WRITE : MAX_RANGE_READ;
            if (count > most) {
                error = name + ": one request " + (write ? "sets" : "reads") + " at most " +
                        std::to_string(most) + " DIOs, not " + std::to_string(count);
                return false;
            }
            if (write) {
                while (i < words.size() && !IsCommandWord(words[i])) {
                    const std::string& pair = words[i++];
                    const std::size_t colon = pair.find(':');
                    DioModeState value{};
                    if (colon == std::string::npos) {
                        error = name + ": '" + pair + "' is not MODE:STATE";
                        return false;
                    }
                    if (!ParseModeState(pair.substr(0, colon), pair.substr(colon + 1), name, value,
                                        error)) {
                        return false;
                    }
                    command.m_vecValues.push_back(value);
                }
                if (static_cast<int>(command.m_vecValues.size()) != count) {
                    error = name + " " + a + " " + b + " needs " + std::to_string(count) +
                            " MODE:STATE pairs, not " + std::to_string(command.m_vecValues.size());
                    return false;
                }
            }
        } else if (name == "watch") {
            command.m_kind = CliCommandKind::Watch;
            if (i < words.size() && !IsCommandWord(words[i])) {
                if (!ParseSeconds(words[i], command.m_nWatchMs)) {
                    error = "watch: '" + words[i] + "' is not a number of seconds";
                    return false;
                }
                ++i;
            }
        } else {
            error = "unknown command '" + name + "'";
            return false;
        }
        for (std::size_t w = first; w < i; ++w) {
            command.m_strText += (w == first ? "" : " ") + words[w];
        }
        commands.push_back(std::move(command));
    }
    if (commands.empty()) {
        error = "no command given";
        return false;
    }
    return true;
}

CliRequest ParseCliArguments(int argc, const char* const* argv, CliArguments& arguments,
                             std::string& text) {
    CLI::App app{"kelvane-cli: reads and sets the DIOs of a networked digital-I/O device.",
                 "kelvane-cli"};
    app.formatter(std::make_shared<CUsageFormatter>());
    std::string help = COMMANDS_HELP;
    for (const auto& [name, value] : {std::pair<std::string, int>{"MOST_READ", MAX_RANGE_READ},
                                      std::pair<std::string, int>{"MOST_WRITE", MAX_RANGE_WRITE}}) {
        for (std::size_t at = help.find(name); at != std::string::npos; at = help.find(name, at)) {
            help.replace(at, name.size(), std::to_string(value));
        }
    }
    app.footer(help);
    int port = 0;
    std::vector<std::string> words;
    app.add_option("-p,--port", port, "TCP port (default 5001)")
        ->check(CLI::Range(1, 65535))
        ->type_name("N");
    app.add_option("-t,--timeout", arguments.m_nTimeoutMs, "time allowed for each answer")
        ->check(CLI::Range(1, MAX_MS))
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--connect-timeout", arguments.m_nConnectTimeoutMs,
                   "time allowed for the connection")
        ->check(CLI::Range(1, MAX_MS))
        ->type_name("MS")
        ->capture_default_str();
    app.add_flag("--json", arguments.m_bJson, "one JSON object per line on stdout");
    CLI::Option* verbose = app.add_flag("-v,--verbose", arguments.m_bVerbose,
                                        "dump every byte sent and received to stderr");
    app.add_flag("--timestamps", arguments.m_bTimestamps,
                 "start every dump line with the local time HH:MM:SS.mmm")
        ->needs(verbose);
    app.add_flag("-q,--quiet", arguments.m_bQuiet,
                 "print nothing on stdout: only the exit status and the error line");
    app.add_flag("--verify", arguments.m_bVerify,
                 "read every DIO back after a write and fail if it differs");
    CLI::Option* repeat =
        app.add_option("--repeat", arguments.m_nRepeat,
                       "run the commands N times on the same connection (0: until Ctrl+C)")
            ->check(CLI::Range(0, 1000000000))
            ->type_name("N");
    app.add_option("--interval", arguments.m_nIntervalMs, "pause between two rounds")
        ->check(CLI::Range(0, MAX_MS))
        ->type_name("MS")
        ->capture_default_str();
    app.add_flag("--reconnect", arguments.m_bReconnect,
                 "connect again when the device drops (see below)");
    app.set_version_flag("--version", std::string(), "the version and build stamp");
    app.add_option("words", words, "HOST COMMAND [ARGS...] [COMMAND [ARGS...]]...");

    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) {
        args.emplace_back(argv[i]);
    }
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        text = app.help();
        return CliRequest::Help;
    } catch (const CLI::CallForVersion&) {
        return CliRequest::Version;
    } catch (const CLI::ParseError& e) {
        text = e.what();
        return CliRequest::Usage;
    }

    if (words.empty()) {
        text = "HOST and a command are missing";
        return CliRequest::Usage;
    }
    bool hasPort = false;
    if (!SplitHostPort(words.front(), arguments.m_strHost, arguments.m_nPort, hasPort)) {
        text = "'" + words.front() + "' is not HOST, HOST:PORT or [IPv6]:PORT";
        return CliRequest::Usage;
    }
    if (hasPort && port != 0) {
        text = "the port is given twice, in " + words.front() + " and by --port";
        return CliRequest::Usage;
    }
    if (port != 0) {
        arguments.m_nPort = static_cast<std::uint16_t>(port);
    }
    arguments.m_bRepeat = repeat->count() > 0;
    words.erase(words.begin());
    if (!ParseCliCommands(words, arguments.m_vecCommands, text)) {
        return CliRequest::Usage;
    }
    return CliRequest::Run;
}
