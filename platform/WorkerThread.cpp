#include "platform/WorkerThread.h"

#include <process.h>

namespace {
struct ThreadStart {
    AFX_THREADPROC pfnThreadProc;
    LPVOID pParam;
};

unsigned __stdcall ThreadEntry(void* pStart) {
    const ThreadStart start = *static_cast<ThreadStart*>(pStart);
    delete static_cast<ThreadStart*>(pStart);
    return start.pfnThreadProc(start.pParam);
}
} // namespace

std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                           int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                                           LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    auto* start = new ThreadStart{pfnThreadProc, pParam};
    unsigned threadId = 0;
    // Created suspended so the priority is set before the thread runs.
    const uintptr_t handle = ::_beginthreadex(lpSecurityAttrs, nStackSize, &ThreadEntry, start,
                                              CREATE_SUSPENDED, &threadId);
    if (handle == 0) {
        delete start;
        return nullptr;
    }
    HANDLE hThread = reinterpret_cast<HANDLE>(handle);
    ::SetThreadPriority(hThread, nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ::ResumeThread(hThread);
    return std::make_unique<CWinThread>(hThread, threadId);
}
