// The Timeline's arithmetic: the view (its time span, zoom, pan and Follow), the time axis,
// the cursor readout and the export's format. The window itself is ui/Timeline_win.h.
#pragma once

#include "connection/DioHistory.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Zoom limits: the time one view shows across its width.
constexpr std::chrono::microseconds TIMELINE_MIN_SPAN{1'000};         // 1 ms
constexpr std::chrono::microseconds TIMELINE_MAX_SPAN{3'600'000'000}; // 1 h

// The next span of the zoom ladder (1, 2, 5 times a power of ten, then minutes and the hour):
// steps > 0 zooms in (a shorter span), steps < 0 out, within the limits.
std::chrono::microseconds ZoomedSpan(std::chrono::microseconds span, int steps);

// What the window shows: a span of time that starts at Start(). Following, its right edge is
// the present. The history's data lie between begin and now; the view keeps within them.
class CTimelineView {
public:
    DioTime Start() const { return m_start; }
    DioTime End() const { return m_start + m_span; }
    std::chrono::microseconds Span() const { return m_span; }
    bool Following() const { return m_bFollow; }

    // Following: the right edge moves to now.
    void Update(DioTime begin, DioTime now);
    void SetFollow(bool bFollow, DioTime begin, DioTime now);
    // Moves the view; a move back in time ends Follow.
    void PanBy(std::chrono::microseconds delta, DioTime begin, DioTime now);
    void PanTo(DioTime start, DioTime begin, DioTime now);
    // Zooms by steps of the ladder keeping anchor where it is on the screen (following: the
    // right edge stays the present).
    void Zoom(int steps, DioTime anchor, DioTime begin, DioTime now);
    // Everything from begin to now.
    void Fit(DioTime begin, DioTime now);

    // A time's pixel column in a view width pixels wide, and back (the column's start).
    int TimeToX(DioTime time, int width) const;
    DioTime XToTime(int x, int width) const;

private:
    void Clamp(DioTime begin, DioTime now);

    DioTime m_start{};
    std::chrono::microseconds m_span{10'000'000};
    bool m_bFollow = true;
};

struct TimeAxisTick {
    DioTime time;
    std::string label;
};

// Ticks for the time axis at a round step (a multiple of 1, 2 or 5, of seconds, minutes or
// hours, in local time) at least minSpacing pixels apart, labelled with the local time:
// "HH:MM:SS.mmm" (and microseconds below a millisecond) where zoomed in, "HH:MM:SS" or
// "HH:MM" where zoomed out.
std::vector<TimeAxisTick> TimeAxisTicks(DioTime start, std::chrono::microseconds span, int width,
                                        int minSpacing, std::chrono::seconds utcOffset);

// "HH:MM:SS.mmm" in local time, with three more digits (microseconds) when bFine.
std::string FormatClockTime(DioTime time, std::chrono::seconds utcOffset, bool bFine);
// A time difference as the readout gives it: "250 us", "12.345 ms", "3.000250 s".
std::string FormatDuration(std::chrono::microseconds duration);

// The cursor's readout: its time and every DIO's mode and state there, and with a second
// cursor (a marker) its time and the time from it to the cursor.
std::string FormatReadout(DioTime cursor, const std::vector<DioValue>& values,
                          std::optional<DioTime> marker, bool bFine,
                          std::chrono::seconds utcOffset);

enum class ExportFormat { Vcd, Csv };
struct ExportTarget {
    ExportFormat format;
    std::string path;
};
// The format of an export to the file the operator named: by its extension (".vcd", ".csv"),
// otherwise by the filter chosen (1 VCD, 2 CSV), whose extension a name without one gets.
ExportTarget ChooseExportTarget(std::string path, int filterIndex);
