// The simulator's settings, their defaults, and the command line that sets them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How each frame the simulator answers with is handed to the socket.
enum class ReplySplit {
    Whole, // one send per frame
    Bytes, // one send per byte
    Random // random pieces from the seeded generator
};

// What ends a connection after a number of requests.
enum class ConnectionEnd {
    Close, // orderly close: the client reads the end of the stream
    Reset  // reset (linger time-out 0): the client's receive fails
};

// The most device clients --max-clients allows, and the most control clients at once.
constexpr int SIM_MAX_CLIENTS = 1024;
constexpr int SIM_MAX_CONTROL_CLIENTS = 16;

struct SimulatorOptions {
    std::string m_strAddress = "127.0.0.1";
    std::uint16_t m_nPort = 5001; // 0: any free port
    int m_nDioCount = 9;          // 1 to 255
    int m_nMaxClients = 16;       // device clients served at once, 1 to SIM_MAX_CLIENTS
    int m_nControlPort = -1;      // -1: no control port; 0: any free port
    std::string m_strControlAddress = "127.0.0.1";
    std::uint32_t m_nSeed = 1; // for random pieces and junk frames

    // The faults (SimFaults.cpp says what each does; the control port changes them).
    int m_nReplyDelayMs = 0; // pause before each answer
    ReplySplit m_split = ReplySplit::Whole;
    int m_nPieceGapMs = 0;       // pause between the pieces of a cut frame
    int m_nJunkFrames = 0;       // frames of unknown codes sent ahead of each answer
    int m_nEndAfterRequests = 0; // 0: never; else close or reset after that many requests
    ConnectionEnd m_end = ConnectionEnd::Close;
    int m_nFloodSeconds = 0;          // 0: no time limit (see m_nFloodBytes)
    std::uint64_t m_nFloodBytes = 0;  // 0: no byte limit; flooding needs one of the two
    std::vector<int> m_vecToggleDios; // "Input" DIOs whose level flips by itself
    int m_nToggleMs = 1000;

    bool m_bQuiet = false; // no dumps of the traffic
    // A client that takes no byte of what waits for it for this long, or that has ended its
    // side and not taken its answers this long after the last was due, is dropped. Not on
    // the command line; tests shorten it.
    int m_nClientTimeoutMs = 10000;
    bool m_bHelp = false;

    bool Floods() const { return m_nFloodSeconds > 0 || m_nFloodBytes > 0; }
};

// Reads argv[1..argc-1] into out (which keeps its values for options not given). On a bad
// command line returns false with a one-line error naming the option. "--help" sets m_bHelp
// and stops reading. Options take their value as "--name value" or "--name=value".
bool ParseSimulatorOptions(int argc, char** argv, SimulatorOptions& out, std::string& error);

// The text "--help" prints: usage, every option, the control port's commands and the answers
// to requests the device cannot serve.
std::string SimulatorHelpText();

// The value readers that options and faults share. Each fails with error saying why, without
// the option's name: "'x' is not a whole number from 0 to 60000".
//   Decimal digits only (no sign, no spaces), within [low, high].
bool ParseSimNumber(std::string_view text, std::uint64_t low, std::uint64_t high,
                    std::uint64_t& value, std::string& error);
//   "3", "0,2,5", "1-3", "0,4-6": DIO numbers 0 to 254, in any order, repeats allowed; sorted.
bool ParseSimDioList(std::string_view text, std::vector<int>& dios, std::string& error);
