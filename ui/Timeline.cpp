#include "ui/Timeline.h"

#include "protocol/DioWords.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace {
using std::chrono::microseconds;
using std::chrono::seconds;

constexpr std::int64_t MS = 1'000;
constexpr std::int64_t S = 1'000'000;
constexpr std::int64_t MIN = 60 * S;

// Zoom spans, shortest first.
constexpr std::array<std::int64_t, 23> ZOOM_SPANS = {
    MS,       2 * MS,  5 * MS,   10 * MS,  20 * MS,  50 * MS,  100 * MS, 200 * MS,
    500 * MS, S,       2 * S,    5 * S,    10 * S,   20 * S,   30 * S,   MIN,
    2 * MIN,  5 * MIN, 10 * MIN, 15 * MIN, 20 * MIN, 30 * MIN, 60 * MIN};

// Tick steps, shortest first.
constexpr std::array<std::int64_t, 37> TICK_STEPS = {
    1,         2,         5,         10,         20,        50,       100,      200,
    500,       MS,        2 * MS,    5 * MS,     10 * MS,   20 * MS,  50 * MS,  100 * MS,
    200 * MS,  500 * MS,  S,         2 * S,      5 * S,     10 * S,   15 * S,   30 * S,
    MIN,       2 * MIN,   5 * MIN,   10 * MIN,   15 * MIN,  30 * MIN, 60 * MIN, 120 * MIN,
    180 * MIN, 360 * MIN, 720 * MIN, 1440 * MIN, 2880 * MIN};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
} // namespace

microseconds ZoomedSpan(microseconds span, int steps) {
    // Out from a span longer than the ladder (Fit shows all): it stays.
    if (steps <= 0 && span.count() >= ZOOM_SPANS.back())
        return span;
    // The first step from a span between two of the ladder's is to one of those two.
    const auto index = static_cast<std::ptrdiff_t>(
        std::lower_bound(ZOOM_SPANS.begin(), ZOOM_SPANS.end(), span.count()) - ZOOM_SPANS.begin());
    const bool bOnLadder = index < static_cast<std::ptrdiff_t>(ZOOM_SPANS.size()) &&
                           ZOOM_SPANS[static_cast<std::size_t>(index)] == span.count();
    const std::ptrdiff_t target = index - steps - (steps < 0 && !bOnLadder ? 1 : 0);
    const auto last = static_cast<std::ptrdiff_t>(ZOOM_SPANS.size()) - 1;
    return microseconds(
        ZOOM_SPANS[static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(target, 0, last))]);
}

void CTimelineView::Clamp(DioTime begin, DioTime now) {
    const DioTime latest = now - m_span;
    const DioTime earliest = std::min(begin, latest);
    m_start = std::clamp(m_start, earliest, latest);
}

void CTimelineView::Update(DioTime begin, DioTime now) {
    if (m_bFollow)
        m_start = now - m_span;
    else
        Clamp(begin, now);
}

void CTimelineView::SetFollow(bool bFollow, DioTime begin, DioTime now) {
    m_bFollow = bFollow;
    Update(begin, now);
}

void CTimelineView::PanBy(microseconds delta, DioTime begin, DioTime now) {
    PanTo(m_start + delta, begin, now);
}

void CTimelineView::PanTo(DioTime start, DioTime begin, DioTime now) {
    if (start < m_start)
        m_bFollow = false;
    m_start = start;
    Update(begin, now);
}

void CTimelineView::Zoom(int steps, DioTime anchor, DioTime begin, DioTime now) {
    const microseconds span = ZoomedSpan(m_span, steps);
    if (!m_bFollow) {
        // The anchor keeps its place on the screen.
        const auto offset = anchor - m_start;
        m_start = anchor - microseconds(offset.count() * span.count() / m_span.count());
    }
    m_span = span;
    Update(begin, now);
}

void CTimelineView::Fit(DioTime begin, DioTime now) {
    m_span = std::max(TIMELINE_MIN_SPAN, microseconds((now - begin).count()));
    m_start = now - m_span;
}

int CTimelineView::TimeToX(DioTime time, int width) const {
    const std::int64_t offset = (time - m_start).count();
    return static_cast<int>(FloorDiv(offset * width, m_span.count()));
}

DioTime CTimelineView::XToTime(int x, int width) const {
    return m_start + microseconds(m_span.count() * x / std::max(1, width));
}

