// Saving a long session: the log takes about 100 MB of dump lines (the pane keeps its tail,
// the capture file all of it), then Save Log As writes them to a file, timed from the command
// to the file closed. A save over half a second shows the wait cursor meanwhile.
//
//   tools/wine-exec.sh build/win/bench/bench_log_save.exe [megabytes]
#include "bench/BenchClock.h"
#include "protocol/TrafficDump.h"
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string g_path;

BOOL WINAPI AnswerPath(LPOPENFILENAMEA ofn) {
    g_path.copy(ofn->lpstrFile, ofn->nMaxFile - 1);
    ofn->lpstrFile[g_path.size()] = '\0';
    return TRUE;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
} // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    g_path = std::string(folder) + "kelvane-bench-save.log";
    g_pfnGetSaveFileName = &AnswerPath;

    CTestDialogHarness h;
    // Dumps of 1 KB received chunks, appended from a worker as the receive path appends them.
    std::uint8_t chunk[1024];
    for (int i = 0; i < 1024; ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 7);
    const std::string dump = FormatTrafficDump(TrafficDirection::Received, chunk, 1024);
    const auto total = static_cast<long long>(megabytes * 1024 * 1024);
    long long appended = 0;
    const double fillStart = NowMs();
    while (appended < total) {
        h.Dlg().AppendLog(dump);
        appended += static_cast<long long>(dump.size());
    }
    h.Dlg().AppendLog("end\r\n");
    appended += 5;
    WaitUntil([&] { return h.LogText().ends_with("end\r\n"); }, std::chrono::seconds(60));
    const double fillMs = NowMs() - fillStart;

    ::DeleteFileA(g_path.c_str());
    const double start = NowMs();
    h.Command(ID_LOG_SAVE_AS);
    const double saveMs = NowMs() - start;
    const long long saved = FileSize(g_path);
    ::DeleteFileA(g_path.c_str());

    std::printf("session appended                   %.1f MB in %.2f s\n",
                static_cast<double>(appended) / (1024.0 * 1024.0), fillMs / 1000.0);
    std::printf("saved                              %.1f MB in %.2f s (%.0f MB/s), %s\n",
                static_cast<double>(saved) / (1024.0 * 1024.0), saveMs / 1000.0,
                static_cast<double>(saved) / (1024.0 * 1024.0) / (saveMs / 1000.0),
                saved == appended ? "every byte" : "SIZE DIFFERS");
    std::printf("message boxes                      %zu\n", h.Boxes().size());
    return saved == appended && h.Boxes().empty() ? 0 : 1;
}
