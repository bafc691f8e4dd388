#include "platform/line_speed.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace line_speed;

TEST(LineSpeed, CharacterSizesBothWays) {
    const struct {
        std::uint32_t bits;
        tcflag_t size;
    } sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& s : sizes) {
        EXPECT_EQ(CharacterSizeOf(s.bits), s.size) << s.bits;
        EXPECT_EQ(DataBitsOf(s.size | PARENB | CSTOPB), s.bits) << s.bits;
    }
    for (const std::uint32_t bits : {0u, 4u, 9u, 16u}) EXPECT_FALSE(CharacterSizeOf(bits)) << bits;
}

TEST(LineSpeed, CharactersPerSecondFollowTheFraming) {
    const struct {
        const char* what;
        speed_t speed;
        tcflag_t cflag;
        std::uint32_t bitsPerCharacter;
        double charactersPerSecond;
    } lines[] = {
        {"115200 8N1", B115200, CS8, 10, 11520},
        {"38400 8N1", B38400, CS8, 10, 3840},
        {"9600 7E2", B9600, CS7 | PARENB | CSTOPB, 11, 9600.0 / 11},
        {"300 5N1", B300, CS5, 7, 300.0 / 7},
        {"115200 8O1", B115200, CS8 | PARENB | PARODD, 11, 115200.0 / 11},
        {"B0", B0, CS8, 10, 0},
    };
    for (const auto& l : lines) {
        termios t{};
        t.c_cflag = l.cflag;
        EXPECT_EQ(BitsPerCharacter(t), l.bitsPerCharacter) << l.what;
        EXPECT_DOUBLE_EQ(CharactersPerSecond(l.speed, t), l.charactersPerSecond) << l.what;
    }
}

}  // namespace
