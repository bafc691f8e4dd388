#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "measure/channel_statistics.h"
#include "measure/chunk.h"

namespace measure {

// Start offsets searched for the record tag "ad0".
inline constexpr std::size_t kLastRecordStart = 24;
// Where the two 8-byte channel fields sit inside a record.
inline constexpr std::size_t kChannel0FieldOffset = 4;
inline constexpr std::size_t kChannel1FieldOffset = 16;
inline constexpr std::size_t kFieldSize = 8;

// A channel field cut out of the chunk: 8 bytes and a terminating 0.
using FieldBuffer = std::array<char, kFieldSize + 1>;

// The lowest start offset from 0 to 24 holding "ad0", if any.
std::optional<std::size_t> FindRecord(const Chunk& chunk);

// The 8 bytes at offset..offset+7, terminated.
FieldBuffer CutField(const Chunk& chunk, std::size_t offset);

// The field's text: its bytes up to the first 0, at most 8.
std::string FieldText(const FieldBuffer& field);

// Decimal conversion: skip the six ASCII white-space bytes, an optional sign, then digits up to
// the first non-digit. No digits gives 0. Independent of the process locale.
std::int32_t FieldValue(const FieldBuffer& field);

// What a display shows: the last record, or one channel's maximum, minimum or difference.
enum class Role { LastRecord, Maximum, Minimum, Difference };

// The display an update is for. The last record is one display for both channels and always
// carries Ch0.
struct Display {
    Role role;
    Channel channel = Channel::Ch0;
    bool operator==(const Display&) const = default;
};

inline constexpr Display kLastRecordDisplay{Role::LastRecord};

// A new text for one display, as raw bytes.
struct DisplayUpdate {
    Display display;
    std::string text;
    bool operator==(const DisplayUpdate&) const = default;
};

// Readable test failures: "ad1 minimum", "last record".
std::ostream& operator<<(std::ostream& os, const Display& d);

inline std::ostream& operator<<(std::ostream& os, const DisplayUpdate& u) {
    return os << u.display << "=\"" << u.text << "\"";
}

// Runs the record scan on an accepted chunk and, for a record, cuts both fields and updates both
// channels. Returns the display updates in order: the last record, then for channel 0 and then
// channel 1 its maximum (when it rose), minimum (when it fell) and difference (always). A chunk
// without a record yields nothing and changes nothing.
std::vector<DisplayUpdate> ProcessRecord(ChannelStatistics& stats, const Chunk& chunk);

// One channel's update with its field; appends the channel's display updates.
void UpdateChannel(ChannelStatistics& stats, Channel channel, const FieldBuffer& field,
                   std::vector<DisplayUpdate>& updates);

}  // namespace measure
