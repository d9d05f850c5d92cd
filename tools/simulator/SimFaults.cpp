// The simulator's faults, one piece each. A new fault is a class here, its value in
// SimulatorOptions and a line in MakeSimFaults.
#include "tools/simulator/SimFault.h"

#include "tools/simulator/FloodGenerator.h"

#include <cstdio>
#include <type_traits>
#include <unordered_map>

namespace {

using std::chrono::milliseconds;

// Settings that hold one number: off is the value a fresh SimulatorOptions has.
template <auto Member, std::uint64_t Low, std::uint64_t High>
bool ParseNumber(std::string_view text, SimulatorOptions& options, std::string& error) {
    std::uint64_t value = 0;
    if (!ParseSimNumber(text, Low, High, value, error)) {
        return false;
    }
    options.*Member = static_cast<std::remove_reference_t<decltype(options.*Member)>>(value);
    return true;
}

template <auto Member>
std::string ShowNumber(const SimulatorOptions& options) {
    return options.*Member == SimulatorOptions{}.*Member ? std::string()
                                                         : std::to_string(options.*Member);
}

template <auto Member>
void TurnOffNumber(SimulatorOptions& options) {
    options.*Member = SimulatorOptions{}.*Member;
}

template <auto Member, std::uint64_t Low, std::uint64_t High>
constexpr SimFaultSetting NumberSetting(std::string_view name, std::string_view value,
                                        std::string_view help) {
    return {name,
            value,
            help,
            ParseNumber<Member, Low, High>,
            ShowNumber<Member>,
            TurnOffNumber<Member>};
}

// --delay: each answer waits.
class CDelayFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    std::string Describe(const SimulatorOptions& options) const override {
        return options.m_nReplyDelayMs == 0
                   ? std::string()
                   : "answers after " + std::to_string(options.m_nReplyDelayMs) + " ms";
    }
    void OnRequest(CFaultClient& client, SimAnswerPlan& plan) override {
        plan.m_timeDue += milliseconds(client.Server().Settings().m_nReplyDelayMs);
    }

private:
    static constexpr SimFaultSetting SETTINGS[] = {
        NumberSetting<&SimulatorOptions::m_nReplyDelayMs, 0, 60000>(
            "delay", "MS", "pause before each answer, 0 to 60000 ms (default 0)")};
};

// --split and --gap: each frame goes to the socket in pieces.
class CSplitFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    std::string Describe(const SimulatorOptions& options) const override {
        std::string text;
        if (options.m_split == ReplySplit::Bytes) {
            text = "frames sent byte by byte";
        } else if (options.m_split == ReplySplit::Random) {
            text = "frames sent in random pieces (seed " + std::to_string(options.m_nSeed) + ")";
        }
        if (!text.empty() && options.m_nPieceGapMs > 0) {
            text += "; " + std::to_string(options.m_nPieceGapMs) + " ms between pieces";
        }
        return text;
    }
    void OnFrameOut(CFaultClient& client, SimOutgoing& frame) override {
        const SimulatorOptions& settings = client.Server().Settings();
        if (settings.m_split != ReplySplit::Whole) { // a whole frame needs no list of pieces
            frame.m_vecPieces = client.Shaper().Cut(settings.m_split, frame.m_vecBytes.size());
            frame.m_pieceGap = milliseconds(settings.m_nPieceGapMs);
        }
    }

private:
    static constexpr const char* SPLIT_WORDS[] = {"whole", "bytes", "random"};

    static bool ParseSplit(std::string_view text, SimulatorOptions& options, std::string& error) {
        for (std::size_t i = 0; i < std::size(SPLIT_WORDS); ++i) {
            if (text == SPLIT_WORDS[i]) {
                options.m_split = static_cast<ReplySplit>(i);
                return true;
            }
        }
        error = "'" + std::string(text) + "' is not whole, bytes or random";
        return false;
    }
    static std::string ShowSplit(const SimulatorOptions& options) {
        return options.m_split == ReplySplit::Whole
                   ? std::string()
                   : SPLIT_WORDS[static_cast<std::size_t>(options.m_split)];
    }
    static void TurnOffSplit(SimulatorOptions& options) { options.m_split = ReplySplit::Whole; }

    static constexpr SimFaultSetting SETTINGS[] = {
        {"split", "MODE",
         "how frames are sent: whole (default), bytes (one byte per\n"
         "send) or random (random pieces, see --seed)",
         ParseSplit, ShowSplit, TurnOffSplit},
        NumberSetting<&SimulatorOptions::m_nPieceGapMs, 0, 10000>(
            "gap", "MS", "pause between the pieces of a cut frame, 0 to 10000 ms\n(default 0)")};
};

