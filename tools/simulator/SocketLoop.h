// One thread serving many sockets: before each wait every watch says what it waits for on its
// socket and when its next timed event is due; one wait covers them all; then each watch whose
// socket is ready or whose time has come runs. A wake socket lets another thread interrupt
// the wait (to stop the loop, or to hand it work).
#pragma once

#include "connection/PortableSocket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using LoopClock = std::chrono::steady_clock;

// What a watch waits for until the next wait.
struct LoopInterest {
    bool m_bRead = false;
    bool m_bWrite = false;
    LoopClock::time_point m_timeDue = LoopClock::time_point::max(); // runs then in any case
};

// Something the loop serves: a socket (or none, for a timer) and what to do when it is ready.
class CLoopWatch {
public:
    virtual ~CLoopWatch() = default;
    // The socket to wait on; null for a watch that only has timed events.
    virtual const CPortableSocket* Socket() const = 0;
    virtual LoopInterest Interest(LoopClock::time_point now) = 0;
    // Runs after a wait in which the socket became ready, or once the due time has come (then
    // readable and writable may both be false). Returns false when the watch is done: the
    // loop then destroys it.
    virtual bool Run(bool readable, bool writable, LoopClock::time_point now) = 0;
};

// Accepts the connections of a listening socket and hands each on.
class CAcceptWatch final : public CLoopWatch {
public:
    using OnAccept = std::function<void(CPortableSocket client, const std::string& peer,
                                        LoopClock::time_point now)>;
    // onFailure gets a line when the system refuses to accept (out of descriptors, say); the
    // watch then pauses a little instead of spinning on the waiting connection.
    CAcceptWatch(CPortableSocket listening, OnAccept onAccept,
                 std::function<void(const std::string&)> onFailure);

    const CPortableSocket* Socket() const override { return &m_socket; }
    LoopInterest Interest(LoopClock::time_point now) override;
    bool Run(bool readable, bool writable, LoopClock::time_point now) override;

private:
    CPortableSocket m_socket;
    OnAccept m_onAccept;
    std::function<void(const std::string&)> m_onFailure;
    LoopClock::time_point m_timeResume{}; // after a failure, not before then
    bool m_bFailing = false;
};

// Add, Run and Clear are for the loop's thread (or for any one thread while the loop does not
// run); Wake is for any thread.
class CSocketLoop {
public:
    // Opens the wake socket; false with a one-line error when it cannot be opened.
    bool Open(std::string& error);
    void Close();

    // Served from the next pass on; a watch may add others while it runs.
    void Add(std::unique_ptr<CLoopWatch> watch);
    std::size_t Count() const { return m_vecWatches.size() + m_vecAdded.size(); }
    // The waits so far (any thread): a loop that waits rather than spins makes few.
    std::uint64_t Passes() const { return m_nPasses.load(std::memory_order_relaxed); }

    // Serves until stop holds (looked at after every pass; Wake makes a waiting pass end).
    // onWake runs on the loop's thread after each Wake.
    void Run(const std::atomic<bool>& stop, const std::function<void()>& onWake);
    void Wake();

    // Destroys every watch.
    void Clear();

private:
    CPortableSocket m_wakeSocket;
    std::atomic<std::uint64_t> m_nPasses{0};
    std::vector<std::unique_ptr<CLoopWatch>> m_vecWatches;
    std::vector<std::unique_ptr<CLoopWatch>> m_vecAdded; // added during a pass
    std::vector<SocketWait> m_vecWaits;                  // the last pass's, one per watch
    std::vector<LoopClock::time_point> m_vecDue;         // likewise
};
