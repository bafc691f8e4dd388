#pragma once

// The far end of a line: a thread that reads everything the code under test sends to a
// pseudo-terminal's master, so that its writes never block on a full buffer, and keeps it for the
// test to look at.

#include <atomic>
#include <string>
#include <thread>

#include "tests/support/received_bytes.h"

namespace quenby_test {

class FarEnd {
  public:
    // Reads `master` until stopped; the descriptor stays the caller's.
    explicit FarEnd(int master);
    ~FarEnd() { Stop(); }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // Everything received so far.
    std::string Got() { return got_.Got(); }
    std::size_t Size() { return got_.Size(); }
    void Clear() { got_.Clear(); }
    // Waits until at least `count` bytes have come or `limit` passed; returns all that came.
    std::string WaitFor(std::size_t count, Clock::duration limit = std::chrono::seconds(10)) {
        return got_.WaitFor(count, limit);
    }

    // While paused nothing is read, so the sender's writes soon block.
    void Pause() { paused_ = true; }
    void Resume() { paused_ = false; }
    // Ends the reading for good (before the master is closed).
    void Stop();

  private:
    void Read();

    int master_;
    std::atomic<bool> stop_{false}, paused_{false};
    ReceivedBytes got_;
    std::thread thread_;
};

}  // namespace quenby_test
