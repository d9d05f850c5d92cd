#include "ui/Timeline_win.h"

#include "connection/DioHistoryExport.h"
#include "platform/DpiScaling.h"
#include "platform/PaintDC.h"
#include "platform/PreciseClock.h"
#include "platform/SaveFileDialog.h"
#include "platform/SystemErrorText.h"
#include "platform/WholeFile.h"
#include "platform/WinApp.h"
#include "res/resource.h"

#include <windowsx.h>

#include <algorithm>

namespace {
using std::chrono::microseconds;

constexpr const char* FRAME_CLASS = "KelvaneTimeline";
constexpr const char* CHART_CLASS = "KelvaneTimelineChart";
constexpr UINT_PTR REDRAW_TIMER = 1;
// At most about 30 redraws a second.
constexpr UINT REDRAW_MS = 33;
// The scroll bar's positions across the data.
constexpr int SCROLL_RANGE = 10'000;

// Pixel figures at 96 DPI.
constexpr int MARGIN = 6;
constexpr int BUTTON_WIDTH = 72;
constexpr int BUTTON_HEIGHT = 24;
constexpr int READOUT_HEIGHT = 32;
constexpr int LABEL_WIDTH = 52;
constexpr int AXIS_HEIGHT = 22;
constexpr int LANE_MIN = 16;
constexpr int LANE_MAX = 44;
constexpr int LANE_PAD = 5;
constexpr int TICK_SPACING = 110;

// Colours: an Input's trace is blue, an Output's orange on a tinted band; a value not known is
// a grey band; the times the connection was closed are hatched across all lanes.
constexpr COLORREF INPUT_TRACE = RGB(0, 80, 200);
constexpr COLORREF OUTPUT_TRACE = RGB(205, 95, 0);
constexpr COLORREF OUTPUT_BAND = RGB(255, 238, 218);
constexpr COLORREF UNKNOWN_BAND = RGB(214, 214, 214);
constexpr COLORREF UNKNOWN_MODE_TRACE = RGB(90, 90, 90);
constexpr COLORREF CLOSED_HATCH = RGB(170, 170, 170);
constexpr COLORREF GRID = RGB(230, 230, 230);
constexpr COLORREF CURSOR = RGB(0, 0, 0);
constexpr COLORREF MARKER = RGB(0, 140, 60);
constexpr COLORREF DROPPED = RGB(170, 0, 0);

void RegisterClasses() {
    static const bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &::DefWindowProcA;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
        wc.hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = FRAME_CLASS;
        ::RegisterClassExA(&wc);
        wc.hIcon = nullptr;
        wc.hbrBackground = nullptr;
        wc.lpszClassName = CHART_CLASS;
        ::RegisterClassExA(&wc);
        return true;
    }();
    (void)registered;
}

// Line segments collected per pen and drawn in one call.
class CSegments {
public:
    void Add(int x1, int y1, int x2, int y2) {
        m_points.push_back({x1, y1});
        m_points.push_back({x2, y2});
        m_counts.push_back(2);
    }
    void Draw(HDC hDC, COLORREF colour, int width) {
        if (m_counts.empty())
            return;
        HPEN hPen = ::CreatePen(PS_SOLID, width, colour);
        HGDIOBJ hOld = ::SelectObject(hDC, hPen);
        ::PolyPolyline(hDC, m_points.data(), m_counts.data(), static_cast<DWORD>(m_counts.size()));
        ::SelectObject(hDC, hOld);
        ::DeleteObject(hPen);
    }

private:
    std::vector<POINT> m_points;
    std::vector<DWORD> m_counts;
};

