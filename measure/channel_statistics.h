#pragma once

#include <cstdint>

namespace measure {

enum class Channel { Ch0 = 0, Ch1 = 1 };

inline constexpr std::int32_t kResetMax = 0;
inline constexpr std::int32_t kResetMin = 99999999;

// The six running statistics of both channels. The main window inherits them as its own fields.
// The value fields are never reset; each is written before it is read.
struct ChannelStatistics {
    std::int32_t ad0Value = 0;
    std::int32_t ad0Max = kResetMax;
    std::int32_t ad0Min = kResetMin;
    std::int32_t ad1Value = 0;
    std::int32_t ad1Max = kResetMax;
    std::int32_t ad1Min = kResetMin;
};

// Sets the channel's maximum to 0 and its minimum to 99999999; writes no display.
void ResetChannel(ChannelStatistics& stats, Channel channel);

}  // namespace measure
