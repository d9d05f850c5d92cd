// The simulator's thin socket layer on POSIX sockets or Winsock 2.
#include "tools/simulator/SimSocket.h"

#include "tools/simulator/Ipv4Address.h"

#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
using SockLen = int;
constexpr NativeSocket NATIVE_INVALID = INVALID_SOCKET;

int LastError() {
    return WSAGetLastError();
}
bool IsWouldBlock(int error) {
    return error == WSAEWOULDBLOCK;
}
bool IsInterrupted(int error) {
    return error == WSAEINTR;
}
bool IsReset(int error) {
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET ||
           error == WSAESHUTDOWN;
}
void CloseNative(NativeSocket s) {
    closesocket(s);
}
constexpr int SEND_FLAGS = 0;
constexpr int SHUTDOWN_SEND = SD_SEND;
#else
using NativeSocket = int;
using SockLen = socklen_t;
constexpr NativeSocket NATIVE_INVALID = -1;

int LastError() {
    return errno;
}
bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}
bool IsInterrupted(int error) {
    return error == EINTR;
}
bool IsReset(int error) {
    return error == ECONNRESET || error == EPIPE || error == ECONNABORTED;
}
void CloseNative(NativeSocket s) {
    close(s);
}
#ifdef MSG_NOSIGNAL
// A peer that has gone must give an error, never SIGPIPE (which would end the process).
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;
#endif
constexpr int SHUTDOWN_SEND = SHUT_WR;
#endif

NativeSocket Native(std::intptr_t handle) {
    return static_cast<NativeSocket>(handle);
}

std::string ErrorText(const char* what) {
    const int error = LastError();
#ifdef _WIN32
    if (error == WSAEADDRINUSE) {
        return "the port is in use";
    }
    if (error == WSAEADDRNOTAVAIL) {
        return "the address is not one of this computer's";
    }
    if (error == WSAECONNREFUSED) {
        return "connection refused";
    }
#else
    if (error == EADDRINUSE) {
        return "the port is in use";
    }
    if (error == EADDRNOTAVAIL) {
        return "the address is not one of this computer's";
    }
    if (error == ECONNREFUSED) {
        return "connection refused";
    }
#endif
    return std::string(what) + " failed (error " + std::to_string(error) + ")";
}

sockaddr_in MakeAddress(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    address.sin_port = htons(port);
    return address;
}

std::string AddressText(const sockaddr_in& address) {
    return FormatIpv4Address(ntohl(address.sin_addr.s_addr)) + ":" +
           std::to_string(ntohs(address.sin_port));
}

} // namespace

CSocketLibrary::CSocketLibrary() {
#ifdef _WIN32
    WSADATA data;
    m_bReady = WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    m_bReady = true;
#endif
}

CSocketLibrary::~CSocketLibrary() {
#ifdef _WIN32
    if (m_bReady) {
        WSACleanup();
    }
#endif
}

CSimSocket::~CSimSocket() {
    Close();
}

CSimSocket::CSimSocket(CSimSocket&& other) noexcept : m_hSocket(other.m_hSocket) {
    other.m_hSocket = INVALID_HANDLE;
}

CSimSocket& CSimSocket::operator=(CSimSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_hSocket = other.m_hSocket;
        other.m_hSocket = INVALID_HANDLE;
    }
    return *this;
}

namespace {
// A TCP socket for address:port, with the endpoint to bind or connect it to. NATIVE_INVALID,
// with error set, when the address is not numeric or the socket cannot be made.
NativeSocket OpenStream(const std::string& address, std::uint16_t port, sockaddr_in& endpoint,
                        std::string& error) {
    std::uint32_t ip = 0;
    if (!ParseIpv4Address(address, ip)) {
        error = "'" + address + "' is not a numeric IPv4 address";
        return NATIVE_INVALID;
    }
    const NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == NATIVE_INVALID)
        error = ErrorText("socket");
    endpoint = MakeAddress(ip, port);
    return s;
}
} // namespace