void Fill(HDC hDC, int left, int top, int right, int bottom, COLORREF colour) {
    if (right <= left || bottom <= top)
        return;
    ::SetBkColor(hDC, colour);
    const RECT rect{left, top, right, bottom};
    ::ExtTextOutA(hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

std::string DefaultExportName() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return FormatString("kelvane-%04u%02u%02u-%02u%02u%02u.vcd", now.wYear, now.wMonth, now.wDay,
                        now.wHour, now.wMinute, now.wSecond);
}

// An export written to the new file of a whole-file save.
class CFileExportOutput final : public IExportOutput {
public:
    explicit CFileExportOutput(HANDLE hFile) : m_hFile(hFile) {}
    bool Write(std::string_view text) override {
        DWORD written = 0;
        if (::WriteFile(m_hFile, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size())
            return true;
        m_nError = ::GetLastError();
        return false;
    }
    DWORD m_nError = 0;

private:
    HANDLE m_hFile;
};
} // namespace

// The chart

BEGIN_MESSAGE_MAP(CTimelineChart, CWnd)
    ON_MESSAGE(WM_PAINT, OnPaint)
    ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgnd)
    ON_MESSAGE(WM_KEYDOWN, OnKeyDown)
    ON_MESSAGE(WM_CHAR, OnChar)
    ON_MESSAGE(WM_MOUSEMOVE, OnMouseMove)
    ON_MESSAGE(WM_LBUTTONDOWN, OnLButtonDown)
    ON_MESSAGE(WM_LBUTTONUP, OnLButtonUp)
    ON_MESSAGE(WM_MOUSEWHEEL, OnMouseWheel)
    ON_MESSAGE(WM_HSCROLL, OnHScroll)
    ON_MESSAGE(WM_GETDLGCODE, OnGetDlgCode)
    ON_MESSAGE(WM_SETFOCUS, OnFocus)
    ON_MESSAGE(WM_KILLFOCUS, OnFocus)
END_MESSAGE_MAP()

CTimelineChart::~CTimelineChart() {
    if (m_hBuffer != nullptr)
        ::DeleteObject(m_hBuffer);
}

LRESULT CTimelineChart::OnPaint(WPARAM, LPARAM) {
    const auto started = std::chrono::steady_clock::now();
    CPaintDC dc(m_hWnd);
    RECT client;
    GetClientRect(&client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return 0;
    // Drawn off screen and copied in one go: no flicker, and only the part asked for is copied.
    HDC hMemory = ::CreateCompatibleDC(dc);
    if (m_hBuffer == nullptr || m_bufferSize.cx != width || m_bufferSize.cy != height) {
        if (m_hBuffer != nullptr)
            ::DeleteObject(m_hBuffer);
        m_hBuffer = ::CreateCompatibleBitmap(dc, width, height);
        m_bufferSize = {width, height};
    }
    HGDIOBJ hOld = ::SelectObject(hMemory, m_hBuffer);
    // Only the part asked for is drawn (the lanes summarise only its columns) and copied.
    const RECT& r = dc.m_ps.rcPaint;
    ::IntersectClipRect(hMemory, r.left, r.top, r.right, r.bottom);
    Draw(hMemory, width, height, r.left, r.right);
    ::BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, hMemory, r.left, r.top,
             SRCCOPY);
    ::SelectObject(hMemory, hOld);
    ::DeleteDC(hMemory);
    m_frame.m_paintedAt = std::chrono::steady_clock::now();
    m_frame.m_paintCost = m_frame.m_paintedAt - started;
    return 0;
}

