#include "ui/SessionCapture.h"

#include "platform/SystemErrorText.h"

#include <algorithm>
#include <vector>

namespace {
// Appends collect here before going to the file: one write for a few dozen dumps.
constexpr std::size_t BUFFER_BYTES = 64 * 1024;
// A copy reads and writes blocks of this size.
constexpr DWORD COPY_BLOCK_BYTES = 1024 * 1024;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}
} // namespace

CSessionCapture::~CSessionCapture() {
    CSingleLock lock(m_lock);
    Close();
}

void CSessionCapture::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile); // the file goes with its handle
    m_hFile = INVALID_HANDLE_VALUE;
    m_buffer.clear();
    m_nWritten = 0;
    m_path.clear();
}

bool CSessionCapture::Start() {
    CSingleLock lock(m_lock);
    Close();
    m_problem.clear();
    m_bProblemTaken = false;
    m_buffer.reserve(BUFFER_BYTES);

    char folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(static_cast<DWORD>(sizeof folder), folder);
    if (length == 0 || length > MAX_PATH) {
        Fail("cannot find the temporary folder", ::GetLastError());
        return false;
    }
    char path[MAX_PATH] = {};
    // Makes a new, empty file of a unique name; it is opened again below to go on close.
    if (::GetTempFileNameA(folder, "kvl", 0, path) == 0) {
        m_path = folder;
        Fail("cannot create a file in", ::GetLastError());
        return false;
    }
    m_path = path;
    m_hFile = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) {
        const DWORD nError = ::GetLastError();
        ::DeleteFileA(path);
        Fail("cannot create", nError);
        return false;
    }
    return true;
}

void CSessionCapture::Fail(const char* pszWhat, DWORD nError) {
    m_problem = m_path.empty() ? FormatString("%s: %s", pszWhat, SystemErrorText(nError).c_str())
                               : FormatString("%s %s: %s", pszWhat, m_path.c_str(),
                                              SystemErrorText(nError).c_str());
    m_bProblemTaken = false;
    // The file, when there is one, stays until the next start: a copy may be reading it.
    m_buffer.clear();
}

bool CSessionCapture::WriteAt(const char* pData, std::size_t nLength) {
    while (nLength > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(nLength, 1u << 30));
        // Written at its offset, not at the handle's position, which a copy moves as it reads.
        OVERLAPPED position = At(m_nWritten);
        DWORD written = 0;
        if (!::WriteFile(m_hFile, pData, chunk, &written, &position) || written != chunk) {
            const DWORD nError = ::GetLastError();
            Fail("cannot write to", nError != 0 ? nError : ERROR_DISK_FULL);
            return false;
        }
        m_nWritten += written;
        pData += written;
        nLength -= written;
    }
    return true;
}

bool CSessionCapture::Flush() {
    if (m_buffer.empty())
        return true;
    const bool ok = WriteAt(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

void CSessionCapture::OnLogAppend(std::string_view text) {
    CSingleLock lock(m_lock);
    if (m_hFile == INVALID_HANDLE_VALUE || !m_problem.empty())
        return;
    if (m_buffer.size() + text.size() > BUFFER_BYTES && !Flush())
        return;
    if (text.size() >= BUFFER_BYTES)
        WriteAt(text.data(), text.size());
    else
        m_buffer.append(text);
}

bool CSessionCapture::Complete() const {
    CSingleLock lock(m_lock);
    return m_hFile != INVALID_HANDLE_VALUE && m_problem.empty();
}

CString CSessionCapture::Problem() const {
    CSingleLock lock(m_lock);
    return m_problem;
}

bool CSessionCapture::TakeNewProblem(CString& problem) {
    CSingleLock lock(m_lock);
    if (m_problem.empty() || m_bProblemTaken)
        return false;
    m_bProblemTaken = true;
    problem = m_problem;
    return true;
}

bool CSessionCapture::CopyTo(HANDLE hOut, DWORD& nError, const std::function<void()>& progress) {
    std::uint64_t size = 0;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    {
        // What was appended up to now; later appends go on meanwhile, past that size.
        CSingleLock lock(m_lock);
        if (m_hFile == INVALID_HANDLE_VALUE || !m_problem.empty() || !Flush()) {
            nError = ERROR_INVALID_HANDLE;
            return false;
        }
        size = m_nWritten;
        hFile = m_hFile;
    }
    std::vector<char> block(std::min<std::uint64_t>(size, COPY_BLOCK_BYTES));
    for (std::uint64_t offset = 0; offset < size;) {
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(size - offset, block.size()));
        OVERLAPPED position = At(offset);
        DWORD got = 0;
        if (!::ReadFile(hFile, block.data(), want, &got, &position) || got == 0) {
            nError = ::GetLastError();
            if (nError == 0)
                nError = ERROR_HANDLE_EOF;
            return false;
        }
        DWORD written = 0;
        if (!::WriteFile(hOut, block.data(), got, &written, nullptr) || written != got) {
            nError = ::GetLastError();
            if (nError == 0)
                nError = ERROR_DISK_FULL;
            return false;
        }
        offset += got;
        if (progress)
            progress();
    }
    return true;
}
