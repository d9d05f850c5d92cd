#include "tests/win32/AnsweringDevice.h"

#include "bench/BenchClock.h"

#include <algorithm>
#include <deque>

CAnsweringDevice::CAnsweringDevice(CTestPeer& peer, std::chrono::milliseconds delay,
                                   std::chrono::milliseconds dropAfter)
    : m_peer(peer), m_delay(delay), m_dropAfter(dropAfter) {
    m_thread = std::thread([this] { Serve(); });
}

CAnsweringDevice::~CAnsweringDevice() {
    m_bStop = true;
    m_thread.join();
    m_peer.Close();
}

void CAnsweringDevice::SetDio(int dio, int mode, int state) {
    std::lock_guard lock(m_mutex);
    m_dios[static_cast<std::size_t>(dio)] = {static_cast<std::uint8_t>(mode),
                                             static_cast<std::uint8_t>(state)};
}

std::vector<CAnsweringDevice::Request> CAnsweringDevice::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void CAnsweringDevice::ClearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_requests.shrink_to_fit();
}

std::size_t CAnsweringDevice::CountRequests(const std::vector<std::uint8_t>& prefix) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(
        std::count_if(m_requests.begin(), m_requests.end(), [&](const Request& request) {
            return request.bytes.size() >= prefix.size() &&
                   std::equal(prefix.begin(), prefix.end(), request.bytes.begin());
        }));
}

std::vector<std::uint8_t> CAnsweringDevice::Answer(const std::vector<std::uint8_t>& request) {
    std::lock_guard lock(m_mutex);
    const std::uint8_t code = request[0];
    const std::uint8_t* payload = request.data() + 4;
    switch (code) {
    case 0x01: {
        const std::uint8_t dio = payload[0];
        const auto value = dio < DIOS ? m_dios[dio] : std::array<std::uint8_t, 2>{};
        return {0x01, 0x02, 0x00, 0x03, dio, value[0], value[1]};
    }
    case 0x02:
        if (payload[0] < DIOS)
            m_dios[payload[0]] = {payload[1], payload[2]};
        return {0x02, 0x02, 0x00, 0x01, 0x00};
    case 0x05: {
        std::vector<std::uint8_t> answer{0x05, 0x02, 0x00, 0x00};
        for (int dio = payload[0]; dio <= payload[1] && dio < DIOS; ++dio) {
            answer.push_back(m_dios[static_cast<std::size_t>(dio)][0]);
            answer.push_back(m_dios[static_cast<std::size_t>(dio)][1]);
        }
        answer[3] = static_cast<std::uint8_t>(answer.size() - 4);
        return answer;
    }
    default: // a range write
        for (int dio = payload[0]; dio <= payload[1] && dio < DIOS; ++dio) {
            const std::size_t pair = 2 + 2 * static_cast<std::size_t>(dio - payload[0]);
            if (pair + 1 < request.size() - 4)
                m_dios[static_cast<std::size_t>(dio)] = {payload[pair], payload[pair + 1]};
        }
        return {0x06, 0x02, 0x00, 0x01, 0x00};
    }
}

void CAnsweringDevice::Serve() {
    using Clock = std::chrono::steady_clock;
    struct Due {
        Clock::time_point at;
        std::vector<std::uint8_t> request;
    };
    std::deque<Due> due;
    std::vector<std::uint8_t> pending;
    Clock::time_point acceptedAt{};
    int drops = 0;
    while (!m_bStop) {
        if (!m_bConnected) {
            if (m_peer.Accept(std::chrono::milliseconds(50))) {
                m_bConnected = true;
                ++m_nConnections;
                acceptedAt = Clock::now();
                due.clear();
                pending.clear();
            }
            continue;
        }
        const auto now = Clock::now();
        if (m_dropAfter.count() > 0 && now - acceptedAt >= m_dropAfter) {
            if (drops++ % 2 == 0)
                m_peer.Close();
            else
                m_peer.Reset();
            m_bConnected = false;
            continue;
        }
        // Answers in order, each when its delay has passed.
        while (!due.empty() && due.front().at <= now) {
            m_peer.Send(Answer(due.front().request));
            due.pop_front();
        }
        auto wait = std::chrono::milliseconds(20);
        if (!due.empty())
            wait =
                std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(due.front().at - now));
        bool ended = false;
        const std::vector<std::uint8_t> bytes =
            m_peer.ReadSome(std::max(wait, std::chrono::milliseconds(0)), ended);
        if (ended) {
            m_peer.Close();
            m_bConnected = false;
            continue;
        }
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        // Whole requests: a four-byte header and its payload.
        while (pending.size() >= 4 && pending.size() >= 4u + pending[3]) {
            std::vector<std::uint8_t> request(pending.begin(), pending.begin() + 4 + pending[3]);
            pending.erase(pending.begin(), pending.begin() + 4 + pending[3]);
            if (request[0] == 0x05) {
                int awaited = 1;
                for (const Due& earlier : due)
                    awaited += earlier.request[0] == 0x05 ? 1 : 0;
                m_nMostAwaited = std::max(m_nMostAwaited.load(), awaited);
            }
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back({request, NowMs()});
            }
            due.push_back({Clock::now() + m_delay, std::move(request)});
        }
    }
}