void CTimelineChart::Draw(HDC hDC, int width, int height, int clipLeft, int clipRight) {
    CTimelineWnd& f = m_frame;
    const int left = f.PlotLeft();
    const int plot = std::max(0, width - left);
    const int lanes = f.LaneCount();
    const int axisHeight = ScaleFrom96Dpi(AXIS_HEIGHT);
    const int lanesHeight = std::max(0, height - axisHeight);
    const int laneHeight = std::clamp(lanes > 0 ? lanesHeight / lanes : 0, ScaleFrom96Dpi(LANE_MIN),
                                      ScaleFrom96Dpi(LANE_MAX));
    const DioTime now = f.m_shownNow;
    const CTimelineView& view = f.m_view;
    auto x = [&](DioTime t) {
        return left + std::clamp(view.TimeToX(t, plot), -1, plot + 1);
    };

    Fill(hDC, 0, 0, width, height, RGB(255, 255, 255));
    Fill(hDC, 0, 0, left, lanes * laneHeight, GetSysColor(COLOR_BTNFACE));
    HGDIOBJ hOldFont = ::SelectObject(hDC, f.m_hFont);
    ::SetBkMode(hDC, TRANSPARENT);

    // The times the connection was closed, hatched across all lanes: from each end to the
    // next connect (or the present).
    {
        const std::vector<ConnectionEvent> events = f.m_history.Events();
        HBRUSH hHatch = ::CreateHatchBrush(HS_BDIAGONAL, CLOSED_HATCH);
        std::optional<DioTime> closedFrom;
        auto shade = [&](DioTime from, DioTime to) {
            const RECT rect{x(from), 0, x(to), lanes * laneHeight};
            if (rect.right > rect.left)
                ::FillRect(hDC, &rect, hHatch);
        };
        for (const ConnectionEvent& event : events) {
            if (event.kind == ConnectionEventKind::Connected) {
                if (closedFrom)
                    shade(*closedFrom, event.time);
                closedFrom.reset();
            } else {
                closedFrom = event.time;
            }
        }
        if (closedFrom)
            shade(*closedFrom, now);
        ::DeleteObject(hHatch);
    }

    DrawLanes(hDC, 0, laneHeight, now, clipLeft, clipRight);

    // Lane labels and separators.
    ::SetTextColor(hDC, GetSysColor(COLOR_BTNTEXT));
    CSegments grid;
    for (int lane = 0; lane < lanes; ++lane) {
        const std::string label = "DIO" + std::to_string(lane);
        RECT rect{ScaleFrom96Dpi(6), lane * laneHeight, left, (lane + 1) * laneHeight};
        ::DrawTextA(hDC, label.c_str(), -1, &rect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        grid.Add(0, (lane + 1) * laneHeight - 1, width, (lane + 1) * laneHeight - 1);
    }
    grid.Draw(hDC, GRID, 1);

    // Where the kept history begins, when older changes were dropped.
    const std::optional<DioTime> begin = f.m_history.Begin();
    if (begin && f.m_history.Forgotten() && *begin >= view.Start()) {
        const int bx = x(*begin);
        CSegments line;
        line.Add(bx, 0, bx, lanes * laneHeight);
        line.Draw(hDC, DROPPED, 1);
        ::SetTextColor(hDC, DROPPED);
        ::TextOutA(hDC, bx + 3, 1, "older changes dropped", 21);
    }

    // The time axis.
    const int axisTop = lanes * laneHeight;
    CSegments ticks;
    ticks.Add(left, axisTop, width, axisTop);
    ::SetTextColor(hDC, GetSysColor(COLOR_BTNTEXT));
    const auto offset = LocalUtcOffset(view.Start());
    for (const TimeAxisTick& tick :
         TimeAxisTicks(view.Start(), view.Span(), plot, ScaleFrom96Dpi(TICK_SPACING), offset)) {
        const int tx = x(tick.time);
        ticks.Add(tx, axisTop, tx, axisTop + ScaleFrom96Dpi(4));
        RECT rect{tx - ScaleFrom96Dpi(60), axisTop + ScaleFrom96Dpi(5), tx + ScaleFrom96Dpi(60),
                  axisTop + axisHeight};
        ::DrawTextA(hDC, tick.label.c_str(), -1, &rect, DT_CENTER | DT_TOP | DT_SINGLELINE);
    }
    ticks.Draw(hDC, GetSysColor(COLOR_BTNTEXT), 1);

    // The cursors.
    if (f.m_marker) {
        CSegments marker;
        marker.Add(x(*f.m_marker), 0, x(*f.m_marker), axisTop);
        marker.Draw(hDC, MARKER, 2);
    }
    if (f.m_cursor) {
        CSegments cursor;
        cursor.Add(x(*f.m_cursor), 0, x(*f.m_cursor), axisTop);
        cursor.Draw(hDC, CURSOR, 1);
    }
    if (::GetFocus() == m_hWnd) {
        RECT focus{1, 1, width - 1, height - 1};
        ::DrawFocusRect(hDC, &focus);
    }
    ::SelectObject(hDC, hOldFont);
}

void CTimelineChart::DrawLanes(HDC hDC, int top, int laneHeight, DioTime now, int clipLeft,
                               int clipRight) {
    CTimelineWnd& f = m_frame;
    RECT client;
    GetClientRect(&client);
    const int left = f.PlotLeft();
    const int plot = std::max(0, static_cast<int>(client.right) - left);
    const CTimelineView& view = f.m_view;
    const std::optional<DioTime> begin = f.m_history.Begin();
    if (!begin || plot <= 0)
        return;
    // Columns before the oldest data, after the present or outside the clip stay as they are.
    const int base = std::clamp(clipLeft - left - 1, 0, plot);
    const int first = std::max(base, std::clamp(view.TimeToX(*begin, plot), 0, plot));
    const int last = std::min(std::clamp(clipRight - left + 1, 0, plot),
                              std::clamp(view.TimeToX(now, plot) + 1, 0, plot));
    if (first >= last)
        return;
    const int pad = ScaleFrom96Dpi(LANE_PAD);
    // Traces are filled rectangles: wide pens cost far more than fills where GDI draws in
    // software (Wine), and a run of columns full of changes is one block.
    const int thickness = std::max(1, ScaleFrom96Dpi(2));
    // Columns base to last, and the one after (the value a last change leads to).
    const int count = last - base + 1;
    const DioTime from = view.Start() + view.Span() * base / plot;
    std::vector<DioColumn> columns(static_cast<std::size_t>(count));
    for (int lane = 0; lane < f.LaneCount(); ++lane) {
        f.m_history.SummariseLane(lane, from, view.Span() * count / plot, count, columns.data());
        const int laneTop = top + lane * laneHeight;
        const int high = laneTop + pad;
        const int low = laneTop + laneHeight - pad - thickness;
        auto colour = [](DioValue value) {
            return value.mode == 1   ? OUTPUT_TRACE
                   : value.mode == 0 ? INPUT_TRACE
                                     : UNKNOWN_MODE_TRACE;
        };
        for (int c = first; c < last;) {
            const auto at = [&](int column) -> const DioColumn& {
                return columns[static_cast<std::size_t>(column - base)];
            };
            int end = c + 1;
            if (at(c).changed) {
                // Columns with changes: an edge, or a block where they follow each other.
                while (end < last && at(end).changed)
                    ++end;
                Fill(hDC, left + c, high, left + std::max(end, c + thickness), low + thickness,
                     colour(at(end).atStart));
                c = end;
                continue;
            }
            // A run of columns with one value.
            const DioValue value = at(c).atStart;
            while (end < last && !at(end).changed && at(end).atStart == value)
                ++end;
            const int x1 = left + c, x2 = left + end;
            if (!value.Known()) {
                Fill(hDC, x1, high, x2, low + thickness, UNKNOWN_BAND);
            } else {
                if (value.mode == 1)
                    Fill(hDC, x1, laneTop + 1, x2, laneTop + laneHeight - 2, OUTPUT_BAND);
                const int y = value.state == 1 ? high : value.state == 0 ? low : (high + low) / 2;
                Fill(hDC, x1, y, x2, y + thickness, colour(value));
            }
            c = end;
        }
    }
}

LRESULT CTimelineChart::OnKeyDown(WPARAM wParam, LPARAM) {
    const bool bShift = ::GetKeyState(VK_SHIFT) < 0;
    const bool bControl = ::GetKeyState(VK_CONTROL) < 0;
    const microseconds span = m_frame.m_view.Span();
    switch (wParam) {
    case VK_LEFT:
    case VK_RIGHT: {
        const int direction = wParam == VK_LEFT ? -1 : 1;
        if (bShift)
            m_frame.MoveCursor(direction * (bControl ? 10 : 1));
        else
            m_frame.PanBy(direction * span / 10);
        break;
    }
    case VK_PRIOR:
        m_frame.PanBy(-span);
        break;
    case VK_NEXT:
        m_frame.PanBy(span);
        break;
    case VK_HOME:
        m_frame.PanTo(DioTime::min());
        break;
    case VK_END:
        m_frame.SetFollow(true);
        break;
    default:
        return DefWindowProc(WM_KEYDOWN, wParam, 0);
    }
    return 0;
}

LRESULT CTimelineChart::OnChar(WPARAM wParam, LPARAM) {
    switch (wParam) {
    case '+':
    case '=':
        m_frame.Zoom(1, std::nullopt);
        break;
    case '-':
        m_frame.Zoom(-1, std::nullopt);
        break;
    case 'f':
    case 'F':
        m_frame.Fit();
        break;
    default:
        break;
    }
    return 0;
}

LRESULT CTimelineChart::OnMouseMove(WPARAM, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam);
    const int plot = m_frame.PlotWidth();
    const int left = m_frame.PlotLeft();
    if (m_bDragging) {
        // The time under the pointer where the drag started stays under it.
        if (std::abs(x - m_nDragX) > ScaleFrom96Dpi(3))
            m_bDragged = true;
        if (m_bDragged) {
            const auto delta = m_frame.m_view.Span() * (m_nDragX - x) / std::max(1, plot);
            m_frame.PanTo(m_dragStart + delta);
        }
        return 0;
    }
    if (x >= left)
        m_frame.SetCursor(m_frame.m_view.XToTime(x - left, plot));
    return 0;
}

