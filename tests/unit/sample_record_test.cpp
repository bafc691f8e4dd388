#include "measure/sample_record.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using measure::Channel;
using measure::ChannelStatistics;
using measure::Chunk;
using measure::Display;
using measure::DisplayUpdate;
using measure::Role;

namespace {

// The seven displays a record can update.
constexpr Display kRecord = measure::kLastRecordDisplay;
constexpr Display kMax0{Role::Maximum, Channel::Ch0}, kMin0{Role::Minimum, Channel::Ch0},
    kDiff0{Role::Difference, Channel::Ch0};
constexpr Display kMax1{Role::Maximum, Channel::Ch1}, kMin1{Role::Minimum, Channel::Ch1},
    kDiff1{Role::Difference, Channel::Ch1};

// A chunk as a read leaves it: the received bytes at the start of a 28-byte buffer whose first
// 25 bytes were cleared and whose last 3 hold junk, which must never be seen.
struct RxFixture {
    std::uint8_t buf[measure::kRxBufSize];
    std::size_t count;
    explicit RxFixture(const std::string& bytes) : count(bytes.size()) {
        for (auto& b : buf) b = 0xEE;
        for (std::size_t i = 0; i < measure::kRxClearedSize; ++i) buf[i] = 0;
        for (std::size_t i = 0; i < bytes.size() && i < sizeof buf; ++i) buf[i] = bytes[i];
    }
    Chunk chunk() const { return Chunk(buf, count); }
};

// "ad0:" + field0 + "ad1:" + field1, the board's record layout.
std::string Record(const std::string& f0, const std::string& f1) {
    return "ad0:" + f0 + "ad1:" + f1;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace

TEST(Acceptance, ByteAtOffset22DecidesSignedAgainst0x2F) {
    struct Case {
        std::string bytes;
        bool accepted;
    };
    const std::string pad22(22, 'x');
    const std::vector<Case> cases = {
        {pad22 + Bytes({0x2F}), false},
        {pad22 + Bytes({0x30}), true},
        {pad22 + Bytes({0x7F}), true},
        {pad22 + Bytes({0x80}), false},
        {pad22 + Bytes({0xFF}), false},
        {pad22, false},       // 22 bytes: never
        {pad22 + "0", true},  // 23 bytes
        {std::string(28, '9'), true},
        {"", false},
        {Record("00001234", "00005678").substr(0, 22) + Bytes({0x2F}), false},
    };
    for (const auto& c : cases) {
        RxFixture rx(c.bytes);
        EXPECT_EQ(measure::IsAccepted(rx.chunk()), c.accepted) << "size " << c.bytes.size();
    }
}

TEST(ChunkText, StopsAtFirstZeroAndNeverPassesTheReceivedBytes) {
    struct Case {
        std::string bytes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"abc", "abc"},
        {Bytes({'a', 0, 'b'}), "a"},
        {Bytes({0, 'a'}), ""},
        {std::string(28, 'z'), std::string(28, 'z')},
        {Bytes({0x82, 0xA0, 0xFF}), Bytes({0x82, 0xA0, 0xFF})},
    };
    for (const auto& c : cases) {
        RxFixture rx(c.bytes);
        EXPECT_EQ(measure::ChunkText(rx.chunk()), c.text);
    }
}

TEST(RecordScan, FindsLowestTagFromOffset0To24) {
    struct Case {
        std::string bytes;
        std::optional<std::size_t> start;
    };
    const std::string rec = Record("00000001", "00000002");
    const std::vector<Case> cases = {
        {rec, 0},
        {"xxxx" + rec, 4},
        {"xxxxx" + rec, 5},
        {std::string(24, '0') + "ad0", 24},
        {std::string(25, '0') + "ad0", std::nullopt},  // start 25 is not searched
        {"ad0:12ad0:34" + std::string(16, '5'), 0},    // two tags: the lower wins
        {Bytes({0}) + "ad0", 1},                       // a 0 ahead does not hide the tag
        {std::string(24, '0') + "ad", std::nullopt},   // tag would need an unreceived byte
        {"AD0:" + std::string(20, '1'), std::nullopt},
    };
    for (const auto& c : cases) {
        RxFixture rx(c.bytes);
        EXPECT_EQ(measure::FindRecord(rx.chunk()), c.start) << c.bytes;
    }
}

TEST(FieldValue, FollowsTheFourConversionSteps) {
    struct Case {
        std::string field;
        std::int32_t value;
    };
    const std::vector<Case> cases = {
        {"00001234", 1234},
        {"  -00012", -12},
        {"+0000012", 12},
        {"99999999", 99999999},
        {"-9999999", -9999999},
        {"        ", 0},
        {"abcdefgh", 0},
        {"--123456", 0},
        {"12 34567", 12},
        {"\t\n\v\f\r 42", 42},
        {Bytes({'1', '2', 0, '3', '4', '5', '6', '7'}), 12},
        {Bytes({0xA0, '1', '2', '3', '4', '5', '6', '7'}), 0},  // 0xA0 is no white space
        {Bytes({0x85, ' ', '7', ' ', ' ', ' ', ' ', ' '}), 0},
        {"-", 0},
    };
    for (const auto& c : cases) {
        measure::FieldBuffer f{};
        for (std::size_t i = 0; i < c.field.size() && i < measure::kFieldSize; ++i)
            f[i] = c.field[i];
        EXPECT_EQ(measure::FieldValue(f), c.value) << c.field;
    }
}

TEST(FieldCut, EachFieldIsEightBytesAndATerminator) {
    RxFixture rx(Record("ABCDEFGH", "IJKLMNOP") + "QRST");
    const auto c = rx.chunk();
    EXPECT_EQ(measure::FieldText(measure::CutField(c, 4)), "ABCDEFGH");
    EXPECT_EQ(measure::FieldText(measure::CutField(c, 16)), "IJKLMNOP");
    // A field reaching past the received bytes reads 0 there, never the buffer's junk.
    RxFixture short23(Record("00000001", "0000002"));
    EXPECT_EQ(measure::FieldText(measure::CutField(short23.chunk(), 16)), "0000002");
    EXPECT_EQ(measure::FieldText(measure::CutField(short23.chunk(), 24)), "");
}

TEST(ProcessRecord, FirstRecordAfterResetSetsBothDisplaysAndZeroDifference) {
    ChannelStatistics s;
    RxFixture rx(Record("00001234", "  -00012") + "\r\n");
    const auto updates = measure::ProcessRecord(s, rx.chunk());
    const std::vector<DisplayUpdate> expected = {
        {kRecord, Record("00001234", "  -00012") + "\r\n"},
        {kMax0, "00001234"},
        {kMin0, "00001234"},
        {kDiff0, "0"},
        {kMin1, "  -00012"},  // negative: maximum stays 0
        {kDiff1, "12"},
    };
    EXPECT_EQ(updates, expected);
    EXPECT_EQ(s.ad0Value, 1234);
    EXPECT_EQ(s.ad0Max, 1234);
    EXPECT_EQ(s.ad0Min, 1234);
    EXPECT_EQ(s.ad1Value, -12);
    EXPECT_EQ(s.ad1Max, 0);
    EXPECT_EQ(s.ad1Min, -12);
}

// A run of records through one channel: which displays each record changes.
TEST(ProcessRecord, SequencesOfValuesMoveMaxAndMinStrictly) {
    struct Step {
        std::string field0;
        std::vector<DisplayUpdate> ch0Updates;  // channel 0's part of the updates
        std::int32_t max, min;
        bool resetBefore = false;
    };
    const std::vector<Step> steps = {
        {"00000500", {{kMax0, "00000500"}, {kMin0, "00000500"}, {kDiff0, "0"}}, 500, 500},
        {"00000500", {{kDiff0, "0"}}, 500, 500},  // equal: nothing moves
        {"00000700", {{kMax0, "00000700"}, {kDiff0, "200"}}, 700, 500},
        {"     300", {{kMin0, "     300"}, {kDiff0, "400"}}, 700, 300},
        {"00000700", {{kDiff0, "400"}}, 700, 300},
        // After a reset, 0 moves only the minimum, 99999999 only the maximum.
        {"00000000", {{kMin0, "00000000"}, {kDiff0, "0"}}, 0, 0, true},
        {"99999999", {{kMax0, "99999999"}, {kDiff0, "99999999"}}, 99999999, 0},
        {"99999999", {{kMax0, "99999999"}, {kDiff0, "0"}}, 99999999, 99999999, true},
        {"no digit", {{kMin0, "no digit"}, {kDiff0, "0"}}, 0, 0, true},
    };
    ChannelStatistics s;
    for (const auto& step : steps) {
        if (step.resetBefore) measure::ResetChannel(s, measure::Channel::Ch0);
        RxFixture rx(Record(step.field0, "00000001"));
        auto updates = measure::ProcessRecord(s, rx.chunk());
        std::vector<DisplayUpdate> ch0;
        for (const auto& u : updates)
            if (u.display.channel == Channel::Ch0 && u.display.role != Role::LastRecord)
                ch0.push_back(u);
        EXPECT_EQ(ch0, step.ch0Updates) << step.field0;
        EXPECT_EQ(s.ad0Max, step.max) << step.field0;
        EXPECT_EQ(s.ad0Min, step.min) << step.field0;
    }
}

TEST(ProcessRecord, AllNegativeChannelKeepsMaximumAtZero) {
    ChannelStatistics s;
    for (const char* f : {"-0000010", "-0000050", "-0000020"}) {
        RxFixture rx(Record(f, "00000001"));
        measure::ProcessRecord(s, rx.chunk());
    }
    EXPECT_EQ(s.ad0Max, 0);
    EXPECT_EQ(s.ad0Min, -50);
    RxFixture rx(Record("-0000030", "00000001"));
    const auto updates = measure::ProcessRecord(s, rx.chunk());
    EXPECT_EQ(updates[1], (DisplayUpdate{kDiff0, "50"}));
}

TEST(ProcessRecord, ResetTouchesOnlyItsChannelAndNoDisplay) {
    ChannelStatistics s;
    RxFixture rx(Record("00000100", "00000200"));
    measure::ProcessRecord(s, rx.chunk());
    measure::ResetChannel(s, measure::Channel::Ch1);
    EXPECT_EQ(s.ad0Max, 100);
    EXPECT_EQ(s.ad0Min, 100);
    EXPECT_EQ(s.ad1Max, 0);
    EXPECT_EQ(s.ad1Min, 99999999);
    EXPECT_EQ(s.ad1Value, 200);
    measure::ResetChannel(s, measure::Channel::Ch0);
    EXPECT_EQ(s.ad0Value, 100);
    EXPECT_EQ(s.ad0Max, 0);
    EXPECT_EQ(s.ad0Min, 99999999);
}

TEST(ProcessRecord, ZeroBytesShortenTextsButDoNotHideTheRecord) {
    ChannelStatistics s;
    // A 0 ahead of the tag: the last record display gets the empty chunk text; a 0 inside a field
    // ends it.
    RxFixture rx(Bytes({0}) + "ad0:" + Bytes({'0', '0', '4', '2', 0, '9', '9', '9'}) +
                 "ad1:" + "00000007");
    const auto updates = measure::ProcessRecord(s, rx.chunk());
    ASSERT_GE(updates.size(), 3u);
    EXPECT_EQ(updates[0], (DisplayUpdate{kRecord, ""}));
    EXPECT_EQ(updates[1], (DisplayUpdate{kMax0, "0042"}));
    EXPECT_EQ(s.ad0Value, 42);
    EXPECT_EQ(s.ad1Value, 7);
}

TEST(ProcessRecord, TwentyThreeByteRecordHasSevenCharacterChannel1Field) {
    ChannelStatistics s;
    RxFixture rx(Record("00000001", "1234567"));
    ASSERT_TRUE(measure::IsAccepted(rx.chunk()));
    const auto updates = measure::ProcessRecord(s, rx.chunk());
    EXPECT_EQ(updates.back(), (DisplayUpdate{kDiff1, "0"}));
    EXPECT_EQ(updates[updates.size() - 2], (DisplayUpdate{kMin1, "1234567"}));
    EXPECT_EQ(s.ad1Value, 1234567);
}

TEST(ProcessRecord, RecordAtHighOffsetReadsUnreceivedBytesAsZero) {
    ChannelStatistics s;
    // Tag at 24, 28 bytes received: fields lie past the buffer and read as empty.
    RxFixture rx(std::string(22, 'x') + "5xad0:");
    const auto updates = measure::ProcessRecord(s, rx.chunk());
    const std::vector<DisplayUpdate> expected = {
        {kRecord, std::string(22, 'x') + "5xad0:"},
        {kMin0, ""},
        {kDiff0, "0"},
        {kMin1, ""},
        {kDiff1, "0"},
    };
    EXPECT_EQ(updates, expected);
}

TEST(ProcessRecord, ChunkWithoutTagChangesNothing) {
    ChannelStatistics s;
    s.ad0Value = 5;
    RxFixture rx(std::string(28, '7'));
    EXPECT_TRUE(measure::ProcessRecord(s, rx.chunk()).empty());
    EXPECT_EQ(s.ad0Value, 5);
    EXPECT_EQ(s.ad0Max, 0);
    EXPECT_EQ(s.ad0Min, 99999999);
}

// Random chunks of 0 to 28 bytes: no out-of-bounds read (the sanitizers watch), and after every
// record the maximum is at or above every value since the last reset, the minimum at or below.
TEST(ProcessRecord, RandomChunksKeepTheInvariants) {
    std::mt19937 rng(20261211);
    static const char kAlphabet[] = "ad0ad0 +-0123456789\x00\x80\xff";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    ChannelStatistics s;
    std::int32_t seenMax0 = 0, seenMin0 = measure::kResetMin;
    int records = 0;
    for (int iter = 0; iter < 200000; ++iter) {
        const std::size_t n = rng() % (measure::kRxBufSize + 1);
        std::vector<std::uint8_t> heap(n);  // exactly n bytes: any overread is caught
        for (auto& b : heap) {
            b = (rng() % 4 == 0) ? static_cast<std::uint8_t>(rng())
                                 : static_cast<std::uint8_t>(alphabet[rng() % alphabet.size()]);
        }
        if (n >= 3 && rng() % 3 == 0) {
            const std::size_t at = rng() % (n - 2);
            heap[at] = 'a', heap[at + 1] = 'd', heap[at + 2] = '0';
        }
        const Chunk chunk(heap.data(), n);
        if (!measure::IsAccepted(chunk)) continue;
        const auto updates = measure::ProcessRecord(s, chunk);
        if (updates.empty()) continue;
        ++records;
        seenMax0 = std::max(seenMax0, s.ad0Value);
        seenMin0 = std::min(seenMin0, s.ad0Value);
        ASSERT_GE(s.ad0Max, seenMax0);
        ASSERT_LE(s.ad0Min, seenMin0);
        ASSERT_GE(s.ad0Max - s.ad0Min, 0);
        if (rng() % 50 == 0) {
            measure::ResetChannel(s, measure::Channel::Ch0);
            seenMax0 = 0;
            seenMin0 = measure::kResetMin;
        }
    }
    EXPECT_GT(records, 1000);  // the check above really ran on records
}
