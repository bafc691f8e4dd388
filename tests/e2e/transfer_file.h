#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace e2e {

// A large S file and the bytes its transfer puts on the line: record lines of hex digits ending in
// LF or CR LF, both of which go out as CR LF.
struct TransferFile {
    std::string file, wire;
};

inline TransferFile MakeTransferFile(std::size_t size, std::uint32_t seed) {
    static const char kHex[] = "0123456789ABCDEF";
    std::mt19937 rng(seed);
    TransferFile t;
    t.file.reserve(size + 100);
    t.wire.reserve(size + size / 16);
    while (t.file.size() < size) {
        std::string line = "S1";
        const std::size_t digits = 8 + rng() % 70;
        for (std::size_t i = 0; i < digits; ++i) line += kHex[rng() % 16];
        t.file += line + (rng() % 2 ? "\n" : "\r\n");
        t.wire += line + "\r\n";
    }
    return t;
}

}  // namespace e2e