// --junk: frames of unknown codes ahead of each answer.
class CJunkFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    std::string Describe(const SimulatorOptions& options) const override {
        return options.m_nJunkFrames == 0
                   ? std::string()
                   : std::to_string(options.m_nJunkFrames) + " junk frame(s) before each answer";
    }
    std::size_t FramesBesideAnswer(const SimulatorOptions& options) const override {
        return static_cast<std::size_t>(options.m_nJunkFrames);
    }
    void OnRequest(CFaultClient& client, SimAnswerPlan& plan) override {
        for (int i = 0; i < client.Server().Settings().m_nJunkFrames; ++i) {
            SimOutgoing junk;
            junk.m_vecBytes = client.Shaper().MakeJunkFrame();
            junk.m_kind = SimFrameKind::Junk;
            plan.m_vecBefore.push_back(std::move(junk));
        }
    }

private:
    static constexpr SimFaultSetting SETTINGS[] = {
        NumberSetting<&SimulatorOptions::m_nJunkFrames, 0, 16>(
            "junk", "N",
            "frames with unknown codes sent ahead of every answer,\n"
            "0 to 16 (default 0); the program skips them by their\nlength byte")};
};

// --close-after and --reset-after: a connection ends after its N-th request.
class CConnectionEndFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    std::string Describe(const SimulatorOptions& options) const override {
        if (options.m_nEndAfterRequests == 0) {
            return {};
        }
        return std::string(options.m_end == ConnectionEnd::Reset ? "reset" : "close") + " after " +
               std::to_string(options.m_nEndAfterRequests) + " request(s)";
    }
    void OnRequest(CFaultClient& client, SimAnswerPlan& plan) override {
        const SimulatorOptions& settings = client.Server().Settings();
        if (settings.m_nEndAfterRequests > 0 &&
            client.Requests() + 1 >= static_cast<std::uint64_t>(settings.m_nEndAfterRequests)) {
            plan.m_bLast = true;
            plan.m_end = settings.m_end;
        }
    }

private:
    template <ConnectionEnd End>
    static bool Parse(std::string_view text, SimulatorOptions& options, std::string& error) {
        if (!ParseNumber<&SimulatorOptions::m_nEndAfterRequests, 1, 1000000000>(text, options,
                                                                                error)) {
            return false;
        }
        options.m_end = End;
        return true;
    }
    template <ConnectionEnd End>
    static std::string Show(const SimulatorOptions& options) {
        return options.m_end == End ? ShowNumber<&SimulatorOptions::m_nEndAfterRequests>(options)
                                    : std::string();
    }
    template <ConnectionEnd End>
    static void TurnOff(SimulatorOptions& options) {
        if (options.m_end == End) {
            options.m_nEndAfterRequests = 0;
        }
    }

    static constexpr SimFaultSetting SETTINGS[] = {
        {"close-after", "N",
         "close a connection after answering its N-th request\n"
         "(1 to 10^9; each client's own requests count)",
         Parse<ConnectionEnd::Close>, Show<ConnectionEnd::Close>, TurnOff<ConnectionEnd::Close>,
         "reset-after"},
        {"reset-after", "N", "the same, but reset the connection (linger 0)",
         Parse<ConnectionEnd::Reset>, Show<ConnectionEnd::Reset>, TurnOff<ConnectionEnd::Reset>,
         "close-after"}};
};

