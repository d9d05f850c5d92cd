// One thread serving many sockets.
#include "tools/simulator/SocketLoop.h"

#include <algorithm>
#include <thread>

namespace {

// Rounded up, so that a wait never ends just before the event and spins; -1 for no event.
int MillisecondsUntil(LoopClock::time_point now, LoopClock::time_point due) {
    if (due == LoopClock::time_point::max()) {
        return -1;
    }
    if (due <= now) {
        return 0;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::min<decltype(wait)>(wait, 24 * 3600 * 1000));
}

} // namespace

CAcceptWatch::CAcceptWatch(CPortableSocket listening, OnAccept onAccept,
                           std::function<void(const std::string&)> onFailure)
    : m_socket(std::move(listening)), m_onAccept(std::move(onAccept)),
      m_onFailure(std::move(onFailure)) {}

LoopInterest CAcceptWatch::Interest(LoopClock::time_point now) {
    LoopInterest interest;
    if (now >= m_timeResume) {
        interest.m_bRead = true;
    } else {
        interest.m_timeDue = m_timeResume;
    }
    return interest;
}

bool CAcceptWatch::Run(bool readable, bool, LoopClock::time_point now) {
    // A few at a time, so that a crowd of new connections does not hold up the others.
    for (int i = 0; readable && i < 64; ++i) {
        std::string peer;
        SocketIo failure = SocketIo::WouldBlock;
        CPortableSocket client = m_socket.Accept(peer, &failure);
        if (!client.IsOpen()) {
            if (failure != SocketIo::WouldBlock) {
                if (!m_bFailing && m_onFailure) {
                    m_onFailure("cannot accept a connection now (out of sockets?); trying again");
                }
                m_bFailing = true;
                m_timeResume = now + std::chrono::milliseconds(100);
            }
            return true;
        }
        m_bFailing = false;
        m_onAccept(std::move(client), peer, now);
    }
    return true;
}

bool CSocketLoop::Open(std::string& error) {
    m_wakeSocket = CPortableSocket::OpenWake(error);
    return m_wakeSocket.IsOpen();
}

void CSocketLoop::Close() {
    Clear();
    m_wakeSocket.Close();
}

void CSocketLoop::Add(std::unique_ptr<CLoopWatch> watch) {
    m_vecAdded.push_back(std::move(watch));
}

void CSocketLoop::Wake() {
    m_wakeSocket.Wake();
}

void CSocketLoop::Clear() {
    m_vecWatches.clear();
    m_vecAdded.clear();
}

void CSocketLoop::Run(const std::atomic<bool>& stop, const std::function<void()>& onWake) {
    while (!stop) {
        for (std::unique_ptr<CLoopWatch>& watch : m_vecAdded) {
            m_vecWatches.push_back(std::move(watch));
        }
        m_vecAdded.clear();

        LoopClock::time_point now = LoopClock::now();
        LoopClock::time_point next = LoopClock::time_point::max();
        const std::size_t count = m_vecWatches.size();
        m_vecWaits.assign(count + 1, SocketWait{});
        m_vecDue.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const LoopInterest interest = m_vecWatches[i]->Interest(now);
            m_vecWaits[i].m_pSocket = m_vecWatches[i]->Socket();
            m_vecWaits[i].m_bWantRead = interest.m_bRead;
            m_vecWaits[i].m_bWantWrite = interest.m_bWrite;
            m_vecDue[i] = interest.m_timeDue;
            next = std::min(next, interest.m_timeDue);
        }
        m_vecWaits[count].m_pSocket = &m_wakeSocket;
        m_vecWaits[count].m_bWantRead = true;

        m_nPasses.fetch_add(1, std::memory_order_relaxed);
        if (WaitForSockets(m_vecWaits, MillisecondsUntil(now, next)) < 0) {
            // Not expected; wait a little rather than spin, and carry on.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (m_vecWaits[count].m_bReadable) {
            m_wakeSocket.DrainWake();
            if (onWake) {
                onWake();
            }
        }
        if (stop) {
            break;
        }
        now = LoopClock::now();
        bool anyDone = false;
        for (std::size_t i = 0; i < count; ++i) {
            const SocketWait& wait = m_vecWaits[i];
            if ((wait.m_bReadable || wait.m_bWritable || m_vecDue[i] <= now) &&
                !m_vecWatches[i]->Run(wait.m_bReadable, wait.m_bWritable, now)) {
                m_vecWatches[i].reset();
                anyDone = true;
            }
        }
        if (anyDone) {
            std::erase(m_vecWatches, nullptr);
        }
    }
}
