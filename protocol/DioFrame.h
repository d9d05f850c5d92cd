// DIO frames: the four requests the program sends, byte for byte.
//
// Every frame is a command code, the fixed bytes 0x02 and 0x00, a payload length and the
// payload. Every field is one byte; numbers wider than a byte are stored as their low 8 bits.
#pragma once

#include "protocol/DioCommand.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The two bytes that follow the command code in every frame.
constexpr std::uint8_t DIO_FRAME_FIXED1 = 0x02;
constexpr std::uint8_t DIO_FRAME_FIXED2 = 0x00;
constexpr int DIO_FRAME_HEADER_SIZE = 4;
// The most payload one length byte can announce.
constexpr int DIO_FRAME_MAX_PAYLOAD = 255;

// Mode and state values, which are also the item indexes of the rows' selectors.
constexpr int DIO_MODE_INPUT = 0;
constexpr int DIO_MODE_OUTPUT = 1;
constexpr int DIO_STATE_LOW = 0;
constexpr int DIO_STATE_HIGH = 1;

// A mode or state byte in a reply means something only when it is 0 or 1.
constexpr bool IsDioValue(std::uint8_t b) {
    return b <= 1;
}

// The mode and state to set on one DIO of a range write.
struct DioModeState {
    int mode;
    int state;
};

using SingleReadFrame = std::array<std::uint8_t, 5>;
using SingleWriteFrame = std::array<std::uint8_t, 7>;
using MultiReadFrame = std::array<std::uint8_t, 6>;

// None of the encoders checks its arguments: that is the caller's business.
SingleReadFrame EncodeSingleRead(int dio);
SingleWriteFrame EncodeSingleWrite(int dio, int mode, int state);
MultiReadFrame EncodeMultiRead(int start, int end);
// Requires 0 <= start <= end and one pair per DIO from start to end; the result holds
// exactly 2n + 6 bytes, n = end - start + 1.
std::vector<std::uint8_t> EncodeMultiWrite(int start, int end, std::span<const DioModeState> pairs);