LRESULT CTimelineChart::OnLButtonDown(WPARAM, LPARAM lParam) {
    SetFocus();
    ::SetCapture(m_hWnd);
    m_bDragging = true;
    m_bDragged = false;
    m_nDragX = GET_X_LPARAM(lParam);
    m_dragStart = m_frame.m_view.Start();
    return 0;
}

LRESULT CTimelineChart::OnLButtonUp(WPARAM, LPARAM lParam) {
    if (!m_bDragging)
        return 0;
    m_bDragging = false;
    ::ReleaseCapture();
    const int x = GET_X_LPARAM(lParam);
    // A click, not a drag, sets the marker.
    if (!m_bDragged && x >= m_frame.PlotLeft())
        m_frame.SetMarker(m_frame.m_view.XToTime(x - m_frame.PlotLeft(), m_frame.PlotWidth()));
    return 0;
}

LRESULT CTimelineChart::OnMouseWheel(WPARAM wParam, LPARAM lParam) {
    const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
    if (notches == 0)
        return 0;
    if ((GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) != 0) {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ScreenToClient(m_hWnd, &point);
        const int x = point.x - m_frame.PlotLeft();
        std::optional<DioTime> anchor;
        if (x >= 0 && x <= m_frame.PlotWidth())
            anchor = m_frame.m_view.XToTime(x, m_frame.PlotWidth());
        m_frame.Zoom(notches, anchor);
    } else {
        m_frame.PanBy(-notches * m_frame.m_view.Span() / 10);
    }
    return 0;
}

