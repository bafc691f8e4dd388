#include "measure/channel_statistics.h"

namespace measure {

void ResetChannel(ChannelStatistics& stats, Channel channel) {
    if (channel == Channel::Ch0) {
        stats.ad0Max = kResetMax;
        stats.ad0Min = kResetMin;
    } else {
        stats.ad1Max = kResetMax;
        stats.ad1Min = kResetMin;
    }
}

}  // namespace measure
