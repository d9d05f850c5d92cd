// The simulated device as a TCP server.
#include "tools/simulator/DeviceSimulator.h"

#include "protocol/TrafficDump.h"
#include "tools/simulator/ControlPort.h"
#include "tools/simulator/DeviceClient.h"

#include <algorithm>
#include <ostream>

namespace {

std::string DescribeFaults(const SimFaultList& faults, const SimulatorOptions& options) {
    std::string text;
    for (const std::unique_ptr<CSimFault>& fault : faults) {
        const std::string words = fault->Describe(options);
        if (!words.empty()) {
            text += (text.empty() ? "" : "; ") + words;
        }
    }
    return text;
}

} // namespace

// The device-wide timed events of the faults (toggling inputs), also while no client is
// connected.
class CDeviceSimulator::CDeviceTimer final : public CLoopWatch {
public:
    explicit CDeviceTimer(CDeviceSimulator& server) : m_server(server) {}

    const CPortableSocket* Socket() const override { return nullptr; }
    LoopInterest Interest(LoopClock::time_point) override {
        LoopInterest interest;
        for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
            interest.m_timeDue = std::min(interest.m_timeDue, fault->DeviceDue());
        }
        return interest;
    }
    bool Run(bool, bool, LoopClock::time_point now) override {
        for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
            fault->OnDeviceTime(m_server, now);
        }
        return true;
    }

private:
    CDeviceSimulator& m_server;
};

// A command handed over by Control from another thread, and its answer.
struct CDeviceSimulator::PostedCommand {
    std::string m_strLine;
    std::string m_strAnswer;
    bool m_bDone = false;
};

CDeviceSimulator::CDeviceSimulator(SimulatorOptions options, std::ostream* log)
    : m_options(std::move(options)), m_pLog(log),
      m_bShowsDumps(log != nullptr && !m_options.m_bQuiet), m_settings(m_options),
      m_faults(MakeSimFaults()), m_device(m_options.m_nDioCount) {}

CDeviceSimulator::~CDeviceSimulator() {
    Stop();
}

bool CDeviceSimulator::Start(std::string& error) {
    if (IsRunning()) {
        error = "the simulator is running already";
        return false;
    }
    if (!m_socketLibrary.IsReady()) {
        error = "the socket library could not be started";
        return false;
    }
    // The backlog is the system's most, so that many clients connecting at once all wait.
    CPortableSocket listening =
        CPortableSocket::Listen(m_options.m_strAddress, m_options.m_nPort, error, 0);
    if (!listening.IsOpen()) {
        return false;
    }
    CPortableSocket control;
    if (m_options.m_nControlPort >= 0) {
        control =
            CPortableSocket::Listen(m_options.m_strControlAddress,
                                    static_cast<std::uint16_t>(m_options.m_nControlPort), error);
        if (!control.IsOpen()) {
            error = "control port: " + error;
            return false;
        }
    }
    if (!m_loop.Open(error)) {
        return false;
    }
    m_nPort = listening.LocalPort();
    m_nControlPort = control.IsOpen() ? control.LocalPort() : 0;
    m_bStop = false;

    Log("kelvane-sim: listening on " + m_options.m_strAddress + ":" + std::to_string(m_nPort) +
        ", " + std::to_string(m_device.Count()) + " DIOs");
    if (control.IsOpen()) {
        Log("kelvane-sim: control port on " + m_options.m_strControlAddress + ":" +
            std::to_string(m_nControlPort));
    }
    const std::string faults = DescribeFaults(m_faults, m_settings);
    if (!faults.empty()) {
        Log("kelvane-sim: " + faults);
    }
    const LoopClock::time_point now = LoopClock::now();
    for (const std::unique_ptr<CSimFault>& fault : m_faults) {
        fault->OnSettings(m_settings, now); // timers run from the start
    }
    const auto onFailure = [this](const std::string& line) {
        Log("kelvane-sim: " + line);
    };
    m_loop.Add(std::make_unique<CAcceptWatch>(
        std::move(listening),
        [this](CPortableSocket socket, const std::string& peer, LoopClock::time_point when) {
            Accept(std::move(socket), peer, when);
        },
        onFailure));
    if (control.IsOpen()) {
        m_loop.Add(std::make_unique<CAcceptWatch>(
            std::move(control),
            [this](CPortableSocket socket, const std::string& peer, LoopClock::time_point) {
                AcceptControl(std::move(socket), peer);
            },
            onFailure));
    }
    m_loop.Add(std::make_unique<CDeviceTimer>(*this));
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_bServing = true;
    }
    m_thread = std::thread(&CDeviceSimulator::Serve, this);
    return true;
}

void CDeviceSimulator::Stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        m_loop.Wake();
        m_thread.join();
    }
    m_loop.Close();
}

void CDeviceSimulator::Serve() {
    m_loop.Run(m_bStop, [this] { RunPosted(); });
    for (CDeviceClient* client : std::vector<CDeviceClient*>(m_vecClients)) {
        client->CloseForStop();
    }
    m_loop.Clear();
    m_nControlClients = 0;
    // Commands handed over too late are answered all the same.
    std::lock_guard<std::mutex> lock(m_postMutex);
    m_bServing = false;
    for (PostedCommand* command : m_vecPosted) {
        command->m_strAnswer = R"({"error":"the simulator has stopped"})";
        command->m_bDone = true;
    }
    m_vecPosted.clear();
    m_cvPosted.notify_all();
}

