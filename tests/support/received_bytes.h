#pragma once

// What a reader thread has taken from a line, for the test to look at while it goes on: the
// reader appends, the test reads, waits or clears at any time.

#include <cstddef>
#include <mutex>
#include <string>

#include "tests/support/wait.h"

namespace quenby_test {

class ReceivedBytes {
  public:
    void Append(const char* bytes, std::size_t count);

    // Everything received so far.
    std::string Got();
    std::size_t Size();
    void Clear();
    // Waits until at least `count` bytes have come or `limit` passed; returns all that came.
    std::string WaitFor(std::size_t count, Clock::duration limit);

  private:
    std::mutex mutex_;
    std::string got_;
};

}  // namespace quenby_test
