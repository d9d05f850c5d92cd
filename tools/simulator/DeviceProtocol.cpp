// The device's side of the DIO protocol.
#include "tools/simulator/DeviceProtocol.h"

#include "protocol/DioFrame.h"
#include "protocol/DioWords.h"

namespace {

// The header, with room for the payload behind it.
std::vector<std::uint8_t> Header(std::uint8_t code, std::size_t payloadLength) {
    std::vector<std::uint8_t> frame;
    frame.reserve(DIO_FRAME_HEADER_SIZE + payloadLength);
    frame.assign(
        {code, DIO_FRAME_FIXED1, DIO_FRAME_FIXED2, static_cast<std::uint8_t>(payloadLength)});
    return frame;
}

SimReply Answer(std::uint8_t code, std::uint8_t status, std::string note) {
    SimReply reply;
    reply.m_vecBytes = Header(code, 1);
    reply.m_vecBytes.push_back(status);
    reply.m_nStatus = status;
    reply.m_strNote = std::move(note);
    return reply;
}

SimReply Refuse(std::uint8_t code, std::uint8_t status, const std::string& detail) {
    return Answer(code, status, std::string(DescribeSimStatus(status)) + ": " + detail);
}

bool IsValue(int value) {
    return value == 0 || value == 1;
}

std::string DioText(const CDioDevice& device, int dio) {
    return "DIO " + std::to_string(dio) + ", the device has DIOs 0 to " +
           std::to_string(device.Count() - 1);
}

std::string RangeText(int start, int end) {
    return "DIOs " + std::to_string(start) + " to " + std::to_string(end);
}

// Each handler gets a payload whose length its command's request shape allows (a range
// write's at least its range) and checks the rest.

SimReply SingleRead(CDioDevice& device, std::span<const std::uint8_t> payload, bool describe) {
    const int dio = payload[0];
    if (!device.IsValidDio(dio)) {
        return Refuse(DIO_CMD_SINGLE_READ, SIM_STATUS_BAD_DIO, DioText(device, dio));
    }
    const DioModeState value = device.Get(dio);
    SimReply reply;
    reply.m_vecBytes = EncodeDioReport(dio, value.mode, value.state);
    if (describe) {
        reply.m_strNote = "read DIO " + std::to_string(dio) + ": " + DioModeWord(value.mode) +
                          ", " + DioStateWord(value.state);
    }
    return reply;
}

SimReply SingleWrite(CDioDevice& device, std::span<const std::uint8_t> payload, bool describe) {
    const int dio = payload[0];
    const int mode = payload[1];
    const int state = payload[2];
    if (!device.IsValidDio(dio)) {
        return Refuse(DIO_CMD_SINGLE_WRITE, SIM_STATUS_BAD_DIO, DioText(device, dio));
    }
    if (!IsValue(mode) || !IsValue(state)) {
        return Refuse(DIO_CMD_SINGLE_WRITE, SIM_STATUS_BAD_VALUE,
                      "mode " + std::to_string(mode) + ", state " + std::to_string(state));
    }
    device.Set(dio, mode, state);
    return Answer(DIO_CMD_SINGLE_WRITE, SIM_STATUS_OK,
                  describe ? "wrote DIO " + std::to_string(dio) + ": " + DioModeWord(mode) + ", " +
                                 DioStateWord(state)
                           : std::string());
}

// Checks a range's start and end against each other and the device; status OK when usable.
std::uint8_t CheckRange(const CDioDevice& device, int start, int end, std::string& detail) {
    if (start > end) {
        detail = "start " + std::to_string(start) + " above end " + std::to_string(end);
        return SIM_STATUS_BAD_RANGE;
    }
    if (!device.IsValidDio(end)) {
        detail = "range end " + DioText(device, end);
        return SIM_STATUS_BAD_DIO;
    }
    return SIM_STATUS_OK;
}

SimReply MultiRead(CDioDevice& device, std::span<const std::uint8_t> payload, bool describe) {
    const int start = payload[0];
    const int end = payload[1];
    std::string detail;
    const std::uint8_t status = CheckRange(device, start, end, detail);
    if (status != SIM_STATUS_OK) {
        return Refuse(DIO_CMD_MULTI_READ, status, detail);
    }
    const int count = end - start + 1;
    if (count > SIM_MAX_RANGE_READ) {
        return Refuse(DIO_CMD_MULTI_READ, SIM_STATUS_RANGE_TOO_LONG,
                      std::to_string(count) + " DIOs, at most " +
                          std::to_string(SIM_MAX_RANGE_READ));
    }
    SimReply reply;
    reply.m_vecBytes = Header(DIO_CMD_MULTI_READ, static_cast<std::size_t>(2 * count));
    for (int dio = start; dio <= end; ++dio) {
        const DioModeState value = device.Get(dio);
        reply.m_vecBytes.push_back(static_cast<std::uint8_t>(value.mode));
        reply.m_vecBytes.push_back(static_cast<std::uint8_t>(value.state));
    }
    if (describe) {
        reply.m_strNote = "read " + RangeText(start, end);
    }
    return reply;
}

SimReply MultiWrite(CDioDevice& device, std::span<const std::uint8_t> payload, bool describe) {
    const int start = payload[0];
    const int end = payload[1];
    std::string detail;
    const std::uint8_t status = CheckRange(device, start, end, detail);
    if (status != SIM_STATUS_OK) {
        return Refuse(DIO_CMD_MULTI_WRITE, status, detail);
    }
    const std::size_t count = static_cast<std::size_t>(end - start + 1);
    const int expected = DioRequestPayloadLength(*FindDioCommand(DIO_CMD_MULTI_WRITE), payload);
    if (payload.size() != static_cast<std::size_t>(expected)) {
        return Refuse(DIO_CMD_MULTI_WRITE, SIM_STATUS_BAD_LENGTH,
                      std::to_string(payload.size()) + " payload bytes, " +
                          std::to_string(expected) + " expected for " + RangeText(start, end));
    }
    const std::span<const std::uint8_t> pairs = payload.subspan(2);
    // All or nothing: one bad value refuses the whole write.
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (!IsValue(pairs[i])) {
            return Refuse(DIO_CMD_MULTI_WRITE, SIM_STATUS_BAD_VALUE,
                          std::string(i % 2 == 0 ? "mode " : "state ") + std::to_string(pairs[i]) +
                              " for DIO " + std::to_string(start + static_cast<int>(i / 2)));
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        device.Set(start + static_cast<int>(k), pairs[2 * k], pairs[2 * k + 1]);
    }
    return Answer(DIO_CMD_MULTI_WRITE, SIM_STATUS_OK,
                  describe ? "wrote " + RangeText(start, end) : std::string());
}

using RequestHandler = SimReply (*)(CDioDevice&, std::span<const std::uint8_t> payload,
                                    bool describe);

struct ServedCommand {
    std::uint8_t m_nCode;
    RequestHandler m_pHandler;
};

// The handler of each command of the table.
constexpr ServedCommand SERVED[] = {{DIO_CMD_SINGLE_READ, SingleRead},
                                    {DIO_CMD_SINGLE_WRITE, SingleWrite},
                                    {DIO_CMD_MULTI_READ, MultiRead},
                                    {DIO_CMD_MULTI_WRITE, MultiWrite}};

constexpr RequestHandler HandlerFor(std::uint8_t code) {
    for (const ServedCommand& served : SERVED) {
        if (served.m_nCode == code) {
            return served.m_pHandler;
        }
    }
    return nullptr;
}

constexpr bool EveryCommandIsServed() {
    for (const DioCommand& command : DIO_COMMANDS) {
        if (HandlerFor(command.m_nCode) == nullptr) {
            return false;
        }
    }
    return true;
}
static_assert(EveryCommandIsServed(), "each command of the table has its handler");

// The payload length the command's request shape allows, before the payload is looked at: a
// fixed length, or at least the range for a range-shaped one; the error detail otherwise.
bool HasRequestLength(const DioCommand& command, std::size_t length, std::string& detail) {
    const DioPayloadSize& size = command.m_request;
    const bool fixed = size.m_shape == DioPayloadShape::Fixed;
    const std::size_t least = fixed ? size.m_nFixed : 2;
    if (fixed ? length == least : length >= least) {
        return true;
    }
    detail = std::to_string(length) + " payload bytes, " + (fixed ? "" : "at least ") +
             std::to_string(least) + " expected";
    return false;
}

} // namespace

