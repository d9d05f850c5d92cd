// Cuts a stream of DIO frames into frames.
#include "protocol/DioFrameReader.h"

const char* DescribeDioFrameFault(DioFrameFault fault) {
    switch (fault) {
    case DioFrameFault::None:
        break;
    case DioFrameFault::UnknownCode:
        return "unknown code";
    case DioFrameFault::BadFixedBytes:
        return "fixed bytes not 02 00";
    }
    return "";
}

std::vector<std::uint8_t> DioFrameBytes(const DioFrameView& frame) {
    const DioFrameHeader& header = frame.m_header;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(DIO_FRAME_HEADER_SIZE + frame.m_payload.size());
    bytes = {header.m_nCode, header.m_nFixed1, header.m_nFixed2, header.m_nLength};
    bytes.insert(bytes.end(), frame.m_payload.begin(), frame.m_payload.end());
    return bytes;
}
