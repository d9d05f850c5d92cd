#include "protocol/DioReplyParser.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

// A sink that answers with the row count and pending start it is given and logs every call:
// "count", "pending", "clear", "mode r=v" and "state r=v". Clearing the pending start sets it
// to -1, as the dialog does.
class CRecordingSink : public CDioReplySink {
public:
    CRecordingSink(int rowCount, int pendingStart)
        : m_nRowCount(rowCount), m_nPendingStart(pendingStart) {}

    int GetRowCount() override {
        m_log.push_back("count");
        return m_rowCountAnswer ? m_rowCountAnswer(m_nCountReads++) : m_nRowCount;
    }
    int GetPendingStart() override {
        m_log.push_back("pending");
        return m_nPendingStart;
    }
    void ClearPendingStart() override {
        m_log.push_back("clear");
        m_nPendingStart = -1;
    }
    void SetRowMode(int row, int value) override {
        m_log.push_back("mode " + std::to_string(row) + "=" + std::to_string(value));
    }
    void SetRowState(int row, int value) override {
        m_log.push_back("state " + std::to_string(row) + "=" + std::to_string(value));
    }

    // The calls that change something, without the reads.
    Log Effects() const {
        Log effects;
        for (const std::string& entry : m_log) {
            if (entry != "count" && entry != "pending") {
                effects.push_back(entry);
            }
        }
        return effects;
    }

    int m_nRowCount;
    int m_nPendingStart;
    int m_nCountReads = 0;
    // When set, answers GetRowCount from the number of earlier reads.
    std::function<int(int)> m_rowCountAnswer;
    Log m_log;
};

void FeedAll(CDioReplyParser& parser, const Bytes& bytes, CDioReplySink& sink) {
    parser.Feed(bytes.data(), bytes.size(), sink);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct ReplyCase {
    const char* name;
    int rowCount;
    int pendingStart;
    Bytes stream;
    Log effects;
    int pendingAfter;
};

void RunReplyCases(const std::vector<ReplyCase>& cases) {
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        CRecordingSink sink(c.rowCount, c.pendingStart);
        CDioReplyParser parser;
        FeedAll(parser, c.stream, sink);
        EXPECT_EQ(sink.Effects(), c.effects);
        EXPECT_EQ(sink.m_nPendingStart, c.pendingAfter);
    }
}

TEST(DioReplyParser, SingleReadReplySetsOneRowThenClearsPendingStart) {
    RunReplyCases({
        {"mode and state of row 2",
         4,
         -1,
         {0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x00},
         {"mode 2=1", "state 2=0", "clear"},
         -1},
        {"a pending range start is cleared too",
         4,
         2,
         {0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x01},
         {"mode 0=0", "state 0=1", "clear"},
         -1},
        {"row outside the rows", 4, 3, {0x01, 0x02, 0x00, 0x03, 0x09, 0x01, 0x01}, {"clear"}, -1},
        {"row equal to the row count",
         4,
         3,
         {0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x01},
         {"clear"},
         -1},
        {"row 255", 4, 3, {0x01, 0x02, 0x00, 0x03, 0xFF, 0x01, 0x01}, {"clear"}, -1},
        {"only a DIO number", 4, 1, {0x01, 0x02, 0x00, 0x01, 0x02}, {"clear"}, -1},
        {"DIO number and mode only",
         4,
         1,
         {0x01, 0x02, 0x00, 0x02, 0x03, 0x01},
         {"mode 3=1", "clear"},
         -1},
        {"values other than 0 and 1 are ignored",
         4,
         -1,
         {0x01, 0x02, 0x00, 0x03, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00, 0x03, 0x01, 0x00, 0xFF},
         {"state 1=1", "clear", "mode 1=0", "clear"},
         -1},
        {"bytes after the state are ignored",
         4,
         -1,
         {0x01, 0x02, 0x00, 0x06, 0x03, 0x01, 0x01, 0x00, 0x01, 0x00},
         {"mode 3=1", "state 3=1", "clear"},
         -1},
        {"no rows at all", 0, 1, {0x01, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01}, {"clear"}, -1},
    });
}

