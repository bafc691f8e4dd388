#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace transmit {

inline constexpr std::uint8_t kCR = 0x0D;
inline constexpr std::uint8_t kLF = 0x0A;
inline constexpr std::uint8_t kCtrlZ = 0x1A;

// One write of a transfer: a single byte, or CR LF for a line end.
struct LineWrite {
    std::uint8_t bytes[2];
    std::size_t size;
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes), size}; }
};

// What one file byte becomes under the text rules.
enum class ByteOutcome { Write, Dropped, EndOfData };

// Every CR is dropped, the first Ctrl-Z ends the data, every LF goes out as CR LF in one write,
// and every other byte goes out unchanged. Depends on the byte alone.
ByteOutcome TranslateByte(std::uint8_t in, LineWrite& out);

// The writes a whole file's bytes become, in order.
std::vector<std::string> WritesForFile(std::string_view fileBytes);

}  // namespace transmit
