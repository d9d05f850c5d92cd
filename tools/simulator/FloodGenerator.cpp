// The flood's frames.
#include "tools/simulator/FloodGenerator.h"

#include "protocol/DioFrame.h"

namespace {

// Each sweep over the DIOs adds one to a two-bit counter per DIO (the state is its low bit,
// the mode its high one), offset by the DIO so that neighbours differ.
DioModeState FloodValue(std::uint64_t frame, std::uint64_t count) {
    const std::uint64_t step = frame / count + frame % count;
    return DioModeState{static_cast<int>((step >> 1) & 1), static_cast<int>(step & 1)};
}

} // namespace

std::size_t CFloodGenerator::Generate(CDioDevice& device, std::size_t maxBytes,
                                      std::vector<std::uint8_t>& out) {
    const std::uint64_t count = static_cast<std::uint64_t>(device.Count());
    const std::size_t frames = maxBytes / FRAME_SIZE;
    const std::size_t start = out.size();
    out.resize(start + frames * FRAME_SIZE);
    std::uint8_t* w = out.data() + start;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint64_t frame = m_nFrame + i;
        const DioModeState value = FloodValue(frame, count);
        *w++ = DIO_CMD_SINGLE_READ;
        *w++ = DIO_FRAME_FIXED1;
        *w++ = DIO_FRAME_FIXED2;
        *w++ = 3;
        *w++ = static_cast<std::uint8_t>(frame % count);
        *w++ = static_cast<std::uint8_t>(value.mode);
        *w++ = static_cast<std::uint8_t>(value.state);
    }
    // The device takes the last value reported for each DIO.
    const std::uint64_t end = m_nFrame + frames;
    for (std::uint64_t frame = end > count ? end - count : 0; frame < end; ++frame) {
        if (frame >= m_nFrame) {
            const DioModeState value = FloodValue(frame, count);
            device.Set(static_cast<int>(frame % count), value.mode, value.state);
        }
    }
    m_nFrame = end;
    return frames * FRAME_SIZE;
}
