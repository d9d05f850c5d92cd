// A test client of the simulator over the loopback interface: sends requests and collects
// what comes back, always with a deadline so that a fault fails a test instead of hanging it.
#pragma once

#include "connection/PortableSocket.h"
#include "protocol/DioFrameReader.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CLoopbackClient {
public:
    static constexpr std::chrono::milliseconds DEADLINE{10000};

    explicit CLoopbackClient(std::uint16_t port) {
        m_socket = CPortableSocket::Connect("127.0.0.1", port, m_strError);
        if (m_socket.IsOpen()) {
            m_socket.SetNonBlocking();
        }
    }

    bool IsConnected() const { return m_socket.IsOpen(); }
    // Each receive takes at most bytes from then on: a slow reader.
    void LimitReads(std::size_t bytes) { m_nReadLimit = bytes; }
    const std::string& Error() const { return m_strError; }

    bool Send(const std::vector<std::uint8_t>& bytes) {
        std::size_t offset = 0;
        const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
        while (offset < bytes.size()) {
            if (!Wait(false, deadline)) {
                return false;
            }
            std::size_t sent = 0;
            const SocketIo io = m_socket.Send(bytes.data() + offset, bytes.size() - offset, sent);
            if (io != SocketIo::Done && io != SocketIo::WouldBlock) {
                return false;
            }
            offset += sent;
        }
        return true;
    }

    // Receives until done(bytes) holds, the connection ends or the deadline passes. Returns
    // how the last receive ended: Done when done() held, Closed or Reset when the connection
    // ended, WouldBlock on the deadline.
    SocketIo ReceiveUntil(const std::function<bool(const std::vector<std::uint8_t>&)>& done,
                          std::chrono::milliseconds timeout = DEADLINE) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::uint8_t buffer[65536];
        while (!done(m_vecReceived)) {
            if (!Wait(true, deadline, true)) {
                return SocketIo::WouldBlock;
            }
            std::size_t received = 0;
            const SocketIo io =
                m_socket.Receive(buffer, std::min(sizeof buffer, m_nReadLimit), received);
            if (io == SocketIo::Done) {
                m_vecReceived.insert(m_vecReceived.end(), buffer, buffer + received);
            } else if (io != SocketIo::WouldBlock) {
                return io;
            }
        }
        return SocketIo::Done;
    }

    // Receives without keeping the bytes: each chunk goes to onChunk, until done() holds, the
    // connection ends or the deadline passes (results as for ReceiveUntil).
    SocketIo Stream(const std::function<void(const std::uint8_t*, std::size_t)>& onChunk,
                    const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = DEADLINE) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::uint8_t buffer[65536];
        while (!done()) {
            if (!Wait(true, deadline, true)) {
                return SocketIo::WouldBlock;
            }
            std::size_t received = 0;
            const SocketIo io = m_socket.Receive(buffer, sizeof buffer, received);
            if (io == SocketIo::Done) {
                onChunk(buffer, received);
            } else if (io != SocketIo::WouldBlock) {
                return io;
            }
        }
        return SocketIo::Done;
    }

    bool SendText(const std::string& text) {
        return Send(std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    // Receives until a whole line is in and takes it off what was received, without its line
    // end; "" when none came in time.
    std::string TakeLine(std::chrono::milliseconds timeout = DEADLINE) {
        const auto hasLine = [](const std::vector<std::uint8_t>& b) {
            return std::find(b.begin(), b.end(), '\n') != b.end();
        };
        if (ReceiveUntil(hasLine, timeout) != SocketIo::Done) {
            return {};
        }
        const auto end = std::find(m_vecReceived.begin(), m_vecReceived.end(), '\n');
        std::string line(m_vecReceived.begin(), end);
        m_vecReceived.erase(m_vecReceived.begin(), end + 1);
        return line;
    }

    // Receives until count bytes in all have arrived.
    SocketIo ReceiveBytes(std::size_t count) {
        return ReceiveUntil(
            [count](const std::vector<std::uint8_t>& b) { return b.size() >= count; });
    }

    // Receives until the connection ends; returns Closed, Reset (or WouldBlock on the deadline).
    SocketIo ReceiveToEnd(std::chrono::milliseconds timeout = DEADLINE) {
        return ReceiveUntil([](const std::vector<std::uint8_t>&) { return false; }, timeout);
    }

    // Everything received so far; TakeReceived also forgets it.
    const std::vector<std::uint8_t>& Received() const { return m_vecReceived; }
    std::vector<std::uint8_t> TakeReceived() { return std::exchange(m_vecReceived, {}); }

    void ShutdownSend() { m_socket.ShutdownSend(); }
    void Reset() { m_socket.Reset(); }
    void Close() { m_socket.Close(); }

private:
    // Waits until the socket is ready, in short slices so that a caller's condition that
    // depends on more than the bytes (the simulator's counters) is looked at again; false on
    // the deadline.
    bool Wait(bool read, std::chrono::steady_clock::time_point deadline, bool slice = false) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        SocketWait wait;
        wait.m_pSocket = &m_socket;
        wait.m_bWantRead = read;
        wait.m_bWantWrite = !read;
        const int timeout = slice && left > 20 ? 20 : static_cast<int>(left);
        return WaitForSockets(std::span<SocketWait>(&wait, 1), timeout) >= 0;
    }

    CSocketLibrary m_library;
    CPortableSocket m_socket;
    std::string m_strError;
    std::vector<std::uint8_t> m_vecReceived;
    std::size_t m_nReadLimit = 65536;
};

// The frames in a stream, each whole, as any reader of the protocol cuts them.
inline std::vector<std::vector<std::uint8_t>> SplitFrames(const std::vector<std::uint8_t>& stream) {
    CDioFrameReader reader;
    std::vector<std::vector<std::uint8_t>> frames;
    reader.ReadFrames(stream.data(), stream.size(),
                      [&](const DioFrameView& frame) { frames.push_back(DioFrameBytes(frame)); });
    return frames;
}
