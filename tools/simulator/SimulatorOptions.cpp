// The simulator's command line.
#include "tools/simulator/SimulatorOptions.h"

#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/DioDevice.h"
#include "tools/simulator/Ipv4Address.h"
#include "tools/simulator/OutputQueue.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

// Decimal digits only (no sign, no spaces), within [low, high].
bool ParseNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return false;
    }
    std::uint64_t result = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (ec != std::errc() || end != text.data() + text.size() || result < low || result > high) {
        return false;
    }
    value = result;
    return true;
}

std::string RangeError(std::string_view name, std::string_view text, std::uint64_t low,
                       std::uint64_t high) {
    return std::string(name) + ": '" + std::string(text) + "' is not a whole number from " +
           std::to_string(low) + " to " + std::to_string(high);
}

// "3", "0,2,5", "1-3", "0,4-6": DIO numbers 0 to 254, in any order, repeats allowed.
bool ParseDioList(std::string_view text, std::vector<int>& dios) {
    std::vector<int> result;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        if (dash == std::string_view::npos) {
            if (!ParseNumber(item, 0, SIM_MAX_DIO_COUNT - 1, first)) {
                return false;
            }
            last = first;
        } else if (!ParseNumber(item.substr(0, dash), 0, SIM_MAX_DIO_COUNT - 1, first) ||
                   !ParseNumber(item.substr(dash + 1), 0, SIM_MAX_DIO_COUNT - 1, last) ||
                   first > last) {
            return false;
        }
        for (std::uint64_t dio = first; dio <= last; ++dio) {
            result.push_back(static_cast<int>(dio));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    dios = std::move(result);
    return true;
}

} // namespace

