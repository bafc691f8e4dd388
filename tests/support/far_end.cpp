#include "tests/support/far_end.h"

#include <poll.h>
#include <unistd.h>

namespace quenby_test {

FarEnd::FarEnd(int master) : master_(master), thread_([this] { Read(); }) {}

void FarEnd::Read() {
    char buf[65536];
    while (!stop_) {
        if (paused_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = (p.revents & POLLIN) ? ::read(master_, buf, sizeof buf) : 0;
        if (n > 0) {
            got_.Append(buf, static_cast<std::size_t>(n));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // hung up: no spin
        }
    }
}

void FarEnd::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

}  // namespace quenby_test
