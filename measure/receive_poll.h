#pragma once

#include <string>
#include <vector>

#include "measure/channel_statistics.h"
#include "measure/sample_record.h"
#include "platform/win_serial.h"

namespace measure {

// What one poll of the port gave: whether a chunk was accepted, its text for the monitor, and the
// display updates of its sample record in the order they are written.
struct PollResult {
    bool accepted = false;
    std::string chunkText;
    std::vector<DisplayUpdate> updates;
};

// One tick's receive path on a port: the status query, then, when bytes wait, a read of at most
// 28 of them (the rest stay queued for the next tick), the acceptance check and the record
// processing. Never waits: it reads only bytes the status query reported.
PollResult PollPort(HANDLE port, ChannelStatistics& stats);

}  // namespace measure
