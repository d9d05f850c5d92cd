// The portable socket layer on POSIX sockets or Winsock 2.
#include "connection/PortableSocket.h"

#include <algorithm>
#include <chrono>
#include <vector>

#ifdef _WIN32
// Winsock's select takes as many sockets as FD_SETSIZE says, 64 unless it is defined before
// winsock2.h; a server waits on every connection at once.
#define FD_SETSIZE 2048
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
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
bool IsConnectPending(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
bool IsRefused(int error) {
    return error == WSAECONNREFUSED;
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
bool IsConnectPending(int error) {
    return error == EINPROGRESS || error == EINTR;
}
bool IsRefused(int error) {
    return error == ECONNREFUSED;
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

// What a send or receive that failed with error (not an interruption) comes to.
SocketIo FailedIo(int error) {
    if (IsWouldBlock(error))
        return SocketIo::WouldBlock;
    return IsReset(error) ? SocketIo::Reset : SocketIo::Failed;
}

// The errors worth a plain word, by the platform's own codes.
#ifdef _WIN32
constexpr int CODE_IN_USE = WSAEADDRINUSE, CODE_NOT_LOCAL = WSAEADDRNOTAVAIL,
              CODE_REFUSED = WSAECONNREFUSED, CODE_NET_UNREACHABLE = WSAENETUNREACH,
              CODE_HOST_UNREACHABLE = WSAEHOSTUNREACH;
#else
constexpr int CODE_IN_USE = EADDRINUSE, CODE_NOT_LOCAL = EADDRNOTAVAIL, CODE_REFUSED = ECONNREFUSED,
              CODE_NET_UNREACHABLE = ENETUNREACH, CODE_HOST_UNREACHABLE = EHOSTUNREACH;
#endif

std::string ErrorText(const char* what, int error) {
    if (error == CODE_IN_USE)
        return "the port is in use";
    if (error == CODE_NOT_LOCAL)
        return "the address is not one of this computer's";
    if (error == CODE_REFUSED)
        return "connection refused";
    if (error == CODE_NET_UNREACHABLE || error == CODE_HOST_UNREACHABLE)
        return "no route to the host";
    return std::string(what) + " failed (error " + std::to_string(error) + ")";
}

std::string ErrorText(const char* what) {
    return ErrorText(what, LastError());
}

sockaddr_in MakeAddress(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    address.sin_port = htons(port);
    return address;
}

// "a.b.c.d:port", or "[v6]:port".
std::string AddressText(const sockaddr* address, SockLen length) {
    char host[64] = {};
    char service[16] = {};
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    if (address->sa_family == AF_INET6) {
        return std::string("[") + host + "]:" + service;
    }
    return std::string(host) + ":" + service;
}

// The addresses getaddrinfo gives for host and port, freed when the object goes.
class CAddressList {
public:
    // numericOnly: host must be a numeric address, for listening on.
    CAddressList(const std::string& host, std::uint16_t port, bool numericOnly) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = numericOnly ? AI_NUMERICHOST | AI_PASSIVE : 0;
        const std::string service = std::to_string(port);
        if (getaddrinfo(host.c_str(), service.c_str(), &hints, &m_pList) != 0) {
            m_pList = nullptr;
        }
    }
    ~CAddressList() {
        if (m_pList != nullptr) {
            freeaddrinfo(m_pList);
        }
    }
    CAddressList(const CAddressList&) = delete;
    CAddressList& operator=(const CAddressList&) = delete;

    const addrinfo* First() const { return m_pList; }

private:
    addrinfo* m_pList = nullptr;
};

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

CPortableSocket::~CPortableSocket() {
    Close();
}

CPortableSocket::CPortableSocket(CPortableSocket&& other) noexcept : m_hSocket(other.m_hSocket) {
    other.m_hSocket = INVALID_HANDLE;
}

CPortableSocket& CPortableSocket::operator=(CPortableSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_hSocket = other.m_hSocket;
        other.m_hSocket = INVALID_HANDLE;
    }
    return *this;
}

CPortableSocket CPortableSocket::Listen(const std::string& address, std::uint16_t port,
                                        std::string& error, int backlog) {
    const CAddressList addresses(address, port, true);
    const addrinfo* local = addresses.First();
    if (local == nullptr) {
        error = "'" + address + "' is not a numeric IP address";
        return {};
    }
    const NativeSocket s = socket(local->ai_family, local->ai_socktype, local->ai_protocol);
    if (s == NATIVE_INVALID) {
        error = ErrorText("socket");
        return {};
    }
    CPortableSocket result(static_cast<std::intptr_t>(s));
#ifndef _WIN32
    // A restarted simulator can take its port again while the old connection is in TIME_WAIT.
    // (On Windows the same option would let another process share the port, so it is not set.)
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (bind(s, local->ai_addr, static_cast<SockLen>(local->ai_addrlen)) != 0) {
        error =
            "cannot listen on " + address + ":" + std::to_string(port) + ": " + ErrorText("bind");
        return {};
    }
    if (listen(s, backlog > 0 ? backlog : SOMAXCONN) != 0) {
        error = ErrorText("listen");
        return {};
    }
    if (!result.SetNonBlocking()) {
        error = ErrorText("making the socket non-blocking");
        return {};
    }
    return result;
}

CPortableSocket CPortableSocket::Connect(const std::string& address, std::uint16_t port,
                                         std::string& error) {
    ConnectFailure failure = ConnectFailure::None;
    CPortableSocket result = Connect(address, port, -1, failure, error);
    if (result.IsOpen() && !result.SetNonBlocking(false)) {
        error = ErrorText("making the socket blocking");
        return {};
    }
    return result;
}

CPortableSocket CPortableSocket::Connect(const std::string& host, std::uint16_t port, int timeoutMs,
                                         ConnectFailure& failure, std::string& error,
                                         const CPortableSocket* wake) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string target = host + " port " + std::to_string(port);

    const CAddressList addresses(host, port, false);
    if (addresses.First() == nullptr) {
        failure = ConnectFailure::Unresolved;
        error = "cannot resolve '" + host + "'";
        return {};
    }
    // The last address's failure is the one reported.
    failure = ConnectFailure::Failed;
    error = "cannot connect to " + target;
    for (const addrinfo* remote = addresses.First(); remote != nullptr; remote = remote->ai_next) {
        const NativeSocket s = socket(remote->ai_family, remote->ai_socktype, remote->ai_protocol);
        if (s == NATIVE_INVALID) {
            error = "cannot connect to " + target + ": " + ErrorText("socket");
            continue;
        }
        CPortableSocket candidate(static_cast<std::intptr_t>(s));
        if (!candidate.SetNonBlocking()) {
            error = "cannot connect to " + target + ": " + ErrorText("making it non-blocking");
            continue;
        }
        int code = 0;
        if (connect(s, remote->ai_addr, static_cast<SockLen>(remote->ai_addrlen)) != 0) {
            code = LastError();
            if (IsConnectPending(code)) {
                int waitMs = -1;
                if (timeoutMs >= 0) {
                    const auto left =
                        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                    waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
                }
                // Winsock tells of a failed connect through the error set, which the wait
                // reports to a reader; POSIX makes the socket writable either way.
                SocketWait waits[2] = {{&candidate, true, true}, {wake, wake != nullptr, false}};
                const int ready = WaitForSockets(waits, waitMs);
                if (waits[1].m_bReadable) {
                    failure = ConnectFailure::Interrupted;
                    error = "cannot connect to " + target + ": interrupted";
                    return {};
                }
                if (ready == 0) {
                    failure = ConnectFailure::TimedOut;
                    error = "cannot connect to " + target + ": no answer within " +
                            std::to_string(timeoutMs) + " ms";
                    return {};
                }
                code = 0;
                SockLen length = sizeof code;
                if (ready < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code),
                                            &length) != 0) {
                    code = LastError();
                }
            }
        }
        if (code == 0) {
            candidate.SetNoDelay();
            failure = ConnectFailure::None;
            error.clear();
            return candidate;
        }
        failure = IsRefused(code) ? ConnectFailure::Refused : ConnectFailure::Failed;
        error = "cannot connect to " + target + ": " + ErrorText("connect", code);
    }
    return {};
}