CSimSocket CSimSocket::Listen(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in local{};
    const NativeSocket s = OpenStream(address, port, local, error);
    if (s == NATIVE_INVALID)
        return {};
    CSimSocket result(static_cast<std::intptr_t>(s));
#ifndef _WIN32
    // A restarted simulator can take its port again while the old connection is in TIME_WAIT.
    // (On Windows the same option would let another process share the port, so it is not set.)
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error =
            "cannot listen on " + address + ":" + std::to_string(port) + ": " + ErrorText("bind");
        return {};
    }
    if (listen(s, 4) != 0) {
        error = ErrorText("listen");
        return {};
    }
    if (!result.SetNonBlocking()) {
        error = ErrorText("making the socket non-blocking");
        return {};
    }
    return result;
}

CSimSocket CSimSocket::Connect(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in remote{};
    const NativeSocket s = OpenStream(address, port, remote, error);
    if (s == NATIVE_INVALID)
        return {};
    CSimSocket result(static_cast<std::intptr_t>(s));
    if (connect(s, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        error = ErrorText("connect");
        return {};
    }
    result.SetNoDelay();
    return result;
}

CSimSocket CSimSocket::OpenWake(std::string& error) {
    const NativeSocket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == NATIVE_INVALID) {
        error = ErrorText("socket");
        return {};
    }
    CSimSocket result(static_cast<std::intptr_t>(s));
    sockaddr_in local = MakeAddress(0x7F000001, 0);
    SockLen length = sizeof local;
    // Bound to a loopback port and connected to itself: Wake() sends it one datagram.
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        connect(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        !result.SetNonBlocking()) {
        error = ErrorText("setting up the wake socket");
        return {};
    }
    return result;
}

