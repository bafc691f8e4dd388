#include "transmit/text_rules.h"

namespace transmit {

ByteOutcome TranslateByte(std::uint8_t in, LineWrite& out) {
    if (in == kCtrlZ) return ByteOutcome::EndOfData;
    if (in == kCR) return ByteOutcome::Dropped;
    if (in == kLF) {
        out = {{kCR, kLF}, 2};
    } else {
        out = {{in, 0}, 1};
    }
    return ByteOutcome::Write;
}

std::vector<std::string> WritesForFile(std::string_view fileBytes) {
    std::vector<std::string> writes;
    LineWrite w{};
    for (const char c : fileBytes) {
        const ByteOutcome outcome = TranslateByte(static_cast<std::uint8_t>(c), w);
        if (outcome == ByteOutcome::EndOfData) break;
        if (outcome == ByteOutcome::Write) writes.emplace_back(w.view());
    }
    return writes;
}

}  // namespace transmit
