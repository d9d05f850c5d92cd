// The commands of the DIO protocol, in one table: for each command code its name, the payload
// its request carries and the payload of the reply that answers it.
//
// Everything that needs to know which commands exist asks this table: the reply parser (which
// codes it acts on), the command line (which frame answers which request), the simulator (what
// it serves, and which codes its junk frames must avoid) and their help texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

constexpr std::uint8_t DIO_CMD_SINGLE_READ = 1;
constexpr std::uint8_t DIO_CMD_SINGLE_WRITE = 2;
constexpr std::uint8_t DIO_CMD_MULTI_READ = 5;
constexpr std::uint8_t DIO_CMD_MULTI_WRITE = 6;

// How the length of a payload follows.
enum class DioPayloadShape : std::uint8_t {
    Fixed,        // always the same number of bytes
    RangePairs,   // a (mode, state) pair for each DIO of the request's range
    RangeAndPairs // the range (start, end), then a (mode, state) pair for each of its DIOs
};

struct DioPayloadSize {
    DioPayloadShape m_shape = DioPayloadShape::Fixed;
    std::uint8_t m_nFixed = 0; // the length of a Fixed payload
};

struct DioCommand {
    std::uint8_t m_nCode;
    std::string_view m_strName;          // "single read"
    DioPayloadSize m_request;            // what a request carries
    std::string_view m_strRequestFields; // its payload in words: "dio mode state"
    DioPayloadSize m_reply;              // what the answer to a request carries
    std::string_view m_strReplyFields;   // its payload in words
    // Whether a reply with this code says what a DIO is (and so sets rows); the others
    // acknowledge a write and are consumed without effect.
    bool m_bReplyReportsDios;
};

// Every command there is, in code order.
inline constexpr std::array<DioCommand, 4> DIO_COMMANDS{{
    {DIO_CMD_SINGLE_READ,
     "single read",
     {DioPayloadShape::Fixed, 1},
     "dio",
     {DioPayloadShape::Fixed, 3},
     "dio mode state",
     true},
    {DIO_CMD_SINGLE_WRITE,
     "single write",
     {DioPayloadShape::Fixed, 3},
     "dio mode state",
     {DioPayloadShape::Fixed, 1},
     "status",
     false},
    {DIO_CMD_MULTI_READ,
     "range read",
     {DioPayloadShape::Fixed, 2},
     "start end",
     {DioPayloadShape::RangePairs, 0},
     "a mode and a state per DIO",
     true},
    {DIO_CMD_MULTI_WRITE,
     "range write",
     {DioPayloadShape::RangeAndPairs, 0},
     "start end, then a mode and a state per DIO",
     {DioPayloadShape::Fixed, 1},
     "status",
     false},
}};

// Codes that are no command's: 252 of them.
inline constexpr std::size_t DIO_UNKNOWN_CODE_COUNT = 256 - DIO_COMMANDS.size();

namespace dio_command_detail {
constexpr std::array<std::int8_t, 256> MakeCommandIndex() {
    std::array<std::int8_t, 256> index{};
    index.fill(-1);
    for (std::size_t i = 0; i < DIO_COMMANDS.size(); ++i) {
        index[DIO_COMMANDS[i].m_nCode] = static_cast<std::int8_t>(i);
    }
    return index;
}
// For each code, the index of its command in DIO_COMMANDS, or -1.
inline constexpr std::array<std::int8_t, 256> COMMAND_INDEX = MakeCommandIndex();

constexpr std::array<std::uint8_t, DIO_UNKNOWN_CODE_COUNT> MakeUnknownCodes() {
    std::array<std::uint8_t, DIO_UNKNOWN_CODE_COUNT> codes{};
    std::size_t next = 0;
    for (int code = 0; code < 256; ++code) {
        if (COMMAND_INDEX[static_cast<std::size_t>(code)] < 0) {
            codes[next++] = static_cast<std::uint8_t>(code);
        }
    }
    return codes;
}
} // namespace dio_command_detail

// The codes that are no command's, in increasing order.
inline constexpr std::array<std::uint8_t, DIO_UNKNOWN_CODE_COUNT> DIO_UNKNOWN_CODES =
    dio_command_detail::MakeUnknownCodes();

// The command with this code; null for a code that is none of them.
constexpr const DioCommand* FindDioCommand(std::uint8_t code) {
    const int index = dio_command_detail::COMMAND_INDEX[code];
    return index < 0 ? nullptr : &DIO_COMMANDS[static_cast<std::size_t>(index)];
}

constexpr bool IsDioCommandCode(std::uint8_t code) {
    return dio_command_detail::COMMAND_INDEX[code] >= 0;
}

// The payload length a request of the command must have, judged by what its payload holds so
// far: -1 while that cannot be known (a range not yet received) or when no length fits (a range
// whose start lies above its end).
int DioRequestPayloadLength(const DioCommand& command, std::span<const std::uint8_t> payload);

// The payload length of the answer to a request with this payload; -1 when the request cannot
// be answered with a reply of its kind (see DioRequestPayloadLength), or when the answer would
// not fit a frame (a range read of more than 127 DIOs).
int DioReplyPayloadLength(const DioCommand& command, std::span<const std::uint8_t> requestPayload);

// One line of help for a command, such as
//   "01 02 00 01 dio -> 01 02 00 03 dio mode state (single read)".
std::string DescribeDioCommand(const DioCommand& command);
