#include "platform/line_pacing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

using namespace line_pacing;
using std::chrono::microseconds;

TEST(LinePacing, RatesAndQueueLimits) {
    const struct {
        std::uint32_t bitsPerSecond, bitsPerCharacter, bytesPerSecond, limit;
    } cases[] = {
        {115200, 10, 11520, 576},  // 8N1: 50 ms of line time
        {38400, 10, 3840, 192},
        {115200, 12, 9600, 480},  // 8E2
        {4000000, 10, 400000, 20000},
        {300, 10, 30, 1},  // under a byte in 50 ms: one byte at a time
        {50, 8, 6, 1},
        {0, 10, 0, 0},  // rate unknown: no limit of its own
        {9600, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BytesPerSecond(c.bitsPerSecond, c.bitsPerCharacter), c.bytesPerSecond)
            << c.bitsPerSecond << "/" << c.bitsPerCharacter;
        EXPECT_EQ(QueueLimit(c.bytesPerSecond), c.limit) << c.bytesPerSecond << " B/s";
    }
}

TEST(LinePacing, AWriteFillsTheQueueUpToItsLimitAndNoFurther) {
    const struct {
        std::uint32_t queued, toWrite, bytesPerSecond, now;
    } cases[] = {
        {0, 1, 11520, 1},         // empty line: the byte goes
        {0, 2, 11520, 2},         // CR LF together
        {574, 2, 11520, 2},       // exactly fills the limit
        {575, 2, 11520, 1},       // room for one: the rest waits
        {576, 1, 11520, 0},       // full: wait
        {4095, 1, 11520, 0},      // a deep queue left by someone else
        {0, 100000, 11520, 576},  // a large write goes in limit-sized steps
        {100, 100000, 3840, 92},
        {0, 1, 30, 1},  // a slow line still takes one byte into an empty queue
        {1, 1, 30, 0},
        {0, 0, 11520, 0},     // nothing to write
        {4095, 300, 0, 300},  // rate unknown: the driver's buffer is the limit
        {0, 100000, 0, 100000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BytesToQueue(c.queued, c.toWrite, c.bytesPerSecond), c.now)
            << c.queued << " queued, " << c.toWrite << " to write at " << c.bytesPerSecond
            << " B/s";
}

TEST(LinePacing, ACloseWaitsForTheQueuesLineTimeAtMostAShortWhile) {
    const struct {
        std::uint32_t queued, bytesPerSecond;
        microseconds wait;
    } cases[] = {
        {0, 11520, microseconds{0}},  // nothing queued: no wait
        {0, 0, microseconds{0}},
        {576, 11520, microseconds{50000}},  // a full paced queue: its 50 ms
        {1, 11520, microseconds{86}},
        {192, 3840, microseconds{50000}},
        {4096, 11520, kCloseWait},  // a deep queue: the bound, then the rest is dropped
        {1, 5, kCloseWait},
        {1, 0, kCloseWait},           // rate unknown
        {0xFFFFFFFF, 1, kCloseWait},  // no overflow
    };
    for (const auto& c : cases)
        EXPECT_EQ(DrainWait(c.queued, c.bytesPerSecond), c.wait)
            << c.queued << " queued at " << c.bytesPerSecond << " B/s";
}

}  // namespace
