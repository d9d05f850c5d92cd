// What the device has said about its DIOs, kept over time: the last known mode and state of
// every DIO, the changes with the time their bytes crossed the socket, and the connection's own
// events on the same time line. The rows, the Timeline and an export all come from the values
// the receive worker decodes, so they never disagree.
//
// The receive worker writes (one lock per received chunk); the interface thread reads, in small
// pieces (a lane's columns, a bounded run of changes), so the worker never waits long.
// Bounded: at least the newest `keep` changes stay, the oldest go first. A DIO whose oldest
// changes went keeps the value they left it in, from the time of the last one that went.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A moment, to the microsecond, on the system's wall clock (UTC).
using DioTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

inline DioTime ToDioTime(std::chrono::system_clock::time_point time) {
    return std::chrono::time_point_cast<std::chrono::microseconds>(time);
}

// A DIO's mode (0 Input, 1 Output) and state (0 Low, 1 High); -1 where not known.
struct DioValue {
    std::int8_t mode = -1;
    std::int8_t state = -1;

    bool Known() const { return mode >= 0 || state >= 0; }
    friend bool operator==(const DioValue&, const DioValue&) = default;
};

// A DIO's value from a moment on.
struct DioSample {
    DioTime time;
    DioValue value;
    friend bool operator==(const DioSample&, const DioSample&) = default;
};

// One decoded reply's word on one DIO: its mode, its state or both (-1: the reply did not say).
struct DioReport {
    int dio;
    DioValue value;
};

enum class ConnectionEventKind : std::uint8_t {
    Connected,      // peer: "address:port"
    ClosedByDevice, // the device closed its side
    Reset,          // the connection failed (reset, or any receive error)
    Disconnected,   // the operator disconnected
};

struct ConnectionEvent {
    DioTime time;
    ConnectionEventKind kind;
    std::string peer;
    friend bool operator==(const ConnectionEvent&, const ConnectionEvent&) = default;
};

// One pixel column of a lane: the value just before the column starts, and whether the value
// changes inside it.
struct DioColumn {
    DioValue atStart;
    bool changed = false;
};

// A copy of the history, for an export.
struct DioHistorySnapshot {
    // Per DIO, in time order. A first sample may stand for changes that were dropped (or
    // cleared): the value they left the DIO in, from then on.
    std::vector<std::vector<DioSample>> lanes;
    std::vector<ConnectionEvent> events;
    bool connectedAtStart = false; // connected before the first event kept
    bool forgotten = false;        // older changes were dropped
};

// Changes kept at least, and the most events kept.
constexpr std::size_t DIO_HISTORY_KEEP = 1'000'000;
constexpr std::size_t DIO_HISTORY_EVENTS_KEEP = 65'536;
// The most DIOs a history follows (a reply names its DIO in one byte).
constexpr int DIO_HISTORY_MAX_LANES = 256;

class CDioHistory {
public:
    explicit CDioHistory(std::size_t keep = DIO_HISTORY_KEEP);
    CDioHistory(const CDioHistory&) = delete;
    CDioHistory& operator=(const CDioHistory&) = delete;

    // Receive worker. Records what a chunk's replies said, all at the chunk's time: a DIO whose
    // mode or state differs from its last known one gets a change (one for both). A time
    // before the last one recorded (the clock was set back) counts as that last one.
    void RecordReports(DioTime time, const DioReport* reports, std::size_t count);
    void RecordConnected(DioTime time, std::string peer);
    // The connection ended: every DIO is not known again until a reply says.
    void RecordEnded(DioTime time, ConnectionEventKind kind);

    // Interface thread. Empties the history: the changes and the events go. A DIO's last known
    // value stays, as its value from now on.
    void Clear(DioTime now);

    // Readers, any thread.
    // Grows with every change and event: a reader that saw the same number saw everything.
    std::uint64_t Generation() const { return m_generation.load(std::memory_order_acquire); }
    std::size_t Size() const;
    // Highest DIO reported plus one.
    int LaneCount() const;
    DioValue LastKnown(int dio) const;
    bool Connected() const;
    // The time of the oldest thing kept, none when nothing is.
    std::optional<DioTime> Begin() const;
    // The time of the newest thing recorded (also after a clear).
    DioTime Latest() const;
    bool Forgotten() const;
    DioValue ValueAt(int dio, DioTime time) const;
    // Fills out[0..columns) for the columns of a view from start, span long, cut into columns
    // equal parts: column c covers [start + span*c/columns, start + span*(c+1)/columns). The
    // cost depends on the columns, not on the changes inside them.
    void SummariseLane(int dio, DioTime start, std::chrono::microseconds span, int columns,
                       DioColumn* out) const;
    std::vector<ConnectionEvent> Events() const;
    bool ConnectedAtStart() const;
    // A copy of everything, taken a bounded piece at a time.
    DioHistorySnapshot Snapshot() const;

private:
    struct Lane {
        std::deque<std::uint64_t> samples; // packed, in time order
        std::uint64_t dropped = 0;         // samples that went from the front, ever
        std::optional<std::uint64_t> base; // the last sample that went
        DioValue last;
    };

    void Add(int dio, std::int64_t time, DioValue value);
    void DropOldest();
    std::int64_t Clamp(DioTime time);
    void Bump() { m_generation.fetch_add(1, std::memory_order_acq_rel); }
    DioValue ValueBefore(const Lane& lane, std::size_t index) const;

    mutable std::mutex m_lock;
    std::vector<Lane> m_lanes;
    std::size_t m_nKeep;
    std::size_t m_nSlack;
    std::size_t m_nSize = 0;
    std::deque<ConnectionEvent> m_events;
    bool m_bConnected = false;
    bool m_bConnectedAtStart = false;
    bool m_bForgotten = false;
    std::int64_t m_nLatest = 0; // microseconds since the epoch
    std::atomic<std::uint64_t> m_generation{0};
};

// Collects what one reply frame says about each DIO, as the reply parser decodes it, and hands
// it on as reports when the frame ends. So a reply that sets a DIO's mode and state makes one
// change, however the frame was cut into chunks.
class CDioFrameReports {
public:
    void SetMode(int dio, int value) { Pending(dio).mode = static_cast<std::int8_t>(value); }
    void SetState(int dio, int value) { Pending(dio).state = static_cast<std::int8_t>(value); }
    // The frame ended: what it said joins the reports.
    void EndFrame() {
        if (m_nDio >= 0)
            m_reports.push_back({m_nDio, m_value});
        m_nDio = -1;
    }
    std::vector<DioReport>& Reports() { return m_reports; }

private:
    DioValue& Pending(int dio) {
        if (dio != m_nDio) {
            EndFrame();
            m_nDio = dio;
            m_value = {};
        }
        return m_value;
    }

    std::vector<DioReport> m_reports;
    int m_nDio = -1;
    DioValue m_value;
};
