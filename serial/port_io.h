#pragma once

// Reading and writing the one serial port. Every call takes hComm afresh at the moment it touches
// the port; no call keeps a handle across anything that may run a port selection. With no usable
// port (a failed open), nothing is read and every write fails, at once.

#include <cstddef>
#include <functional>

namespace serial {

// Received bytes waiting in the port's input queue; 0 when none or no usable port.
std::size_t BytesWaiting();

// Reads at most `count` bytes that are already waiting, into `buffer`. Never waits. Returns how
// many came; 0 on failure, with the buffer untouched.
std::size_t Read(void* buffer, std::size_t count);

// Runs while a write waits for room on a full line. It may run anything, a port selection, a
// nested transfer or another write included.
using WaitHook = std::function<void()>;

// Writes `count` bytes in order and returns once the driver has taken them all; false when the
// port fails or the line takes nothing for kWriteTimeout. The bytes of one call go out together:
// nothing written elsewhere lands between them.
//
// While none of the bytes has gone, it retries after short sleeps (1 ms, growing to 4 ms while
// the line stays full), runs `whileWaiting` between tries, then takes hComm afresh, so a port
// selected meanwhile gets the bytes. Once a first byte has gone, the rest follows on the same
// port without the hook. Time spent in the hook does not count towards kWriteTimeout.
bool Write(const void* bytes, std::size_t count, const WaitHook& whileWaiting);

}  // namespace serial