TEST(DioReplyParser, RangeReadReplySetsConsecutiveRowsFromPendingStart) {
    const Bytes sixPayload = {0x05, 0x02, 0x00, 0x06, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00};
    RunReplyCases({
        {"three rows from 1",
         4,
         1,
         sixPayload,
         {"mode 1=1", "state 1=1", "mode 2=0", "state 2=0", "mode 3=1", "state 3=0", "clear"},
         -1},
        {"from 3 only row 3 fits", 4, 3, sixPayload, {"mode 3=1", "state 3=1", "clear"}, -1},
        {"start beyond the rows", 4, 7, sixPayload, {"clear"}, -1},
        {"start far beyond the rows", 4, 300, sixPayload, {"clear"}, -1},
        {"no range pending starts at row 0, odd last byte sets a mode only",
         4,
         -1,
         {0x05, 0x02, 0x00, 0x03, 0x01, 0x01, 0x00},
         {"mode 0=1", "state 0=1", "mode 1=0", "clear"},
         -1},
        {"negative start other than -1 starts at row 0",
         4,
         -5,
         {0x05, 0x02, 0x00, 0x02, 0x00, 0x01},
         {"mode 0=0", "state 0=1", "clear"},
         -1},
        {"the row advances after every state byte, applied or not",
         4,
         0,
         {0x05, 0x02, 0x00, 0x04, 0x02, 0x01, 0x07, 0x00},
         {"state 0=1", "state 1=0", "clear"},
         -1},
        {"unapplied state byte still advances",
         4,
         0,
         {0x05, 0x02, 0x00, 0x04, 0x01, 0x09, 0x00, 0x01},
         {"mode 0=1", "mode 1=0", "state 1=1", "clear"},
         -1},
        {"all nine rows",
         9,
         0,
         {0x05, 0x02, 0x00, 0x12, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1},
         {"mode 0=1", "state 0=1", "mode 1=0", "state 1=0", "mode 2=1", "state 2=0", "mode 3=0",
          "state 3=1", "mode 4=1", "state 4=1", "mode 5=0", "state 5=0", "mode 6=1", "state 6=0",
          "mode 7=0", "state 7=1", "mode 8=1", "state 8=1", "clear"},
         -1},
    });
}

TEST(DioReplyParser, WriteAcknowledgementsOnlyClearPendingStart) {
    RunReplyCases({
        {"single write reply", 4, 2, {0x02, 0x02, 0x00, 0x01, 0x00}, {"clear"}, -1},
        {"range write reply", 4, 2, {0x06, 0x02, 0x00, 0x01, 0x00}, {"clear"}, -1},
        {"payload that looks like a reply is only counted",
         4,
         2,
         {0x06, 0x02, 0x00, 0x07, 0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01},
         {"clear"},
         -1},
        {"a long payload, then a reply",
         4,
         2,
         Concat({{0x02, 0x02, 0x00, 0xFF}, Bytes(255, 0x01), {0x01, 0x02, 0x00, 0x03, 1, 1, 0}}),
         {"clear", "mode 1=1", "state 1=0", "clear"},
         -1},
    });
}

TEST(DioReplyParser, AcceptedFrameWithEmptyPayloadChangesNothing) {
    for (std::uint8_t code : {0x01, 0x02, 0x05, 0x06}) {
        SCOPED_TRACE(static_cast<int>(code));
        CRecordingSink sink(4, 2);
        CDioReplyParser parser;
        FeedAll(parser, {code, 0x02, 0x00, 0x00}, sink);
        EXPECT_TRUE(sink.m_log.empty());
        EXPECT_EQ(sink.m_nPendingStart, 2);
        // The next frame starts right after the length byte.
        FeedAll(parser, {0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}, sink);
        EXPECT_EQ(sink.Effects(), (Log{"mode 1=1", "state 1=1", "clear"}));
    }
}

