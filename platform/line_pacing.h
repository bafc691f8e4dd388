#pragma once

// How much output a serial port keeps queued in its driver, decided from numbers alone: the bytes
// the driver reports queued and the line's byte rate. A short queue means a write's end is close
// to the bytes' time on the wire, a byte sent later waits little behind earlier ones, and a close
// has little to drain.

#include <chrono>
#include <cstdint>

namespace line_pacing {

// Line time a write may leave queued ahead of the wire.
inline constexpr std::chrono::milliseconds kQueuedLineTime{50};
// Longest a close waits for queued output before dropping the rest.
inline constexpr std::chrono::milliseconds kCloseWait{100};

// Characters per second of a line at `bitsPerSecond` with `bitsPerCharacter` (start bit, data
// bits, parity bit, stop bits; 10 for 8N1). 0 when the rate is unknown (0).
std::uint32_t BytesPerSecond(std::uint32_t bitsPerSecond, std::uint32_t bitsPerCharacter);

// The most bytes kept queued at `bytesPerSecond`: kQueuedLineTime of line time, at least one
// byte. 0 means no limit of its own (rate unknown): the driver's buffer is the limit.
std::uint32_t QueueLimit(std::uint32_t bytesPerSecond);

// How many of `toWrite` bytes may be handed to the driver now, with `queued` bytes already in its
// output queue: as many as keep the queue within QueueLimit; 0 means wait for the line. With an
// unknown rate, all of them.
std::uint32_t BytesToQueue(std::uint32_t queued, std::uint32_t toWrite,
                           std::uint32_t bytesPerSecond);

// How long a close waits for `queued` bytes to leave: their line time, at most kCloseWait. An
// unknown rate waits kCloseWait for anything queued.
std::chrono::microseconds DrainWait(std::uint32_t queued, std::uint32_t bytesPerSecond);

}  // namespace line_pacing
