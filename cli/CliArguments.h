// kelvane-cli's command line: the options, the target and the list of commands to run.
#pragma once

#include "protocol/DioFrame.h"

#include <cstdint>
#include <string>
#include <vector>

// The exit statuses of kelvane-cli.
enum CliStatus {
    CLI_OK = 0,              // every command was answered
    CLI_NO_ANSWER = 1,       // an answer did not come in time, or could not be used
    CLI_USAGE = 2,           // the command line is wrong
    CLI_CANNOT_CONNECT = 3,  // no connection could be made
    CLI_CONNECTION_LOST = 4, // the device closed or reset before every command was answered,
                             // and the run could not go on
    CLI_CANNOT_WRITE = 5,    // stdout could not be written
    CLI_INTERRUPTED = 130,   // Ctrl+C before every command was answered (not in a watch that
                             // ends its round, between rounds or under --repeat 0)
};

enum class CliCommandKind { Read, Write, ReadRange, WriteRange, Watch };

struct CliCommand {
    CliCommandKind m_kind = CliCommandKind::Read;
    int m_nFirst = 0;                      // the DIO, or the range's start
    int m_nLast = 0;                       // the range's end (the DIO again for single commands)
    std::vector<DioModeState> m_vecValues; // one per DIO written
    int m_nWatchMs = -1;                   // watch: -1 until the device closes or Ctrl+C
    std::string m_strText;                 // the command as typed, for messages
};

struct CliArguments {
    std::string m_strHost;
    std::uint16_t m_nPort = 5001;
    int m_nTimeoutMs = 2000;
    int m_nConnectTimeoutMs = 5000;
    bool m_bJson = false;
    bool m_bVerbose = false;
    bool m_bTimestamps = false;
    bool m_bQuiet = false;
    bool m_bVerify = false;
    bool m_bRepeat = false; // --repeat was given: JSON lines carry their round
    int m_nRepeat = 1;      // rounds; 0 until Ctrl+C
    int m_nIntervalMs = 1000;
    bool m_bReconnect = false; // connect again when the device drops during --repeat or a watch
    std::vector<CliCommand> m_vecCommands;
};

// What the command line asks for.
enum class CliRequest { Run, Help, Version, Usage };

// Reads argv[1..argc-1]. Run fills arguments; Help gives the help text in text; Usage gives a
// one-line error in text.
CliRequest ParseCliArguments(int argc, const char* const* argv, CliArguments& arguments,
                             std::string& text);

// "HOST", "HOST:PORT", "[v6]:PORT" or a bare IPv6 address. False when the text is empty, a
// bracket does not close or the port is not a number from 1 to 65535; hasPort says whether a
// port was given.
bool SplitHostPort(const std::string& text, std::string& host, std::uint16_t& port, bool& hasPort);

// Reads the command words after HOST into commands. False with a one-line error on an unknown
// command, a missing or bad argument, a DIO above 255, a start above its end, a range longer
// than one request holds or a wrong count of pairs.
bool ParseCliCommands(const std::vector<std::string>& words, std::vector<CliCommand>& commands,
                      std::string& error);
