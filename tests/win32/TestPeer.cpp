#include "tests/win32/TestPeer.h"

#include "platform/SocketInit.h"

namespace {
// Waits until the socket is readable; false on time-out.
bool WaitReadable(SOCKET s, std::chrono::milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    const long ms = static_cast<long>(timeout.count());
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &tv) == 1;
}
} // namespace

CTestPeer::CTestPeer(int receiveBuffer, int sendBuffer, std::uint16_t port) {
    AfxSocketInit();
    m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (port != 0) {
        const BOOL reuse = TRUE;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                     sizeof reuse);
    }
    // Set before listening, so the accepted connection has them from the start.
    for (auto [option, bytes] :
         {std::pair{SO_RCVBUF, receiveBuffer}, std::pair{SO_SNDBUF, sendBuffer}}) {
        if (bytes > 0)
            ::setsockopt(m_listener, SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes),
                         sizeof bytes);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    address.sin_port = ::htons(port);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 4);
    int length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ::ntohs(address.sin_port);
}

CTestPeer::~CTestPeer() {
    Close();
    StopListening();
}

bool CTestPeer::Accept(std::chrono::milliseconds timeout) {
    if (!WaitReadable(m_listener, timeout))
        return false;
    m_connection = ::accept(m_listener, nullptr, nullptr);
    return m_connection != INVALID_SOCKET;
}

std::vector<std::uint8_t> CTestPeer::Read(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(m_connection, left))
            break;
        char buffer[4096];
        const int want = static_cast<int>(std::min<std::size_t>(sizeof buffer, n - bytes.size()));
        const int got = ::recv(m_connection, buffer, want, 0);
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

std::vector<std::uint8_t> CTestPeer::ReadSome(std::chrono::milliseconds timeout, bool& ended) {
    ended = false;
    if (!WaitReadable(m_connection, timeout))
        return {};
    char buffer[4096];
    const int got = ::recv(m_connection, buffer, sizeof buffer, 0);
    ended = got <= 0;
    return got > 0 ? std::vector<std::uint8_t>(buffer, buffer + got) : std::vector<std::uint8_t>{};
}

bool CTestPeer::Silent(std::chrono::milliseconds wait) {
    return !WaitReadable(m_connection, wait);
}

bool CTestPeer::SawEndOfStream(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(m_connection, left))
            return false;
        char buffer[256];
        const int got = ::recv(m_connection, buffer, sizeof buffer, 0);
        if (got == 0)
            return true;
        if (got < 0)
            return false;
    }
}

bool CTestPeer::Send(const std::vector<std::uint8_t>& bytes) {
    return ::send(m_connection, reinterpret_cast<const char*>(bytes.data()),
                  static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

void CTestPeer::Close() {
    if (m_connection != INVALID_SOCKET) {
        ::closesocket(m_connection);
        m_connection = INVALID_SOCKET;
    }
}

void CTestPeer::Reset() {
    if (m_connection != INVALID_SOCKET) {
        linger hard{1, 0};
        ::setsockopt(m_connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                     sizeof hard);
        ::closesocket(m_connection);
        m_connection = INVALID_SOCKET;
    }
}

void CTestPeer::StopListening() {
    if (m_listener != INVALID_SOCKET) {
        ::closesocket(m_listener);
        m_listener = INVALID_SOCKET;
    }
}
