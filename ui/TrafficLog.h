// CTrafficLog: the log pane and everything behind it. Appends from either thread go to the
// receive path's hand-off, in order; only the interface thread writes the pane, at the pace
// the dialog takes them (CMainDlg::ApplyReceived), and keeps it under its cap (ui/LogCap.h).
// The whole session since the last Clear Log goes to a capture file before anything is
// trimmed for the pane (CSessionCapture), and Save Log As writes it where the operator
// chooses. The pane's context menu offers Copy, Select All, Save Log As and Clear Log.
#pragma once

#include "connection/DeviceConnection.h"
#include "platform/CString.h"
#include "platform/Controls.h"
#include "platform/SaveFileDialog.h"
#include "protocol/TrafficDump.h"
#include "ui/SessionCapture.h"

// How the character column must look under a code page: bytes from 0x80 up as dots where
// the code page has characters of more than one byte (they would merge and shift the column).
TrafficDumpStyle DumpStyleForCodePage(UINT nCodePage);

class CTrafficLog {
public:
    CTrafficLog(CDeviceConnection& connection, CRichEditCtrl& pane);

    // Once the pane exists: its limit, the dump style (for the worker's dumps too) and the
    // first capture. Reports to the log when the capture cannot be made.
    void Open(const TrafficDumpStyle& style);
    // The style of dumps from now on (also the worker's; set before it starts).
    void SetDumpStyle(const TrafficDumpStyle& style);

    // Any thread: text after everything appended before it; a dump in the log's style.
    void Append(std::string text);
    void Dump(TrafficDirection direction, const std::uint8_t* pData, int nCount);

    // Interface thread. Writes text taken from the hand-off at the end of the pane under its
    // cap; bStartAfresh empties the pane first. The capture is not involved: it had the text
    // already.
    void WriteToPane(const CString& text, bool bStartAfresh);
    // Empties the pane and whatever waits for it, and starts a new capture.
    void Clear();

    // Context menu at a screen point (-1, -1: from the keyboard, at the pane's corner).
    // Answers the command chosen (ID_LOG_...), or 0.
    UINT TrackContextMenu(HWND hOwner, POINT point);
    void Copy();
    void SelectAll();

    // Asks for a file in the standard Save dialog and saves the session there (SaveTo).
    void SaveAs(HWND hOwner);
    // Saves everything since the last Clear Log to path, or what the pane holds when the
    // capture could not keep it all (and says so). When the file cannot be written, a box
    // owned by hOwner names it and the reason; nothing else changes, so saving again works.
    bool SaveTo(HWND hOwner, const CString& path);

    // "kelvane-YYYYMMDD-HHMMSS.log" for the local time now.
    static CString DefaultFileName();

    CSessionCapture& Capture() { return m_capture; }

private:
    // Adds the capture's new problem, if any, to the log.
    void ReportCaptureProblem();

    CDeviceConnection& m_connection;
    CRichEditCtrl& m_pane;
    TrafficDumpStyle m_style;
    CSessionCapture m_capture;
};
