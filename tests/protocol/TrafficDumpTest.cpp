#include "protocol/TrafficDump.h"

#include "protocol/LogTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Dump(TrafficDirection direction, const Bytes& bytes) {
    return FormatTrafficDump(direction, bytes.data(), static_cast<int>(bytes.size()));
}

// The lines of a dump, each without its "\r\n"; fails the test if a line end is missing.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "text does not end in a line end: " << text.substr(start);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(TrafficDump, WorkedExample) {
    const Bytes chunk = {0x05, 0x02, 0x00, 0x0A, 0x41, 0x42, 0x43, 0x20, 0x7A,
                         0x7E, 0x00, 0x1F, 0x30, 0x31, 0x32, 0x33, 0x0D, 0x0A};
    const std::string expected = "< 05 02 00 0A 41 42 43 20 7A 7E 00 1F 30 31 32 33 | "
                                 "....ABC z~..0123\r\n"
                                 "  0D 0A" +
                                 std::string(42, ' ') + " | ..\r\n";
    EXPECT_EQ(Dump(TrafficDirection::Received, chunk), expected);

    std::string sent = expected;
    sent[0] = '>';
    EXPECT_EQ(Dump(TrafficDirection::Sent, chunk), sent);

    const std::vector<std::string> lines = Lines(expected);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 68u);
    EXPECT_EQ(lines[1].size(), 54u);
}

TEST(TrafficDump, NothingTransferredGivesTheBareMark) {
    const std::uint8_t byte = 0x41;
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Sent, &byte, 0), ">");
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Sent, &byte, -1), ">");
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Received, &byte, 0), "<");
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Received, &byte, -1000), "<");
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Sent, nullptr, 5), ">");

    // The next log text continues on the same line.
    std::string log = "Connected to 10.0.0.1:5001\r\n";
    AppendTrafficDump(log, TrafficDirection::Sent, &byte, -1);
    log += "Disconnected\r\n";
    EXPECT_EQ(log, "Connected to 10.0.0.1:5001\r\n>Disconnected\r\n");
}

TEST(TrafficDump, LineBreaksEverySixteenBytes) {
    Bytes sixteen(16);
    for (std::size_t i = 0; i < sixteen.size(); ++i) {
        sixteen[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    EXPECT_EQ(Dump(TrafficDirection::Sent, sixteen),
              "> 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F | 0123456789:;<=>?\r\n");

    Bytes seventeen = sixteen;
    seventeen.push_back(0x40);
    EXPECT_EQ(Dump(TrafficDirection::Sent, seventeen),
              "> 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F | 0123456789:;<=>?\r\n"
              "  40" +
                  std::string(45, ' ') + " | @\r\n");

    EXPECT_EQ(Dump(TrafficDirection::Received, {0x00}), "< 00" + std::string(45, ' ') + " | .\r\n");
}

TEST(TrafficDump, ControlBytesShowAsDotsAndEveryOtherByteAsItself) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    const std::vector<std::string> lines = Lines(Dump(TrafficDirection::Received, all));
    ASSERT_EQ(lines.size(), 16u);
    for (int i = 0; i < 256; ++i) {
        const std::string& line = lines[static_cast<std::size_t>(i / 16)];
        const char shown = line[52 + static_cast<std::size_t>(i % 16)];
        const char expected = i < 0x20 ? '.' : static_cast<char>(i);
        EXPECT_EQ(shown, expected) << "byte " << i;
    }
    EXPECT_EQ(lines[1].substr(52), std::string(16, '.'));
    EXPECT_EQ(lines[2][52], ' ');
    EXPECT_EQ(lines[7].back(), '\x7F');
    EXPECT_EQ(lines[8][52], '\x80');
    EXPECT_EQ(lines[15].back(), '\xFF');
}

TEST(TrafficDump, HighBytesAsDotsChangeOnlyTheCharacterColumnFromEightyUp) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    const std::string plain = Dump(TrafficDirection::Received, all);
    const std::string dotted =
        FormatTrafficDump(TrafficDirection::Received, all.data(), 256, {.bHighBytesAsDots = true});
    ASSERT_EQ(dotted.size(), plain.size());
    const std::vector<std::string> plainLines = Lines(plain);
    const std::vector<std::string> lines = Lines(dotted);
    for (std::size_t n = 0; n < 16; ++n) {
        // Lines 0 to 7 (bytes below 0x80) are unchanged; above, only the characters differ.
        EXPECT_EQ(lines[n].substr(0, 52), plainLines[n].substr(0, 52));
        EXPECT_EQ(lines[n].substr(52), n < 8 ? plainLines[n].substr(52) : std::string(16, '.'));
    }
}

TEST(TrafficDump, HexDigitsAreUpperCase) {
    EXPECT_EQ(Dump(TrafficDirection::Sent, {0x0A, 0xAB, 0xCD, 0xEF, 0xFF, 0x9F}).substr(0, 19),
              "> 0A AB CD EF FF 9F");
}

