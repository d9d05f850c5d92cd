// A device stand-in for tests: a loopback TCP listener whose one connection the test drives
// byte by byte (read what the program sent, send replies, close or reset).
#pragma once

#include "platform/Win32.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class CTestPeer {
public:
    // Listens on 127.0.0.1 at a free port, or at port (taken again even while connections
    // from its last use linger). receiveBuffer, sendBuffer: the connection's fixed buffers in
    // bytes (0: the system's, which grow to megabytes as needed).
    explicit CTestPeer(int receiveBuffer = 0, int sendBuffer = 0, std::uint16_t port = 0);
    ~CTestPeer();
    CTestPeer(const CTestPeer&) = delete;
    CTestPeer& operator=(const CTestPeer&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }

    // Waits for the program to connect.
    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads exactly n bytes, or fewer when the deadline passes or the connection ends.
    std::vector<std::uint8_t> Read(std::size_t n,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whatever arrives first within the time given (up to 4 KB); ended is set when the
    // program has shut its sending side or the connection is gone.
    std::vector<std::uint8_t> ReadSome(std::chrono::milliseconds timeout, bool& ended);
    // True when nothing arrives within the time given.
    bool Silent(std::chrono::milliseconds wait = std::chrono::milliseconds(200));
    // True once the program has shut its sending side (reads answer end of stream).
    bool SawEndOfStream(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Orderly close, or an abortive one (RST).
    void Close();
    void Reset();
    void StopListening();

private:
    SOCKET m_listener = INVALID_SOCKET;
    SOCKET m_connection = INVALID_SOCKET;
    std::uint16_t m_port = 0;
};
