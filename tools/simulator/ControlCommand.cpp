// The control port's language.
#include "tools/simulator/ControlCommand.h"

#include "protocol/DioWords.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr ControlCommandHelp HELP[] = {
    {"state", "every DIO's mode and state"},
    {"set DIO STATE", "the level on an input pin: low or high; reported to\n"
                      "every client as a toggle is (an error on an output)"},
    {"set DIO MODE STATE", "forces both (input or output, low or high), as a\n"
                           "client's write would, and is reported the same way"},
    {"fault NAME VALUE", "a fault's setting, as its option takes it: delay 200,\n"
                         "split bytes, toggle 1-3...; for the next request or\n"
                         "connection, as each fault's meaning says"},
    {"fault NAME off", "turns the setting off"},
    {"faults", "the fault settings that are on"},
    {"clients", "the connected clients: id, address and counters"},
    {"drop all, drop ID", "closes clients in order at once (what waits for them\n"
                          "is dropped); the client reads the end of the stream"},
    {"reset ID", "resets a client's connection"},
    {"help", "this list"},
};

bool IsText(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b == '\t' || (b >= 0x20 && b < 0x7F);
    });
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.push_back(line.substr(start, end - start));
        pos = end;
    }
    return words;
}

bool ReadNumber(std::string_view word, std::uint64_t& value) {
    if (word.empty() || word.size() > 9 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::from_chars(word.data(), word.data() + word.size(), value);
    return true;
}

std::string Quoted(std::string_view word) {
    // Long words are cut, so that an error answer stays short.
    return "'" + std::string(word.substr(0, 40)) + (word.size() > 40 ? "...'" : "'");
}

bool WrongCount(std::string_view usage, std::string& error) {
    error = "usage: " + std::string(usage);
    return false;
}

bool ParseSet(const std::vector<std::string_view>& words, int dioCount, ControlCommand& command,
              std::string& error) {
    if (words.size() != 3 && words.size() != 4) {
        return WrongCount("set DIO STATE, or set DIO MODE STATE", error);
    }
    std::uint64_t dio = 0;
    if (!ReadNumber(words[1], dio)) {
        error = "set: " + Quoted(words[1]) + " is not a DIO number";
        return false;
    }
    if (dio >= static_cast<std::uint64_t>(dioCount)) {
        error = "set: DIO " + std::to_string(dio) + " is beyond the last DIO (" +
                std::to_string(dioCount - 1) + ")";
        return false;
    }
    command.m_nDio = static_cast<int>(dio);
    if (words.size() == 4 && !ParseDioModeKey(words[2], command.m_nMode)) {
        error = "set: " + Quoted(words[2]) + " is not a mode (input or output)";
        return false;
    }
    if (!ParseDioStateKey(words.back(), command.m_nState)) {
        error = "set: " + Quoted(words.back()) + " is not a state (low or high)";
        return false;
    }
    return true;
}

bool ParseClient(const std::vector<std::string_view>& words, bool allowAll, ControlCommand& command,
                 std::string& error) {
    const std::string verb(words[0]);
    if (words.size() != 2) {
        return WrongCount(verb + (allowAll ? " all, or drop ID" : " ID"), error);
    }
    if (allowAll && words[1] == "all") {
        command.m_bAllClients = true;
        return true;
    }
    if (!ReadNumber(words[1], command.m_nClient)) {
        error =
            verb + ": " + Quoted(words[1]) + " is not a client id" + (allowAll ? " or all" : "");
        return false;
    }
    return true;
}

} // namespace

void CControlLineReader::Feed(const std::uint8_t* data, std::size_t length) {
    // What was handed over goes; the rest moves to the front.
    if (m_nStart > 0) {
        m_strBuffer.erase(0, m_nStart);
        m_nLineStart -= m_nStart;
        for (std::size_t& at : m_vecTooLongAt) {
            at -= m_nStart;
        }
        m_nStart = 0;
    }
    const char* p = reinterpret_cast<const char*>(data);
    const char* const end = p + length;
    while (p != end) {
        const char* const newline = std::find(p, end, '\n');
        if (m_bSkipping) {
            if (newline == end) {
                return;
            }
            m_bSkipping = false; // the too-long line has ended
            p = newline + 1;
            continue;
        }
        m_strBuffer.append(p, newline == end ? end : newline + 1);
        p = newline == end ? end : newline + 1;
        if (newline != end) {
            m_nLineStart = m_strBuffer.size();
        } else if (m_strBuffer.size() - m_nLineStart > CONTROL_MAX_LINE + 1) {
            // Too long even if a CR and the LF came next: drop it, keep its place.
            m_strBuffer.resize(m_nLineStart);
            m_vecTooLongAt.push_back(m_nLineStart);
            m_bSkipping = true;
        }
    }
}

bool CControlLineReader::TooLongIsNext() const {
    return !m_vecTooLongAt.empty() && m_vecTooLongAt.front() == m_nStart &&
           !(m_bSkipping && m_vecTooLongAt.size() == 1);
}

bool CControlLineReader::HasLine() const {
    return TooLongIsNext() || m_strBuffer.find('\n', m_nStart) != std::string::npos;
}

bool CControlLineReader::Next(std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    if (TooLongIsNext()) {
        m_vecTooLongAt.erase(m_vecTooLongAt.begin());
        tooLong = true;
        return true;
    }
    const std::size_t newline = m_strBuffer.find('\n', m_nStart);
    if (newline == std::string::npos) {
        return false;
    }
    std::size_t end = newline;
    if (end > m_nStart && m_strBuffer[end - 1] == '\r') {
        --end;
    }
    if (end - m_nStart > CONTROL_MAX_LINE) {
        tooLong = true;
    } else {
        line.assign(m_strBuffer, m_nStart, end - m_nStart);
    }
    m_nStart = newline + 1;
    return true;
}

bool ParseControlLine(std::string_view line, int dioCount, ControlCommand& command,
                      std::string& error) {
    command = ControlCommand{};
    if (!IsText(line)) {
        error = "the line holds bytes that are not text";
        return false;
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) {
        error = "empty line: try help";
        return false;
    }
    const std::string_view verb = words[0];
    const auto alone = [&](ControlVerb value) {
        command.m_verb = value;
        return words.size() == 1 || WrongCount(std::string(verb), error);
    };
    if (verb == "state") {
        return alone(ControlVerb::State);
    }
    if (verb == "faults") {
        return alone(ControlVerb::Faults);
    }
    if (verb == "clients") {
        return alone(ControlVerb::Clients);
    }
    if (verb == "help") {
        return alone(ControlVerb::Help);
    }
    if (verb == "set") {
        command.m_verb = ControlVerb::Set;
        return ParseSet(words, dioCount, command, error);
    }
    if (verb == "fault") {
        command.m_verb = ControlVerb::Fault;
        if (words.size() != 3) {
            return WrongCount("fault NAME VALUE, or fault NAME off", error);
        }
        command.m_strFault = std::string(words[1]);
        command.m_strValue = std::string(words[2]);
        return true;
    }
    if (verb == "drop" || verb == "reset") {
        command.m_verb = verb == "drop" ? ControlVerb::Drop : ControlVerb::Reset;
        return ParseClient(words, verb == "drop", command, error);
    }
    error = "unknown command " + Quoted(verb) + ": try help";
    return false;
}

std::span<const ControlCommandHelp> ControlCommandHelpLines() {
    return HELP;
}
