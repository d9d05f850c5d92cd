// Cuts the client's byte stream into whole request frames.
//
// A frame is four header bytes (code, two fixed bytes, payload length) and as many payload
// bytes as the length byte says, whatever the code and the fixed bytes hold: the length byte is
// always honoured, so one bad request never shifts the framing of the requests after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using SimFrame = std::vector<std::uint8_t>;

class CRequestFramer {
public:
    // Adds received bytes (any split) and appends each frame they complete to frames.
    void Feed(const std::uint8_t* data, std::size_t length, std::vector<SimFrame>& frames);

    // Bytes of a frame begun but not yet complete.
    std::size_t PendingBytes() const { return m_vecPending.size(); }

private:
    SimFrame m_vecPending;
};