std::string FormatClockTime(DioTime time, seconds utcOffset, bool bFine) {
    const std::int64_t local = (time + utcOffset).time_since_epoch().count();
    const std::int64_t day = 24 * 60 * MIN;
    const std::int64_t inDay = local - FloorDiv(local, day) * day;
    const auto h = static_cast<int>(inDay / (60 * MIN));
    const auto m = static_cast<int>(inDay / MIN % 60);
    const auto s = static_cast<int>(inDay / S % 60);
    const auto fraction = static_cast<int>(inDay % S);
    char text[32];
    if (bFine)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", h, m, s, fraction);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, fraction / 1000);
    return text;
}

std::string FormatDuration(microseconds duration) {
    const std::int64_t us = duration.count();
    const std::int64_t magnitude = us < 0 ? -us : us;
    const char* sign = us < 0 ? "-" : "";
    char text[48];
    if (magnitude < MS)
        std::snprintf(text, sizeof text, "%s%lld us", sign, static_cast<long long>(magnitude));
    else if (magnitude < S)
        std::snprintf(text, sizeof text, "%s%lld.%03lld ms", sign,
                      static_cast<long long>(magnitude / MS),
                      static_cast<long long>(magnitude % MS));
    else
        std::snprintf(text, sizeof text, "%s%lld.%06lld s", sign,
                      static_cast<long long>(magnitude / S), static_cast<long long>(magnitude % S));
    return text;
}

std::vector<TimeAxisTick> TimeAxisTicks(DioTime start, microseconds span, int width, int minSpacing,
                                        seconds utcOffset) {
    std::vector<TimeAxisTick> ticks;
    if (width <= 0 || span.count() <= 0)
        return ticks;
    std::int64_t step = TICK_STEPS.back();
    for (std::int64_t candidate : TICK_STEPS) {
        if (candidate * width >= static_cast<std::int64_t>(minSpacing) * span.count()) {
            step = candidate;
            break;
        }
    }
    // Round in local time: ticks fall on whole local seconds, minutes and hours.
    const std::int64_t offset = std::chrono::duration_cast<microseconds>(utcOffset).count();
    const std::int64_t localStart = start.time_since_epoch().count() + offset;
    std::int64_t local = FloorDiv(localStart + step - 1, step) * step;
    const std::int64_t localEnd = localStart + span.count();
    for (; local <= localEnd; local += step) {
        const DioTime time{microseconds(local - offset)};
        std::string label = FormatClockTime(time, utcOffset, step < MS);
        if (step >= MIN)
            label.resize(5); // HH:MM
        else if (step >= S)
            label.resize(8); // HH:MM:SS
        ticks.push_back({time, std::move(label)});
    }
    return ticks;
}

std::string FormatReadout(DioTime cursor, const std::vector<DioValue>& values,
                          std::optional<DioTime> marker, bool bFine, seconds utcOffset) {
    std::string text = "Cursor " + FormatClockTime(cursor, utcOffset, bFine);
    for (std::size_t dio = 0; dio < values.size(); ++dio) {
        const DioValue value = values[dio];
        text += " | DIO" + std::to_string(dio) + " ";
        if (!value.Known()) {
            text += "not known";
            continue;
        }
        text += value.mode < 0 ? "?" : DioModeWord(value.mode);
        text += " ";
        text += value.state < 0 ? "?" : DioStateWord(value.state);
    }
    if (marker) {
        text += " | Marker " + FormatClockTime(*marker, utcOffset, bFine) + ", cursor - marker " +
                FormatDuration(cursor - *marker);
    }
    return text;
}

ExportTarget ChooseExportTarget(std::string path, int filterIndex) {
    const std::size_t name = path.find_last_of("\\/");
    const std::size_t dot = path.find_last_of('.');
    const bool bExtension = dot != std::string::npos && (name == std::string::npos || dot > name);
    std::string extension = bExtension ? path.substr(dot) : std::string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".vcd")
        return {ExportFormat::Vcd, path};
    if (extension == ".csv")
        return {ExportFormat::Csv, path};
    const ExportFormat format = filterIndex == 2 ? ExportFormat::Csv : ExportFormat::Vcd;
    if (!bExtension)
        path += format == ExportFormat::Csv ? ".csv" : ".vcd";
    return {format, path};
}