SimReply HandleDioRequest(CDioDevice& device, std::span<const std::uint8_t> frame, bool describe) {
    if (frame.empty()) {
        return Refuse(0, SIM_STATUS_BAD_LENGTH, "empty frame");
    }
    const std::uint8_t code = frame[0];
    if (frame.size() < static_cast<std::size_t>(DIO_FRAME_HEADER_SIZE) ||
        frame.size() != static_cast<std::size_t>(DIO_FRAME_HEADER_SIZE) + frame[3]) {
        return Refuse(code, SIM_STATUS_BAD_LENGTH, "incomplete frame");
    }
    const DioCommand* command = FindDioCommand(code);
    if (command == nullptr) {
        return Refuse(code, SIM_STATUS_UNKNOWN_CODE, "code " + std::to_string(code));
    }
    if (frame[1] != DIO_FRAME_FIXED1 || frame[2] != DIO_FRAME_FIXED2) {
        return Refuse(code, SIM_STATUS_BAD_HEADER,
                      "fixed bytes " + std::to_string(frame[1]) + " " + std::to_string(frame[2]));
    }
    const std::span<const std::uint8_t> payload = frame.subspan(DIO_FRAME_HEADER_SIZE);
    std::string detail;
    if (!HasRequestLength(*command, payload.size(), detail)) {
        return Refuse(code, SIM_STATUS_BAD_LENGTH, detail);
    }
    return HandlerFor(code)(device, payload, describe);
}

std::vector<std::uint8_t> EncodeDioReport(int dio, int mode, int state) {
    std::vector<std::uint8_t> frame = Header(DIO_CMD_SINGLE_READ, 3);
    frame.push_back(static_cast<std::uint8_t>(dio));
    frame.push_back(static_cast<std::uint8_t>(mode));
    frame.push_back(static_cast<std::uint8_t>(state));
    return frame;
}

const char* DescribeSimStatus(std::uint8_t status) {
    switch (status) {
    case SIM_STATUS_OK:
        return "done";
    case SIM_STATUS_UNKNOWN_CODE:
        return "unknown code";
    case SIM_STATUS_BAD_HEADER:
        return "bad fixed bytes";
    case SIM_STATUS_BAD_LENGTH:
        return "wrong payload length";
    case SIM_STATUS_BAD_DIO:
        return "DIO out of range";
    case SIM_STATUS_BAD_RANGE:
        return "range start above end";
    case SIM_STATUS_RANGE_TOO_LONG:
        return "range too long";
    case SIM_STATUS_BAD_VALUE:
        return "mode or state not 0 or 1";
    default:
        return "unknown status";
    }
}
