// Fuzzes the receive-side record logic against a model written from the board's protocol.
//
// The input is a run of chunks over one ChannelStatistics, as the ticks of one session see them.
// Each chunk starts with a control byte: 0xFE and 0xFF reset channel 0 or 1 (CLR0, CLR1);
// otherwise its low five bits give the chunk length (0..31; the chunk keeps at most 28), and that
// many bytes follow.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "measure/channel_statistics.h"
#include "measure/chunk.h"
#include "measure/sample_record.h"

namespace {

using measure::Channel;
using measure::ChannelStatistics;
using measure::Chunk;
using measure::Display;
using measure::DisplayUpdate;
using measure::Role;

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "record_fuzzer: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fault(what);
}

// The received bytes, read as the board's protocol says: offsets past the read are 0.
struct Bytes {
    const std::uint8_t* data;
    std::size_t count;
    std::uint8_t at(std::size_t i) const { return i < count && i < 28 ? data[i] : 0; }
};

// Text up to the first 0, of at most `limit` bytes from `from`.
std::string TextAt(const Bytes& b, std::size_t from, std::size_t limit) {
    std::string s;
    for (std::size_t i = from; i < from + limit && b.at(i) != 0; ++i) s.push_back(char(b.at(i)));
    return s;
}

// The C library's decimal conversion, in the "C" locale the fuzzer runs in.
std::int32_t ReferenceValue(const std::string& text) {
    return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

struct ChannelModel {
    std::int32_t* value;
    std::int32_t* max;
    std::int32_t* min;
    Channel channel;
};

void ModelChannel(const ChannelModel& ch, const std::string& field,
                  std::vector<DisplayUpdate>& updates) {
    *ch.value = ReferenceValue(field);
    if (*ch.value > *ch.max) {
        *ch.max = *ch.value;
        updates.push_back({{Role::Maximum, ch.channel}, field});
    }
    if (*ch.value < *ch.min) {
        *ch.min = *ch.value;
        updates.push_back({{Role::Minimum, ch.channel}, field});
    }
    updates.push_back(
        {{Role::Difference, ch.channel}, std::to_string(std::int64_t{*ch.max} - *ch.min)});
}

std::vector<DisplayUpdate> ModelRecord(ChannelStatistics& s, const Bytes& b) {
    std::vector<DisplayUpdate> updates;
    for (std::size_t a = 0; a <= 24; ++a) {
        if (b.at(a) != 'a' || b.at(a + 1) != 'd' || b.at(a + 2) != '0') continue;
        updates.push_back({{Role::LastRecord, Channel::Ch0}, TextAt(b, 0, 28)});
        ModelChannel({&s.ad0Value, &s.ad0Max, &s.ad0Min, Channel::Ch0}, TextAt(b, a + 4, 8),
                     updates);
        ModelChannel({&s.ad1Value, &s.ad1Max, &s.ad1Min, Channel::Ch1}, TextAt(b, a + 16, 8),
                     updates);
        break;
    }
    return updates;
}

bool SameStats(const ChannelStatistics& x, const ChannelStatistics& y) {
    return x.ad0Value == y.ad0Value && x.ad0Max == y.ad0Max && x.ad0Min == y.ad0Min &&
           x.ad1Value == y.ad1Value && x.ad1Max == y.ad1Max && x.ad1Min == y.ad1Min;
}

// The updates of one record come in this order, each display at most once, and the last record
// and both difference displays of a record always come.
void CheckOrder(const std::vector<DisplayUpdate>& updates) {
    if (updates.empty()) return;
    static const Display kOrder[] = {
        {Role::LastRecord, Channel::Ch0}, {Role::Maximum, Channel::Ch0},
        {Role::Minimum, Channel::Ch0},    {Role::Difference, Channel::Ch0},
        {Role::Maximum, Channel::Ch1},    {Role::Minimum, Channel::Ch1},
        {Role::Difference, Channel::Ch1},
    };
    std::size_t next = 0;
    std::vector<std::size_t> seen;
    for (const DisplayUpdate& u : updates) {
        while (next < 7 && !(u.display == kOrder[next])) ++next;
        Check(next < 7, "a display update out of order or unknown");
        seen.push_back(next++);
    }
    const bool diff0 = std::find(seen.begin(), seen.end(), 3) != seen.end();
    Check(seen.front() == 0 && diff0 && seen.back() == 6,
          "a record without its last record or a difference display");
}

void CheckChunk(ChannelStatistics& stats, ChannelStatistics& model, const std::uint8_t* bytes,
                std::size_t count) {
    // Exactly the received bytes on the heap, so a read past them is caught.
    std::vector<std::uint8_t> owned(bytes, bytes + count);
    const Chunk chunk(owned.data(), count);
    const Bytes ref{owned.data(), count};

    Check(chunk.size() == (count < 28 ? count : 28), "chunk size");
    for (std::size_t i = 0; i < 40; ++i) Check(chunk.at(i) == ref.at(i), "chunk byte");
    Check(measure::IsAccepted(chunk) == (static_cast<std::int8_t>(ref.at(22)) > 0x2F),
          "acceptance");
    Check(measure::ChunkText(chunk) == TextAt(ref, 0, 28), "chunk text");

    for (std::size_t offset = 0; offset <= 28; ++offset) {
        const measure::FieldBuffer field = measure::CutField(chunk, offset);
        Check(field[8] == '\0', "field not terminated");
        Check(measure::FieldText(field) == TextAt(ref, offset, 8), "field text");
        Check(measure::FieldValue(field) == ReferenceValue(TextAt(ref, offset, 8)),
              "field value differs from strtol");
    }

    const ChannelStatistics before = stats;
    const std::vector<DisplayUpdate> got = measure::ProcessRecord(stats, chunk);
    const std::vector<DisplayUpdate> want = ModelRecord(model, ref);
    Check(got == want, "display updates differ from the model");
    Check(SameStats(stats, model), "statistics differ from the model");
    CheckOrder(got);
    if (got.empty()) {
        Check(SameStats(stats, before), "a chunk without a record changed the statistics");
    } else {
        Check(stats.ad0Max >= stats.ad0Value && stats.ad0Value >= stats.ad0Min, "ch0 bounds");
        Check(stats.ad1Max >= stats.ad1Value && stats.ad1Value >= stats.ad1Min, "ch1 bounds");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ChannelStatistics stats, model;
    for (const auto ch : {measure::Channel::Ch0, measure::Channel::Ch1}) {
        measure::ResetChannel(stats, ch);
        measure::ResetChannel(model, ch);
    }
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t control = data[i++];
        if (control >= 0xFE) {
            const auto ch = control == 0xFE ? measure::Channel::Ch0 : measure::Channel::Ch1;
            measure::ResetChannel(stats, ch);
            (ch == measure::Channel::Ch0 ? model.ad0Max : model.ad1Max) = measure::kResetMax;
            (ch == measure::Channel::Ch0 ? model.ad0Min : model.ad1Min) = measure::kResetMin;
            Check(SameStats(stats, model), "reset");
            continue;
        }
        std::size_t count = control & 0x1F;
        if (count > size - i) count = size - i;
        CheckChunk(stats, model, data + i, count);
        i += count;
    }
    return 0;
}
