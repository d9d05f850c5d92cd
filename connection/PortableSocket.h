// The portable socket layer of the simulator and the command-line client: TCP listening,
// accepting and connecting (IPv4 and IPv6, host names, a connect time-out), non-blocking sends
// and receives, a wake socket that interrupts a wait, and waiting on several sockets. The only
// place that knows whether it runs on POSIX sockets or on Winsock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Keeps the platform's socket library loaded for as long as it lives (Winsock needs a start
// and a matching clean-up; POSIX needs nothing).
class CSocketLibrary {
public:
    CSocketLibrary();
    ~CSocketLibrary();
    CSocketLibrary(const CSocketLibrary&) = delete;
    CSocketLibrary& operator=(const CSocketLibrary&) = delete;

    bool IsReady() const { return m_bReady; }

private:
    bool m_bReady = false;
};

// How a send or a receive ended.
enum class SocketIo {
    Done,       // some bytes moved
    WouldBlock, // nothing moved now; wait and retry
    Closed,     // the peer closed its sending side (receive only)
    Reset,      // the peer reset or aborted the connection
    Failed      // any other error
};

// Why a connection could not be made.
enum class ConnectFailure {
    None,
    Unresolved,  // the name or address does not resolve
    Refused,     // nobody listens there
    TimedOut,    // no answer within the time-out
    Interrupted, // the wake socket woke the wait
    Failed       // any other error
};

// One socket, closed when the object goes. Move-only.
class CPortableSocket {
public:
    CPortableSocket() = default;
    ~CPortableSocket();
    CPortableSocket(CPortableSocket&& other) noexcept;
    CPortableSocket& operator=(CPortableSocket&& other) noexcept;
    CPortableSocket(const CPortableSocket&) = delete;
    CPortableSocket& operator=(const CPortableSocket&) = delete;

    // A TCP socket listening on a numeric IPv4 or IPv6 address; port 0 picks any free port.
    // backlog: connections the system may hold before they are accepted (0: the system's most).
    static CPortableSocket Listen(const std::string& address, std::uint16_t port,
                                  std::string& error, int backlog = 4);
    // A blocking TCP connection to a numeric address or a host name, without a time-out.
    static CPortableSocket Connect(const std::string& address, std::uint16_t port,
                                   std::string& error);
    // A non-blocking TCP connection to host (a name, an IPv4 or an IPv6 address), trying each
    // address the name resolves to until one answers or timeoutMs has passed in all. On failure
    // the socket is closed, failure says why and error says it in words. A wake socket, when
    // given, ends the wait for an answer as soon as it is woken (the name look-up runs to its
    // end).
    static CPortableSocket Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                                   ConnectFailure& failure, std::string& error,
                                   const CPortableSocket* wake = nullptr);
    // A UDP socket on the loopback address that Wake() makes readable, so that a thread
    // waiting on it in WaitForSockets returns at once.
    static CPortableSocket OpenWake(std::string& error);

    bool IsOpen() const { return m_hSocket != INVALID_HANDLE; }
    std::uint16_t LocalPort() const;

    // Takes the next pending connection of a listening socket; peer receives "a.b.c.d:port"
    // (or "[v6]:port"). When none is taken, failure (if given) says whether none was waiting
    // (WouldBlock) or the system refused (Failed: out of descriptors or memory, for instance).
    CPortableSocket Accept(std::string& peer, SocketIo* failure = nullptr);

    bool SetNonBlocking(bool on = true);
    bool SetNoDelay();
    // A fixed send buffer of about bytes (the system may round it), instead of one the
    // system grows by itself.
    bool SetSendBuffer(int bytes);

    SocketIo Send(const std::uint8_t* data, std::size_t length, std::size_t& sent);
    SocketIo Receive(std::uint8_t* data, std::size_t capacity, std::size_t& received);

    void ShutdownSend();
    // Closes with a reset instead of the orderly close (linger on, time-out 0).
    void Reset();
    void Close();

    // For the wake socket: makes it readable, and empties it again.
    void Wake();
    void DrainWake();

    std::intptr_t Handle() const { return m_hSocket; }

private:
    explicit CPortableSocket(std::intptr_t handle) : m_hSocket(handle) {}

    static constexpr std::intptr_t INVALID_HANDLE = -1;
    std::intptr_t m_hSocket = INVALID_HANDLE;
};

// One entry of WaitForSockets: what to wait for, and what was found.
struct SocketWait {
    const CPortableSocket* m_pSocket = nullptr;
    bool m_bWantRead = false;
    bool m_bWantWrite = false;
    bool m_bReadable = false; // also set when the peer closed or reset, or on an error
    bool m_bWritable = false;
};

// The most entries one WaitForSockets call takes: enough for a server's every connection.
constexpr std::size_t MAX_SOCKET_WAITS = 2048;

// Waits until one of the entries is ready or timeoutMs passes (a negative time-out waits
// without limit). Returns the number of ready entries, 0 on time-out, -1 on failure (also
// when more than MAX_SOCKET_WAITS entries wait on a socket).
int WaitForSockets(std::span<SocketWait> entries, int timeoutMs);