bool ParseSimulatorOptions(int argc, char** argv, SimulatorOptions& out, std::string& error) {
    SimulatorOptions options = out;
    bool closeGiven = false;
    bool resetGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        if (arg.size() < 3 || arg.substr(0, 2) != "--") {
            if (arg == "-h") {
                out.m_bHelp = true;
                return true;
            }
            error = arg.starts_with("-") ? "unknown option '" + std::string(arg) + "'"
                                         : "unexpected argument '" + std::string(arg) + "'";
            return false;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const bool inlineValue = equals != std::string_view::npos;

        // Options without a value.
        if (name == "--help" || name == "--quiet") {
            if (inlineValue) {
                error = std::string(name) + " takes no value";
                return false;
            }
            if (name == "--help") {
                out.m_bHelp = true;
                return true;
            }
            options.m_bQuiet = true;
            continue;
        }

        static constexpr std::string_view VALUED[] = {
            "--address", "--port",      "--dios",          "--delay",       "--split",
            "--gap",     "--seed",      "--junk",          "--close-after", "--reset-after",
            "--toggle",  "--toggle-ms", "--flood-seconds", "--flood-bytes"};
        if (std::find(std::begin(VALUED), std::end(VALUED), name) == std::end(VALUED)) {
            error = "unknown option '" + std::string(name) + "'";
            return false;
        }
        std::string_view value;
        if (inlineValue) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            value = argv[++i];
        } else {
            error = std::string(name) + " needs a value";
            return false;
        }

        // A number option: stores the value or fails with the option's range in the error.
        std::uint64_t number = 0;
        const auto numberIn = [&](std::uint64_t low, std::uint64_t high) {
            if (ParseNumber(value, low, high, number)) {
                return true;
            }
            error = RangeError(name, value, low, high);
            return false;
        };

        if (name == "--address") {
            std::uint32_t ip = 0;
            if (!ParseIpv4Address(value, ip)) {
                error = "--address: '" + std::string(value) +
                        "' is not a numeric IPv4 address such as 127.0.0.1";
                return false;
            }
            options.m_strAddress = std::string(value);
        } else if (name == "--port") {
            if (!numberIn(0, 65535)) {
                return false;
            }
            options.m_nPort = static_cast<std::uint16_t>(number);
        } else if (name == "--dios") {
            if (!numberIn(1, SIM_MAX_DIO_COUNT)) {
                return false;
            }
            options.m_nDioCount = static_cast<int>(number);
        } else if (name == "--delay") {
            if (!numberIn(0, 60000)) {
                return false;
            }
            options.m_nReplyDelayMs = static_cast<int>(number);
        } else if (name == "--split") {
            if (value == "whole") {
                options.m_split = ReplySplit::Whole;
            } else if (value == "bytes") {
                options.m_split = ReplySplit::Bytes;
            } else if (value == "random") {
                options.m_split = ReplySplit::Random;
            } else {
                error = "--split: '" + std::string(value) + "' is not whole, bytes or random";
                return false;
            }
        } else if (name == "--gap") {
            if (!numberIn(0, 10000)) {
                return false;
            }
            options.m_nPieceGapMs = static_cast<int>(number);
        } else if (name == "--seed") {
            if (!numberIn(0, 0xFFFFFFFFu)) {
                return false;
            }
            options.m_nSeed = static_cast<std::uint32_t>(number);
        } else if (name == "--junk") {
            if (!numberIn(0, 16)) {
                return false;
            }
            options.m_nJunkFrames = static_cast<int>(number);
        } else if (name == "--close-after" || name == "--reset-after") {
            if (!numberIn(1, 1000000000)) {
                return false;
            }
            options.m_nEndAfterRequests = static_cast<int>(number);
            const bool reset = name == "--reset-after";
            options.m_end = reset ? ConnectionEnd::Reset : ConnectionEnd::Close;
            (reset ? resetGiven : closeGiven) = true;
        } else if (name == "--toggle") {
            if (!ParseDioList(value, options.m_vecToggleDios)) {
                error = "--toggle: '" + std::string(value) +
                        "' is not a list of DIO numbers such as 3 or 0,2,5 or 1-3";
                return false;
            }
        } else if (name == "--toggle-ms") {
            if (!numberIn(1, 86400000)) {
                return false;
            }
            options.m_nToggleMs = static_cast<int>(number);
        } else if (name == "--flood-seconds") {
            if (!numberIn(1, 86400)) {
                return false;
            }
            options.m_nFloodSeconds = static_cast<int>(number);
        } else { // --flood-bytes
            if (!numberIn(1, 1000000000000000ull)) {
                return false;
            }
            options.m_nFloodBytes = number;
        }
    }

    if (closeGiven && resetGiven) {
        error = "--close-after and --reset-after cannot be combined";
        return false;
    }
    for (const int dio : options.m_vecToggleDios) {
        if (dio >= options.m_nDioCount) {
            error = "--toggle: DIO " + std::to_string(dio) + " is beyond the last DIO (" +
                    std::to_string(options.m_nDioCount - 1) + ")";
            return false;
        }
    }
    out = std::move(options);
    return true;
}

