#include "tests/support/received_bytes.h"

namespace quenby_test {

void ReceivedBytes::Append(const char* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    got_.append(bytes, count);
}

std::string ReceivedBytes::Got() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_;
}

std::size_t ReceivedBytes::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_.size();
}

void ReceivedBytes::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    got_.clear();
}

std::string ReceivedBytes::WaitFor(std::size_t count, Clock::duration limit) {
    WaitUntil([&] { return Size() >= count; }, limit);
    return Got();
}

}  // namespace quenby_test
