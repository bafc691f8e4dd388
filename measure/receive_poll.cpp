#include "measure/receive_poll.h"

#include <algorithm>
#include <cstring>

namespace measure {

PollResult PollPort(HANDLE port, ChannelStatistics& stats) {
    PollResult result;
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);
    if (status.cbInQue == 0) return result;

    std::uint8_t RxBuf[kRxBufSize];
    std::memset(RxBuf, 0, sizeof RxBuf);
    DWORD received = 0;
    const DWORD toRead = std::min<DWORD>(status.cbInQue, kRxBufSize);
    if (!ReadFile(port, RxBuf, toRead, &received, nullptr)) received = 0;

    const Chunk chunk(RxBuf, std::min<DWORD>(received, kRxBufSize));
    if (!IsAccepted(chunk)) return result;
    result.accepted = true;
    result.chunkText = ChunkText(chunk);
    result.updates = ProcessRecord(stats, chunk);
    return result;
}

}  // namespace measure