LRESULT CTimelineChart::OnHScroll(WPARAM wParam, LPARAM) {
    const microseconds span = m_frame.m_view.Span();
    switch (LOWORD(wParam)) {
    case SB_LINELEFT:
        m_frame.PanBy(-span / 10);
        break;
    case SB_LINERIGHT:
        m_frame.PanBy(span / 10);
        break;
    case SB_PAGELEFT:
        m_frame.PanBy(-span);
        break;
    case SB_PAGERIGHT:
        m_frame.PanBy(span);
        break;
    case SB_LEFT:
        m_frame.PanTo(DioTime::min());
        break;
    case SB_RIGHT:
        m_frame.SetFollow(true);
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_TRACKPOS;
        ::GetScrollInfo(m_hWnd, SB_HORZ, &info);
        const DioTime now = m_frame.Now();
        const DioTime low = std::min(m_frame.Begin(now), now - span);
        m_frame.PanTo(low + (now - low) * info.nTrackPos / SCROLL_RANGE);
        break;
    }
    default:
        break;
    }
    return 0;
}

LRESULT CTimelineChart::OnFocus(WPARAM, LPARAM) {
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return Default();
}

// The frame

BEGIN_MESSAGE_MAP(CTimelineWnd, CWnd)
    ON_MESSAGE(WM_SIZE, OnSize)
    ON_MESSAGE(WM_CLOSE, OnClose)
    ON_MESSAGE(WM_TIMER, OnTimer)
    ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
    ON_MESSAGE(WM_SETFOCUS, OnSetFocus)
    ON_BN_CLICKED(IDC_TIMELINE_FIT, OnFit)
    ON_BN_CLICKED(IDC_TIMELINE_FOLLOW, OnFollow)
    ON_BN_CLICKED(IDC_TIMELINE_CLEAR, OnClear)
    ON_BN_CLICKED(IDC_TIMELINE_EXPORT, OnExport)
    ON_COMMAND(IDOK, OnEnter)
    ON_COMMAND(IDCANCEL, OnEscape)
END_MESSAGE_MAP()

CTimelineWnd::CTimelineWnd(CDioHistory& history, std::function<int()> laneCount)
    : m_history(history), m_laneCount(std::move(laneCount)), m_chart(*this) {}

CTimelineWnd::~CTimelineWnd() = default;

