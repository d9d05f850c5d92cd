// The words for a DIO's mode and state.
#include "protocol/DioWords.h"

#include "protocol/DioFrame.h"

#include <array>
#include <string_view>

namespace {
constexpr std::array<const char*, 2> MODE_WORDS{"Input", "Output"};
constexpr std::array<const char*, 2> STATE_WORDS{"Low", "High"};
constexpr std::array<const char*, 2> MODE_KEYS{"input", "output"};
constexpr std::array<const char*, 2> STATE_KEYS{"low", "high"};

std::size_t ModeIndex(int mode) {
    return mode == DIO_MODE_OUTPUT ? 1 : 0;
}
std::size_t StateIndex(int state) {
    return state == DIO_STATE_HIGH ? 1 : 0;
}

bool Find(const std::array<const char*, 2>& keys, std::string_view word, int& value) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (std::string_view(keys[i]) == word) {
            value = static_cast<int>(i);
            return true;
        }
    }
    return false;
}
} // namespace

static_assert(DIO_MODE_INPUT == 0 && DIO_MODE_OUTPUT == 1 && DIO_STATE_LOW == 0 &&
              DIO_STATE_HIGH == 1);

const char* DioModeWord(int mode) {
    return MODE_WORDS[ModeIndex(mode)];
}
const char* DioStateWord(int state) {
    return STATE_WORDS[StateIndex(state)];
}
const char* DioModeKey(int mode) {
    return MODE_KEYS[ModeIndex(mode)];
}
const char* DioStateKey(int state) {
    return STATE_KEYS[StateIndex(state)];
}
bool ParseDioModeKey(std::string_view word, int& value) {
    return Find(MODE_KEYS, word, value);
}
bool ParseDioStateKey(std::string_view word, int& value) {
    return Find(STATE_KEYS, word, value);
}
