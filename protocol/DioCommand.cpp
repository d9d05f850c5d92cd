// The commands of the DIO protocol.
#include "protocol/DioCommand.h"

#include "protocol/DioFrame.h"

namespace {

// The number of DIOs from start to end; 0 when start lies above end.
int RangeCount(std::uint8_t start, std::uint8_t end) {
    return start <= end ? end - start + 1 : 0;
}

// The payload length a shape gives, for the range in payload (its first two bytes); -1 when
// the length depends on a range that is missing or reversed.
int PayloadLength(const DioPayloadSize& size, std::span<const std::uint8_t> rangePayload) {
    if (size.m_shape == DioPayloadShape::Fixed) {
        return size.m_nFixed;
    }
    if (rangePayload.size() < 2) {
        return -1;
    }
    const int count = RangeCount(rangePayload[0], rangePayload[1]);
    if (count == 0) {
        return -1;
    }
    return size.m_shape == DioPayloadShape::RangePairs ? 2 * count : 2 * count + 2;
}

std::string HexByte(std::uint8_t value) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    return {DIGITS[value >> 4], DIGITS[value & 0x0F]};
}

std::string LengthText(const DioPayloadSize& size) {
    switch (size.m_shape) {
    case DioPayloadShape::Fixed:
        return HexByte(size.m_nFixed);
    case DioPayloadShape::RangePairs:
        return "2n";
    case DioPayloadShape::RangeAndPairs:
        break;
    }
    return "2n+2";
}

std::string FrameText(std::uint8_t code, const DioPayloadSize& size, std::string_view fields) {
    return HexByte(code) + " " + HexByte(DIO_FRAME_FIXED1) + " " + HexByte(DIO_FRAME_FIXED2) + " " +
           LengthText(size) + " " + std::string(fields);
}

} // namespace

int DioRequestPayloadLength(const DioCommand& command, std::span<const std::uint8_t> payload) {
    return PayloadLength(command.m_request, payload);
}

int DioReplyPayloadLength(const DioCommand& command, std::span<const std::uint8_t> requestPayload) {
    if (command.m_request.m_shape != DioPayloadShape::Fixed &&
        DioRequestPayloadLength(command, requestPayload) < 0) {
        return -1;
    }
    const int length = PayloadLength(command.m_reply, requestPayload);
    return length <= DIO_FRAME_MAX_PAYLOAD ? length : -1;
}

std::string DescribeDioCommand(const DioCommand& command) {
    return FrameText(command.m_nCode, command.m_request, command.m_strRequestFields) + " -> " +
           FrameText(command.m_nCode, command.m_reply, command.m_strReplyFields) + " (" +
           std::string(command.m_strName) + ")";
}
