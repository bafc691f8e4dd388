#pragma once

// The far end of a pseudo-terminal that takes bytes at a serial line's rate: a thread reads the
// master in small steps, never more than the rate allows since it started, and banks no credit
// while the port sends nothing, so a long quiet spell is not followed by a burst.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

class LineRateReader {
  public:
    LineRateReader(int master, double bytesPerSecond)
        : master_(master), rate_(bytesPerSecond), thread_([this] { Run(); }) {}
    ~LineRateReader() { Stop(); }
    LineRateReader(const LineRateReader&) = delete;
    LineRateReader& operator=(const LineRateReader&) = delete;

    std::string Got() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    std::size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_.size();
    }
    // Waits until `count` bytes have come or `timeoutMs` passed; returns what came.
    std::string WaitFor(std::size_t count, int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Size() < count && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Got();
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    void Run() {
        using Clock = std::chrono::steady_clock;
        auto since = Clock::now();
        double taken = 0;  // bytes read since `since`
        char buf[4096];
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const double seconds = std::chrono::duration<double>(Clock::now() - since).count();
            const auto allowed =
                static_cast<std::size_t>(std::min<double>(rate_ * seconds - taken, sizeof buf));
            if (allowed == 0) continue;
            pollfd p{master_, POLLIN, 0};
            ssize_t n = 0;
            if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) n = ::read(master_, buf, allowed);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                got_.append(buf, static_cast<std::size_t>(n));
            }
            taken += n > 0 ? static_cast<double>(n) : 0;
            if (n < static_cast<ssize_t>(allowed)) {  // the port ran dry: start counting afresh
                since = Clock::now();
                taken = 0;
            }
        }
    }

    int master_;
    double rate_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread thread_;
};
