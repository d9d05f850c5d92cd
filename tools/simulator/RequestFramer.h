// Cuts the client's byte stream into whole request frames, as the frame reader frames any DIO
// stream: the length byte is always honoured, whatever the code and the fixed bytes hold, so
// one bad request never shifts the framing of the requests after it.
#pragma once

#include "protocol/DioFrameReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using SimFrame = std::vector<std::uint8_t>;

class CRequestFramer {
public:
    // Adds received bytes (any split) and appends each frame they complete to frames.
    void Feed(const std::uint8_t* data, std::size_t length, std::vector<SimFrame>& frames) {
        m_reader.ReadFrames(data, length, [&frames](const DioFrameView& frame) {
            frames.push_back(DioFrameBytes(frame));
        });
    }

    // Bytes of a frame begun but not yet complete.
    std::size_t PendingBytes() const { return m_reader.PendingBytes(); }

private:
    CDioFrameReader m_reader;
};
