#pragma once

// The termios speed codes and framing of a serial line, as numbers: the one table of line rates
// the serial layer and the simulated board share.

#include <termios.h>

#include <cstdint>
#include <optional>

namespace line_speed {

// The bit rate of a speed code; 0 for B0 or a code not in the table.
std::uint32_t BitRateOf(speed_t speed);

// The speed code of a bit rate; nothing for a rate not in the table.
std::optional<speed_t> SpeedOf(std::uint32_t bitRate);

// Data bits of a character size (CS5..CS8); 8 for anything else.
std::uint32_t DataBitsOf(tcflag_t cflag);

// The character size (CS5..CS8) of a number of data bits; nothing for any other number.
std::optional<tcflag_t> CharacterSizeOf(std::uint32_t dataBits);

// Bits on the wire per character: start bit, data bits, parity bit, stop bits (10 for 8N1).
std::uint32_t BitsPerCharacter(const termios& t);

// Characters per second of a line at `speed` with the framing of `t`; 0 for B0 or a speed not in
// the table.
double CharactersPerSecond(speed_t speed, const termios& t);

}  // namespace line_speed
