#include "tests/support/line_rate_reader.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "platform/line_speed.h"

namespace quenby_test {

double LineRateReader::RateOfLine(int fd) {
    termios t{};
    return ::tcgetattr(fd, &t) == 0 ? line_speed::CharactersPerSecond(::cfgetospeed(&t), t) : 0;
}

LineRateReader::LineRateReader(int master, double bytesPerSecond)
    : master_(master), rate_(bytesPerSecond), thread_([this] { Run(); }) {}

LineRateReader::Totals LineRateReader::Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return totals_;
}

void LineRateReader::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void LineRateReader::Run() {
    constexpr auto kStep = std::chrono::milliseconds(1);
    const double stepBytes = rate_ * std::chrono::duration<double>(kStep).count();
    char buf[65536];
    double allowance = 0;
    bool idle = true;
    Clock::time_point previous = Clock::now(), idleSince = previous;
    while (!stop_) {
        std::this_thread::sleep_for(kStep);
        const auto now = Clock::now();
        const double earned = rate_ * std::chrono::duration<double>(now - previous).count();
        previous = now;
        allowance = idle ? std::min(earned, stepBytes) : allowance + earned;
        const auto wanted = std::min(static_cast<std::size_t>(allowance), sizeof buf);
        if (wanted == 0) continue;
        pollfd p{master_, POLLIN, 0};
        ssize_t n = 0;
        if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) n = ::read(master_, buf, wanted);
        const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (got > 0) {
            got_.Append(buf, got);
            std::lock_guard<std::mutex> lock(mutex_);
            if (totals_.bytes == 0) {
                totals_.first = now;
                totals_.firstRead = got;
            } else if (idle) {
                totals_.longestIdleMs =
                    std::max(totals_.longestIdleMs,
                             std::chrono::duration<double, std::milli>(now - idleSince).count());
            }
            totals_.bytes += got;
            totals_.last = now;
        }
        allowance -= static_cast<double>(got);
        if (got < wanted) {
            if (!idle || got > 0) idleSince = now;  // the queue ran empty at this read
            idle = true;
            allowance = 0;
        } else {
            idle = false;
        }
    }
}

}  // namespace quenby_test
