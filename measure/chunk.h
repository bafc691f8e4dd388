#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace measure {

// One tick's receive buffer, RxBuf: 28 bytes, of which offsets 0 to 24 are cleared before a read.
inline constexpr std::size_t kRxBufSize = 28;
inline constexpr std::size_t kRxClearedSize = 25;

// The bytes one read placed at the start of RxBuf. Every offset the read did not fill reads as 0,
// inside the buffer or past its end, so nothing outside the received bytes is ever looked at.
class Chunk {
  public:
    Chunk(const std::uint8_t* bytes, std::size_t count)
        : bytes_(bytes), count_(count < kRxBufSize ? count : kRxBufSize) {}

    std::uint8_t at(std::size_t offset) const { return offset < count_ ? bytes_[offset] : 0; }
    std::size_t size() const { return count_; }
    const std::uint8_t* data() const { return bytes_; }

  private:
    const std::uint8_t* bytes_;
    std::size_t count_;
};

// The acceptance check: the byte at offset 22, taken as signed 8-bit, is greater than 0x2F.
bool IsAccepted(const Chunk& chunk);

// The received bytes up to, not including, the first 0 byte; raw, without code-page conversion.
std::string ChunkText(const Chunk& chunk);

}  // namespace measure
