#pragma once

#include <string>
#include <vector>

#include "tests/support/child.h"

namespace e2e {

class Session;

// The simulated board, on a pseudo-terminal of its own, linked as one of the session's ports.
class Board {
  public:
    Board(Session& session, int port, const std::vector<std::string>& args = {});
    const std::string& Slave() const { return slave_; }
    // Its "rx N: hex | text" lines so far.
    std::vector<std::string> RxLines() const;
    bool WaitRx(const std::string& line,
                quenby_test::Clock::duration limit = std::chrono::seconds(30)) const;
    quenby_test::Child& Process() { return child_; }

  private:
    quenby_test::Child child_;
    std::string slave_;
};

}  // namespace e2e
