#include "tests/win32/FloodingDevice.h"

#include "bench/BenchClock.h"

namespace {
constexpr int FRAME_SIZE = 9;
constexpr std::size_t BLOCK_FRAMES = 455; // about 4 KB
} // namespace

CFloodingDevice::CFloodingDevice(CTestPeer& peer, int floodRows, double bytesPerSecond)
    : m_peer(peer), m_nFloodRows(floodRows), m_bytesPerSecond(bytesPerSecond) {}

CFloodingDevice::~CFloodingDevice() {
    StopFlood();
    m_bStop = true;
    m_peer.Reset(); // ends the answering thread's read
    if (m_answer.joinable())
        m_answer.join();
}

void CFloodingDevice::StartFlood() {
    m_bFlooding = true;
    m_flood = std::thread([this] { Flood(); });
}

void CFloodingDevice::StopFlood() {
    m_bFlooding = false;
    if (m_flood.joinable())
        m_flood.join();
}

void CFloodingDevice::StartAnswering() {
    m_answer = std::thread([this] { Answer(); });
}

// Frame k is a single-read reply for row k % rows with a mode and a state, and two more
// payload bytes (which the program ignores) that number the frames. Every byte is small, as a
// real device's are, so the dump's character column is dots.
std::uint8_t CFloodingDevice::StreamByte(std::uint64_t offset) const {
    const std::uint64_t k = offset / FRAME_SIZE;
    switch (offset % FRAME_SIZE) {
    case 0:
        return 0x01;
    case 1:
        return 0x02;
    case 2:
        return 0x00;
    case 3:
        return 0x05;
    case 4:
        return static_cast<std::uint8_t>(k % static_cast<std::uint64_t>(m_nFloodRows));
    case 5:
        return static_cast<std::uint8_t>((k / 4) % 2);
    case 6:
        return static_cast<std::uint8_t>((k / 8) % 2);
    case 7:
        return static_cast<std::uint8_t>((k / 16) % 31);
    default:
        return static_cast<std::uint8_t>((k / 16) % 29);
    }
}

void CFloodingDevice::Flood() {
    std::vector<std::uint8_t> block;
    const std::uint64_t first = m_nFlooded;
    std::uint64_t offset = first;
    const double start = NowMs();
    while (m_bFlooding) {
        block.clear();
        {
            std::lock_guard lock(m_mutex);
            for (const auto& answer : m_pendingAnswers)
                block.insert(block.end(), answer.begin(), answer.end());
            m_pendingAnswers.clear();
        }
        for (std::size_t i = 0; i < BLOCK_FRAMES * FRAME_SIZE; ++i)
            block.push_back(StreamByte(offset + i));
        if (!m_peer.Send(block))
            break;
        offset += BLOCK_FRAMES * FRAME_SIZE;
        m_nFlooded = offset;
        if (m_bytesPerSecond > 0) {
            const double due =
                start + static_cast<double>(offset - first) * 1000.0 / m_bytesPerSecond;
            while (m_bFlooding && NowMs() < due)
                ::Sleep(1);
        }
    }
}

void CFloodingDevice::Answer() {
    std::vector<std::uint8_t> pending;
    while (!m_bStop) {
        bool ended = false;
        const std::vector<std::uint8_t> bytes =
            m_peer.ReadSome(std::chrono::milliseconds(50), ended);
        if (ended) {
            m_endOfStreamAt = NowMs();
            return;
        }
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        // Whole requests: a four-byte header and its payload.
        while (pending.size() >= 4 && pending.size() >= 4u + pending[3]) {
            const std::vector<std::uint8_t> request(pending.begin(),
                                                    pending.begin() + 4 + pending[3]);
            pending.erase(pending.begin(), pending.begin() + 4 + pending[3]);
            std::lock_guard lock(m_mutex);
            m_requestTimes.push_back(NowMs());
            if (request[0] == 0x01 && request.size() == 5) {
                const auto value = static_cast<std::uint8_t>(AnswerValue(m_nReads++));
                std::vector<std::uint8_t> answer{0x01, 0x02, 0x00, 0x03, request[4], value, value};
                if (m_bFlooding)
                    m_pendingAnswers.push_back(answer);
                else
                    m_peer.Send(answer);
            }
        }
    }
}

std::size_t CFloodingDevice::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requestTimes.size();
}

double CFloodingDevice::RequestArrivedAt(std::size_t n) const {
    std::lock_guard lock(m_mutex);
    return n < m_requestTimes.size() ? m_requestTimes[n] : 0;
}
