// The simulator's control port: its clients, and the answer to each command.
#include "tools/simulator/ControlPort.h"

#include "protocol/DioWords.h"
#include "tools/simulator/DeviceClient.h"
#include "tools/simulator/DeviceSimulator.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;
using std::chrono::milliseconds;

constexpr std::size_t RECEIVE_BUFFER_SIZE = 4096;
// Lines answered in one run at most, so that a client that sends many never makes a long pass.
constexpr int LINES_PER_RUN = 64;

std::string Text(const Json& json) {
    // Every text in an answer is ASCII; should one not be, it is replaced, never thrown over.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Error(const std::string& what) {
    return Text(Json{{"error", what}});
}

Json DioJson(int dio, DioModeState value) {
    return Json{
        {"dio", dio}, {"mode", DioModeKey(value.mode)}, {"state", DioStateKey(value.state)}};
}

} // namespace

CControlClient::CControlClient(CDeviceSimulator& server, CPortableSocket socket,
                               const std::string& peer)
    : m_server(server), m_socket(std::move(socket)), m_strName("control " + peer) {
    m_socket.SetNonBlocking();
    m_socket.SetNoDelay();
}

bool CControlClient::MayAnswer() const {
    return m_strOut.size() - m_nOutStart < MAX_PENDING_ANSWERS;
}

LoopInterest CControlClient::Interest(LoopClock::time_point now) {
    LoopInterest interest;
    const bool pending = m_nOutStart < m_strOut.size();
    interest.m_bRead = !m_bPeerClosed && MayAnswer() && !m_reader.HasLine();
    interest.m_bWrite = pending;
    if ((MayAnswer() && m_reader.HasLine()) || (m_bPeerClosed && !pending)) {
        interest.m_timeDue = now;
    } else if (m_bStalled) {
        interest.m_timeDue = m_timeStalled + milliseconds(m_server.m_settings.m_nClientTimeoutMs);
    }
    return interest;
}

bool CControlClient::Run(bool readable, bool, LoopClock::time_point now) {
    if (readable && !m_bPeerClosed) {
        std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
        std::size_t received = 0;
        const SocketIo io = m_socket.Receive(buffer, sizeof buffer, received);
        if (io == SocketIo::Done) {
            m_reader.Feed(buffer, received);
        } else if (io == SocketIo::Closed) {
            m_bPeerClosed = true;
        } else if (io != SocketIo::WouldBlock) {
            return Finish(false, m_strName + ": connection lost");
        }
    }
    std::string line;
    bool tooLong = false;
    for (int lines = 0; lines < LINES_PER_RUN && MayAnswer() && m_reader.Next(line, tooLong);
         ++lines) {
        m_strOut += m_server.ExecuteControl(line, tooLong, m_strName);
        m_strOut += '\n';
    }
    if (!SendAnswers(now)) {
        return Finish(false, m_strName + ": connection lost");
    }
    const bool pending = m_nOutStart < m_strOut.size();
    if (m_bPeerClosed && !pending && !m_reader.HasLine()) {
        return Finish(false, m_strName + ": the client closed the connection");
    }
    if (!pending) {
        m_bStalled = false;
    } else if (!m_bStalled) {
        m_bStalled = true;
        m_timeStalled = now;
    } else if (now - m_timeStalled >= milliseconds(m_server.m_settings.m_nClientTimeoutMs)) {
        return Finish(true, m_strName + ": dropped, it took none of its answers for " +
                                std::to_string(m_server.m_settings.m_nClientTimeoutMs / 1000) +
                                " s");
    }
    return true;
}

bool CControlClient::SendAnswers(LoopClock::time_point) {
    while (m_nOutStart < m_strOut.size()) {
        std::size_t sent = 0;
        const SocketIo io =
            m_socket.Send(reinterpret_cast<const std::uint8_t*>(m_strOut.data()) + m_nOutStart,
                          m_strOut.size() - m_nOutStart, sent);
        if (io == SocketIo::WouldBlock || (io == SocketIo::Done && sent == 0)) {
            return true;
        }
        if (io != SocketIo::Done) {
            return false;
        }
        m_bStalled = false;
        m_nOutStart += sent;
    }
    m_strOut.clear();
    m_nOutStart = 0;
    return true;
}

bool CControlClient::Finish(bool reset, const std::string& line) {
    if (reset) {
        m_socket.Reset();
    } else {
        m_socket.Close();
    }
    m_server.Log(line);
    m_server.ForgetControl();
    return false;
}

