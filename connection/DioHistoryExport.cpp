#include "connection/DioHistoryExport.h"

#include "protocol/DioWords.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <queue>
#include <vector>

namespace {
using std::chrono::seconds;

// Text collected here goes out in pieces of about this size.
constexpr std::size_t OUTPUT_PIECE = 64 * 1024;

class CBufferedOutput {
public:
    explicit CBufferedOutput(IExportOutput& out) : m_out(out) { m_text.reserve(OUTPUT_PIECE * 2); }
    void Append(std::string_view text) {
        m_text.append(text);
        if (m_text.size() >= OUTPUT_PIECE)
            Flush();
    }
    void Append(char c) { m_text.push_back(c); }
    void AppendNumber(std::int64_t value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        m_text.append(digits, result.ptr);
    }
    bool Flush() {
        if (m_bOk && !m_text.empty())
            m_bOk = m_out.Write(m_text);
        m_text.clear();
        return m_bOk;
    }
    bool Ok() const { return m_bOk; }

private:
    IExportOutput& m_out;
    std::string m_text;
    bool m_bOk = true;
};

// The offset looked up once per quarter of an hour (zones change their offset on such a
// boundary), not for every row.
class CCachedOffset {
public:
    explicit CCachedOffset(const UtcOffsetFunction& function) : m_function(function) {}
    seconds operator()(DioTime time) {
        const std::int64_t bucket =
            std::chrono::floor<std::chrono::minutes>(time).time_since_epoch().count() / 15;
        if (!m_bValid || bucket != m_nBucket) {
            m_offset = m_function(time);
            m_nBucket = bucket;
            m_bValid = true;
        }
        return m_offset;
    }

private:
    const UtcOffsetFunction& m_function;
    std::int64_t m_nBucket = 0;
    seconds m_offset{0};
    bool m_bValid = false;
};

// One thing of the history in time order: a DIO's sample or a connection event. At equal times
// a connection comes before the samples, and the end of one after them.
struct Item {
    DioTime time;
    int rank; // 0 connected, 1 sample, 2 ended
    int lane; // the DIO, or -1 for an event
    std::size_t index;
};

bool Later(const Item& a, const Item& b) {
    if (a.time != b.time)
        return a.time > b.time;
    if (a.rank != b.rank)
        return a.rank > b.rank;
    return a.lane > b.lane;
}

template <class Visit>
void ForEachInTimeOrder(const DioHistorySnapshot& history, Visit&& visit) {
    std::priority_queue<Item, std::vector<Item>, decltype(&Later)> queue(&Later);
    auto eventItem = [&](std::size_t index) {
        const ConnectionEvent& event = history.events[index];
        return Item{event.time, event.kind == ConnectionEventKind::Connected ? 0 : 2, -1, index};
    };
    if (!history.events.empty())
        queue.push(eventItem(0));
    for (std::size_t lane = 0; lane < history.lanes.size(); ++lane) {
        if (!history.lanes[lane].empty())
            queue.push({history.lanes[lane][0].time, 1, static_cast<int>(lane), 0});
    }
    while (!queue.empty()) {
        const Item item = queue.top();
        queue.pop();
        visit(item);
        const std::size_t next = item.index + 1;
        if (item.lane < 0) {
            if (next < history.events.size())
                queue.push(eventItem(next));
        } else {
            const auto& samples = history.lanes[static_cast<std::size_t>(item.lane)];
            if (next < samples.size())
                queue.push({samples[next].time, 1, item.lane, next});
        }
    }
}

std::optional<DioTime> FirstTime(const DioHistorySnapshot& history) {
    std::optional<DioTime> first;
    auto consider = [&first](DioTime time) {
        if (!first || time < *first)
            first = time;
    };
    if (!history.events.empty())
        consider(history.events.front().time);
    for (const auto& lane : history.lanes) {
        if (!lane.empty())
            consider(lane.front().time);
    }
    return first;
}

void AppendTwoDigits(std::string& text, unsigned value) {
    text.push_back(static_cast<char>('0' + value / 10 % 10));
    text.push_back(static_cast<char>('0' + value % 10));
}

// The characters a VCD names its wires with: printable ASCII from '!' on.
std::string VcdIdentifier(int index) {
    std::string id;
    do {
        id.push_back(static_cast<char>('!' + index % 94));
        index /= 94;
    } while (index > 0);
    return id;
}

char Bit(int value) {
    return value < 0 ? 'x' : static_cast<char>('0' + value);
}

// A CSV field as RFC 4180 wants it: quoted, its quotes doubled, when it holds a comma, a
// quote or a line break.
void AppendCsvField(CBufferedOutput& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.Append(field);
        return;
    }
    out.Append('"');
    for (char c : field) {
        if (c == '"')
            out.Append('"');
        out.Append(c);
    }
    out.Append('"');
}

