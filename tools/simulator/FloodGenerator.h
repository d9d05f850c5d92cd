// The flood's frames: code-1 reports sweeping over every DIO, each report of a DIO carrying
// values other than its previous one, so that a viewer sees the rows keep changing.
#pragma once

#include "tools/simulator/DioDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CFloodGenerator {
public:
    static constexpr std::size_t FRAME_SIZE = 7;

    // Appends as many whole report frames as fit in maxBytes to out and sets the device's
    // DIOs to the values reported, so that a read afterwards agrees with the last report.
    // Returns the number of bytes appended (a multiple of FRAME_SIZE).
    std::size_t Generate(CDioDevice& device, std::size_t maxBytes, std::vector<std::uint8_t>& out);

private:
    std::uint64_t m_nFrame = 0; // reports generated so far
};
