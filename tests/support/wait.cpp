#include "tests/support/wait.h"

#include <thread>

namespace quenby_test {

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace quenby_test
