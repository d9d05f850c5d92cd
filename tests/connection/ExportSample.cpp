// Writes a VCD of a made-up session to the file named by its argument, for the check that real
// waveform readers load what the export writes (tools/check-vcd-readers.sh): nine DIOs, a
// reconnect, a reset, values that change within one microsecond, a mode known before a state.
#include "connection/DioHistoryExport.h"

#include <cstdio>

namespace {
class CFileOutput final : public IExportOutput {
public:
    explicit CFileOutput(std::FILE* file) : m_file(file) {}
    bool Write(std::string_view text) override {
        return std::fwrite(text.data(), 1, text.size(), m_file) == text.size();
    }

private:
    std::FILE* m_file;
};
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.vcd\n", argv[0]);
        return 2;
    }
    CDioHistory history;
    std::int64_t us = 1'765'000'000'000'000;
    auto report = [&](std::int64_t step, std::vector<DioReport> reports) {
        us += step;
        history.RecordReports(DioTime(std::chrono::microseconds(us)), reports.data(),
                              reports.size());
    };
    history.RecordConnected(DioTime(std::chrono::microseconds(us)), "127.0.0.1:5001");
    report(250, {{0, {0, 0}}, {1, {0, 0}}, {2, {1, 1}}, {3, {1, 0}}});
    report(0, {{4, {0, -1}}}); // a range reply cut after a mode
    for (int i = 0; i < 400; ++i) {
        const auto bit = static_cast<std::int8_t>(i % 2);
        report(37 + i % 11, {{i % 9, {static_cast<std::int8_t>(i / 9 % 2), bit}}});
        if (i % 50 == 0)
            report(0, {{5, {1, bit}}, {5, {1, static_cast<std::int8_t>(1 - bit)}}});
    }
    us += 1000;
    history.RecordEnded(DioTime(std::chrono::microseconds(us)), ConnectionEventKind::Reset);
    us += 20'000;
    history.RecordConnected(DioTime(std::chrono::microseconds(us)), "127.0.0.1:5001");
    report(900, {{8, {1, 1}}, {0, {0, 1}}});
    us += 500;
    history.RecordEnded(DioTime(std::chrono::microseconds(us)), ConnectionEventKind::Disconnected);

    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr)
        return 1;
    CFileOutput out(file);
    const bool ok = WriteVcd(history.Snapshot(), 9, "Kelvane test", &LocalUtcOffset, out);
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
