#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "transmit/text_rules.h"

namespace transmit {

// Reads a file to be transferred, in blocks, and yields its writes under the text rules. The file
// is opened as raw bytes: the rules are applied here, never by the file layer.
class TextFileReader {
  public:
    explicit TextFileReader(const std::string& path);
    ~TextFileReader();
    TextFileReader(const TextFileReader&) = delete;
    TextFileReader& operator=(const TextFileReader&) = delete;

    // False when the file could not be opened for reading (missing, unreadable, a directory).
    bool IsOpen() const { return file_ != nullptr; }

    // The next write, or nothing at the end of the data: end of file, the first Ctrl-Z, or a
    // failed read.
    std::optional<LineWrite> NextWrite();

    void Close();

  private:
    bool Refill();

    std::FILE* file_ = nullptr;
    std::vector<unsigned char> block_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
};

}  // namespace transmit