const char* EventText(ConnectionEventKind kind) {
    switch (kind) {
    case ConnectionEventKind::Connected:
        return "connected";
    case ConnectionEventKind::ClosedByDevice:
        return "closed by device";
    case ConnectionEventKind::Reset:
        return "reset";
    case ConnectionEventKind::Disconnected:
        return "disconnected";
    }
    return "";
}
} // namespace

seconds LocalUtcOffset(DioTime time) {
    const std::time_t t =
        static_cast<std::time_t>(std::chrono::floor<seconds>(time).time_since_epoch().count());
    std::tm local{};
    std::tm utc{};
#ifdef _WIN32
    const bool ok = localtime_s(&local, &t) == 0 && gmtime_s(&utc, &t) == 0;
#else
    const bool ok = localtime_r(&t, &local) != nullptr && gmtime_r(&t, &utc) != nullptr;
#endif
    if (!ok)
        return seconds(0);
    using namespace std::chrono;
    auto civil = [](const std::tm& tm) {
        const sys_days day = year(tm.tm_year + 1900) / month(static_cast<unsigned>(tm.tm_mon + 1)) /
                             static_cast<unsigned>(tm.tm_mday);
        return day.time_since_epoch() + hours(tm.tm_hour) + minutes(tm.tm_min) + seconds(tm.tm_sec);
    };
    return duration_cast<seconds>(civil(local) - civil(utc));
}

