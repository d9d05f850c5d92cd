// Running kelvane-cli in-process against the simulator, and a scripted peer for the answers a
// well-behaved simulator never gives.
#pragma once

#include "cli/CliProgram.h"
#include "connection/PortableSocket.h"
#include "tools/simulator/DeviceSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct CliRun {
    int m_nStatus = -1;
    std::string m_strOut;
    std::string m_strErr;
};

// Runs kelvane-cli with its stdout on out; m_strOut stays empty.
inline CliRun RunCliInto(std::ostream& out, const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"kelvane-cli"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream err;
    CliRun run;
    run.m_nStatus = RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
    run.m_strErr = err.str();
    return run;
}

inline CliRun RunCliWith(const std::vector<std::string>& args) {
    std::ostringstream out;
    CliRun run = RunCliInto(out, args);
    run.m_strOut = out.str();
    return run;
}

// Runs kelvane-cli on a thread of its own, while the test works the device.
inline std::future<CliRun> RunCliAside(const std::vector<std::string>& args) {
    return std::async(std::launch::async, [args] { return RunCliWith(args); });
}

// The same with its stdout on out.
inline std::future<CliRun> RunCliAside(std::ostream& out, const std::vector<std::string>& args) {
    return std::async(std::launch::async, [&out, args] { return RunCliInto(out, args); });
}

// A stdout that the test reads while the program writes it on another thread.
class CLiveOutput : public std::streambuf {
public:
    std::string Text() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_strText;
    }
    // Waits until it holds count lines, or until limit.
    bool WaitForLines(std::size_t count, std::chrono::milliseconds limit) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cvWritten.wait_for(lock, limit, [&] {
            return static_cast<std::size_t>(std::count(m_strText.begin(), m_strText.end(), '\n')) >=
                   count;
        });
    }

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_strText.append(text, static_cast<std::size_t>(count));
        }
        m_cvWritten.notify_all();
        return count;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char one = traits_type::to_char_type(c);
            xsputn(&one, 1);
        }
        return traits_type::not_eof(c);
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cvWritten;
    std::string m_strText;
};

// Connects to the listener on port until an attempt fails: with a time-out once its queue of
// connections is full (the connections made are kept open in queued), otherwise with the
// failure and its words in error. Gives up, with the queue not full, after 64 connections.
inline ConnectFailure FillConnectQueue(std::uint16_t port, std::vector<CPortableSocket>& queued,
                                       std::string& error) {
    ConnectFailure failure = ConnectFailure::None;
    while (queued.size() < 64) {
        CPortableSocket client = CPortableSocket::Connect("127.0.0.1", port, 300, failure, error);
        if (!client.IsOpen()) {
            return failure;
        }
        queued.push_back(std::move(client));
    }
    return ConnectFailure::None;
}

// The run's result once it has ended; a run still going after limit fails the test and is
// ended by a Ctrl+C.
inline CliRun Finish(std::future<CliRun>& run, std::chrono::milliseconds limit) {
    if (run.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "still running after " << limit.count() << " ms";
        RequestCliStop();
    }
    return run.get();
}

// Ctrl+C after delay, from another thread as on Windows.
inline std::thread CtrlCAfter(std::chrono::milliseconds delay) {
    return std::thread([delay] {
        std::this_thread::sleep_for(delay);
        RequestCliStop();
    });
}

// A simulator on a free loopback port; log receives its console text (read it after Stop).
class CTestDevice {
public:
    explicit CTestDevice(SimulatorOptions options = {}, std::ostream* log = nullptr)
        : m_simulator(Loopback(options), log) {
        std::string error;
        m_bStarted = m_simulator.Start(error);
        EXPECT_TRUE(m_bStarted) << error;
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(m_simulator.Port()); }
    CDeviceSimulator& Simulator() { return m_simulator; }

private:
    static SimulatorOptions Loopback(SimulatorOptions options) {
        options.m_nPort = 0;
        options.m_bQuiet = true;
        return options;
    }
    CDeviceSimulator m_simulator;
    bool m_bStarted = false;
};

// Flips input dio of the device, from the control port's language, once for each of the lines
// from first to last (1-based) that the program is to show: waitForLines(count, limit) waits
// for its output to hold count lines. A watch does not show what arrived before it started, so
// the first flip is made again until one is shown; each later one must be shown.
inline bool
FlipUntilShown(CDeviceSimulator& device, int dio, std::size_t first, std::size_t last,
               const std::function<bool(std::size_t, std::chrono::milliseconds)>& waitForLines) {
    using std::chrono::milliseconds;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (std::size_t line = first; line <= last; ++line) {
        for (;;) {
            const bool high =
                device.DioTable()[static_cast<std::size_t>(dio)].state == DIO_STATE_HIGH;
            device.Control("set " + std::to_string(dio) + (high ? " low" : " high"));
            if (waitForLines(line, milliseconds(line == first ? 100 : 5000))) {
                break;
            }
            if (line != first || std::chrono::steady_clock::now() >= end) {
                return false;
            }
        }
    }
    return true;
}

// Accepts one client on address and answers each request frame (cut by its length byte)
// with what answer gives for it; then, when later is given, waits laterDelay and sends what
// later gives for it.
class CScriptedPeer {
public:
    using Answer = std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)>;

    CScriptedPeer(const std::string& address, Answer answer, Answer later = {},
                  std::chrono::milliseconds laterDelay = {})
        : m_answer(std::move(answer)), m_later(std::move(later)), m_laterDelay(laterDelay) {
        std::string error;
        m_listen = CPortableSocket::Listen(address, 0, error);
        if (m_listen.IsOpen()) {
            m_thread = std::thread([this] { Serve(); });
        }
    }
    ~CScriptedPeer() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    CScriptedPeer(const CScriptedPeer&) = delete;
    CScriptedPeer& operator=(const CScriptedPeer&) = delete;

    bool IsListening() const { return m_listen.IsOpen(); }
    std::uint16_t Port() const { return m_listen.LocalPort(); }

private:
    void Serve() {
        SocketWait wait{&m_listen, true, false};
        if (WaitForSockets(std::span<SocketWait>(&wait, 1), 10000) <= 0) {
            return;
        }
        std::string peer;
        CPortableSocket client = m_listen.Accept(peer);
        std::vector<std::uint8_t> stream;
        for (;;) {
            SocketWait readable{&client, true, false};
            if (WaitForSockets(std::span<SocketWait>(&readable, 1), 10000) <= 0) {
                return;
            }
            std::uint8_t buffer[256];
            std::size_t received = 0;
            const SocketIo io = client.Receive(buffer, sizeof buffer, received);
            if (io == SocketIo::WouldBlock) {
                continue;
            }
            if (io != SocketIo::Done) {
                return;
            }
            stream.insert(stream.end(), buffer, buffer + received);
            while (stream.size() >= 4 && stream.size() >= 4u + stream[3]) {
                const std::vector<std::uint8_t> frame(stream.begin(),
                                                      stream.begin() + 4 + stream[3]);
                stream.erase(stream.begin(), stream.begin() + 4 + stream[3]);
                const std::vector<std::uint8_t> reply = m_answer(frame);
                std::size_t sent = 0;
                client.Send(reply.data(), reply.size(), sent);
                if (m_later) {
                    std::this_thread::sleep_for(m_laterDelay);
                    const std::vector<std::uint8_t> more = m_later(frame);
                    client.Send(more.data(), more.size(), sent);
                }
            }
        }
    }

    const CSocketLibrary m_library;
    Answer m_answer;
    Answer m_later;
    std::chrono::milliseconds m_laterDelay;
    CPortableSocket m_listen;
    std::thread m_thread;
};
