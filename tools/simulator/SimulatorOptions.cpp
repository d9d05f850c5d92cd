// The simulator's command line, read with CLI11: the simulator's own options here, each
// fault's from its registration (SimFaults.cpp).
#include "tools/simulator/SimulatorOptions.h"

#include "protocol/DioCommand.h"
#include "tools/simulator/ControlCommand.h"
#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/DioDevice.h"
#include "tools/simulator/Ipv4Address.h"
#include "tools/simulator/OutputQueue.h"
#include "tools/simulator/SimFault.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <functional>
#include <set>

namespace {

using ValueReader = std::function<bool(std::string_view, SimulatorOptions&, std::string& error)>;

bool ReadIpv4(std::string_view text, std::string& address, std::string& error) {
    std::uint32_t ip = 0;
    if (!ParseIpv4Address(text, ip)) {
        error = "'" + std::string(text) + "' is not a numeric IPv4 address such as 127.0.0.1";
        return false;
    }
    address = std::string(text);
    return true;
}

template <class T>
ValueReader NumberReader(T SimulatorOptions::*member, std::uint64_t low, std::uint64_t high) {
    return [=](std::string_view text, SimulatorOptions& options, std::string& error) {
        std::uint64_t value = 0;
        if (!ParseSimNumber(text, low, high, value, error)) {
            return false;
        }
        options.*member = static_cast<T>(value);
        return true;
    };
}

// An option that takes a value, read into options by read; a value it refuses fails the parse
// with "--name: why".
void AddValueOption(CLI::App& app, const std::string& name, const ValueReader& read,
                    SimulatorOptions& options) {
    app.add_option_function<std::string>("--" + name,
                                         [name, read, &options](const std::string& value) {
                                             std::string error;
                                             if (!read(value, options, error)) {
                                                 throw CLI::ValidationError("--" + name, error);
                                             }
                                         })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast); // the last one given counts
}

// The option a CLI11 message starts with ("--port: 1 required TEXT missing").
std::string OptionIn(const std::string& message, std::string_view end) {
    return message.substr(0, message.find(end));
}

// Lines of text after a column of width, the first one beside label.
std::string Column(const std::string& label, std::string_view text, std::size_t width) {
    std::string out = "  " + label;
    out += label.size() + 1 < width ? std::string(width - label.size(), ' ')
                                    : "\n" + std::string(width + 2, ' ');
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out += std::string(width + 2, ' ');
        }
    }
    return out + "\n";
}

// "1, 2, 5 or 6": the codes the device serves.
std::string ServedCodes() {
    std::string text;
    for (std::size_t i = 0; i < DIO_COMMANDS.size(); ++i) {
        text += (i == 0                         ? ""
                 : i + 1 == DIO_COMMANDS.size() ? " or "
                                                : ", ") +
                std::to_string(DIO_COMMANDS[i].m_nCode);
    }
    return text;
}

// "1, 3, 2 or 2n+2": the payload length of each served request, in code order.
std::string RequestLengths() {
    std::string text;
    for (std::size_t i = 0; i < DIO_COMMANDS.size(); ++i) {
        const DioPayloadSize& size = DIO_COMMANDS[i].m_request;
        text += i == 0 ? "" : i + 1 == DIO_COMMANDS.size() ? " or " : ", ";
        switch (size.m_shape) {
        case DioPayloadShape::Fixed:
            text += std::to_string(size.m_nFixed);
            break;
        case DioPayloadShape::RangePairs:
            text += "2n";
            break;
        case DioPayloadShape::RangeAndPairs:
            text += "2n+2";
            break;
        }
    }
    return text;
}

} // namespace

bool ParseSimNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                    std::uint64_t& value, std::string& error) {
    std::uint64_t result = 0;
    const char* const end = text.data() + text.size();
    const bool digits = !text.empty() && text.front() >= '0' && text.front() <= '9';
    const auto [stop, ec] = digits
                                ? std::from_chars(text.data(), end, result)
                                : std::from_chars_result{text.data(), std::errc::invalid_argument};
    if (ec != std::errc() || stop != end || result < low || result > high) {
        error = "'" + std::string(text) + "' is not a whole number from " + std::to_string(low) +
                " to " + std::to_string(high);
        return false;
    }
    value = result;
    return true;
}