TEST(DioReplyParser, SkippedFramesHonourTheirLengthByteAndChangeNothing) {
    const Bytes reply = {0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01};
    const Log replyEffects = {"mode 1=1", "state 1=1", "clear"};
    RunReplyCases({
        {"unused code 3", 4, 2, Concat({{0x03, 0x02, 0x00, 0x02, 0x00, 0x00}, reply}), replyEffects,
         -1},
        {"wrong offset-1 byte", 4, 2, Concat({{0x01, 0x03, 0x00, 0x02, 0x00, 0x00}, reply}),
         replyEffects, -1},
        {"wrong offset-2 byte", 4, 2, Concat({{0x05, 0x02, 0x01, 0x02, 0x00, 0x00}, reply}),
         replyEffects, -1},
        {"unknown code with an empty payload", 4, 2, Concat({{0x00, 0x02, 0x00, 0x00}, reply}),
         replyEffects, -1},
        {"skipped payload that looks like replies", 4, 2,
         Concat({{0x07, 0x02, 0x00, 0x0E}, reply, reply, reply}), replyEffects, -1},
        {"a skipped frame alone keeps the pending start",
         4,
         2,
         {0xFF, 0xFF, 0xFF, 0x03, 0x05, 0x02, 0x00},
         {},
         2},
        {"longest skipped payload", 4, 2,
         Concat({{0x04, 0x00, 0x02, 0xFF}, Bytes(255, 0x05), reply}), replyEffects, -1},
    });

    // Every code other than 1, 2, 5 and 6 starts a frame that is skipped whole.
    for (int code = 0; code < 256; ++code) {
        if (code == 1 || code == 2 || code == 5 || code == 6) {
            continue;
        }
        SCOPED_TRACE(code);
        CRecordingSink sink(4, 2);
        CDioReplyParser parser;
        FeedAll(
            parser,
            Concat({{static_cast<std::uint8_t>(code), 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}, reply}),
            sink);
        EXPECT_EQ(sink.Effects(), replyEffects);
    }
}

TEST(DioReplyParser, StrayByteShiftsTheFramingUntilALengthByteRealignsIt) {
    CRecordingSink sink(4, 2);
    CDioReplyParser parser;
    FeedAll(parser, {0x07, 0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}, sink);
    EXPECT_TRUE(sink.m_log.empty());
    EXPECT_EQ(sink.m_nPendingStart, 2);

    // The parser is still skipping exactly one byte: after it, a reply is read as usual.
    FeedAll(parser, {0x01}, sink);
    EXPECT_TRUE(sink.m_log.empty());
    FeedAll(parser, {0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}, sink);
    EXPECT_EQ(sink.Effects(), (Log{"mode 1=1", "state 1=1", "clear"}));
}

TEST(DioReplyParser, ReadsAndClearComeInOrderAroundEachByte) {
    // Code 1: the row count is read for the mode byte and for the state byte; the clear comes
    // after the last byte's own update.
    {
        CRecordingSink sink(4, -1);
        CDioReplyParser parser;
        FeedAll(parser, {0x01, 0x02, 0x00, 0x04, 0x02, 0x01, 0x00, 0x01}, sink);
        EXPECT_EQ(sink.m_log, (Log{"count", "mode 2=1", "count", "state 2=0", "clear"}));
    }
    // Code 5: the pending start is read once, at the first payload byte, before its row check;
    // the row count is read at every payload byte.
    {
        CRecordingSink sink(4, 2);
        CDioReplyParser parser;
        FeedAll(parser, {0x05, 0x02, 0x00, 0x05, 0x01, 0x00, 0x03, 0x01, 0x00}, sink);
        EXPECT_EQ(sink.m_log, (Log{"pending", "count", "mode 2=1", "count", "state 2=0", "count",
                                   "count", "state 3=1", "count", "clear"}));
    }
    // Codes 2 and 6 and skipped frames read nothing.
    {
        CRecordingSink sink(4, 2);
        CDioReplyParser parser;
        FeedAll(parser, {0x02, 0x02, 0x00, 0x02, 0x01, 0x01, 0x03, 0x02, 0x00, 0x01, 0x01}, sink);
        EXPECT_EQ(sink.m_log, (Log{"clear"}));
    }
}

TEST(DioReplyParser, PendingStartIsTakenAtTheFirstPayloadByte) {
    CRecordingSink sink(9, 1);
    CDioReplyParser parser;
    FeedAll(parser, {0x05, 0x02, 0x00, 0x04}, sink);
    // A range request sent while the reply's header was arriving still counts.
    sink.m_nPendingStart = 5;
    FeedAll(parser, {0x01, 0x01}, sink);
    // A change after the first payload byte does not move the rows of this reply.
    sink.m_nPendingStart = 0;
    FeedAll(parser, {0x00, 0x00}, sink);
    EXPECT_EQ(sink.Effects(), (Log{"mode 5=1", "state 5=1", "mode 6=0", "state 6=0", "clear"}));

    // A row reply arriving before the range reply clears the start: the range reply then
    // applies from row 0.
    sink.m_log.clear();
    sink.m_nPendingStart = 2;
    FeedAll(parser, {0x01, 0x02, 0x00, 0x03, 0x08, 0x01, 0x01, 0x05, 0x02, 0x00, 0x02, 0x01, 0x01},
            sink);
    EXPECT_EQ(sink.Effects(),
              (Log{"mode 8=1", "state 8=1", "clear", "mode 0=1", "state 0=1", "clear"}));
}

