// The Timeline window: the DIOs' states over time, drawn from the history as a logic analyser
// draws its traces. A modeless top-level window owned by the main dialog; closing it only
// hides it. Its chart summarises the history per pixel column, so drawing costs the same
// however many changes are in view. It redraws on a timer, at most about 30 times a second,
// which like painting waits behind the operator's input.
//
// Keyboard (the chart has the focus): Left/Right and Page Up/Down pan, Home goes to the
// oldest data, End follows the present, + and - zoom, F fits all, Shift+Left/Right moves the
// cursor, Enter sets the marker at the cursor and Esc clears it (or hides the window). Tab
// walks the buttons; Ctrl+S exports.
#pragma once

#include "connection/DioHistory.h"
#include "platform/Controls.h"
#include "platform/Wnd.h"
#include "ui/Timeline.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the window shows, for tests to read back (on the interface thread).
struct TimelineState {
    bool bVisible = false;
    std::vector<std::string> laneLabels;
    bool bFollow = false;
    DioTime start{};
    std::chrono::microseconds span{};
    int plotLeft = 0;  // the chart's first column of data, in the chart's client area
    int plotWidth = 0; // its columns of data
    std::optional<DioTime> cursor;
    std::optional<DioTime> marker;
    std::string readout;
};

class CTimelineWnd;

// The chart: lanes, time axis, cursors; its own horizontal scroll bar.
class CTimelineChart : public CWnd {
public:
    explicit CTimelineChart(CTimelineWnd& frame) : m_frame(frame) {}
    ~CTimelineChart() override;

    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnKeyDown(WPARAM wParam, LPARAM);
    LRESULT OnChar(WPARAM wParam, LPARAM);
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM lParam);
    LRESULT OnHScroll(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetDlgCode(WPARAM, LPARAM) { return DLGC_WANTARROWS | DLGC_WANTCHARS; }
    LRESULT OnEraseBkgnd(WPARAM, LPARAM) { return 1; }
    LRESULT OnFocus(WPARAM, LPARAM);

    // Draws the chart into dc (client size width x height); the lanes only between the clip's
    // columns.
    void Draw(HDC hDC, int width, int height, int clipLeft, int clipRight);

private:
    void DrawLanes(HDC hDC, int top, int laneHeight, DioTime now, int clipLeft, int clipRight);
    CTimelineWnd& m_frame;
    HBITMAP m_hBuffer = nullptr;
    SIZE m_bufferSize{};
    bool m_bDragging = false;
    bool m_bDragged = false;
    int m_nDragX = 0;
    DioTime m_dragStart{};

    DECLARE_MESSAGE_MAP()
};

class CTimelineWnd : public CWnd {
public:
    // laneCount: the DIOs of the current target model.
    CTimelineWnd(CDioHistory& history, std::function<int()> laneCount);
    ~CTimelineWnd() override;

    // Creates the window (owned by owner) on first use, shows it and gives the chart the focus.
    void Open(CWnd& owner);
    bool IsOpen() const { return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd); }
    // The target model changed: one lane per DIO of the new one.
    void OnLaneCountChanged();
    // For the owner's message loop: the window's accelerators and its keyboard.
    BOOL PreTranslateMessage(MSG* pMsg);
    TimelineState State() const;
    HWND Chart() const { return m_chart.m_hWnd; }

    // The Timeline's own actions, also for the keyboard and mouse of the chart.
    void PanBy(std::chrono::microseconds delta);
    void PanTo(DioTime start);
    void Zoom(int steps, std::optional<DioTime> anchor);
    void SetFollow(bool bFollow);
    void Fit();
    void MoveCursor(int columns);
    void SetCursor(DioTime time);
    void SetMarker(std::optional<DioTime> marker);

    LRESULT OnSize(WPARAM, LPARAM);
    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnTimer(WPARAM, LPARAM);
    LRESULT OnGetMinMaxInfo(WPARAM, LPARAM lParam);
    LRESULT OnSetFocus(WPARAM, LPARAM);
    void OnFit() { Fit(); }
    void OnFollow();
    void OnClear();
    void OnExport();
    void OnEnter();
    void OnEscape();

private:
    friend class CTimelineChart;
    void Layout();
    // The view after the clock and the history moved on; redraws what changed.
    void Refresh(bool bAll);
    void UpdateScrollBar();
    void UpdateReadout();
    int LaneCount() const;
    DioTime Now() const;
    DioTime Begin(DioTime now) const;
    int PlotLeft() const;
    int PlotWidth() const;

    CDioHistory& m_history;
    std::function<int()> m_laneCount;
    CTimelineChart m_chart;
    CButton m_btnFit;
    CButton m_btnFollow;
    CButton m_btnClear;
    CButton m_btnExport;
    CStatic m_readout;
    HFONT m_hFont = nullptr;
    HACCEL m_hAccel = nullptr;

    CTimelineView m_view;
    std::optional<DioTime> m_cursor;
    std::optional<DioTime> m_marker;
    // What the last redraw showed: the history's generation, the present, where it began.
    std::uint64_t m_nShownGeneration = 0;
    DioTime m_shownNow{};
    std::optional<DioTime> m_shownBegin;
    // When the chart was last painted, and what that took.
    std::chrono::steady_clock::time_point m_paintedAt{};
    std::chrono::steady_clock::duration m_paintCost{};

    DECLARE_MESSAGE_MAP()
};