bool ParseSimDioList(std::string_view text, std::vector<int>& dios, std::string& error) {
    const std::string all(text);
    std::string ignored;
    std::vector<int> result;
    constexpr std::uint64_t LAST = SIM_MAX_DIO_COUNT - 1;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        const bool valid =
            dash == std::string_view::npos
                ? ParseSimNumber(item, 0, LAST, first, ignored) && ((last = first), true)
                : ParseSimNumber(item.substr(0, dash), 0, LAST, first, ignored) &&
                      ParseSimNumber(item.substr(dash + 1), 0, LAST, last, ignored) &&
                      first <= last;
        if (!valid) {
            error = "'" + all + "' is not a list of DIO numbers such as 3 or 0,2,5 or 1-3";
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

bool ParseSimulatorOptions(int argc, char** argv, SimulatorOptions& out, std::string& error) {
    SimulatorOptions options = out;
    CLI::App app;
    app.set_help_flag(); // -h and --help below: they end the reading where they stand
    app.allow_extras();  // reported below, in the simulator's own words
    app.add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); })
        ->trigger_on_parse()
        ->disable_flag_override();
    app.add_flag("--quiet", options.m_bQuiet)->disable_flag_override();

    std::set<std::string> valued;
    const auto add = [&](const std::string& name, const ValueReader& read) {
        AddValueOption(app, name, read, options);
        valued.insert("--" + name);
    };
    add("address", [](std::string_view text, SimulatorOptions& o, std::string& e) {
        return ReadIpv4(text, o.m_strAddress, e);
    });
    add("port", NumberReader(&SimulatorOptions::m_nPort, 0, 65535));
    add("dios", NumberReader(&SimulatorOptions::m_nDioCount, 1, SIM_MAX_DIO_COUNT));
    add("max-clients", NumberReader(&SimulatorOptions::m_nMaxClients, 1, SIM_MAX_CLIENTS));
    add("seed", NumberReader(&SimulatorOptions::m_nSeed, 0, 0xFFFFFFFFu));
    add("control", NumberReader(&SimulatorOptions::m_nControlPort, 0, 65535));
    add("control-address", [](std::string_view text, SimulatorOptions& o, std::string& e) {
        return ReadIpv4(text, o.m_strControlAddress, e);
    });
    const SimFaultList faults = MakeSimFaults();
    std::vector<std::pair<std::string, std::string>> exclusions;
    for (const std::unique_ptr<CSimFault>& fault : faults) {
        for (const SimFaultSetting& setting : fault->Settings()) {
            add(std::string(setting.m_strName), setting.m_pParse);
            if (!setting.m_strExcludes.empty()) {
                exclusions.emplace_back(setting.m_strName, setting.m_strExcludes);
            }
        }
    }

    std::vector<std::string> args; // CLI11 takes them last first
    for (int i = argc - 1; i >= 1; --i) {
        std::string arg = argv[i] != nullptr ? argv[i] : "";
        // "--port=" gives an empty value, which CLI11 would take for a missing one.
        if (arg.ends_with('=') && valued.count(arg.substr(0, arg.size() - 1)) != 0) {
            args.emplace_back();
            arg.pop_back();
        }
        args.push_back(std::move(arg));
    }
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        out.m_bHelp = true;
        return true;
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string message = e.what();
        // A flag's override names the flag without its dashes.
        const bool flag = message.find(" flag override") != std::string::npos;
        const std::string option = flag ? OptionIn(message, " ") : OptionIn(message, ":");
        error = (option.starts_with("-") ? "" : "--") + option +
                (flag ? " takes no value" : " needs a value");
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& arg = extras.front();
        error = arg.starts_with("-") ? "unknown option '" + arg.substr(0, arg.find('=')) + "'"
                                     : "unexpected argument '" + arg + "'";
        return false;
    }
    if (app.count("--control-address") > 0 && app.count("--control") == 0) {
        error = "--control-address needs --control";
        return false;
    }
    for (const auto& [name, other] : exclusions) {
        if (app.count("--" + name) > 0 && app.count("--" + other) > 0 && name < other) {
            error = "--" + name + " and --" + other + " cannot be combined";
            return false;
        }
    }
    for (const std::unique_ptr<CSimFault>& fault : faults) {
        if (!fault->Check(options, error)) {
            error = "--" + error;
            return false;
        }
    }
    out = std::move(options);
    return true;
}

