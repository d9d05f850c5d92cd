// A Ctrl+C on its way to the run in progress.
//
// Request() comes from a signal handler, which on POSIX interrupts the program's own thread,
// or from a thread of its own, as Windows runs its console handler. It touches only atomics
// and the wake target, and Detach() returns only once no Request() is using the target any
// more, so the run may close the target right after.
#pragma once

#include <atomic>
#include <thread>

// TWake has Wake(), which makes the run's wait return (CPortableSocket's wake socket).
template <class TWake>
class CCliStop {
public:
    // Makes wake the target of the requests to come, and of one that came before it.
    void Attach(TWake* wake) {
        m_pWake.store(wake);
        if (wake != nullptr && m_bRequested.load()) {
            wake->Wake();
        }
    }
    // No request reaches the target once this returns.
    void Detach() {
        m_pWake.store(nullptr);
        while (m_nWaking.load() != 0) {
            std::this_thread::yield();
        }
    }
    // Safe in a signal handler and from any thread.
    void Request() {
        m_bRequested.store(true);
        // Counted before the target is looked at: a Detach() that comes after the look sees
        // the count and waits.
        m_nWaking.fetch_add(1);
        if (TWake* wake = m_pWake.load()) {
            wake->Wake();
        }
        m_nWaking.fetch_sub(1);
    }
    bool IsRequested() const { return m_bRequested.load(); }
    // The target attached now.
    TWake* Target() const { return m_pWake.load(); }
    void Clear() { m_bRequested.store(false); }

private:
    std::atomic<bool> m_bRequested{false};
    std::atomic<TWake*> m_pWake{nullptr};
    std::atomic<int> m_nWaking{0}; // requests between their look at the target and its use
};