std::uint16_t CSimSocket::LocalPort() const {
    sockaddr_in local{};
    SockLen length = sizeof local;
    if (!IsOpen() ||
        getsockname(Native(m_hSocket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

CSimSocket CSimSocket::Accept(std::string& peer) {
    sockaddr_in remote{};
    SockLen length = sizeof remote;
    NativeSocket s = NATIVE_INVALID;
    do {
        s = accept(Native(m_hSocket), reinterpret_cast<sockaddr*>(&remote), &length);
    } while (s == NATIVE_INVALID && IsInterrupted(LastError()));
    if (s == NATIVE_INVALID) {
        return {};
    }
    peer = AddressText(remote);
    return CSimSocket(static_cast<std::intptr_t>(s));
}

bool CSimSocket::SetNonBlocking() {
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(Native(m_hSocket), FIONBIO, &on) == 0;
#else
    const int flags = fcntl(m_hSocket, F_GETFL, 0);
    return flags >= 0 && fcntl(m_hSocket, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

bool CSimSocket::SetNoDelay() {
    // Every send leaves at once, so a reply cut into pieces really travels in pieces.
    const int on = 1;
    return setsockopt(Native(m_hSocket), IPPROTO_TCP, TCP_NODELAY,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool CSimSocket::SetSendBuffer(int bytes) {
    return setsockopt(Native(m_hSocket), SOL_SOCKET, SO_SNDBUF,
                      reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

SocketIo CSimSocket::Send(const std::uint8_t* data, std::size_t length, std::size_t& sent) {
    sent = 0;
    // One call moves at most what an int can count (Winsock's limit).
    const int chunk = length > 0x10000000 ? 0x10000000 : static_cast<int>(length);
    for (;;) {
        const auto result =
            send(Native(m_hSocket), reinterpret_cast<const char*>(data), chunk, SEND_FLAGS);
        if (result >= 0) {
            sent = static_cast<std::size_t>(result);
            return SocketIo::Done;
        }
        const int error = LastError();
        if (IsInterrupted(error)) {
            continue;
        }
        if (IsWouldBlock(error)) {
            return SocketIo::WouldBlock;
        }
        return IsReset(error) ? SocketIo::Reset : SocketIo::Failed;
    }
}

SocketIo CSimSocket::Receive(std::uint8_t* data, std::size_t capacity, std::size_t& received) {
    received = 0;
    const int chunk = capacity > 0x10000000 ? 0x10000000 : static_cast<int>(capacity);
    for (;;) {
        const auto result = recv(Native(m_hSocket), reinterpret_cast<char*>(data), chunk, 0);
        if (result > 0) {
            received = static_cast<std::size_t>(result);
            return SocketIo::Done;
        }
        if (result == 0) {
            return SocketIo::Closed;
        }
        const int error = LastError();
        if (IsInterrupted(error)) {
            continue;
        }
        if (IsWouldBlock(error)) {
            return SocketIo::WouldBlock;
        }
        return IsReset(error) ? SocketIo::Reset : SocketIo::Failed;
    }
}

void CSimSocket::ShutdownSend() {
    if (IsOpen()) {
        shutdown(Native(m_hSocket), SHUTDOWN_SEND);
    }
}

void CSimSocket::Reset() {
    if (IsOpen()) {
        linger option{};
        option.l_onoff = 1;
        option.l_linger = 0;
        setsockopt(Native(m_hSocket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                   sizeof option);
        Close();
    }
}

void CSimSocket::Close() {
    if (IsOpen()) {
        CloseNative(Native(m_hSocket));
        m_hSocket = INVALID_HANDLE;
    }
}

void CSimSocket::Wake() {
    const char byte = 1;
    send(Native(m_hSocket), &byte, 1, SEND_FLAGS);
}

void CSimSocket::DrainWake() {
    char buffer[64];
    while (recv(Native(m_hSocket), buffer, sizeof buffer, 0) > 0) {
    }
}

int WaitForSockets(std::span<SocketWait> entries, int timeoutMs) {
    for (SocketWait& entry : entries) {
        entry.m_bReadable = false;
        entry.m_bWritable = false;
    }
#ifdef _WIN32
    // Winsock's select takes any socket handles, at most FD_SETSIZE (64) of each kind.
    fd_set readSet;
    fd_set writeSet;
    fd_set errorSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&errorSet);
    bool any = false;
    for (const SocketWait& entry : entries) {
        if (entry.m_pSocket == nullptr || !entry.m_pSocket->IsOpen()) {
            continue;
        }
        const SOCKET s = Native(entry.m_pSocket->Handle());
        if (entry.m_bWantRead) {
            FD_SET(s, &readSet);
            any = true;
        }
        if (entry.m_bWantWrite) {
            FD_SET(s, &writeSet);
            any = true;
        }
        if (entry.m_bWantRead || entry.m_bWantWrite) {
            FD_SET(s, &errorSet);
        }
    }
    if (!any) {
        // select refuses empty sets; there is nothing to wait for but the time.
        if (timeoutMs > 0) {
            Sleep(static_cast<DWORD>(timeoutMs));
        }
        return 0;
    }
    timeval timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    const int result =
        select(0, &readSet, &writeSet, &errorSet, timeoutMs < 0 ? nullptr : &timeout);
    if (result == SOCKET_ERROR) {
        return -1;
    }
    int ready = 0;
    for (SocketWait& entry : entries) {
        if (entry.m_pSocket == nullptr || !entry.m_pSocket->IsOpen()) {
            continue;
        }
        const SOCKET s = Native(entry.m_pSocket->Handle());
        entry.m_bReadable = entry.m_bWantRead && (FD_ISSET(s, &readSet) || FD_ISSET(s, &errorSet));
        entry.m_bWritable = entry.m_bWantWrite && FD_ISSET(s, &writeSet);
        ready += (entry.m_bReadable || entry.m_bWritable) ? 1 : 0;
    }
    return ready;
#else
    std::vector<pollfd> fds;
    fds.reserve(entries.size());
    for (const SocketWait& entry : entries) {
        pollfd fd{};
        // poll skips negative descriptors. A socket nobody waits on is left out, or its
        // hang-up would end every wait at once.
        const bool wanted = entry.m_bWantRead || entry.m_bWantWrite;
        fd.fd = wanted && entry.m_pSocket != nullptr && entry.m_pSocket->IsOpen()
                    ? static_cast<int>(entry.m_pSocket->Handle())
                    : -1;
        fd.events = static_cast<short>((entry.m_bWantRead ? POLLIN : 0) |
                                       (entry.m_bWantWrite ? POLLOUT : 0));
        fds.push_back(fd);
    }
    int result = 0;
    do {
        result = poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return -1;
    }
    int ready = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const short events = fds[i].revents;
        SocketWait& entry = entries[i];
        // A hang-up or an error wakes a reader, whose receive then reports it.
        entry.m_bReadable = entry.m_bWantRead && (events & (POLLIN | POLLHUP | POLLERR)) != 0;
        entry.m_bWritable = entry.m_bWantWrite && (events & (POLLOUT | POLLERR | POLLHUP)) != 0;
        ready += (entry.m_bReadable || entry.m_bWritable) ? 1 : 0;
    }
    return ready;
#endif
}
