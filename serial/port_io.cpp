#include "serial/port_io.h"

#include <chrono>
#include <thread>

#include "serial/serial_port.h"

namespace serial {

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
    if (!whileWaiting) return WriteFile(hComm, in, size, &written, nullptr) && written == size;

    using Clock = std::chrono::steady_clock;
    Clock::duration waited{0};  // waiting for the line, the hook's time left out
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
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        waited += Clock::now() - slept;
        whileWaiting();
    }
}

}  // namespace serial
