#include "connection/DioHistory.h"

#include <algorithm>
#include <cstdint>

namespace {
// A sample in 8 bytes: the time in microseconds, then 2 bits each of mode and state (value + 1,
// so 0 is "not known"). Packed samples sort by time.
constexpr int VALUE_BITS = 4;

std::uint64_t Pack(std::int64_t time, DioValue value) {
    return (static_cast<std::uint64_t>(time) << VALUE_BITS) |
           static_cast<std::uint64_t>((value.mode + 1) << 2) |
           static_cast<std::uint64_t>(value.state + 1);
}

std::int64_t TimeOf(std::uint64_t packed) {
    return static_cast<std::int64_t>(packed >> VALUE_BITS);
}

DioValue ValueOf(std::uint64_t packed) {
    return {static_cast<std::int8_t>(((packed >> 2) & 3) - 1),
            static_cast<std::int8_t>((packed & 3) - 1)};
}

DioSample Unpack(std::uint64_t packed) {
    return {DioTime(std::chrono::microseconds(TimeOf(packed))), ValueOf(packed)};
}

// The first packed sample at or after time.
std::uint64_t Key(std::int64_t time) {
    return static_cast<std::uint64_t>(time) << VALUE_BITS;
}

// A snapshot copies at most this many samples per hold of the lock.
constexpr std::size_t SNAPSHOT_PIECE = 65'536;
} // namespace

CDioHistory::CDioHistory(std::size_t keep)
    : m_nKeep(keep), m_nSlack(std::max<std::size_t>(1, keep / 16)) {}

std::int64_t CDioHistory::Clamp(DioTime time) {
    const std::int64_t t = std::max<std::int64_t>(0, time.time_since_epoch().count());
    m_nLatest = std::max(m_nLatest, t);
    return m_nLatest;
}

void CDioHistory::Add(int dio, std::int64_t time, DioValue value) {
    Lane& lane = m_lanes[static_cast<std::size_t>(dio)];
    lane.samples.push_back(Pack(time, value));
    lane.last = value;
    ++m_nSize;
}

void CDioHistory::DropOldest() {
    // Down to keep at once when keep + slack is passed: the search for the oldest is paid for
    // one change in many.
    while (m_nSize > m_nKeep) {
        // The lane with the oldest sample gives up its samples up to the next lane's oldest.
        Lane* oldest = nullptr;
        std::int64_t next = INT64_MAX;
        for (Lane& lane : m_lanes) {
            if (lane.samples.empty())
                continue;
            const std::int64_t front = TimeOf(lane.samples.front());
            if (oldest == nullptr || front < TimeOf(oldest->samples.front())) {
                if (oldest != nullptr)
                    next = TimeOf(oldest->samples.front());
                oldest = &lane;
            } else {
                next = std::min(next, front);
            }
        }
        do {
            oldest->base = oldest->samples.front();
            oldest->samples.pop_front();
            ++oldest->dropped;
            --m_nSize;
        } while (m_nSize > m_nKeep && !oldest->samples.empty() &&
                 TimeOf(oldest->samples.front()) <= next);
        m_bForgotten = true;
    }
}

void CDioHistory::RecordReports(DioTime time, const DioReport* reports, std::size_t count) {
    if (count == 0)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    const std::int64_t t = Clamp(time);
    const std::size_t before = m_nSize;
    for (std::size_t i = 0; i < count; ++i) {
        const DioReport& report = reports[i];
        if (report.dio < 0 || report.dio >= DIO_HISTORY_MAX_LANES)
            continue;
        if (static_cast<std::size_t>(report.dio) >= m_lanes.size())
            m_lanes.resize(static_cast<std::size_t>(report.dio) + 1);
        const DioValue last = m_lanes[static_cast<std::size_t>(report.dio)].last;
        DioValue value = last;
        if (report.value.mode >= 0)
            value.mode = report.value.mode;
        if (report.value.state >= 0)
            value.state = report.value.state;
        if (value != last)
            Add(report.dio, t, value);
    }
    if (m_nSize > m_nKeep + m_nSlack)
        DropOldest();
    if (m_nSize != before)
        Bump();
}

