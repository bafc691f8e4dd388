#include "transmit/text_file_reader.h"

#include <sys/stat.h>

namespace transmit {

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;
}

TextFileReader::TextFileReader(const std::string& path) : block_(kBlockSize) {
    file_ = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (file_ && (fstat(fileno(file_), &st) != 0 || S_ISDIR(st.st_mode))) Close();
}

TextFileReader::~TextFileReader() {
    Close();
}

void TextFileReader::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool TextFileReader::Refill() {
    if (!file_) return false;
    end_ = std::fread(block_.data(), 1, block_.size(), file_);
    pos_ = 0;
    return end_ > 0;  // end of file and a failed read both end the data
}

std::optional<LineWrite> TextFileReader::NextWrite() {
    LineWrite w{};
    while (!ended_) {
        if (pos_ == end_ && !Refill()) break;
        switch (TranslateByte(block_[pos_++], w)) {
            case ByteOutcome::Write:
                return w;
            case ByteOutcome::Dropped:
                continue;
            case ByteOutcome::EndOfData:
                ended_ = true;
                break;
        }
    }
    ended_ = true;
    return std::nullopt;
}

}  // namespace transmit
