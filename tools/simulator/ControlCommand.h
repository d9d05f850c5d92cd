// The control port's language: lines of text, each one command, read from any stream of bytes.
//
//   state                  every DIO's mode and state
//   set DIO STATE          the level on an input pin (low, high)
//   set DIO MODE STATE     mode (input, output) and state, as a client's write sets them
//   fault NAME VALUE       a fault's setting, as its option takes it; VALUE off turns it off
//   faults                 the faults that are on
//   clients                the connected clients
//   drop all | drop ID     close clients in order
//   reset ID               reset a client
//   help                   this list
// Words are separated by spaces or tabs; a line ends with LF, and a CR before it is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The longest line taken, without its line end.
constexpr std::size_t CONTROL_MAX_LINE = 4096;

// Cuts received bytes into lines. It holds the bytes not yet handed over, but never more of
// one line than CONTROL_MAX_LINE: a line that grows past that is dropped as it arrives, and
// handed over as too long once its end comes, in its place among the others.
class CControlLineReader {
public:
    void Feed(const std::uint8_t* data, std::size_t length);

    // The next whole line, if one is in: true with the line (its CR LF or LF taken off), or
    // with tooLong set and the line empty.
    bool Next(std::string& line, bool& tooLong);
    bool HasLine() const;
    // Bytes held: of lines not handed over yet and of the one begun.
    std::size_t HeldBytes() const { return m_strBuffer.size() - m_nStart; }

private:
    // Whether a too-long line sits where the next line starts, and has ended.
    bool TooLongIsNext() const;

    std::string m_strBuffer;
    std::size_t m_nStart = 0;     // where the next line to hand over starts
    std::size_t m_nLineStart = 0; // where the line being received starts
    // Where the too-long lines sit among the others, in order; the last one may still be
    // arriving (m_bSkipping), its bytes dropped.
    std::vector<std::size_t> m_vecTooLongAt;
    bool m_bSkipping = false;
};

enum class ControlVerb { State, Set, Fault, Faults, Clients, Drop, Reset, Help };

struct ControlCommand {
    ControlVerb m_verb = ControlVerb::Help;
    int m_nDio = 0;              // set
    int m_nMode = -1;            // set: -1 when only the state is given
    int m_nState = 0;            // set
    std::string m_strFault;      // fault: the setting's name
    std::string m_strValue;      // fault: its value as given, or "off"
    bool m_bAllClients = false;  // drop all
    std::uint64_t m_nClient = 0; // drop, reset: the client's id
};

// Reads one line (without its line end) of a device with dioCount DIOs. False with error
// saying what is wrong, in printable ASCII only ("unknown command 'foo'"). Fault names and
// values are not checked here: the faults do that (ApplySimFaultSetting).
bool ParseControlLine(std::string_view line, int dioCount, ControlCommand& command,
                      std::string& error);

// One line of help for each command.
struct ControlCommandHelp {
    std::string_view m_strUsage;
    std::string_view m_strText;
};
std::span<const ControlCommandHelp> ControlCommandHelpLines();
