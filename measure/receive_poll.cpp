#include "measure/receive_poll.h"

#include <algorithm>
#include <cstring>

#include "serial/port_io.h"

namespace measure {

PollResult PollPort(ChannelStatistics& stats) {
    const std::size_t waiting = serial::BytesWaiting();
    if (waiting == 0) return PollResult{};

    std::uint8_t RxBuf[kRxBufSize];
    std::memset(RxBuf, 0, sizeof RxBuf);
    const std::size_t received = serial::Read(RxBuf, std::min(waiting, kRxBufSize));
    return TakeChunk(Chunk(RxBuf, received), stats);
}

PollResult TakeChunk(const Chunk& chunk, ChannelStatistics& stats) {
    PollResult result;
    if (!IsAccepted(chunk)) return result;
    result.accepted = true;
    result.chunkText = ChunkText(chunk);
    result.updates = ProcessRecord(stats, chunk);
    return result;
}

}  // namespace measure
