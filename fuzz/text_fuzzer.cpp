// Fuzzes the transfer's text rules and the file reader that applies them.
//
// The input is a file's bytes. When its first byte is a multiple of 8, the file written for the
// reader gets CRs filling nearly one 64 KiB read block in front, as many as the second byte
// chooses, so the input straddles the reader's block boundary.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transmit/text_file_reader.h"
#include "transmit/text_rules.h"

namespace {

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "text_fuzzer: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fault(what);
}

// Dropped by the rules, so the filler adds no writes and costs one NextWrite call.
constexpr char kFiller = '\r';

// What the board must receive: the bytes up to the first Ctrl-Z, CRs removed, each LF as CR LF.
std::string ReferenceLine(std::string_view file) {
    std::string line;
    for (const char c : file) {
        if (c == '\x1a') break;
        if (c == '\r') continue;
        if (c == '\n') line += '\r';
        line += c;
    }
    return line;
}

void CheckWrites(std::string_view file, const std::vector<std::string>& writes) {
    std::string joined;
    for (const std::string& w : writes) {
        Check(w == "\r\n" || (w.size() == 1 && w[0] != '\r' && w[0] != '\n' && w[0] != '\x1a'),
              "a write that is neither one plain byte nor CR LF");
        joined += w;
    }
    Check(joined == ReferenceLine(file), "the line bytes differ from the reference");
}

const std::string& TempPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/quenby-text-fuzzer-" +
               std::to_string(getpid());
    }();
    return path;
}

// Reads the file through the reader and compares its writes, one by one, with `writes`.
void CheckReader(const std::string& path, const std::vector<std::string>& writes) {
    transmit::TextFileReader reader(path);
    Check(reader.IsOpen(), "the reader did not open the file");
    std::size_t n = 0;
    while (const auto w = reader.NextWrite()) {
        Check(n < writes.size() && w->view() == writes[n],
              "the reader disagrees with WritesForFile");
        ++n;
    }
    Check(n == writes.size(), "the reader ended early");
    Check(!reader.NextWrite(), "a write after the end of the data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Byte by byte: the outcome depends on the byte alone.
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned v = data[i];
        transmit::LineWrite w{};
        const auto outcome = transmit::TranslateByte(data[i], w);
        const auto want = v == 0x1A   ? transmit::ByteOutcome::EndOfData
                          : v == 0x0D ? transmit::ByteOutcome::Dropped
                                      : transmit::ByteOutcome::Write;
        Check(outcome == want, "TranslateByte outcome");
        if (outcome == transmit::ByteOutcome::Write)
            Check(w.view() == (v == 0x0A ? std::string("\r\n") : std::string(1, char(v))),
                  "TranslateByte write");
    }

    const std::vector<std::string> writes = transmit::WritesForFile(bytes);
    CheckWrites(bytes, writes);

    const std::size_t filler = size >= 2 && data[0] % 8 == 0 ? 65536 - 32 + data[1] % 64 : 0;
    std::string file(filler, kFiller);
    file += bytes;
    {
        std::FILE* f = std::fopen(TempPath().c_str(), "wb");
        Check(f != nullptr, "cannot write the temp file");
        Check(std::fwrite(file.data(), 1, file.size(), f) == file.size(), "short temp write");
        std::fclose(f);
    }
    CheckReader(TempPath(), writes);
    std::remove(TempPath().c_str());
    return 0;
}
