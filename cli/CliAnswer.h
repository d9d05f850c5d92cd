// Which frame answers a request kelvane-cli sent, as the command table says: the answer
// carries the request's code and the payload the table gives for it, a reply that names its
// DIO names the one asked for, and a reply that acknowledges a write carries a status.
#pragma once

#include "protocol/DioCommand.h"
#include "protocol/DioFrameReader.h"

#include <cstdint>
#include <span>
#include <string>

// What a received frame is to the request waiting for its answer.
enum class CliAnswerMatch {
    Skip,    // no answer to it: another command's, a report of another DIO, a frame passed over
    Answer,  // its answer
    Unusable // its answer, but one that cannot be used (why says what is wrong)
};

class CCliAnswer {
public:
    CCliAnswer() = default;
    // For the request frame request (header and payload), one of the table's commands.
    explicit CCliAnswer(std::span<const std::uint8_t> request);

    CliAnswerMatch Judge(const DioFrameView& frame, std::string& why) const;

    // The (mode, state) pairs of an answer that reports DIOs, one pair per DIO asked for.
    std::span<const std::uint8_t> Pairs(std::span<const std::uint8_t> answerPayload) const;

private:
    const DioCommand* m_pCommand = nullptr;
    int m_nLength = -1; // the answer's payload length
    int m_nDio = -1;    // the DIO a reply that names its DIO must name
};
