#pragma once

// A line to the program: a pseudo-terminal whose master the test holds (the board's end), a
// reader collecting what the program sends, and a spare descriptor on the slave for looking at
// the port's settings and input queue without taking anything from it.

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <string>

#include "tests/support/far_end.h"
#include "tests/support/pty_pair.h"

namespace e2e {

class Line {
  public:
    Line();
    ~Line();

    const std::string& Slave() const { return pty_.SlavePath(); }
    void Send(const std::string& bytes) const { pty_.Send(bytes); }

    std::string Got() { return far_.Got(); }
    std::size_t Size() { return far_.Size(); }
    void Clear() { far_.Clear(); }
    // Waits for at least `count` received bytes; returns them all.
    std::string WaitFor(std::size_t count,
                        quenby_test::Clock::duration limit = std::chrono::seconds(60)) {
        return far_.WaitFor(count, limit);
    }
    // Waits for `expected` to have arrived, then a while longer for anything extra.
    std::string Expect(const std::string& expected,
                       quenby_test::Clock::duration limit = std::chrono::seconds(60));

    // While paused nothing is read, so the program's writes soon block.
    void Pause() { far_.Pause(); }
    void Resume() { far_.Resume(); }
    // The board goes away: the master is closed and the program's side is hung up.
    void Unplug();

    int Queued() const;  // bytes waiting in the port's input queue
    // Waits for the input queue to stay empty (seen empty twice, 100 ms apart).
    bool WaitDrained(quenby_test::Clock::duration limit);
    termios Settings() const;
    void SetSpeed(speed_t speed) const;
    void Chmod(mode_t mode) const;

  private:
    PtyPair pty_;
    int probe_ = -1;
    quenby_test::FarEnd far_{pty_.Master()};
};

}  // namespace e2e
