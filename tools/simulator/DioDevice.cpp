// The simulated device's DIO table.
#include "tools/simulator/DioDevice.h"

#include <algorithm>

CDioDevice::CDioDevice(int count)
    : m_vecDios(static_cast<std::size_t>(std::clamp(count, 1, SIM_MAX_DIO_COUNT)),
                DioModeState{DIO_MODE_INPUT, DIO_STATE_LOW}) {}

void CDioDevice::Set(int dio, int mode, int state) {
    m_vecDios[static_cast<std::size_t>(dio)] = DioModeState{mode, state};
}

bool CDioDevice::ToggleInput(int dio) {
    if (!IsValidDio(dio)) {
        return false;
    }
    DioModeState& entry = m_vecDios[static_cast<std::size_t>(dio)];
    if (entry.mode != DIO_MODE_INPUT) {
        return false;
    }
    entry.state = entry.state == DIO_STATE_LOW ? DIO_STATE_HIGH : DIO_STATE_LOW;
    return true;
}
