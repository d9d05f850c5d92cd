// How the simulator roughens what it sends.
#include "tools/simulator/TrafficShaper.h"

#include "protocol/DioCommand.h"

CTrafficShaper::CTrafficShaper(std::uint32_t seed) : m_rng(seed) {}

std::uint32_t CTrafficShaper::Next(std::uint32_t bound) {
    // The engine's output is fixed by the standard; the distributions' are not, so the
    // reduction is done here.
    return static_cast<std::uint32_t>(m_rng() % bound);
}

std::vector<std::size_t> CTrafficShaper::Cut(ReplySplit split, std::size_t length) {
    if (length == 0) {
        return {};
    }
    switch (split) {
    case ReplySplit::Whole:
        return {length};
    case ReplySplit::Bytes:
        return std::vector<std::size_t>(length, 1);
    case ReplySplit::Random:
        break;
    }
    std::vector<std::size_t> pieces;
    std::size_t piece = 1;
    for (std::size_t boundary = 1; boundary < length; ++boundary) {
        if (Next(2) == 0) {
            pieces.push_back(piece);
            piece = 1;
        } else {
            ++piece;
        }
    }
    pieces.push_back(piece);
    return pieces;
}

std::vector<std::uint8_t> CTrafficShaper::MakeJunkFrame() {
    // A code that is no command's, so that a client passes the frame over.
    const std::uint8_t code =
        DIO_UNKNOWN_CODES[Next(static_cast<std::uint32_t>(DIO_UNKNOWN_CODE_COUNT))];
    const std::uint32_t length = Next(9);
    std::vector<std::uint8_t> frame;
    frame.reserve(4 + length);
    frame.push_back(code);
    frame.push_back(static_cast<std::uint8_t>(Next(256)));
    frame.push_back(static_cast<std::uint8_t>(Next(256)));
    frame.push_back(static_cast<std::uint8_t>(length));
    for (std::uint32_t i = 0; i < length; ++i) {
        frame.push_back(static_cast<std::uint8_t>(Next(256)));
    }
    return frame;
}