std::string SimulatorHelpText() {
    constexpr std::size_t WIDTH = 20;
    const auto status = [](std::uint8_t code) {
        return std::string("  0") + std::to_string(code) + "  " + DescribeSimStatus(code);
    };
    const SimulatorOptions defaults;
    std::string text =
        "Usage: kelvane-sim [options]\n"
        "A simulated networked digital-I/O device for Kelvane: a TCP server with N DIOs, each\n"
        "with a mode (0 Input, 1 Output) and a state (0 Low, 1 High), all Input/Low at start.\n"
        "Up to --max-clients clients are served at once, all on this one device: what one\n"
        "writes, the others read, and every input that changes is reported to each. Each\n"
        "request and answer is printed as a dump ('<' received from a client, '>' sent to it).\n"
        "\n"
        "A client that takes nothing of what waits for it for " +
        std::to_string(defaults.m_nClientTimeoutMs / 1000) +
        " s is reset, and so is one that\n"
        "has ended its side and not taken its answers that long after the last was due; a\n"
        "client that keeps reading, however slowly, is never dropped. At most " +
        std::to_string(SIM_MAX_QUEUED_FRAMES) +
        " frames\n"
        "wait for a client: further requests are answered as room appears, and input\n"
        "reports that find the queue full are coalesced (each such DIO is reported once,\n"
        "with its level at that time). No client ever holds up another.\n"
        "\n"
        "Options (--name value or --name=value):\n";
    text += Column("--address ADDR",
                   "numeric IPv4 address to listen on (default 127.0.0.1;\n"
                   "0.0.0.0 for every interface)",
                   WIDTH);
    text += Column("--port N", "TCP port, 0 to 65535 (default 5001; 0 = any free port,\nprinted)",
                   WIDTH);
    text += Column("--dios N", "number of DIOs, 1 to 255 (default 9)", WIDTH);
    text += Column("--max-clients N",
                   "clients served at once, 1 to " + std::to_string(SIM_MAX_CLIENTS) +
                       " (default " + std::to_string(defaults.m_nMaxClients) +
                       "); one more is\naccepted and closed at once, with a line saying why",
                   WIDTH);
    text +=
        Column("--seed N",
               "seed of the random pieces and junk frames, 0 to 4294967295\n(default 1)", WIDTH);
    text += Column("--control PORT",
                   "open the control port for test scripts on PORT, 0 to 65535\n"
                   "(0 = any free port, printed); see below",
                   WIDTH);
    text += Column("--control-address ADDR",
                   "numeric IPv4 address of the control port (default\n"
                   "127.0.0.1: only this computer's scripts reach it)",
                   WIDTH);
    text += Column("--quiet", "no dumps (connections, errors and flood totals still print)", WIDTH);
    text += Column("--help, -h", "this text", WIDTH);
    text += "\nFaults (the control port changes them while clients stay connected):\n";
    for (const std::unique_ptr<CSimFault>& fault : MakeSimFaults()) {
        for (const SimFaultSetting& setting : fault->Settings()) {
            text += Column("--" + std::string(setting.m_strName) + " " +
                               std::string(setting.m_strValue),
                           setting.m_strHelp, WIDTH);
        }
    }
    text += "\nControl port (--control): one command a line, each answered with one line of\n"
            "JSON; a bad line gets {\"error\":\"...\"} and changes nothing. Lines of more than " +
            std::to_string(CONTROL_MAX_LINE) + "\nbytes are refused whole.\n";
    for (const ControlCommandHelp& command : ControlCommandHelpLines()) {
        text += Column(std::string(command.m_strUsage), command.m_strText, WIDTH + 2);
    }
    text += "\nRequests served (frames: code, 02, 00, payload length, payload):\n";
    for (const DioCommand& command : DIO_COMMANDS) {
        text += "  " + DescribeDioCommand(command) + "\n";
    }
    text += "\n"
            "Any other request is consumed whole by its length byte, changes nothing, and is\n"
            "answered with its own code and one status byte: code 02 00 01 status, with status\n" +
            status(SIM_STATUS_UNKNOWN_CODE) + ": a code other than " + ServedCodes() + "\n" +
            status(SIM_STATUS_BAD_HEADER) + ": bytes 1 and 2 are not 02 00\n" +
            status(SIM_STATUS_BAD_LENGTH) + ": not " + RequestLengths() + " for codes " +
            ServedCodes() + "\n" + status(SIM_STATUS_BAD_RANGE) + "\n" +
            status(SIM_STATUS_BAD_DIO) + ": a DIO or range end beyond the last DIO\n" +
            status(SIM_STATUS_RANGE_TOO_LONG) + ": a range read of more than " +
            std::to_string(SIM_MAX_RANGE_READ) + " DIOs\n" + status(SIM_STATUS_BAD_VALUE) +
            " (a range write is all or nothing)\n"
            "checked in that order (a range write's length against 2n+2 once its range passed).\n"
            "A status is never 0 or 1, so the program changes no row for any of these answers.\n"
            "\n"
            "Exit status: 0 after --help or Ctrl+C, 1 when a port cannot be opened, 2 for a bad "
            "option.\n";
    return text;
}
