#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/channel_statistics.h"
#include "measure/chunk.h"
#include "measure/sample_record.h"

namespace measure {

// What one poll of the port gave: whether a chunk was accepted, its text for the monitor, and the
// display updates of its sample record in the order they are written.
struct PollResult {
    bool accepted = false;
    std::string chunkText;
    std::vector<DisplayUpdate> updates;
};

// One tick's receive path on the serial port: the status query, then, when bytes wait, a read
// of at most 28 of them into a cleared RxBuf (the rest stay queued for the next tick), and
// TakeChunk. Never waits: it reads only bytes the status query reported.
PollResult PollPort(ChannelStatistics& stats);

// The acceptance check and the record processing of the chunk one read delivered.
PollResult TakeChunk(const Chunk& chunk, ChannelStatistics& stats);

}  // namespace measure
