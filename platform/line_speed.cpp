#include "platform/line_speed.h"

#include <utility>

namespace line_speed {

namespace {

constexpr std::pair<speed_t, std::uint32_t> kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

constexpr std::pair<tcflag_t, std::uint32_t> kDataBits[] = {{CS5, 5}, {CS6, 6}, {CS7, 7}, {CS8, 8}};

}  // namespace

std::uint32_t BitRateOf(speed_t speed) {
    for (const auto& [s, rate] : kSpeeds)
        if (s == speed) return rate;
    return 0;
}

std::optional<speed_t> SpeedOf(std::uint32_t bitRate) {
    for (const auto& [s, rate] : kSpeeds)
        if (rate == bitRate) return s;
    return std::nullopt;
}

std::uint32_t DataBitsOf(tcflag_t cflag) {
    for (const auto& [size, bits] : kDataBits)
        if (size == (cflag & CSIZE)) return bits;
    return 8;
}

std::optional<tcflag_t> CharacterSizeOf(std::uint32_t dataBits) {
    for (const auto& [size, bits] : kDataBits)
        if (bits == dataBits) return size;
    return std::nullopt;
}

std::uint32_t BitsPerCharacter(const termios& t) {
    return 1 + DataBitsOf(t.c_cflag) + ((t.c_cflag & PARENB) ? 1 : 0) +
           ((t.c_cflag & CSTOPB) ? 2 : 1);
}

double CharactersPerSecond(speed_t speed, const termios& t) {
    return static_cast<double>(BitRateOf(speed)) / BitsPerCharacter(t);
}

}  // namespace line_speed