void CDeviceSimulator::Accept(CPortableSocket socket, const std::string& peer,
                              LoopClock::time_point now) {
    if (static_cast<int>(m_vecClients.size()) >= m_settings.m_nMaxClients) {
        Log("client " + peer + ": refused, " + std::to_string(m_vecClients.size()) +
            " clients are connected already (--max-clients " +
            std::to_string(m_settings.m_nMaxClients) + ")");
        Update([](SimulatorCounters& c) { ++c.m_nClientsRefused; });
        socket.Close();
        return;
    }
    const std::uint64_t id = m_nNextClientId++;
    Log("client " + peer + ": connected (id " + std::to_string(id) + ", " +
        std::to_string(m_vecClients.size() + 1) + " connected)");
    Update([](SimulatorCounters& c) {
        ++c.m_nConnections;
        ++c.m_nClientsConnected;
        c.m_bClientConnected = true;
    });
    auto client = std::make_unique<CDeviceClient>(*this, std::move(socket), peer, id, now);
    m_vecClients.push_back(client.get());
    m_loop.Add(std::move(client));
}

void CDeviceSimulator::AcceptControl(CPortableSocket socket, const std::string& peer) {
    if (m_nControlClients >= SIM_MAX_CONTROL_CLIENTS) {
        socket.Close();
        Log("control " + peer + ": refused, " + std::to_string(SIM_MAX_CONTROL_CLIENTS) +
            " control clients are connected already");
        return;
    }
    ++m_nControlClients;
    Log("control " + peer + ": connected");
    m_loop.Add(std::make_unique<CControlClient>(*this, std::move(socket), peer));
}

void CDeviceSimulator::Forget(const CDeviceClient* client) {
    std::erase(m_vecClients, client);
    Update([](SimulatorCounters& c) {
        ++c.m_nDisconnections;
        --c.m_nClientsConnected;
        c.m_bClientConnected = c.m_nClientsConnected > 0;
    });
}

SimReply CDeviceSimulator::ServeOnDevice(std::span<const std::uint8_t> frame) {
    SimReply reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_vecRequests.size() < SIM_MAX_RECORDED_REQUESTS) {
            m_vecRequests.emplace_back(frame.begin(), frame.end());
        }
        reply = HandleDioRequest(m_device, frame, m_bShowsDumps);
        ++m_counters.m_nRequests;
        if (reply.m_nStatus != SIM_STATUS_OK) {
            ++m_counters.m_nErrorReplies;
        }
    }
    NotifyWaiters();
    return reply;
}

void CDeviceSimulator::ChangeDevice(const std::function<void(CDioDevice&)>& change) {
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_device);
}

void CDeviceSimulator::ReportDio(int dio, DioModeState value) {
    const LoopClock::time_point now = LoopClock::now();
    for (CDeviceClient* client : m_vecClients) {
        client->Report(dio, value, now);
    }
}

void CDeviceSimulator::CountFloodDone() {
    Update([](SimulatorCounters& c) { ++c.m_nFloodsDone; });
}

std::string CDeviceSimulator::Control(std::string_view line) {
    PostedCommand command;
    command.m_strLine = std::string(line);
    std::unique_lock<std::mutex> lock(m_postMutex);
    if (!m_bServing) {
        // Nothing serves: the command runs here (under the lock, one at a time).
        return ExecuteControl(line, false, "in-process");
    }
    m_vecPosted.push_back(&command);
    m_loop.Wake();
    m_cvPosted.wait(lock, [&] { return command.m_bDone; });
    return command.m_strAnswer;
}

void CDeviceSimulator::RunPosted() {
    std::vector<PostedCommand*> commands;
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        commands.swap(m_vecPosted);
    }
    if (commands.empty()) {
        return;
    }
    for (PostedCommand* command : commands) {
        command->m_strAnswer = ExecuteControl(command->m_strLine, false, "in-process");
    }
    std::lock_guard<std::mutex> lock(m_postMutex);
    for (PostedCommand* command : commands) {
        command->m_bDone = true;
    }
    m_cvPosted.notify_all();
}

std::vector<std::vector<std::uint8_t>> CDeviceSimulator::ReceivedRequests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecRequests;
}

std::vector<DioModeState> CDeviceSimulator::DioTable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device.Table();
}

void CDeviceSimulator::SetDio(int dio, int mode, int state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device.IsValidDio(dio) && (mode == 0 || mode == 1) && (state == 0 || state == 1)) {
        m_device.Set(dio, mode, state);
    }
}

SimulatorCounters CDeviceSimulator::Counters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimulatorCounters counters = m_counters;
    counters.m_nWaits = m_loop.Passes();
    return counters;
}

bool CDeviceSimulator::WaitUntil(const std::function<bool(const SimulatorCounters&)>& condition,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_nWaiters; // under the lock: a change made after the condition was looked at notifies
    const bool holds = m_cvChanged.wait_for(lock, timeout, [&] { return condition(m_counters); });
    --m_nWaiters;
    return holds;
}

bool CDeviceSimulator::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil([count](const SimulatorCounters& c) { return c.m_nRequests >= count; },
                     timeout);
}

void CDeviceSimulator::Log(const std::string& line) {
    if (m_pLog != nullptr) {
        *m_pLog << line << '\n' << std::flush;
    }
}

void CDeviceSimulator::LogDump(const std::string& header, bool sent, const std::uint8_t* data,
                               std::size_t length) {
    if (!ShowsDumps()) {
        return;
    }
    std::string text = header + '\n';
    AppendTrafficDump(text, sent ? TrafficDirection::Sent : TrafficDirection::Received, data,
                      static_cast<int>(length));
    // The dump's lines end in "\r\n" as in the program's log; a console wants '\n' alone.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    *m_pLog << text << std::flush;
}
