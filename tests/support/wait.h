#pragma once

// Polling waits for the test helpers: a condition checked over and over until it holds or time
// runs out.

#include <chrono>
#include <functional>

namespace quenby_test {

using Clock = std::chrono::steady_clock;

// Polls `done` every 20 ms until it holds or `limit` has passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, Clock::duration limit);

}  // namespace quenby_test