void CDioHistory::RecordConnected(DioTime time, std::string peer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back({DioTime(std::chrono::microseconds(Clamp(time))),
                        ConnectionEventKind::Connected, std::move(peer)});
    m_bConnected = true;
    if (m_events.size() > DIO_HISTORY_EVENTS_KEEP) {
        m_bConnectedAtStart = m_events.front().kind == ConnectionEventKind::Connected;
        m_events.pop_front();
    }
    Bump();
}

void CDioHistory::RecordEnded(DioTime time, ConnectionEventKind kind) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::int64_t t = Clamp(time);
    m_events.push_back({DioTime(std::chrono::microseconds(t)), kind, {}});
    m_bConnected = false;
    if (m_events.size() > DIO_HISTORY_EVENTS_KEEP) {
        m_bConnectedAtStart = m_events.front().kind == ConnectionEventKind::Connected;
        m_events.pop_front();
    }
    for (std::size_t dio = 0; dio < m_lanes.size(); ++dio) {
        if (m_lanes[dio].last.Known())
            Add(static_cast<int>(dio), t, DioValue{});
    }
    if (m_nSize > m_nKeep + m_nSlack)
        DropOldest();
    Bump();
}

void CDioHistory::Clear(DioTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::int64_t t = Clamp(now);
    for (Lane& lane : m_lanes) {
        lane.dropped += lane.samples.size();
        lane.samples.clear();
        lane.base.reset();
        if (lane.last.Known())
            lane.base = Pack(t, lane.last);
    }
    m_nSize = 0;
    m_events.clear();
    m_bConnectedAtStart = m_bConnected;
    m_bForgotten = false;
    Bump();
}

std::size_t CDioHistory::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nSize;
}

int CDioHistory::LaneCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_lanes.size());
}

DioValue CDioHistory::LastKnown(int dio) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (dio < 0 || static_cast<std::size_t>(dio) >= m_lanes.size())
        return {};
    return m_lanes[static_cast<std::size_t>(dio)].last;
}

bool CDioHistory::Connected() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bConnected;
}

bool CDioHistory::ConnectedAtStart() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bConnectedAtStart;
}

std::optional<DioTime> CDioHistory::Begin() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::optional<std::int64_t> begin;
    auto consider = [&begin](std::int64_t t) {
        if (!begin || t < *begin)
            begin = t;
    };
    for (const Lane& lane : m_lanes) {
        if (lane.base)
            consider(TimeOf(*lane.base));
        else if (!lane.samples.empty())
            consider(TimeOf(lane.samples.front()));
    }
    if (!m_events.empty())
        consider(m_events.front().time.time_since_epoch().count());
    if (!begin)
        return std::nullopt;
    return DioTime(std::chrono::microseconds(*begin));
}

DioTime CDioHistory::Latest() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return DioTime(std::chrono::microseconds(m_nLatest));
}

bool CDioHistory::Forgotten() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bForgotten;
}

DioValue CDioHistory::ValueBefore(const Lane& lane, std::size_t index) const {
    if (index > 0)
        return ValueOf(lane.samples[index - 1]);
    return lane.base ? ValueOf(*lane.base) : DioValue{};
}

DioValue CDioHistory::ValueAt(int dio, DioTime time) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (dio < 0 || static_cast<std::size_t>(dio) >= m_lanes.size())
        return {};
    const Lane& lane = m_lanes[static_cast<std::size_t>(dio)];
    const std::int64_t t = time.time_since_epoch().count();
    if (lane.base && TimeOf(*lane.base) > t)
        return {};
    // The samples at or before time count: the first one after it is where to look back from.
    const auto after = std::upper_bound(lane.samples.begin(), lane.samples.end(),
                                        Key(t) | ((1u << VALUE_BITS) - 1));
    return ValueBefore(lane, static_cast<std::size_t>(after - lane.samples.begin()));
}