std::string CDeviceSimulator::ExecuteControl(std::string_view line, bool tooLong,
                                             const std::string& from) {
    Update([](SimulatorCounters& c) { ++c.m_nControlCommands; });
    if (tooLong) {
        return Error("the line is longer than " + std::to_string(CONTROL_MAX_LINE) + " bytes");
    }
    ControlCommand command;
    std::string error;
    if (!ParseControlLine(line, m_device.Count(), command, error)) {
        return Error(error);
    }
    const auto findClient = [&](const char* verb, CDeviceClient*& found) {
        const auto it = std::find_if(m_vecClients.begin(), m_vecClients.end(),
                                     [&](auto* c) { return c->Id() == command.m_nClient; });
        if (it == m_vecClients.end()) {
            error = std::string(verb) + ": there is no client " + std::to_string(command.m_nClient);
            return false;
        }
        found = *it;
        return true;
    };

    switch (command.m_verb) {
    case ControlVerb::State: {
        Json dios = Json::array();
        const std::vector<DioModeState> table = DioTable();
        for (std::size_t dio = 0; dio < table.size(); ++dio) {
            dios.push_back(DioJson(static_cast<int>(dio), table[dio]));
        }
        return Text(Json{{"dios", std::move(dios)}});
    }
    case ControlVerb::Set: {
        DioModeState before{};
        DioModeState after{};
        bool output = false;
        ChangeDevice([&](CDioDevice& device) {
            before = device.Get(command.m_nDio);
            output = command.m_nMode < 0 && before.mode == DIO_MODE_OUTPUT;
            if (!output) {
                after = {command.m_nMode < 0 ? before.mode : command.m_nMode, command.m_nState};
                device.Set(command.m_nDio, after.mode, after.state);
            }
        });
        if (output) {
            return Error("set: DIO " + std::to_string(command.m_nDio) +
                         " is an output, which the device drives (set DIO MODE STATE forces it)");
        }
        const bool changed = after.mode != before.mode || after.state != before.state;
        if (changed) {
            ReportDio(command.m_nDio, after);
        }
        Log(from + ": DIO " + std::to_string(command.m_nDio) + " set to " +
            DioModeWord(after.mode) + ", " + DioStateWord(after.state) +
            (changed ? ", reported to " + std::to_string(m_vecClients.size()) + " client(s)"
                     : " (unchanged)"));
        Json answer = DioJson(command.m_nDio, after);
        answer["changed"] = changed;
        return Text(answer);
    }
    case ControlVerb::Fault: {
        if (FindSimFaultSetting(m_faults, command.m_strFault) == nullptr) {
            std::string names;
            for (const std::unique_ptr<CSimFault>& fault : m_faults) {
                for (const SimFaultSetting& setting : fault->Settings()) {
                    names += (names.empty() ? "" : ", ") + std::string(setting.m_strName);
                }
            }
            return Error("fault: '" + command.m_strFault.substr(0, 40) + "' is not one of " +
                         names);
        }
        if (!ApplySimFaultSetting(m_faults, command.m_strFault, command.m_strValue, m_settings,
                                  error)) {
            return Error("fault " + error);
        }
        const LoopClock::time_point now = LoopClock::now();
        for (const std::unique_ptr<CSimFault>& fault : m_faults) {
            fault->OnSettings(m_settings, now);
        }
        const std::string value =
            FindSimFaultSetting(m_faults, command.m_strFault)->m_pShow(m_settings);
        Log(from + ": fault " + command.m_strFault + " " + (value.empty() ? "off" : value));
        return Text(Json{{"fault", command.m_strFault}, {"value", value.empty() ? "off" : value}});
    }
    case ControlVerb::Faults: {
        Json faults = Json::object();
        for (const std::unique_ptr<CSimFault>& fault : m_faults) {
            for (const SimFaultSetting& setting : fault->Settings()) {
                const std::string value = setting.m_pShow(m_settings);
                if (!value.empty()) {
                    faults[std::string(setting.m_strName)] = value;
                }
            }
        }
        return Text(Json{{"faults", std::move(faults)}});
    }
    case ControlVerb::Clients: {
        Json clients = Json::array();
        for (const CDeviceClient* client : m_vecClients) {
            clients.push_back(Json{{"id", client->Id()},
                                   {"address", client->Address()},
                                   {"requests", client->RequestCount()},
                                   {"frames_sent", client->FramesSent()},
                                   {"queued", client->QueuedFrames()}});
        }
        return Text(Json{{"clients", std::move(clients)}});
    }
    case ControlVerb::Drop:
    case ControlVerb::Reset: {
        const bool drop = command.m_verb == ControlVerb::Drop;
        std::vector<CDeviceClient*> targets;
        if (command.m_bAllClients) {
            targets = m_vecClients;
        } else {
            CDeviceClient* client = nullptr;
            if (!findClient(drop ? "drop" : "reset", client)) {
                return Error(error);
            }
            targets.push_back(client);
        }
        Json ids = Json::array();
        for (CDeviceClient* client : targets) {
            drop ? client->RequestDrop() : client->RequestReset();
            ids.push_back(client->Id());
        }
        Log(from + ": " + (drop ? "drop" : "reset") + " " +
            (command.m_bAllClients ? std::string("all") : std::to_string(command.m_nClient)));
        return Text(Json{{drop ? "dropped" : "reset", std::move(ids)}});
    }
    case ControlVerb::Help:
        break;
    }
    Json lines = Json::array();
    for (const ControlCommandHelp& help : ControlCommandHelpLines()) {
        std::string text(help.m_strText);
        std::replace(text.begin(), text.end(), '\n', ' ');
        lines.push_back(std::string(help.m_strUsage) + ": " + text);
    }
    return Text(Json{{"help", std::move(lines)}});
}
