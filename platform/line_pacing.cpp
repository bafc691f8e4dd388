#include "platform/line_pacing.h"

#include <algorithm>

namespace line_pacing {

std::uint32_t BytesPerSecond(std::uint32_t bitsPerSecond, std::uint32_t bitsPerCharacter) {
    return bitsPerCharacter == 0 ? 0 : bitsPerSecond / bitsPerCharacter;
}

std::uint32_t QueueLimit(std::uint32_t bytesPerSecond) {
    if (bytesPerSecond == 0) return 0;
    const std::uint64_t bytes = std::uint64_t{bytesPerSecond} * kQueuedLineTime.count() / 1000;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(bytes, 1));
}

std::uint32_t BytesToQueue(std::uint32_t queued, std::uint32_t toWrite,
                           std::uint32_t bytesPerSecond) {
    const std::uint32_t limit = QueueLimit(bytesPerSecond);
    if (limit == 0) return toWrite;
    return queued >= limit ? 0 : std::min(toWrite, limit - queued);
}

std::chrono::microseconds DrainWait(std::uint32_t queued, std::uint32_t bytesPerSecond) {
    const std::chrono::microseconds cap = kCloseWait;
    if (queued == 0) return std::chrono::microseconds{0};
    if (bytesPerSecond == 0) return cap;
    const std::uint64_t us = std::uint64_t{queued} * 1000000 / bytesPerSecond;
    return std::min(cap, std::chrono::microseconds{static_cast<std::int64_t>(us)});
}

}  // namespace line_pacing