void CTimelineWnd::Open(CWnd& owner) {
    if (m_hWnd == nullptr) {
        RegisterClasses();
        m_hFont = owner.GetFont();
        // Below the main window, as wide as it.
        RECT ownerRect;
        owner.GetWindowRect(&ownerRect);
        const int width = std::max<int>(ownerRect.right - ownerRect.left, ScaleFrom96Dpi(640));
        const RECT rect{ownerRect.left, ownerRect.bottom + ScaleFrom96Dpi(8),
                        ownerRect.left + width, ownerRect.bottom + ScaleFrom96Dpi(380)};
        if (!CreateEx(0, FRAME_CLASS, "Kelvane Timeline", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                      rect, &owner, 0))
            return;
        SetFont(m_hFont, FALSE);
        const RECT none{0, 0, 0, 0};
        auto button = [&](CButton& control, const char* text, UINT id, DWORD style) {
            control.Create(text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, none, this, id);
            control.SetFont(m_hFont, FALSE);
        };
        button(m_btnFit, "&Fit", IDC_TIMELINE_FIT, BS_PUSHBUTTON);
        button(m_btnFollow, "F&ollow", IDC_TIMELINE_FOLLOW, BS_AUTOCHECKBOX | BS_PUSHLIKE);
        button(m_btnClear, "C&lear", IDC_TIMELINE_CLEAR, BS_PUSHBUTTON);
        button(m_btnExport, "&Export...", IDC_TIMELINE_EXPORT, BS_PUSHBUTTON);
        m_chart.CreateEx(WS_EX_CLIENTEDGE, CHART_CLASS, "",
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL, none, this,
                         IDC_TIMELINE_CHART);
        m_readout.Create("", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, none, this,
                         IDC_TIMELINE_READOUT);
        m_readout.SetFont(m_hFont, FALSE);
        m_hAccel = ::LoadAcceleratorsA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_TIMELINEACCEL));
        Layout();
    }
    ::ShowWindow(m_hWnd, SW_SHOW);
    ::SetActiveWindow(m_hWnd);
    m_chart.SetFocus();
    ::SetTimer(m_hWnd, REDRAW_TIMER, REDRAW_MS, nullptr);
    Refresh(true);
}

void CTimelineWnd::OnLaneCountChanged() {
    if (m_hWnd != nullptr)
        Refresh(true);
}

BOOL CTimelineWnd::PreTranslateMessage(MSG* pMsg) {
    if (m_hWnd == nullptr || (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)))
        return FALSE;
    if (m_hAccel != nullptr && ::TranslateAcceleratorA(m_hWnd, m_hAccel, pMsg))
        return TRUE;
    return ::IsDialogMessageA(m_hWnd, pMsg);
}

int CTimelineWnd::LaneCount() const {
    return std::clamp(m_laneCount ? m_laneCount() : 0, 0, DIO_HISTORY_MAX_LANES);
}

DioTime CTimelineWnd::Now() const {
    return ToDioTime(PreciseSystemTime());
}

DioTime CTimelineWnd::Begin(DioTime now) const {
    return m_history.Begin().value_or(now);
}

int CTimelineWnd::PlotLeft() const {
    return ScaleFrom96Dpi(LABEL_WIDTH);
}

int CTimelineWnd::PlotWidth() const {
    RECT client{};
    if (m_chart.m_hWnd != nullptr)
        m_chart.GetClientRect(&client);
    return std::max(1, static_cast<int>(client.right) - PlotLeft());
}

void CTimelineWnd::Layout() {
    RECT client;
    GetClientRect(&client);
    const int margin = ScaleFrom96Dpi(MARGIN);
    const int buttonWidth = ScaleFrom96Dpi(BUTTON_WIDTH);
    const int buttonHeight = ScaleFrom96Dpi(BUTTON_HEIGHT);
    int x = margin;
    for (CButton* button : {&m_btnFit, &m_btnFollow, &m_btnClear, &m_btnExport}) {
        button->MoveWindow({x, margin, x + buttonWidth, margin + buttonHeight});
        x += buttonWidth + margin;
    }
    const int readoutHeight = ScaleFrom96Dpi(READOUT_HEIGHT);
    const int chartTop = 2 * margin + buttonHeight;
    const int chartBottom = std::max<int>(chartTop, client.bottom - margin - readoutHeight);
    m_chart.MoveWindow(
        {margin, chartTop, std::max<int>(margin, client.right - margin), chartBottom});
    m_readout.MoveWindow({margin, chartBottom + margin / 2,
                          std::max<int>(margin, client.right - margin), client.bottom});
}

LRESULT CTimelineWnd::OnSize(WPARAM, LPARAM) {
    Layout();
    Refresh(true);
    return 0;
}

LRESULT CTimelineWnd::OnClose(WPARAM, LPARAM) {
    // Only hidden: the history goes on, and opening again shows all of it.
    ::KillTimer(m_hWnd, REDRAW_TIMER);
    ::ShowWindow(m_hWnd, SW_HIDE);
    return 0;
}