// --flood-seconds and --flood-bytes: each new connection first gets a stream of reports.
class CFloodFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    std::string Describe(const SimulatorOptions& options) const override {
        std::string text;
        if (options.m_nFloodSeconds > 0) {
            text = "flood of " + std::to_string(options.m_nFloodSeconds) + " s";
        }
        if (options.m_nFloodBytes > 0) {
            text += (text.empty() ? "" : "; ") + std::string("flood of ") +
                    std::to_string(options.m_nFloodBytes) + " bytes";
        }
        return text;
    }
    void OnConnect(CFaultClient& client, SimClock::time_point now) override {
        const SimulatorOptions& settings = client.Server().Settings();
        if (!settings.Floods()) {
            return;
        }
        Flood& flood = m_floods[&client];
        flood.m_timeStart = now;
        flood.m_timeEnd = now + std::chrono::seconds(settings.m_nFloodSeconds);
        flood.m_bTimed = settings.m_nFloodSeconds > 0;
        flood.m_nByteLimit = settings.m_nFloodBytes;
        client.Server().Log(client.Name() + ": flooding");
    }
    SimClock::time_point ClientDue(CFaultClient& client, SimClock::time_point now) override {
        if (m_floods.empty()) {
            return SimClock::time_point::max();
        }
        const auto found = m_floods.find(&client);
        if (found == m_floods.end()) {
            return SimClock::time_point::max();
        }
        const Flood& flood = found->second;
        if (flood.m_bGenerating) {
            // The next batch once the queue is empty; the end of the time in any case.
            return client.IsQueueEmpty() ? now
                   : flood.m_bTimed      ? flood.m_timeEnd
                                         : SimClock::time_point::max();
        }
        return client.FloodBytesSent() == flood.m_nGenerated ? now : SimClock::time_point::max();
    }
    void OnClientTime(CFaultClient& client, SimClock::time_point now) override {
        if (m_floods.empty()) {
            return;
        }
        const auto found = m_floods.find(&client);
        if (found == m_floods.end()) {
            return;
        }
        Flood& flood = found->second;
        if (flood.m_bGenerating) {
            const bool timeUp = flood.m_bTimed && now >= flood.m_timeEnd;
            const bool bytesUp =
                flood.m_nByteLimit > 0 &&
                flood.m_nGenerated + CFloodGenerator::FRAME_SIZE > flood.m_nByteLimit;
            if (timeUp || bytesUp || !client.IsReading()) {
                flood.m_bGenerating = false;
            } else if (client.IsQueueEmpty()) {
                std::size_t batch = BATCH_BYTES;
                if (flood.m_nByteLimit > 0) {
                    batch = static_cast<std::size_t>(
                        std::min<std::uint64_t>(batch, flood.m_nByteLimit - flood.m_nGenerated));
                }
                SimOutgoing frames;
                frames.m_kind = SimFrameKind::Flood;
                frames.m_timeDue = now;
                client.Server().ChangeDevice([&](CDioDevice& device) {
                    flood.m_nGenerated +=
                        flood.m_generator.Generate(device, batch, frames.m_vecBytes);
                });
                client.QueueAsIs(std::move(frames));
            }
        }
        if (!flood.m_bGenerating && client.FloodBytesSent() == flood.m_nGenerated) {
            End(client, found, true);
        }
    }
    void OnDisconnect(CFaultClient& client) override {
        const auto found = m_floods.find(&client);
        if (found != m_floods.end()) {
            End(client, found, false);
        }
    }

private:
    // Flood frames go to the socket in batches of about this size.
    static constexpr std::size_t BATCH_BYTES = 64 * 1024;

    struct Flood {
        SimClock::time_point m_timeStart{};
        SimClock::time_point m_timeEnd{};
        bool m_bTimed = false;
        std::uint64_t m_nByteLimit = 0; // 0: none
        bool m_bGenerating = true;      // more frames are still to be made
        std::uint64_t m_nGenerated = 0;
        CFloodGenerator m_generator;
    };
    using Floods = std::unordered_map<const CFaultClient*, Flood>;

    // Prints the total; complete is false when the connection ended the flood early.
    void End(CFaultClient& client, Floods::iterator flood, bool complete) {
        const std::uint64_t sent = client.FloodBytesSent();
        const double seconds =
            std::chrono::duration<double>(SimClock::now() - flood->second.m_timeStart).count();
        char rate[64];
        std::snprintf(rate, sizeof rate, "%.2f s, %.1f MB/s", seconds,
                      seconds > 0 ? static_cast<double>(sent) / 1e6 / seconds : 0.0);
        client.Server().Log(client.Name() + (complete ? ": flooded " : ": flood cut short after ") +
                            std::to_string(sent) + " bytes (" + rate + ")");
        if (complete) {
            client.Server().CountFloodDone();
        }
        m_floods.erase(flood);
    }

    static constexpr SimFaultSetting SETTINGS[] = {
        NumberSetting<&SimulatorOptions::m_nFloodSeconds, 1, 86400>(
            "flood-seconds", "S",
            "on each connection, first stream code-1 reports of\n"
            "changing values as fast as the socket takes them for S\n"
            "seconds (1 to 86400), then serve as usual; requests are\n"
            "answered meanwhile; prints the bytes flooded"),
        NumberSetting<&SimulatorOptions::m_nFloodBytes, 1, 1000000000000000ull>(
            "flood-bytes", "N",
            "the same, for N bytes (1 to 10^15); with both, the first\n"
            "limit reached ends the flood")};

    Floods m_floods;
};

