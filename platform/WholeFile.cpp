#include "platform/WholeFile.h"

bool WriteWholeFile(const CString& path,
                    const std::function<bool(HANDLE hFile, DWORD& nError)>& write, DWORD& nError) {
    // A name of its own beside the chosen one: "<path>.<n>.tmp", the first n free.
    CString partPath;
    HANDLE hOut = INVALID_HANDLE_VALUE;
    for (int n = 1; hOut == INVALID_HANDLE_VALUE; ++n) {
        partPath = FormatString("%s.%d.tmp", path.c_str(), n);
        hOut = ::CreateFileA(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hOut == INVALID_HANDLE_VALUE && (::GetLastError() != ERROR_FILE_EXISTS || n == 100)) {
            nError = ::GetLastError();
            return false;
        }
    }
    nError = 0;
    bool ok = write(hOut, nError);
    if (!::CloseHandle(hOut) && ok) {
        ok = false;
        nError = ::GetLastError();
    }
    if (ok && !::MoveFileExA(partPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        nError = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileA(partPath.c_str());
        if (nError == 0)
            nError = ERROR_WRITE_FAULT;
    }
    return ok;
}