LRESULT CTimelineWnd::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam == REDRAW_TIMER)
        Refresh(false);
    return 0;
}

LRESULT CTimelineWnd::OnGetMinMaxInfo(WPARAM, LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize = {ScaleFrom96Dpi(420), ScaleFrom96Dpi(220)};
    return 0;
}

LRESULT CTimelineWnd::OnSetFocus(WPARAM, LPARAM) {
    m_chart.SetFocus();
    return 0;
}

void CTimelineWnd::Refresh(bool bAll) {
    if (m_hWnd == nullptr)
        return;
    // The timer's redraws take at most a quarter of the interface thread's time, however long
    // a repaint takes on a busy machine; the operator's own actions redraw at once.
    if (!bAll && std::chrono::steady_clock::now() < m_paintedAt + 3 * m_paintCost)
        return;
    const DioTime now = Now();
    const DioTime begin = Begin(now);
    const std::uint64_t generation = m_history.Generation();
    const DioTime oldStart = m_view.Start();
    m_view.Update(begin, now);
    const int plot = PlotWidth();
    const int left = PlotLeft();
    // What changed: everything when the view moved (following, it moves with the present) or
    // where the kept history begins moved in view (a clear, the oldest changes dropped);
    // otherwise only the columns from the present the last redraw showed on, where new data
    // and the passing time show.
    const std::optional<DioTime> shownBegin = m_history.Begin();
    auto inView = [this](std::optional<DioTime> time) {
        return time && *time >= m_view.Start() && *time <= m_view.End();
    };
    const bool bBeginMoved =
        shownBegin != m_shownBegin && (inView(shownBegin) || inView(m_shownBegin));
    if (bAll || m_view.TimeToX(oldStart, plot) != 0 || bBeginMoved) {
        ::InvalidateRect(m_chart.m_hWnd, nullptr, FALSE);
    } else if (generation != m_nShownGeneration || m_view.End() > m_shownNow) {
        // A chunk's changes carry the time its recv returned, a moment before they are
        // recorded: two columns back covers them.
        const int from = m_view.TimeToX(m_shownNow, plot) - 2;
        if (from <= plot) {
            RECT client;
            m_chart.GetClientRect(&client);
            const RECT changed{left + std::max(0, from), 0, client.right, client.bottom};
            ::InvalidateRect(m_chart.m_hWnd, &changed, FALSE);
        }
    }
    m_shownBegin = shownBegin;
    m_nShownGeneration = generation;
    m_shownNow = now;
    m_btnFollow.SendMessage(BM_SETCHECK, m_view.Following() ? BST_CHECKED : BST_UNCHECKED);
    UpdateScrollBar();
    UpdateReadout();
}

void CTimelineWnd::UpdateScrollBar() {
    const DioTime now = m_shownNow;
    const DioTime low = std::min(Begin(now), now - m_view.Span());
    const auto total = std::max<std::int64_t>(1, (now - low).count());
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = SCROLL_RANGE;
    info.nPage = static_cast<UINT>(std::clamp<std::int64_t>(
        m_view.Span().count() * SCROLL_RANGE / total, 1, SCROLL_RANGE + 1));
    info.nPos = static_cast<int>((m_view.Start() - low).count() * SCROLL_RANGE / total);
    ::SetScrollInfo(m_chart.m_hWnd, SB_HORZ, &info, TRUE);
}

void CTimelineWnd::UpdateReadout() {
    std::string text;
    if (m_cursor) {
        std::vector<DioValue> values;
        for (int lane = 0; lane < LaneCount(); ++lane)
            values.push_back(m_history.ValueAt(lane, *m_cursor));
        const bool bFine = m_view.Span() < std::chrono::milliseconds(100);
        text = FormatReadout(*m_cursor, values, m_marker, bFine, LocalUtcOffset(*m_cursor));
    } else {
        text = "Move the pointer over the chart, or press Shift+Left or Shift+Right, for the "
               "values at a time; click or press Enter to set a marker there.";
    }
    if (CWnd::GetWindowText(m_readout.m_hWnd) != text)
        m_readout.SetWindowText(text.c_str());
}

void CTimelineWnd::PanBy(microseconds delta) {
    const DioTime now = Now();
    m_view.PanBy(delta, Begin(now), now);
    Refresh(true);
}

