// Fuzz target for the control port's line reader and command parser.
//
// Input layout: byte 0 picks the largest chunk size (1..64); the rest is the stream, in which
// a byte 0xFE stands for 256 bytes 'a', so that short inputs reach the line limit. Checked:
// the reader, fed in chunks and read after some of them, hands over the lines a plain split
// gives (a line longer than the limit as too long) and never holds more than what came since
// the last lines were taken and a line; every error is printable
// text; a fault setting that takes a value shows a value that it takes again, to the same
// settings.
#include "tools/simulator/ControlCommand.h"
#include "tools/simulator/SimFault.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int DIO_COUNT = 9;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsPrintable(const std::string& text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return !text.empty();
}

// The lines of a stream as a plain split gives them; "" stands for too long.
std::vector<std::pair<std::string, bool>> SplitLines(const std::string& stream) {
    std::vector<std::pair<std::string, bool>> lines;
    std::size_t start = 0;
    for (std::size_t newline = stream.find('\n'); newline != std::string::npos;
         newline = stream.find('\n', start)) {
        std::string line = stream.substr(start, newline - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const bool tooLong = line.size() > CONTROL_MAX_LINE;
        lines.emplace_back(tooLong ? std::string() : line, tooLong);
        start = newline + 1;
    }
    return lines;
}

void CheckCommand(const std::string& line, const SimFaultList& faults) {
    ControlCommand command;
    std::string error;
    if (!ParseControlLine(line, DIO_COUNT, command, error)) {
        Require(IsPrintable(error));
        return;
    }
    if (command.m_verb == ControlVerb::Set) {
        Require(command.m_nDio >= 0 && command.m_nDio < DIO_COUNT);
    }
    if (command.m_verb != ControlVerb::Fault) {
        return;
    }
    SimulatorOptions options;
    if (!ApplySimFaultSetting(faults, command.m_strFault, command.m_strValue, options, error)) {
        Require(IsPrintable(error));
        return;
    }
    const SimFaultSetting* setting = FindSimFaultSetting(faults, command.m_strFault);
    const std::string shown = setting->m_pShow(options);
    SimulatorOptions again;
    Require(ApplySimFaultSetting(faults, command.m_strFault, shown.empty() ? "off" : shown, again,
                                 error));
    Require(setting->m_pShow(again) == shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    static const SimFaultList faults = MakeSimFaults();
    const std::size_t maxChunk = 1 + data[0] % 64;
    std::string stream;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFE) {
            stream.append(256, 'a');
        } else {
            stream += static_cast<char>(data[i]);
        }
    }

    CControlLineReader reader;
    std::vector<std::pair<std::string, bool>> lines;
    std::uint32_t seed = data[0];
    std::size_t fed = 0; // since the last lines were taken
    for (std::size_t pos = 0; pos < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk =
            std::min<std::size_t>(1 + (seed >> 16) % (maxChunk * 97), stream.size() - pos);
        reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()) + pos, chunk);
        fed += chunk;
        Require(reader.HeldBytes() <= fed + CONTROL_MAX_LINE + 1);
        pos += chunk;
        // The lines are taken after some chunks only, as a reader that falls behind would.
        if ((seed & 0x100) != 0 && pos < stream.size()) {
            continue;
        }
        fed = 0;
        std::string line;
        bool tooLong = false;
        while (reader.Next(line, tooLong)) {
            Require(line.size() <= CONTROL_MAX_LINE && line.find('\n') == std::string::npos);
            Require(!tooLong || line.empty());
            lines.emplace_back(line, tooLong);
            if (!tooLong) {
                CheckCommand(line, faults);
            }
        }
    }
    Require(!reader.HasLine());
    Require(lines == SplitLines(stream));
    return 0;
}