void CDioHistory::SummariseLane(int dio, DioTime start, std::chrono::microseconds span, int columns,
                                DioColumn* out) const {
    if (columns <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (dio < 0 || static_cast<std::size_t>(dio) >= m_lanes.size()) {
        std::fill(out, out + columns, DioColumn{});
        return;
    }
    const Lane& lane = m_lanes[static_cast<std::size_t>(dio)];
    const std::deque<std::uint64_t>& samples = lane.samples;
    const std::size_t n = samples.size();
    const std::int64_t from = start.time_since_epoch().count();
    const std::int64_t length = std::max<std::int64_t>(1, span.count());
    const std::int64_t baseTime = lane.base ? TimeOf(*lane.base) : 0;

    // index: the first sample at or after the current column boundary. It only moves forward,
    // by a galloping search, so a column costs a few steps however many changes it holds.
    auto seek = [&](std::size_t index, std::int64_t boundary) {
        const std::uint64_t key = Key(boundary);
        if (index >= n || samples[index] >= key)
            return index;
        std::size_t step = 1;
        std::size_t low = index;
        std::size_t high = index + 1;
        while (high < n && samples[high] < key) {
            low = high;
            step *= 2;
            high = std::min(n, high + step);
        }
        return static_cast<std::size_t>(
            std::lower_bound(samples.begin() + static_cast<std::ptrdiff_t>(low),
                             samples.begin() + static_cast<std::ptrdiff_t>(high), key) -
            samples.begin());
    };

    std::int64_t boundary = from;
    std::size_t index = seek(0, boundary);
    for (int c = 0; c < columns; ++c) {
        const std::int64_t next = from + length * (c + 1) / columns;
        DioColumn& column = out[c];
        column.atStart = lane.base && baseTime >= boundary ? DioValue{} : ValueBefore(lane, index);
        const std::size_t nextIndex = seek(index, next);
        column.changed =
            nextIndex != index || (lane.base && baseTime >= boundary && baseTime < next);
        index = nextIndex;
        boundary = next;
    }
}

std::vector<ConnectionEvent> CDioHistory::Events() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return {m_events.begin(), m_events.end()};
}

DioHistorySnapshot CDioHistory::Snapshot() const {
    DioHistorySnapshot snapshot;
    // What is there now: each lane is copied up to its end now, from its front as it is when
    // that piece is taken.
    std::vector<std::uint64_t> ends;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        snapshot.events.assign(m_events.begin(), m_events.end());
        snapshot.connectedAtStart = m_bConnectedAtStart;
        snapshot.forgotten = m_bForgotten;
        for (const Lane& lane : m_lanes)
            ends.push_back(lane.dropped + lane.samples.size());
    }
    snapshot.lanes.resize(ends.size());
    for (std::size_t dio = 0; dio < ends.size(); ++dio) {
        std::vector<DioSample>& out = snapshot.lanes[dio];
        std::uint64_t next = 0; // the next sample to copy, counted from the lane's first ever
        bool started = false;
        for (;;) {
            std::lock_guard<std::mutex> lock(m_lock);
            const Lane& lane = m_lanes[dio];
            if (!started || lane.dropped > next) {
                // The first piece, or the worker dropped what was to come next: start over
                // from what the lane keeps now.
                out.clear();
                if (lane.base)
                    out.push_back(Unpack(*lane.base));
                next = lane.dropped;
                started = true;
                snapshot.forgotten = snapshot.forgotten || m_bForgotten;
            }
            const std::uint64_t end = std::min(ends[dio], lane.dropped + lane.samples.size());
            const std::uint64_t stop = std::min<std::uint64_t>(end, next + SNAPSHOT_PIECE);
            for (std::uint64_t i = next; i < stop; ++i)
                out.push_back(Unpack(lane.samples[static_cast<std::size_t>(i - lane.dropped)]));
            next = stop;
            if (next >= end)
                break;
        }
    }
    return snapshot;
}
