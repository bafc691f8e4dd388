#pragma once

// A pseudo-terminal standing in for a serial port: the test holds the master side (the board's
// end of the line), the code under test opens the slave path as its port.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slavePath_ = ptsname(master_);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Sends bytes towards the port, as the board would.
    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) throw std::runtime_error("pty write failed");
            done += static_cast<std::size_t>(n);
        }
        tcdrain(master_);
    }

    // Collects what the port sent, until `count` bytes have come or nothing more arrives within
    // `quiet` milliseconds.
    std::string Receive(std::size_t count = SIZE_MAX, int quietMs = 200) const {
        std::string got;
        char buf[65536];
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Sets (or, given nullptr, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) old_ = old;
        value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Drains a master side on its own thread, so that writes to the port never block on a full
// pseudo-terminal buffer while the code under test runs on the main thread.
class MasterDrain {
  public:
    explicit MasterDrain(int master) : master_(master), thread_([this] { Run(); }) {}
    ~MasterDrain() { Stop(); }

    // Everything received so far.
    std::string Got() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    std::size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_.size();
    }
    // Waits until `count` bytes have come or `timeoutMs` passed; returns what came.
    std::string WaitFor(std::size_t count, int timeoutMs = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (got_.size() >= count) return got_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return Got();
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    void Run() {
        char buf[65536];
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            if (!(p.revents & POLLIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));  // hung up: no spin
                continue;
            }
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                got_.append(buf, static_cast<std::size_t>(n));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread thread_;
};