CPortableSocket CPortableSocket::OpenWake(std::string& error) {
    const NativeSocket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == NATIVE_INVALID) {
        error = ErrorText("socket");
        return {};
    }
    CPortableSocket result(static_cast<std::intptr_t>(s));
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

std::uint16_t CPortableSocket::LocalPort() const {
    sockaddr_storage local{};
    SockLen length = sizeof local;
    if (!IsOpen() ||
        getsockname(Native(m_hSocket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    if (local.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

CPortableSocket CPortableSocket::Accept(std::string& peer, SocketIo* failure) {
    sockaddr_storage remote{};
    SockLen length = sizeof remote;
    NativeSocket s = NATIVE_INVALID;
    do {
        s = accept(Native(m_hSocket), reinterpret_cast<sockaddr*>(&remote), &length);
    } while (s == NATIVE_INVALID && IsInterrupted(LastError()));
    if (s == NATIVE_INVALID) {
        if (failure != nullptr) {
            *failure = IsWouldBlock(LastError()) ? SocketIo::WouldBlock : SocketIo::Failed;
        }
        return {};
    }
    peer = AddressText(reinterpret_cast<const sockaddr*>(&remote), length);
    return CPortableSocket(static_cast<std::intptr_t>(s));
}

bool CPortableSocket::SetNonBlocking(bool on) {
#ifdef _WIN32
    u_long value = on ? 1 : 0;
    return ioctlsocket(Native(m_hSocket), FIONBIO, &value) == 0;
#else
    const int flags = fcntl(m_hSocket, F_GETFL, 0);
    return flags >= 0 &&
           fcntl(m_hSocket, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
#endif
}

bool CPortableSocket::SetNoDelay() {
    // Every send leaves at once, so a reply cut into pieces really travels in pieces.
    const int on = 1;
    return setsockopt(Native(m_hSocket), IPPROTO_TCP, TCP_NODELAY,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool CPortableSocket::SetSendBuffer(int bytes) {
    return setsockopt(Native(m_hSocket), SOL_SOCKET, SO_SNDBUF,
                      reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

SocketIo CPortableSocket::Send(const std::uint8_t* data, std::size_t length, std::size_t& sent) {
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
        if (!IsInterrupted(error)) {
            return FailedIo(error);
        }
    }
}

SocketIo CPortableSocket::Receive(std::uint8_t* data, std::size_t capacity, std::size_t& received) {
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
        if (!IsInterrupted(error)) {
            return FailedIo(error);
        }
    }
}

void CPortableSocket::ShutdownSend() {
    if (IsOpen()) {
        shutdown(Native(m_hSocket), SHUTDOWN_SEND);
    }
}

void CPortableSocket::Reset() {
    if (IsOpen()) {
        linger option{};
        option.l_onoff = 1;
        option.l_linger = 0;
        setsockopt(Native(m_hSocket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                   sizeof option);
        Close();
    }
}

void CPortableSocket::Close() {
    if (IsOpen()) {
        CloseNative(Native(m_hSocket));
        m_hSocket = INVALID_HANDLE;
    }
}

void CPortableSocket::Wake() {
    const char byte = 1;
    send(Native(m_hSocket), &byte, 1, SEND_FLAGS);
}

void CPortableSocket::DrainWake() {
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
    static_assert(FD_SETSIZE == MAX_SOCKET_WAITS);
    // Three sets of FD_SETSIZE sockets are too big for the stack; each thread keeps its own.
    thread_local std::vector<fd_set> sets(3);
    fd_set& readSet = sets[0];
    fd_set& writeSet = sets[1];
    fd_set& errorSet = sets[2];
    readSet.fd_count = writeSet.fd_count = errorSet.fd_count = 0;
    // Each socket is added once (FD_SET would look for it first: quadratic in the count).
    const auto add = [](fd_set& set, SOCKET s) {
        set.fd_array[set.fd_count++] = s;
    };
    std::size_t waiting = 0;
    for (const SocketWait& entry : entries) {
        if (entry.m_pSocket == nullptr || !entry.m_pSocket->IsOpen() ||
            !(entry.m_bWantRead || entry.m_bWantWrite)) {
            continue;
        }
        if (++waiting > MAX_SOCKET_WAITS) {
            return -1;
        }
        const SOCKET s = Native(entry.m_pSocket->Handle());
        if (entry.m_bWantRead) {
            add(readSet, s);
        }
        if (entry.m_bWantWrite) {
            add(writeSet, s);
        }
        add(errorSet, s);
    }
    if (waiting == 0) {
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
    // select leaves only the ready sockets in each set; sorted, each entry is found by halving.
    const auto sorted = [](fd_set& set) {
        std::sort(set.fd_array, set.fd_array + set.fd_count);
        return [&set](SOCKET s) {
            return std::binary_search(set.fd_array, set.fd_array + set.fd_count, s);
        };
    };
    const auto inRead = sorted(readSet);
    const auto inWrite = sorted(writeSet);
    const auto inError = sorted(errorSet);
    int ready = 0;
    for (SocketWait& entry : entries) {
        if (entry.m_pSocket == nullptr || !entry.m_pSocket->IsOpen()) {
            continue;
        }
        const SOCKET s = Native(entry.m_pSocket->Handle());
        entry.m_bReadable = entry.m_bWantRead && (inRead(s) || inError(s));
        entry.m_bWritable = entry.m_bWantWrite && inWrite(s);
        ready += (entry.m_bReadable || entry.m_bWritable) ? 1 : 0;
    }
    return ready;
#else
    thread_local std::vector<pollfd> fds; // kept, so that a server's every wait does not allocate
    fds.clear();
    std::size_t waiting = 0;
    for (const SocketWait& entry : entries) {
        pollfd fd{};
        // poll skips negative descriptors. A socket nobody waits on is left out, or its
        // hang-up would end every wait at once.
        const bool wanted = entry.m_bWantRead || entry.m_bWantWrite;
        fd.fd = wanted && entry.m_pSocket != nullptr && entry.m_pSocket->IsOpen()
                    ? static_cast<int>(entry.m_pSocket->Handle())
                    : -1;
        if (fd.fd >= 0 && ++waiting > MAX_SOCKET_WAITS) {
            return -1; // as on Winsock, whose sets hold no more
        }
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
