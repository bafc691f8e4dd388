#include "measure/sample_record.h"

#include <cstdio>

namespace measure {

namespace {

constexpr std::uint8_t kTag[] = {0x61, 0x64, 0x30};  // "ad0"

struct ChannelView {
    std::int32_t& value;
    std::int32_t& max;
    std::int32_t& min;
};

ChannelView ViewOf(ChannelStatistics& s, Channel channel) {
    if (channel == Channel::Ch0) return {s.ad0Value, s.ad0Max, s.ad0Min};
    return {s.ad1Value, s.ad1Max, s.ad1Min};
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string FormatDecimal(std::int32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(n));
    return text;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Display& d) {
    if (d.role == Role::LastRecord) return os << "last record";
    os << (d.channel == Channel::Ch0 ? "ad0 " : "ad1 ");
    switch (d.role) {
        case Role::Maximum:
            return os << "maximum";
        case Role::Minimum:
            return os << "minimum";
        default:
            return os << "difference";
    }
}

std::optional<std::size_t> FindRecord(const Chunk& chunk) {
    for (std::size_t a = 0; a <= kLastRecordStart; ++a) {
        if (chunk.at(a) == kTag[0] && chunk.at(a + 1) == kTag[1] && chunk.at(a + 2) == kTag[2]) {
            return a;
        }
    }
    return std::nullopt;
}

FieldBuffer CutField(const Chunk& chunk, std::size_t offset) {
    FieldBuffer field{};
    for (std::size_t i = 0; i < kFieldSize; ++i) field[i] = static_cast<char>(chunk.at(offset + i));
    field[kFieldSize] = '\0';
    return field;
}

std::string FieldText(const FieldBuffer& field) {
    return std::string(field.data());
}

std::int32_t FieldValue(const FieldBuffer& field) {
    const char* p = field.data();
    while (IsAsciiSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    std::int32_t value = 0;  // at most 8 digits: cannot overflow
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
    return negative ? -value : value;
}

void UpdateChannel(ChannelStatistics& stats, Channel channel, const FieldBuffer& field,
                   std::vector<DisplayUpdate>& updates) {
    ChannelView ch = ViewOf(stats, channel);
    ch.value = FieldValue(field);
    if (ch.max < ch.value) {
        updates.push_back({{Role::Maximum, channel}, FieldText(field)});
        ch.max = ch.value;
    }
    if (ch.value < ch.min) {
        updates.push_back({{Role::Minimum, channel}, FieldText(field)});
        ch.min = ch.value;
    }
    updates.push_back({{Role::Difference, channel}, FormatDecimal(ch.max - ch.min)});
}

std::vector<DisplayUpdate> ProcessRecord(ChannelStatistics& stats, const Chunk& chunk) {
    std::vector<DisplayUpdate> updates;
    const auto start = FindRecord(chunk);
    if (!start) return updates;
    updates.push_back({kLastRecordDisplay, ChunkText(chunk)});
    const FieldBuffer field0 = CutField(chunk, *start + kChannel0FieldOffset);
    const FieldBuffer field1 = CutField(chunk, *start + kChannel1FieldOffset);
    UpdateChannel(stats, Channel::Ch0, field0, updates);
    UpdateChannel(stats, Channel::Ch1, field1, updates);
    return updates;
}

}  // namespace measure
