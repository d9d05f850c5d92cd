// Which frame answers a request kelvane-cli sent.
#include "cli/CliAnswer.h"

#include "protocol/DioFrame.h"

namespace {

std::string HexByte(std::uint8_t value) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    return {DIGITS[value >> 4], DIGITS[value & 0x0F]};
}

} // namespace

CCliAnswer::CCliAnswer(std::span<const std::uint8_t> request) {
    if (request.size() < DIO_FRAME_HEADER_SIZE) {
        return;
    }
    m_pCommand = FindDioCommand(request[0]);
    const std::span<const std::uint8_t> payload = request.subspan(DIO_FRAME_HEADER_SIZE);
    if (m_pCommand != nullptr) {
        m_nLength = DioReplyPayloadLength(*m_pCommand, payload);
    }
    if (!payload.empty()) {
        m_nDio = payload[0];
    }
}

CliAnswerMatch CCliAnswer::Judge(const DioFrameView& frame, std::string& why) const {
    const std::span<const std::uint8_t> payload = frame.m_payload;
    // The frames the reply parser passes over, and empty ones that it takes without effect,
    // answer nothing.
    if (m_pCommand == nullptr || m_nLength < 0 || !frame.m_header.IsAccepted() || payload.empty() ||
        frame.m_header.m_nCode != m_pCommand->m_nCode) {
        return CliAnswerMatch::Skip;
    }
    if (!m_pCommand->m_bReplyReportsDios) {
        // The acknowledgement of a write: its status, 0 when the write was done.
        if (payload[0] != 0) {
            why = "the device refused the write with status " + HexByte(payload[0]);
            return CliAnswerMatch::Unusable;
        }
        return CliAnswerMatch::Answer;
    }
    const std::size_t length = static_cast<std::size_t>(m_nLength);
    if (m_pCommand->m_reply.m_shape == DioPayloadShape::Fixed) {
        // A reply of a fixed size that says what DIOs are names its DIO first, as reports do:
        // further bytes mean nothing, fewer leave no mode and state.
        if (payload.size() < length) {
            why = "no mode and state";
            return CliAnswerMatch::Unusable;
        }
        if (payload[0] != m_nDio) {
            return CliAnswerMatch::Skip; // a report of another DIO
        }
    } else if (payload.size() != length) {
        // A range's pairs carry no DIO numbers: only the length says which DIOs they are.
        why = std::to_string(payload.size()) + " payload bytes, not " + std::to_string(length);
        return CliAnswerMatch::Unusable;
    }
    for (const std::uint8_t value : Pairs(payload)) {
        if (!IsDioValue(value)) {
            why = "mode or state not 0 or 1";
            return CliAnswerMatch::Unusable;
        }
    }
    return CliAnswerMatch::Answer;
}

std::span<const std::uint8_t> CCliAnswer::Pairs(std::span<const std::uint8_t> answerPayload) const {
    if (m_pCommand == nullptr || m_nLength <= 0 ||
        answerPayload.size() < static_cast<std::size_t>(m_nLength)) {
        return {};
    }
    const std::size_t length = static_cast<std::size_t>(m_nLength);
    return m_pCommand->m_reply.m_shape == DioPayloadShape::Fixed
               ? answerPayload.subspan(1, length - 1)
               : answerPayload.first(length);
}
