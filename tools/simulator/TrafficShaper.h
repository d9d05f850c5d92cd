// How the simulator roughens what it sends, for testing a client's stream handling: frames
// cut into pieces, and junk frames of unknown codes. Seeded, so a run can be repeated.
#pragma once

#include "tools/simulator/SimulatorOptions.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

class CTrafficShaper {
public:
    explicit CTrafficShaper(std::uint32_t seed);

    // The sizes of the pieces a frame of length bytes is sent in (all at least 1, summing to
    // length): one piece, one per byte, or a random cut at each byte boundary with even odds.
    std::vector<std::size_t> Cut(ReplySplit split, std::size_t length);

    // A frame a client must skip: a code other than 1, 2, 5 and 6, two arbitrary bytes, a
    // length byte of 0 to 8 and that many arbitrary payload bytes.
    std::vector<std::uint8_t> MakeJunkFrame();

private:
    // A number from 0 to bound - 1; the same sequence on every platform for a given seed.
    std::uint32_t Next(std::uint32_t bound);

    std::mt19937 m_rng;
};
