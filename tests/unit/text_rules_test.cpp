#include "transmit/text_rules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "tests/support/temp_dir.h"
#include "transmit/text_file_reader.h"

namespace {

std::string B(std::initializer_list<int> v) {
    std::string s;
    for (int c : v) s.push_back(static_cast<char>(c));
    return s;
}

struct RuleCase {
    const char* what;
    std::string file;
    std::vector<std::string> writes;
};

const std::vector<RuleCase>& Cases() {
    static const std::vector<RuleCase> cases = {
        {"CR LF and lone LF", B({0x41, 0x0D, 0x0A, 0x42, 0x0A}), {"A", "\r\n", "B", "\r\n"}},
        {"lone CR joins", B({0x41, 0x0D, 0x42}), {"A", "B"}},
        {"Ctrl-Z ends", B({0x41, 0x1A, 0x42, 0x0A}), {"A"}},
        {"high bytes pass", B({0x41, 0xFF, 0x42}), {"A", B({0xFF}), "B"}},
        {"empty file", "", {}},
        {"starts with Ctrl-Z", B({0x1A, 0x41}), {}},
        {"only CRs", "\r\r\r", {}},
        {"CR-only line ends", "L1\rL2\r", {"L", "1", "L", "2"}},
        {"CR CR LF", "A\r\r\n", {"A", "\r\n"}},
        {"CR before Ctrl-Z", B({0x41, 0x0D, 0x1A, 0x0A}), {"A"}},
        {"0x00 and 0x80..", B({0x00, 0x80, 0x9F, 0xE0}), {B({0}), B({0x80}), B({0x9F}), B({0xE0})}},
        {"no last line end", "S0\nS9", {"S", "0", "\r\n", "S", "9"}},
    };
    return cases;
}

std::vector<std::string> ReadWrites(const std::string& path) {
    transmit::TextFileReader reader(path);
    EXPECT_TRUE(reader.IsOpen());
    std::vector<std::string> writes;
    while (auto w = reader.NextWrite()) writes.emplace_back(w->view());
    return writes;
}

}  // namespace

TEST(TextRules, TableOfFiles) {
    for (const auto& c : Cases()) EXPECT_EQ(transmit::WritesForFile(c.file), c.writes) << c.what;
}

TEST(TextFileReader, GivesTheSameWritesAsTheRulesAcrossBlockBoundaries) {
    const quenby_test::TempDir dir("quenby-rules");
    for (const auto& c : Cases()) {
        const std::string path = dir.Write("case.s", c.file);
        EXPECT_EQ(ReadWrites(path), c.writes) << c.what;
    }
    // A file larger than one read block, with line ends and a late Ctrl-Z.
    std::mt19937 rng(7);
    std::string big(300000, '\0');
    for (auto& ch : big) {
        const unsigned v = rng() % 256;
        ch = static_cast<char>(v == 0x1A ? 'z' : v);
    }
    big[250001] = 0x1A;
    const std::string path = dir.Write("big.s", big);
    EXPECT_EQ(ReadWrites(path), transmit::WritesForFile(big));
}

TEST(TextFileReader, MissingFilesAndDirectoriesDoNotOpen) {
    EXPECT_FALSE(transmit::TextFileReader("/nonexistent/file.s").IsOpen());
    EXPECT_FALSE(transmit::TextFileReader("/tmp").IsOpen());
}
