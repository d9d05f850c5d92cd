// The device's side of the DIO protocol: what it answers to each request frame.
//
// Served requests:
//   01 02 00 01 dio             -> 01 02 00 03 dio mode state
//   02 02 00 03 dio mode state  -> applies it, 02 02 00 01 00
//   05 02 00 02 start end       -> 05 02 00 2n then the n (mode, state) pairs of start..end
//   06 02 00 2n+2 start end pairs -> applies them, 06 02 00 01 00
// Checks run in the order of the status values: code, fixed bytes, payload length, range
// order, DIO, range size, values (a range write's length is compared with 2n + 2 once its
// range has passed). Every other request is answered with its own code, the fixed bytes and a
// one-byte payload holding a non-zero status (below), and changes nothing. A status is never 0 or
// 1, so even a code-5 error answer cannot be taken for a mode or a state, and a code-1 error answer
// holds no mode or state at all: the program consumes every error answer without touching a row.
#pragma once

#include "tools/simulator/DioDevice.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

constexpr std::uint8_t SIM_STATUS_OK = 0x00;
constexpr std::uint8_t SIM_STATUS_UNKNOWN_CODE = 0x02;   // a code that is no command's
constexpr std::uint8_t SIM_STATUS_BAD_HEADER = 0x03;     // fixed bytes other than 02 00
constexpr std::uint8_t SIM_STATUS_BAD_LENGTH = 0x04;     // payload length wrong for the request
constexpr std::uint8_t SIM_STATUS_BAD_RANGE = 0x05;      // range start above its end
constexpr std::uint8_t SIM_STATUS_BAD_DIO = 0x06;        // DIO (or range end) beyond the last DIO
constexpr std::uint8_t SIM_STATUS_RANGE_TOO_LONG = 0x07; // range read answer over 255 bytes
constexpr std::uint8_t SIM_STATUS_BAD_VALUE = 0x08;      // mode or state other than 0 or 1

// A code-5 answer holds two bytes per DIO in a payload of at most 255 bytes.
constexpr int SIM_MAX_RANGE_READ = 127;

struct SimReply {
    std::vector<std::uint8_t> m_vecBytes; // the whole answer frame
    std::uint8_t m_nStatus = SIM_STATUS_OK;
    std::string m_strNote; // what was done, or why not, for the console
};

// Serves one whole request frame against the device. describe: say in m_strNote what was
// done (an answer to a request the device cannot serve always says why).
SimReply HandleDioRequest(CDioDevice& device, std::span<const std::uint8_t> frame,
                          bool describe = true);

// The frame a device sends to report one DIO: 01 02 00 03 dio mode state.
std::vector<std::uint8_t> EncodeDioReport(int dio, int mode, int state);

// A short text for a status ("DIO out of range", ...).
const char* DescribeSimStatus(std::uint8_t status);
