#include "serial/port_io.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/serial_port.h"

namespace serial {

namespace {
constexpr std::chrono::milliseconds kFirstRetryPause{1};
constexpr std::chrono::milliseconds kLastRetryPause{4};
}  // namespace

std::size_t BytesWaiting() {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(hComm, &errors, &status);  // a failed query reports all zero
    return status.cbInQue;
}

std::size_t Read(void* buffer, std::size_t count) {
    DWORD received = 0;
    if (!ReadFile(hComm, buffer, static_cast<DWORD>(count), &received, nullptr)) return 0;
    return received;
}

bool Write(const void* bytes, std::size_t count, const WaitHook& whileWaiting) {
    const auto* in = static_cast<const unsigned char*>(bytes);
    const auto size = static_cast<DWORD>(count);
    DWORD written = 0;

    using Clock = std::chrono::steady_clock;
    Clock::duration waited{0};  // waiting for the line, the hook's time left out
    auto pause = kFirstRetryPause;
    for (;;) {
        const HANDLE port = hComm;  // afresh: the hook may have selected another port
        if (!WriteFileNow(port, in, size, &written)) return false;
        if (written == size) return true;
        if (written > 0) {
            // Part of the bytes went: the rest follows at once, so that nothing lands between.
            DWORD rest = 0;
            return WriteFile(port, in + written, size - written, &rest, nullptr) &&
                   rest == size - written;
        }
        if (waited >= kWriteTimeout) return false;
        const auto slept = Clock::now();
        std::this_thread::sleep_for(pause);
        waited += Clock::now() - slept;
        // A line that stays full frees room at its own pace (a pseudo-terminal in 256-byte steps,
        // 22 ms apart at 115200): longer pauses then save wake-ups while keeping the window live.
        pause = std::min(pause * 2, kLastRetryPause);
        whileWaiting();
    }
}

}  // namespace serial
