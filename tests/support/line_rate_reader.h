#pragma once

// The far end of a pseudo-terminal that takes bytes at a serial line's rate, as a UART does: a
// thread reads the master in 1 ms steps, no more than the rate would carry. While it keeps finding
// bytes the line counts as busy and its allowance grows with the clock, so a late wake-up loses
// nothing; once it finds the queue empty the line has gone idle, and the next step takes at most
// one step's worth, so a quiet spell is not followed by a burst.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/received_bytes.h"

namespace quenby_test {

class LineRateReader {
  public:
    // Characters per second of the line `fd` is set to (8N1: rate / 10); 0 when unknown. On a
    // pseudo-terminal the master reports the settings the slave's opener made.
    static double RateOfLine(int fd);

    // Reads `master` (which stays the caller's) until stopped, at `bytesPerSecond`.
    LineRateReader(int master, double bytesPerSecond);
    ~LineRateReader() { Stop(); }
    LineRateReader(const LineRateReader&) = delete;
    LineRateReader& operator=(const LineRateReader&) = delete;

    double BytesPerSecond() const { return rate_; }
    std::string Got() { return got_.Got(); }
    std::size_t Size() { return got_.Size(); }
    // Waits until `count` bytes have come or `limit` passed; returns what came.
    std::string WaitFor(std::size_t count, Clock::duration limit) {
        return got_.WaitFor(count, limit);
    }
    void Stop();

    // When the bytes came.
    struct Totals {
        std::size_t bytes = 0;
        std::size_t firstRead = 0;  // bytes the first read took: they left before `first`
        Clock::time_point first, last;
        double longestIdleMs = 0;  // longest stretch between the first and last byte with none
    };
    Totals Get();

  private:
    void Run();

    int master_;
    double rate_;
    std::atomic<bool> stop_{false};
    ReceivedBytes got_;
    std::mutex mutex_;  // guards totals_
    Totals totals_;
    std::thread thread_;
};

}  // namespace quenby_test
