// The simulated device's DIO table: for each DIO a mode (0 "Input", 1 "Output") and a state
// (0 "Low", 1 "High"), all "Input" and "Low" at power-up.
#pragma once

#include "protocol/DioFrame.h"

#include <vector>

constexpr int SIM_DEFAULT_DIO_COUNT = 9;
constexpr int SIM_MAX_DIO_COUNT = 255;

class CDioDevice {
public:
    // count is 1 to SIM_MAX_DIO_COUNT; anything else is brought into that range.
    explicit CDioDevice(int count = SIM_DEFAULT_DIO_COUNT);

    int Count() const { return static_cast<int>(m_vecDios.size()); }
    bool IsValidDio(int dio) const { return dio >= 0 && dio < Count(); }

    // dio must be valid.
    DioModeState Get(int dio) const { return m_vecDios[static_cast<std::size_t>(dio)]; }
    // dio must be valid; mode and state are 0 or 1.
    void Set(int dio, int mode, int state);

    // The input level of an "Input" DIO flips, as if the signal on its pin changed. Returns
    // false (and changes nothing) when the DIO is an "Output" or not valid.
    bool ToggleInput(int dio);

    const std::vector<DioModeState>& Table() const { return m_vecDios; }

private:
    std::vector<DioModeState> m_vecDios;
};
