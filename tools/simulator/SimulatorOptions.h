// The simulator's settings, their defaults, and the command line that sets them.
#pragma once

#include <cstdint>
#include <string>
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

struct SimulatorOptions {
    std::string m_strAddress = "127.0.0.1";
    std::uint16_t m_nPort = 5001; // 0: any free port
    int m_nDioCount = 9;          // 1 to 255
    int m_nReplyDelayMs = 0;      // pause before each answer
    ReplySplit m_split = ReplySplit::Whole;
    int m_nPieceGapMs = 0;       // pause between the pieces of a cut frame
    std::uint32_t m_nSeed = 1;   // for random pieces and junk frames
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

// The text "--help" prints: usage, every option, and the answers to requests the device
// cannot serve.
std::string SimulatorHelpText();
