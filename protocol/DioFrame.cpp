// DIO frames: the four requests the program sends, byte for byte.
#include "protocol/DioFrame.h"

#include <cstddef>

namespace {

// Every field of a frame is one byte: a wider number goes on the wire as its low 8 bits.
constexpr std::uint8_t LowByte(long long value) {
    return static_cast<std::uint8_t>(static_cast<unsigned long long>(value) & 0xFFu);
}

} // namespace

SingleReadFrame EncodeSingleRead(int dio) {
    return {DIO_CMD_SINGLE_READ, DIO_FRAME_FIXED1, DIO_FRAME_FIXED2, 1, LowByte(dio)};
}

SingleWriteFrame EncodeSingleWrite(int dio, int mode, int state) {
    return {DIO_CMD_SINGLE_WRITE, DIO_FRAME_FIXED1, DIO_FRAME_FIXED2, 3,
            LowByte(dio),         LowByte(mode),    LowByte(state)};
}

MultiReadFrame EncodeMultiRead(int start, int end) {
    return {DIO_CMD_MULTI_READ, DIO_FRAME_FIXED1, DIO_FRAME_FIXED2, 2,
            LowByte(start),     LowByte(end)};
}

std::vector<std::uint8_t> EncodeMultiWrite(int start, int end,
                                           std::span<const DioModeState> pairs) {
    // Worked in 64 bits so that no pair of ints overflows; a reversed range (which the caller
    // never passes) gives a frame with no pairs rather than a runaway size.
    const long long span = static_cast<long long>(end) - start;
    const std::size_t count = span >= 0 ? static_cast<std::size_t>(span) + 1 : 0;
    std::vector<std::uint8_t> frame;
    frame.reserve(2 * count + 6);
    frame.push_back(DIO_CMD_MULTI_WRITE);
    frame.push_back(DIO_FRAME_FIXED1);
    frame.push_back(DIO_FRAME_FIXED2);
    // Payload length: start, end and one (mode, state) pair per DIO, kept to one byte.
    frame.push_back(LowByte(2 * span + 4));
    frame.push_back(LowByte(start));
    frame.push_back(LowByte(end));
    for (std::size_t k = 0; k < count; ++k) {
        // A short list of pairs is padded with "Input"/"Low" instead of read past its end.
        const DioModeState pair = k < pairs.size() ? pairs[k] : DioModeState{0, 0};
        frame.push_back(LowByte(pair.mode));
        frame.push_back(LowByte(pair.state));
    }
    return frame;
}