TEST(DioReplyParser, RowCountIsReadAfreshAtEveryRowCheck) {
    // The rows shrink from 9 to 2 after the fourth read, in the middle of a range reply.
    {
        CRecordingSink sink(0, 0);
        sink.m_rowCountAnswer = [](int reads) {
            return reads < 4 ? 9 : 2;
        };
        CDioReplyParser parser;
        FeedAll(parser, {0x05, 0x02, 0x00, 0x08, 1, 1, 1, 1, 1, 1, 1, 1}, sink);
        EXPECT_EQ(sink.Effects(), (Log{"mode 0=1", "state 0=1", "mode 1=1", "state 1=1", "clear"}));
    }
    // The rows grow again: the cursor stayed where it stopped, so updates resume from there.
    {
        CRecordingSink sink(0, 1);
        sink.m_rowCountAnswer = [](int reads) {
            return reads < 2 || reads >= 4 ? 4 : 1;
        };
        CDioReplyParser parser;
        FeedAll(parser, {0x05, 0x02, 0x00, 0x06, 0, 0, 1, 1, 0, 1}, sink);
        EXPECT_EQ(sink.Effects(), (Log{"mode 1=0", "state 1=0", "mode 2=0", "state 2=1", "clear"}));
    }
    // A single-read reply checks its row against the count at the mode and at the state.
    {
        CRecordingSink sink(0, -1);
        sink.m_rowCountAnswer = [](int reads) {
            return reads == 0 ? 9 : 4;
        };
        CDioReplyParser parser;
        FeedAll(parser, {0x01, 0x02, 0x00, 0x03, 0x06, 0x01, 0x01}, sink);
        EXPECT_EQ(sink.Effects(), (Log{"mode 6=1", "clear"}));
    }
    // The rows shrank between the request and the reply.
    {
        CRecordingSink sink(4, 2);
        CDioReplyParser parser;
        FeedAll(parser, {0x05, 0x02, 0x00, 0x04, 0x01, 0x01, 0x01, 0x01}, sink);
        sink.m_nRowCount = 2;
        sink.m_nPendingStart = 1;
        FeedAll(parser, {0x05, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}, sink);
        FeedAll(parser, {0x01, 0x02, 0x00, 0x03, 0x03, 0x00, 0x00}, sink);
        EXPECT_EQ(sink.Effects(), (Log{"mode 2=1", "state 2=1", "mode 3=1", "state 3=1", "clear",
                                       "mode 1=0", "state 1=0", "clear", "clear"}));
    }
}

TEST(DioReplyParser, NullOrEmptyChunkChangesNothing) {
    CRecordingSink sink(4, 2);
    CDioReplyParser parser;
    FeedAll(parser, {0x01, 0x02}, sink);
    parser.Feed(nullptr, 0, sink);
    parser.Feed(nullptr, 16, sink);
    const std::uint8_t one = 0x00;
    parser.Feed(&one, 0, sink);
    FeedAll(parser, {0x00, 0x03, 0x01, 0x01, 0x01}, sink);
    EXPECT_EQ(sink.Effects(), (Log{"mode 1=1", "state 1=1", "clear"}));
}

// --- Chunking --------------------------------------------------------------------------------

// A sink whose answers depend only on how often it has been asked, so that two runs give the
// same log exactly when they make the same calls in the same order.
class CScriptedSink : public CRecordingSink {
public:
    CScriptedSink() : CRecordingSink(0, 0) {
        m_rowCountAnswer = [](int reads) {
            return (reads / 5) % 11;
        };
    }
    int GetPendingStart() override {
        static constexpr int STARTS[] = {-1, 0, 3, 8, 1, 40, -7, 2};
        m_log.push_back("pending");
        return STARTS[m_nPendingReads++ % 8];
    }
    int m_nPendingReads = 0;
};