TEST(TrafficDump, FullReceiveChunkHasSixtyFourFullLines) {
    Bytes chunk(1024);
    std::mt19937 random(7);
    for (std::uint8_t& b : chunk) {
        b = static_cast<std::uint8_t>(random());
    }
    const std::string text = Dump(TrafficDirection::Received, chunk);
    EXPECT_EQ(text.size(), 64u * 70u);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 64u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 68u);
        EXPECT_EQ(lines[i][0], i == 0 ? '<' : ' ');
        EXPECT_EQ(lines[i].substr(49, 3), " | ");
    }

    // A last line of k bytes is 52 + k characters long.
    for (int k = 1; k <= 16; ++k) {
        const int count = 1024 - 16 + k;
        const std::vector<std::string> partial =
            Lines(FormatTrafficDump(TrafficDirection::Received, chunk.data(), count));
        ASSERT_EQ(partial.size(), 64u);
        EXPECT_EQ(partial.back().size(), static_cast<std::size_t>(52 + k)) << "k " << k;
    }
}

// The format written out the slow, obvious way, to check the fast one against.
std::string ReferenceDump(TrafficDirection direction, const Bytes& bytes) {
    std::string text(1, direction == TrafficDirection::Sent ? '>' : '<');
    const int count = static_cast<int>(bytes.size());
    for (int i = 0; i < count; i += 16) {
        if (i > 0) {
            text += " ";
        }
        char field[8];
        for (int j = 0; j < 16; ++j) {
            if (i + j < count) {
                std::snprintf(field, sizeof field, " %02X", bytes[static_cast<std::size_t>(i + j)]);
                text += field;
            } else {
                text += "   ";
            }
        }
        text += " | ";
        for (int j = 0; i + j < count && j < 16; ++j) {
            const std::uint8_t b = bytes[static_cast<std::size_t>(i + j)];
            text += b < 0x20 ? '.' : static_cast<char>(b);
        }
        text += "\r\n";
    }
    return text;
}

TEST(TrafficDump, AppendsTheSameTextAfterWhatIsThere) {
    std::mt19937 random(3);
    std::string log = "start\r\n";
    std::string expected = log;
    for (int count = 0; count <= 80; ++count) {
        Bytes bytes(static_cast<std::size_t>(count));
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        const TrafficDirection direction =
            count % 2 == 0 ? TrafficDirection::Sent : TrafficDirection::Received;
        const std::string reference = ReferenceDump(direction, bytes);
        ASSERT_EQ(Dump(direction, bytes), reference) << "count " << count;
        AppendTrafficDump(log, direction, bytes.data(), count);
        expected += reference;
    }
    EXPECT_EQ(log, expected);
}

TEST(LogTime, EveryHourMinuteAndSecondByValue) {
    for (int hour = 0; hour < 24; ++hour) {
        const std::string expected = (hour < 10 ? "0" : "") + std::to_string(hour) + ":00:00.000 ";
        EXPECT_EQ(FormatLogTime(hour, 0, 0, 0), expected);
    }
    EXPECT_EQ(FormatLogTime(13, 7, 42, 5), "13:07:42.005 ");
    EXPECT_EQ(FormatLogTime(23, 59, 60, 999), "23:59:60.999 "); // a leap second
    EXPECT_EQ(FormatLogTime(10, 10, 10, 10), "10:10:10.010 ");
    EXPECT_EQ(FormatLogTime(19, 45, 30, 100), "19:45:30.100 ");
    // Out of range: brought into it.
    EXPECT_EQ(FormatLogTime(24, 60, 61, 1000), "00:00:00.000 ");
    EXPECT_EQ(FormatLogTime(-1, -1, -1, -1), "23:59:60.999 ");

    // A moment of the clock keeps its seconds and milliseconds in any time zone that is whole
    // minutes off, also just before 1970 (which Windows' local time does not reach).
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    EXPECT_EQ(FormatLocalLogTime(system_clock::time_point(milliseconds(61250))).substr(6),
              "01.250 ");
#ifndef _WIN32
    EXPECT_EQ(FormatLocalLogTime(system_clock::time_point(milliseconds(-1500))).substr(6),
              "58.500 ");
#endif
}

TEST(TrafficDump, LinePrefixStartsEveryLineAndTheBareMark) {
    const std::string time = FormatLogTime(9, 5, 7, 42);
    EXPECT_EQ(time, "09:05:07.042 ");
    EXPECT_EQ(FormatLogTime(23, 59, 59, 999).size(), LOG_TIME_LENGTH);
    EXPECT_EQ(FormatLocalLogTime(std::chrono::system_clock::now()).size(), LOG_TIME_LENGTH);

    Bytes seventeen(17, 0x41);
    const std::string plain = Dump(TrafficDirection::Received, seventeen);
    std::string stamped = "x";
    AppendTrafficDump(stamped, TrafficDirection::Received, seventeen.data(), 17,
                      {.linePrefix = time});
    const std::size_t secondLine = plain.find("\r\n") + 2;
    EXPECT_EQ(stamped, "x" + time + plain.substr(0, secondLine) + time + plain.substr(secondLine));
    EXPECT_EQ(FormatTrafficDump(TrafficDirection::Sent, nullptr, 0, {.linePrefix = time}),
              time + ">");
}

} // namespace
