// The whole session's log text, kept in a file while the pane shows only its tail.
//
// Every append reaches it before anything trims the text for the pane (it is the receive
// path's log tap), so the file holds exactly what appeared in the pane since the last clear.
// It is written through a small buffer and never held in memory. The file lives in the
// user's temporary folder and goes when it is closed, or when the process ends in any way
// (the system deletes it on the last close of its handle).
//
// When the file cannot be made or written, capturing stops until the next start, and the
// problem is kept for the operator.
#pragma once

#include "connection/LogHandOff.h"
#include "platform/CString.h"
#include "platform/CriticalSection.h"
#include "platform/Win32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class CSessionCapture final : public ILogTap {
public:
    CSessionCapture() = default;
    ~CSessionCapture();
    CSessionCapture(const CSessionCapture&) = delete;
    CSessionCapture& operator=(const CSessionCapture&) = delete;

    // Ends the capture before (its file goes) and starts an empty one. False when the file
    // cannot be made: Problem() then says why.
    bool Start();

    // The log tap: any thread, one at a time (the receive path's lock is held).
    void OnLogAppend(std::string_view text) override;
    void OnLogClear() override { Start(); }

    // Whether everything appended since the last start is in the capture.
    bool Complete() const;
    // Why it is not ("" while it is).
    CString Problem() const;
    // A problem not taken before: true once for each capture that failed.
    bool TakeNewProblem(CString& problem);

    // Copies everything captured so far to hOut (written from its current position), calling
    // progress after each block. False, with the system's error code, when reading or writing
    // fails or the capture is not complete. The capture goes on meanwhile.
    bool CopyTo(HANDLE hOut, DWORD& nError, const std::function<void()>& progress);

private:
    // With m_lock held.
    void Close();
    bool WriteAt(const char* pData, std::size_t nLength);
    bool Flush();
    void Fail(const char* pszWhat, DWORD nError);

    mutable CCriticalSection m_lock;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CString m_path;
    std::string m_buffer;
    // Bytes in the file, not counting the buffer.
    std::uint64_t m_nWritten = 0;
    CString m_problem;
    bool m_bProblemTaken = false;
};