// --toggle and --toggle-ms: inputs whose level flips by itself.
class CToggleFault final : public CSimFault {
public:
    std::span<const SimFaultSetting> Settings() const override { return SETTINGS; }
    bool Check(const SimulatorOptions& options, std::string& error) const override {
        for (const int dio : options.m_vecToggleDios) {
            if (dio >= options.m_nDioCount) {
                error = "toggle: DIO " + std::to_string(dio) + " is beyond the last DIO (" +
                        std::to_string(options.m_nDioCount - 1) + ")";
                return false;
            }
        }
        return true;
    }
    std::string Describe(const SimulatorOptions& options) const override {
        if (options.m_vecToggleDios.empty()) {
            return {};
        }
        return "input DIO(s) " + ShowDios(options) + " toggle every " +
               std::to_string(options.m_nToggleMs) + " ms";
    }
    SimClock::time_point DeviceDue() const override {
        return m_vecDios.empty() ? SimClock::time_point::max() : m_timeNext;
    }
    void OnDeviceTime(CFaultServer& server, SimClock::time_point now) override {
        if (m_vecDios.empty() || now < m_timeNext) {
            return;
        }
        m_timeNext += m_period;
        if (m_timeNext <= now) {
            m_timeNext = now + m_period; // fell behind (a long pause): no burst of catching up
        }
        m_vecFlipped.clear();
        server.ChangeDevice([&](CDioDevice& device) {
            for (const int dio : m_vecDios) {
                if (device.ToggleInput(dio)) {
                    m_vecFlipped.emplace_back(dio, device.Get(dio));
                }
            }
        });
        for (const auto& [dio, value] : m_vecFlipped) {
            server.ReportDio(dio, value);
        }
    }
    void OnSettings(const SimulatorOptions& options, SimClock::time_point now) override {
        const milliseconds period(options.m_nToggleMs);
        if (options.m_vecToggleDios != m_vecDios || period != m_period) {
            // The first flip one period after the start or the change.
            m_vecDios = options.m_vecToggleDios;
            m_period = period;
            m_timeNext = now + period;
        }
    }

private:
    static bool ParseDios(std::string_view text, SimulatorOptions& options, std::string& error) {
        return ParseSimDioList(text, options.m_vecToggleDios, error);
    }
    static std::string ShowDios(const SimulatorOptions& options) {
        std::string text;
        for (const int dio : options.m_vecToggleDios) {
            text += (text.empty() ? "" : ",") + std::to_string(dio);
        }
        return text;
    }
    static void TurnOffDios(SimulatorOptions& options) { options.m_vecToggleDios.clear(); }

    static constexpr SimFaultSetting SETTINGS[] = {
        {"toggle", "LIST",
         "DIOs whose level flips by itself while they are Input,\n"
         "e.g. 3 or 0,2,5 or 1-3; each flip is reported to every\n"
         "client as 01 02 00 03 dio mode state",
         ParseDios, ShowDios, TurnOffDios},
        NumberSetting<&SimulatorOptions::m_nToggleMs, 1, 86400000>(
            "toggle-ms", "T", "time between flips, 1 to 86400000 ms (default 1000)")};

    std::vector<int> m_vecDios;
    std::vector<std::pair<int, DioModeState>> m_vecFlipped; // kept, for the next flips
    milliseconds m_period{0};
    SimClock::time_point m_timeNext{};
};

} // namespace

SimFaultList MakeSimFaults() {
    SimFaultList faults;
    faults.push_back(std::make_unique<CDelayFault>());
    faults.push_back(std::make_unique<CSplitFault>());
    faults.push_back(std::make_unique<CJunkFault>());
    faults.push_back(std::make_unique<CConnectionEndFault>());
    faults.push_back(std::make_unique<CFloodFault>());
    faults.push_back(std::make_unique<CToggleFault>());
    return faults;
}

const SimFaultSetting* FindSimFaultSetting(const SimFaultList& faults, std::string_view name,
                                           const CSimFault** fault) {
    for (const std::unique_ptr<CSimFault>& candidate : faults) {
        for (const SimFaultSetting& setting : candidate->Settings()) {
            if (setting.m_strName == name) {
                if (fault != nullptr) {
                    *fault = candidate.get();
                }
                return &setting;
            }
        }
    }
    return nullptr;
}

bool ApplySimFaultSetting(const SimFaultList& faults, std::string_view name, std::string_view value,
                          SimulatorOptions& options, std::string& error) {
    const CSimFault* fault = nullptr;
    const SimFaultSetting* setting = FindSimFaultSetting(faults, name, &fault);
    if (setting == nullptr) {
        error = "there is no fault '" + std::string(name) + "'";
        return false;
    }
    SimulatorOptions changed = options;
    if (value == "off") {
        setting->m_pTurnOff(changed);
    } else if (!setting->m_pParse(value, changed, error)) {
        error = std::string(name) + ": " + error;
        return false;
    }
    if (!fault->Check(changed, error)) {
        return false;
    }
    options = std::move(changed);
    return true;
}
