// The simulator's faults, each one self-contained piece: its settings (each an option on the
// command line, --NAME VALUE, and a name on the control port, "fault NAME VALUE"), the help for
// them, their values' ranges and readers, and its effect through a few hooks the server calls:
// a client connects, a request arrives, a frame goes out, a time is due, a client goes.
//
// The settings' values live in SimulatorOptions, which the server keeps for as long as it runs
// and the control port changes; a hook reads them when it acts, so a change takes effect for
// the next request, frame or connection.
#pragma once

#include "tools/simulator/DioDevice.h"
#include "tools/simulator/OutputQueue.h"
#include "tools/simulator/SimulatorOptions.h"
#include "tools/simulator/TrafficShaper.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One setting of a fault.
struct SimFaultSetting {
    std::string_view m_strName;  // "delay": --delay on the command line, "fault delay" on the port
    std::string_view m_strValue; // what the value is, for the help: "MS"
    std::string_view m_strHelp;  // what it does: lines of at most 56 characters, '\n' between
    // Reads text into options; false with error saying why (without the name) when it is no
    // value of this setting.
    bool (*m_pParse)(std::string_view text, SimulatorOptions& options, std::string& error);
    // The value in options, as m_pParse reads it; empty while the setting is off.
    std::string (*m_pShow)(const SimulatorOptions& options);
    // Turns it off: the value it has when not given.
    void (*m_pTurnOff)(SimulatorOptions& options);
    // The setting it cannot be given with on the command line; empty for none.
    std::string_view m_strExcludes = {};
};

// The server as a fault sees it.
class CFaultServer {
public:
    virtual const SimulatorOptions& Settings() const = 0;
    virtual void Log(const std::string& line) = 0;
    // Runs change on the device's table, which the clients and the tests share.
    virtual void ChangeDevice(const std::function<void(CDioDevice&)>& change) = 0;
    // Tells every client a DIO's mode and state, as the device reports an input that changed
    // (coalesced for a client whose queue is full).
    virtual void ReportDio(int dio, DioModeState value) = 0;
    virtual void CountFloodDone() = 0;

protected:
    ~CFaultServer() = default;
};

// One device client as a fault sees it.
class CFaultClient {
public:
    virtual CFaultServer& Server() = 0;
    virtual const std::string&
    Name() const = 0;                           // "client a.b.c.d:port", as its console lines start
    virtual CTrafficShaper& Shaper() = 0;       // the client's seeded generator
    virtual std::uint64_t Requests() const = 0; // answered so far
    virtual bool IsReading() const = 0;         // requests are still taken
    virtual bool IsQueueEmpty() const = 0;
    // Queues a frame as it is, without the frame hooks (a flood batch).
    virtual void QueueAsIs(SimOutgoing frame) = 0;
    virtual std::uint64_t FloodBytesSent() const = 0;

protected:
    ~CFaultClient() = default;
};

// How a request is answered, which the request hooks may change.
struct SimAnswerPlan {
    SimClock::time_point m_timeDue;       // the answer and what goes ahead of it leave then
    std::vector<SimOutgoing> m_vecBefore; // frames sent ahead of the answer
    bool m_bLast = false;                 // nothing more is read; the connection then ends
    ConnectionEnd m_end = ConnectionEnd::Close;
};

class CSimFault {
public:
    virtual ~CSimFault() = default;

    virtual std::span<const SimFaultSetting> Settings() const = 0;
    // Whether the values go together and with the device; false with error saying why,
    // starting with the setting's name ("toggle: DIO 9 is beyond the last DIO (8)").
    virtual bool Check(const SimulatorOptions&, std::string&) const { return true; }
    // What the startup line says of it ("answers after 200 ms"); empty while it is off.
    virtual std::string Describe(const SimulatorOptions&) const { return {}; }

    // A client connected.
    virtual void OnConnect(CFaultClient&, SimClock::time_point) {}
    // The frames a request adds to the client's queue beside its answer: the server answers a
    // request only when they all fit.
    virtual std::size_t FramesBesideAnswer(const SimulatorOptions&) const { return 0; }
    // A request arrived (Requests() does not count it yet); its answer goes as plan says.
    virtual void OnRequest(CFaultClient&, SimAnswerPlan&) {}
    // A frame goes to the client's queue: an answer, a junk frame or a report.
    virtual void OnFrameOut(CFaultClient&, SimOutgoing&) {}
    // When the fault next acts for the client (max: not by itself), and that action.
    virtual SimClock::time_point ClientDue(CFaultClient&, SimClock::time_point) {
        return SimClock::time_point::max();
    }
    virtual void OnClientTime(CFaultClient&, SimClock::time_point) {}
    // The client's connection ends.
    virtual void OnDisconnect(CFaultClient&) {}
    // Device-wide timed events, which run while no client is connected as well.
    virtual SimClock::time_point DeviceDue() const { return SimClock::time_point::max(); }
    virtual void OnDeviceTime(CFaultServer&, SimClock::time_point) {}
    // The settings were given: at the start, and after each change from the control port.
    virtual void OnSettings(const SimulatorOptions&, SimClock::time_point) {}
};

using SimFaultList = std::vector<std::unique_ptr<CSimFault>>;

// Every fault there is, each new.
SimFaultList MakeSimFaults();

// The setting with this name, and its fault; null when there is none.
const SimFaultSetting* FindSimFaultSetting(const SimFaultList& faults, std::string_view name,
                                           const CSimFault** fault = nullptr);

// Sets one setting from the control port: value is one the setting reads, or "off". Checks the
// fault's values together and leaves options unchanged on failure, with error saying why
// ("delay: 'x' is not a whole number from 0 to 60000").
bool ApplySimFaultSetting(const SimFaultList& faults, std::string_view name, std::string_view value,
                          SimulatorOptions& options, std::string& error);