std::string SimulatorHelpText() {
    const auto status = [](std::uint8_t code) {
        return std::string("  0") + std::to_string(code) + "  " + DescribeSimStatus(code);
    };
    return "Usage: kelvane-sim [options]\n"
           "A simulated networked digital-I/O device for Kelvane: a TCP server with N DIOs, each\n"
           "with a mode (0 Input, 1 Output) and a state (0 Low, 1 High), all Input/Low at start.\n"
           "One client at a time; the next is accepted when it has left. Each request and answer\n"
           "is printed as a dump ('<' received from the client, '>' sent to it).\n"
           "\n"
           "A client that takes nothing of what waits for it for " +
           std::to_string(SimulatorOptions{}.m_nClientTimeoutMs / 1000) +
           " s is reset, and so is one that\n"
           "has ended its side and not taken its answers that long after the last was due; a\n"
           "client that keeps reading, however slowly, is never dropped. At most " +
           std::to_string(SIM_MAX_QUEUED_FRAMES) +
           " frames\n"
           "wait for a client: further requests are answered as room appears, and input\n"
           "reports that find the queue full are coalesced (each such DIO is reported once,\n"
           "with its level at that time).\n"
           "\n"
           "Options (--name value or --name=value):\n"
           "  --address ADDR      numeric IPv4 address to listen on (default 127.0.0.1;\n"
           "                      0.0.0.0 for every interface)\n"
           "  --port N            TCP port, 0 to 65535 (default 5001; 0 = any free port, printed)\n"
           "  --dios N            number of DIOs, 1 to 255 (default 9)\n"
           "  --delay MS          pause before each answer, 0 to 60000 ms (default 0)\n"
           "  --split MODE        how frames are sent: whole (default), bytes (one byte per\n"
           "                      send) or random (random pieces, see --seed)\n"
           "  --gap MS            pause between the pieces of a cut frame, 0 to 10000 ms\n"
           "                      (default 0)\n"
           "  --seed N            seed of the random pieces and junk frames, 0 to 4294967295\n"
           "                      (default 1)\n"
           "  --junk N            frames with unknown codes sent ahead of every answer, 0 to 16\n"
           "                      (default 0); the program skips them by their length byte\n"
           "  --close-after N     close the connection after answering N requests (1 to 10^9)\n"
           "  --reset-after N     reset the connection (linger 0) after answering N requests\n"
           "  --flood-seconds S   on each connection, first stream code-1 reports of changing\n"
           "                      values as fast as the socket takes them for S seconds\n"
           "                      (1 to 86400), then serve as usual; requests are answered\n"
           "                      meanwhile; prints the bytes flooded\n"
           "  --flood-bytes N     the same, for N bytes (1 to 10^15); with both, the first\n"
           "                      limit reached ends the flood\n"
           "  --toggle LIST       DIOs whose level flips by itself while they are Input,\n"
           "                      e.g. 3 or 0,2,5 or 1-3; each flip is reported to the client\n"
           "                      as 01 02 00 03 dio mode state\n"
           "  --toggle-ms T       time between flips, 1 to 86400000 ms (default 1000)\n"
           "  --quiet             no dumps (connections, errors and flood totals still print)\n"
           "  --help, -h          this text\n"
           "\n"
           "Requests served (frames: code, 02, 00, payload length, payload):\n"
           "  01 02 00 01 dio                 -> 01 02 00 03 dio mode state\n"
           "  02 02 00 03 dio mode state      -> 02 02 00 01 00 (written)\n"
           "  05 02 00 02 start end           -> 05 02 00 2n, then the n (mode, state) pairs\n"
           "  06 02 00 2n+2 start end pairs   -> 06 02 00 01 00 (written)\n"
           "\n"
           "Any other request is consumed whole by its length byte, changes nothing, and is\n"
           "answered with its own code and one status byte: code 02 00 01 status, with status\n" +
           status(SIM_STATUS_UNKNOWN_CODE) + ": a code other than 1, 2, 5 or 6\n" +
           status(SIM_STATUS_BAD_HEADER) + ": bytes 1 and 2 are not 02 00\n" +
           status(SIM_STATUS_BAD_LENGTH) + ": not 1, 3, 2 or 2n+2 for codes 1, 2, 5 or 6\n" +
           status(SIM_STATUS_BAD_RANGE) + "\n" + status(SIM_STATUS_BAD_DIO) +
           ": a DIO or range end beyond the last DIO\n" + status(SIM_STATUS_RANGE_TOO_LONG) +
           ": a range read of more than 127 DIOs\n" + status(SIM_STATUS_BAD_VALUE) +
           " (a range write is all or nothing)\n"
           "checked in that order (a range write's length against 2n+2 once its range passed).\n"
           "A status is never 0 or 1, so the program changes no row for any of these answers.\n"
           "\n"
           "Exit status: 0 after --help or Ctrl+C, 1 when the port cannot be opened, 2 for a bad "
           "option.\n";
}