std::string FormatIsoTime(DioTime time, seconds utcOffset) {
    using namespace std::chrono;
    const auto local = floor<milliseconds>(time) + utcOffset;
    const sys_days day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> clock(local - day);
    std::string text;
    text.reserve(29);
    const int y = static_cast<int>(date.year());
    text += std::to_string(y);
    text.push_back('-');
    AppendTwoDigits(text, static_cast<unsigned>(date.month()));
    text.push_back('-');
    AppendTwoDigits(text, static_cast<unsigned>(date.day()));
    text.push_back('T');
    AppendTwoDigits(text, static_cast<unsigned>(clock.hours().count()));
    text.push_back(':');
    AppendTwoDigits(text, static_cast<unsigned>(clock.minutes().count()));
    text.push_back(':');
    AppendTwoDigits(text, static_cast<unsigned>(clock.seconds().count()));
    text.push_back('.');
    const auto ms = static_cast<unsigned>(clock.subseconds().count());
    text.push_back(static_cast<char>('0' + ms / 100));
    AppendTwoDigits(text, ms % 100);
    const auto offsetMinutes = duration_cast<minutes>(utcOffset).count();
    text.push_back(offsetMinutes < 0 ? '-' : '+');
    const auto magnitude =
        static_cast<unsigned>(offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
    AppendTwoDigits(text, magnitude / 60);
    text.push_back(':');
    AppendTwoDigits(text, magnitude % 60);
    return text;
}

bool WriteVcd(const DioHistorySnapshot& history, int dioCount, std::string_view version,
              const UtcOffsetFunction& utcOffset, IExportOutput& out) {
    const int lanes = std::max(dioCount, static_cast<int>(history.lanes.size()));
    const std::optional<DioTime> first = FirstTime(history);
    const DioTime origin = first.value_or(DioTime{});
    CBufferedOutput text(out);

    text.Append("$date\n   ");
    text.Append(first ? FormatIsoTime(origin, utcOffset(origin)) : std::string("(no records)"));
    text.Append("\n$end\n$version\n   ");
    text.Append(version);
    text.Append("\n$end\n$comment\n   Times count from the first record, in microseconds.\n$end\n");
    text.Append("$timescale 1 us $end\n$scope module kelvane $end\n");
    // Wire 0 is "connected"; DIO n has 1 + 2n (state) and 2 + 2n (mode).
    const int wires = 1 + 2 * lanes;
    std::vector<std::string> ids;
    for (int w = 0; w < wires; ++w)
        ids.push_back(VcdIdentifier(w));
    auto declare = [&](int wire, const std::string& name) {
        text.Append("$var wire 1 ");
        text.Append(ids[static_cast<std::size_t>(wire)]);
        text.Append(' ');
        text.Append(name);
        text.Append(" $end\n");
    };
    declare(0, "connected");
    for (int n = 0; n < lanes; ++n) {
        declare(1 + 2 * n, "dio" + std::to_string(n));
        declare(2 + 2 * n, "dio" + std::to_string(n) + "_output");
    }
    text.Append("$upscope $end\n$enddefinitions $end\n");

    // The values as the records so far leave them, and as the file says them so far.
    std::vector<char> now(static_cast<std::size_t>(wires), 'x');
    now[0] = history.connectedAtStart ? '1' : '0';
    std::vector<char> written;
    std::int64_t groupTime = 0;
    bool bGroup = false;
    auto writeGroup = [&] {
        if (written.empty()) {
            text.Append("#0\n$dumpvars\n");
            for (int w = 0; w < wires; ++w) {
                text.Append(now[static_cast<std::size_t>(w)]);
                text.Append(ids[static_cast<std::size_t>(w)]);
                text.Append('\n');
            }
            text.Append("$end\n");
            written = now;
            return;
        }
        bool bStamped = false;
        for (std::size_t w = 0; w < now.size(); ++w) {
            if (now[w] == written[w])
                continue;
            if (!bStamped) {
                text.Append('#');
                text.AppendNumber(groupTime);
                text.Append('\n');
                bStamped = true;
            }
            text.Append(now[w]);
            text.Append(ids[w]);
            text.Append('\n');
            written[w] = now[w];
        }
    };
    ForEachInTimeOrder(history, [&](const Item& item) {
        const std::int64_t t = (item.time - origin).count();
        if (bGroup && t != groupTime)
            writeGroup();
        groupTime = t;
        bGroup = true;
        if (item.lane < 0) {
            now[0] = history.events[item.index].kind == ConnectionEventKind::Connected ? '1' : '0';
        } else {
            const DioValue value =
                history.lanes[static_cast<std::size_t>(item.lane)][item.index].value;
            now[static_cast<std::size_t>(1 + 2 * item.lane)] = Bit(value.state);
            now[static_cast<std::size_t>(2 + 2 * item.lane)] = Bit(value.mode);
        }
    });
    writeGroup();
    return text.Flush();
}

bool WriteCsv(const DioHistorySnapshot& history, const UtcOffsetFunction& utcOffset,
              IExportOutput& out) {
    CBufferedOutput text(out);
    CCachedOffset offset(utcOffset);
    text.Append("time,dio,mode,state\r\n");
    ForEachInTimeOrder(history, [&](const Item& item) {
        if (!text.Ok())
            return;
        if (item.lane < 0) {
            const ConnectionEvent& event = history.events[item.index];
            std::string what = EventText(event.kind);
            if (!event.peer.empty())
                what += " " + event.peer;
            text.Append(FormatIsoTime(item.time, offset(item.time)));
            text.Append(",,");
            AppendCsvField(text, what);
            text.Append(",\r\n");
            return;
        }
        const DioValue value = history.lanes[static_cast<std::size_t>(item.lane)][item.index].value;
        // A DIO that became not known did so at an event, which has its own row.
        if (!value.Known())
            return;
        text.Append(FormatIsoTime(item.time, offset(item.time)));
        text.Append(',');
        text.AppendNumber(item.lane);
        text.Append(',');
        text.Append(value.mode < 0 ? "" : DioModeKey(value.mode));
        text.Append(',');
        text.Append(value.state < 0 ? "" : DioStateKey(value.state));
        text.Append("\r\n");
    });
    return text.Flush();
}
