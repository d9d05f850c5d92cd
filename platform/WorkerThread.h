// Worker threads.
#pragma once

#include "platform/Win32.h"

#include <memory>

using AFX_THREADPROC = UINT (*)(LPVOID pParam);

// A running (or finished) worker thread. The object only holds the thread's handle: destroying
// it does not stop the thread, and the thread does not need it.
class CWinThread {
public:
    CWinThread(HANDLE hThread, DWORD nThreadID) : m_hThread(hThread), m_nThreadID(nThreadID) {}
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    ~CWinThread() { ::CloseHandle(m_hThread); }

    HANDLE m_hThread;
    DWORD m_nThreadID;
};

// Starts pfnThreadProc(pParam) on a new thread at once (unless CREATE_SUSPENDED is given).
// Answers null when the thread cannot be created.
std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                           int nPriority = THREAD_PRIORITY_NORMAL,
                                           UINT nStackSize = 0, DWORD dwCreateFlags = 0,
                                           LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
