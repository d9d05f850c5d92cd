// The log pane: dumps and lines appended from the interface thread and from a worker arrive
// whole and in order, nothing new is ever cut off, the log stays under its cap by losing its
// oldest lines, and "Clear Log" empties it.
#include "tests/win32/DialogHarness.h"
#include "ui/LogCap.h"
#include "protocol/TrafficDump.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Waits until the log shows text ending with tail (appends from a worker arrive later).
bool LogEndsWith(const CDialogHarness& h, const std::string& tail) {
    return WaitUntil([&] { return h.LogText().ends_with(tail); });
}
} // namespace

TEST(TrafficLog, DumpsReachTheLogExactlyAsFormatted) {
    CTestDialogHarness h;
    const BYTE chunk[] = {0x05, 0x02, 0x00, 0x0A, 0x41, 0x42, 0x43, 0x20, 0x7A,
                          0x7E, 0x00, 0x1F, 0x30, 0x31, 0x32, 0x33, 0x0D, 0x0A};
    h.OnUiThread([&] { h.Dlg().LogTraffic(0, chunk, sizeof chunk); });
    const std::string expected =
        "< 05 02 00 0A 41 42 43 20 7A 7E 00 1F 30 31 32 33 | ....ABC z~..0123\r\n"
        "  0D 0A                                           | ..\r\n";
    EXPECT_EQ(h.LogText(), expected);

    // A failed send is the bare mark, and the next line continues after it.
    h.OnUiThread([&] {
        h.Dlg().LogTraffic(1, chunk, -1);
        h.Dlg().AppendLog("Disconnected\r\n");
    });
    EXPECT_EQ(h.LogText(), expected + ">Disconnected\r\n");
}

TEST(TrafficLog, AppendsFromBothThreadsArriveWholeAndInOrder) {
    CTestDialogHarness h;
    constexpr int kAppends = 150;
    // The worker's appends are multi-line dumps, the interface thread's single lines.
    std::thread worker([&] {
        for (int i = 0; i < kAppends; ++i) {
            BYTE bytes[40];
            for (int b = 0; b < 40; ++b)
                bytes[b] = static_cast<BYTE>(i);
            h.Dlg().LogTraffic(0, bytes, 40);
        }
    });
    for (int i = 0; i < kAppends; ++i)
        h.OnUiThread([&] { h.Dlg().AppendLog("ui " + std::to_string(i) + "\r\n"); });
    worker.join();
    h.OnUiThread([&] { h.Dlg().AppendLog("end\r\n"); });
    ASSERT_TRUE(LogEndsWith(h, "end\r\n"));

    const std::vector<std::string> lines = SplitLines(h.LogText());
    int nextUi = 0;
    int nextDump = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].starts_with("ui ")) {
            EXPECT_EQ(lines[i], "ui " + std::to_string(nextUi++));
            continue;
        }
        // A dump of 40 bytes is three lines, never split by another append.
        BYTE bytes[40];
        for (int b = 0; b < 40; ++b)
            bytes[b] = static_cast<BYTE>(nextDump);
        const std::vector<std::string> dump =
            SplitLines(FormatTrafficDump(TrafficDirection::Received, bytes, 40));
        ASSERT_LE(i + dump.size(), lines.size());
        for (std::size_t k = 0; k < dump.size(); ++k)
            ASSERT_EQ(lines[i + k], dump[k]) << "dump " << nextDump << " line " << k;
        i += dump.size() - 1;
        ++nextDump;
    }
    EXPECT_EQ(nextUi, kAppends);
    EXPECT_EQ(nextDump, kAppends);
}

TEST(TrafficLog, NewTextIsNeverCutOffAndTheLogStaysUnderItsCap) {
    CTestDialogHarness h;
    // Far past the control's default limit of 32,767 characters and past the cap, from the
    // worker side, numbered so every line can be checked.
    constexpr int kLines = 12000; // about 70 characters each
    std::thread worker([&] {
        std::string batch;
        for (int i = 0; i < kLines; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "line %06d %s\r\n", i,
                          "................................................................");
            batch += line;
            if (i % 50 == 49) {
                h.Dlg().AppendLog(batch);
                batch.clear();
            }
        }
        h.Dlg().AppendLog(batch);
    });
    worker.join();
    char last[32];
    std::snprintf(last, sizeof last, "line %06d ", kLines - 1);
    ASSERT_TRUE(WaitUntil([&] { return h.LogText().find(last) != std::string::npos; },
                          std::chrono::seconds(60)));
    const std::string text = h.LogText();
    EXPECT_LE(static_cast<long>(text.size()), LOG_CAP_CHARS);
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_FALSE(lines.empty());
    // What is left is whole lines, consecutive, ending with the newest.
    int first = -1;
    ASSERT_EQ(std::sscanf(lines.front().c_str(), "line %d", &first), 1) << lines.front();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "line %06d ", first + static_cast<int>(i));
        ASSERT_TRUE(lines[i].starts_with(want)) << lines[i];
        ASSERT_EQ(lines[i].size(), 76u);
    }
    EXPECT_EQ(first + static_cast<int>(lines.size()), kLines);
}

TEST(TrafficLog, ClearLogEmptiesItAndTheNextAppendStartsAtTheBeginning) {
    CTestDialogHarness h;
    h.OnUiThread([&] { h.Dlg().AppendLog("Connected to 127.0.0.1:5001\r\n"); });
    ASSERT_EQ(h.LogText(), "Connected to 127.0.0.1:5001\r\n");
    h.Click(1030);
    EXPECT_EQ(h.LogText(), "");
    h.OnUiThread([&] { h.Dlg().AppendLog("Disconnected\r\n"); });
    EXPECT_EQ(h.LogText(), "Disconnected\r\n");
}

TEST(TrafficLog, LogUsesTheFixedPitchNinePointFont) {
    CTestDialogHarness h;
    LOGFONTA font{};
    int dpi = 0;
    h.OnUiThread([&] {
        ::GetObjectA(h.TestDlg().m_fontLog, sizeof font, &font);
        HDC hScreen = ::GetDC(nullptr);
        dpi = ::GetDeviceCaps(hScreen, LOGPIXELSY);
        ::ReleaseDC(nullptr, hScreen);
    });
    EXPECT_EQ(font.lfHeight, -::MulDiv(9, dpi, 72));
    EXPECT_EQ(font.lfWeight, 400);
    EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(font.lfPitchAndFamily, FIXED_PITCH | FF_MODERN);
    // The control draws with it: a fixed-pitch font of that family.
    CHARFORMATA format{};
    format.cbSize = sizeof format;
    h.Send(h.Item(1016), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.bPitchAndFamily & 0x03, FIXED_PITCH);
}