void CTimelineWnd::PanTo(DioTime start) {
    const DioTime now = Now();
    m_view.PanTo(start, Begin(now), now);
    Refresh(true);
}

void CTimelineWnd::Zoom(int steps, std::optional<DioTime> anchor) {
    const DioTime now = Now();
    if (!anchor)
        anchor = m_cursor && *m_cursor >= m_view.Start() && *m_cursor <= m_view.End()
                     ? *m_cursor
                     : m_view.Start() + m_view.Span() / 2;
    m_view.Zoom(steps, *anchor, Begin(now), now);
    Refresh(true);
}

void CTimelineWnd::SetFollow(bool bFollow) {
    const DioTime now = Now();
    m_view.SetFollow(bFollow, Begin(now), now);
    Refresh(true);
}

void CTimelineWnd::Fit() {
    const DioTime now = Now();
    m_view.Fit(Begin(now), now);
    Refresh(true);
}

void CTimelineWnd::MoveCursor(int columns) {
    const int plot = PlotWidth();
    const int x = m_cursor ? m_view.TimeToX(*m_cursor, plot) : plot / 2;
    SetCursor(m_view.XToTime(std::clamp(x + columns, 0, plot - 1), plot));
}

void CTimelineWnd::SetCursor(DioTime time) {
    m_cursor = time;
    ::InvalidateRect(m_chart.m_hWnd, nullptr, FALSE);
    UpdateReadout();
}

void CTimelineWnd::SetMarker(std::optional<DioTime> marker) {
    m_marker = marker;
    ::InvalidateRect(m_chart.m_hWnd, nullptr, FALSE);
    UpdateReadout();
}

void CTimelineWnd::OnFollow() {
    SetFollow(m_btnFollow.SendMessage(BM_GETCHECK) == BST_CHECKED);
    m_chart.SetFocus();
}

void CTimelineWnd::OnClear() {
    m_history.Clear(Now());
    m_marker.reset();
    Refresh(true);
}

void CTimelineWnd::OnEnter() {
    if (m_cursor)
        SetMarker(m_cursor);
}

void CTimelineWnd::OnEscape() {
    if (m_marker)
        SetMarker(std::nullopt);
    else
        OnClose(0, 0);
}

void CTimelineWnd::OnExport() {
    SaveFileQuestion question;
    question.pszTitle = "Export";
    question.pszFilter = "Value change dump (*.vcd)\0*.vcd\0CSV (*.csv)\0*.csv\0";
    question.defaultName = DefaultExportName();
    CString file;
    int filterIndex = 1;
    if (!AskSaveFileName(m_hWnd, question, file, &filterIndex))
        return;
    const ExportTarget target = ChooseExportTarget(file, filterIndex);
    // A copy taken in small pieces: the worker goes on recording meanwhile.
    const DioHistorySnapshot snapshot = m_history.Snapshot();
    const std::string version =
        FormatString("Kelvane %d.%d", KELVANE_VERSION_MAJOR, KELVANE_VERSION_MINOR);
    DWORD nError = 0;
    const bool ok = WriteWholeFile(
        target.path,
        [&](HANDLE hFile, DWORD& nWriteError) {
            CFileExportOutput out(hFile);
            const bool written =
                target.format == ExportFormat::Vcd
                    ? WriteVcd(snapshot, LaneCount(), version, &LocalUtcOffset, out)
                    : WriteCsv(snapshot, &LocalUtcOffset, out);
            nWriteError = out.m_nError;
            return written;
        },
        nError);
    if (!ok) {
        const CString text = FormatString("Cannot export the history to %s.\n\n%s.",
                                          target.path.c_str(), SystemErrorText(nError).c_str());
        ::MessageBoxA(m_hWnd, text.c_str(), "Export", MB_ICONSTOP | MB_OK);
    }
}

TimelineState CTimelineWnd::State() const {
    TimelineState state;
    state.bVisible = IsOpen();
    for (int lane = 0; lane < LaneCount(); ++lane)
        state.laneLabels.push_back("DIO" + std::to_string(lane));
    state.bFollow = m_view.Following();
    state.start = m_view.Start();
    state.span = m_view.Span();
    state.plotLeft = PlotLeft();
    state.plotWidth = PlotWidth();
    state.cursor = m_cursor;
    state.marker = m_marker;
    state.readout = m_readout.m_hWnd != nullptr ? CWnd::GetWindowText(m_readout.m_hWnd) : "";
    return state;
}