Bytes RealisticStream() {
    Bytes stream;
    for (int round = 0; round < 6; ++round) {
        const std::uint8_t r = static_cast<std::uint8_t>(round);
        const Bytes parts[] = {
            {0x05, 0x02, 0x00, 0x12, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, r},
            {0x01, 0x02, 0x00, 0x03, r, 1, static_cast<std::uint8_t>(r & 1)},
            {0x02, 0x02, 0x00, 0x01, 0x00},
            {0x06, 0x02, 0x00, 0x01, 0x00},
            {0x09, 0x02, 0x00, 0x04, 0x01, 0x02, 0x00, 0x03},
            {0x01, 0x05, 0x00, 0x02, 0x01, 0x01},
            {0x05, 0x02, 0x00, 0x00},
            {0x05, 0x02, 0x00, 0x07, 2, 1, 7, 0, 1, 1, 0},
            {0x01, 0x02, 0x00, 0x05, 0x02, 0x00, 0x01, 0x09, 0x09},
        };
        for (const Bytes& part : parts) {
            stream.insert(stream.end(), part.begin(), part.end());
        }
        if (round == 3) {
            // A stray byte: the framing drifts until a length byte happens to realign it.
            stream.push_back(0x33);
        }
    }
    return stream;
}

// Random frames: mostly well-formed replies with random contents, some with a damaged header,
// unknown codes, long payloads and stray bytes in between.
Bytes RandomStream(std::uint32_t seed, std::size_t length) {
    static constexpr std::uint8_t CODES[] = {0x01, 0x02, 0x05, 0x06, 0x01, 0x05, 0x03, 0x00};
    static constexpr std::uint8_t VALUES[] = {0x00, 0x01, 0x00, 0x01, 0x02, 0x03, 0x09, 0x00};
    std::mt19937 random(seed);
    Bytes stream;
    while (stream.size() < length) {
        const std::uint32_t pick = random();
        if (pick % 25 == 0) {
            stream.push_back(static_cast<std::uint8_t>(random()));
            continue;
        }
        stream.push_back(pick % 16 == 1 ? static_cast<std::uint8_t>(random())
                                        : CODES[(pick >> 4) % 8]);
        stream.push_back((pick >> 8) % 16 == 0 ? 0x03 : 0x02);
        stream.push_back((pick >> 12) % 16 == 0 ? 0x01 : 0x00);
        const std::size_t payload = (pick >> 16) % 32 == 0 ? random() % 256 : random() % 24;
        stream.push_back(static_cast<std::uint8_t>(payload));
        for (std::size_t i = 0; i < payload; ++i) {
            const std::uint32_t value = random();
            stream.push_back(value % 16 == 0 ? static_cast<std::uint8_t>(value >> 8)
                                             : VALUES[(value >> 2) % 8]);
        }
    }
    stream.resize(length);
    return stream;
}

// Feeds the stream in the given chunk sizes, each chunk copied into a buffer of its own exact
// size so that a read past the chunk is caught by the address sanitizer.
Log FeedInChunks(const Bytes& stream, const std::vector<std::size_t>& sizes) {
    CScriptedSink sink;
    CDioReplyParser parser;
    std::size_t offset = 0;
    for (std::size_t size : sizes) {
        const Bytes chunk(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                          stream.begin() + static_cast<std::ptrdiff_t>(offset + size));
        parser.Feed(chunk.data(), chunk.size(), sink);
        offset += size;
    }
    EXPECT_EQ(offset, stream.size());
    return sink.m_log;
}

TEST(DioReplyParser, AnyChunkingGivesTheSameCallsAsTheWholeStream) {
    const Bytes streams[] = {RealisticStream(), RandomStream(1, 800), RandomStream(2, 800)};
    for (const Bytes& stream : streams) {
        const Log whole = FeedInChunks(stream, {stream.size()});
        ASSERT_GT(whole.size(), 50u) << "stream of " << stream.size() << " bytes";

        for (std::size_t split = 1; split < stream.size(); ++split) {
            ASSERT_EQ(FeedInChunks(stream, {split, stream.size() - split}), whole)
                << "split at " << split;
        }

        ASSERT_EQ(FeedInChunks(stream, std::vector<std::size_t>(stream.size(), 1)), whole);

        std::mt19937 random(12345);
        for (int run = 0; run < 50; ++run) {
            std::vector<std::size_t> sizes;
            std::size_t left = stream.size();
            while (left > 0) {
                const std::size_t size = std::min<std::size_t>(left, 1 + random() % 40);
                sizes.push_back(size);
                left -= size;
            }
            ASSERT_EQ(FeedInChunks(stream, sizes), whole) << "run " << run;
        }
    }
}

} // namespace
