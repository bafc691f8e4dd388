#include "measure/chunk.h"

namespace measure {

namespace {
constexpr std::size_t kAcceptanceOffset = 22;
constexpr int kAcceptanceFloor = 0x2F;
}  // namespace

bool IsAccepted(const Chunk& chunk) {
    const auto signedByte = static_cast<std::int8_t>(chunk.at(kAcceptanceOffset));
    return signedByte > kAcceptanceFloor;
}

std::string ChunkText(const Chunk& chunk) {
    std::string text;
    for (std::size_t i = 0; i < chunk.size() && chunk.at(i) != 0; ++i) {
        text.push_back(static_cast<char>(chunk.at(i)));
    }
    return text;
}

}  // namespace measure
