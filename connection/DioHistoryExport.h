// The history as files that other programs read: a value change dump (VCD, as waveform
// viewers and simulators read it) and CSV (as spreadsheets and data tools read it).
#pragma once

#include "connection/DioHistory.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

// Where an export goes, a piece at a time. False: the piece could not be written, and the
// export stops there.
class IExportOutput {
public:
    virtual ~IExportOutput() = default;
    virtual bool Write(std::string_view text) = 0;
};

// How far local time is ahead of UTC at a moment.
using UtcOffsetFunction = std::function<std::chrono::seconds(DioTime)>;
// The offset of the local time zone (as the C library knows it) at a moment.
std::chrono::seconds LocalUtcOffset(DioTime time);

// ISO 8601 with milliseconds and the offset: "2026-12-09T14:03:27.412+01:00".
std::string FormatIsoTime(DioTime time, std::chrono::seconds utcOffset);

// VCD: a 1 us time scale, times counted from the first record, the date of that record and the
// version (for instance "Kelvane 2.0"). One wire "connected", and per DIO 0 to dioCount - 1 (or
// more when the history has more) a wire "dioN" for the state and "dioN_output" for the mode
// (1 for Output); x while not known. Changes that fall in the same microsecond show as their
// last value.
bool WriteVcd(const DioHistorySnapshot& history, int dioCount, std::string_view version,
              const UtcOffsetFunction& utcOffset, IExportOutput& out);

// CSV (RFC 4180): "time,dio,mode,state", then one row per change in time order, mode "input" or
// "output" and state "low" or "high" (empty while not known); connection events as rows with
// an empty dio and the event in mode.
bool WriteCsv(const DioHistorySnapshot& history, const UtcOffsetFunction& utcOffset,
              IExportOutput& out);
