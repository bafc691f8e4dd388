#pragma once

// Pseudo-terminals for the serial tests. The test keeps the master end and plays the board; the
// code under test opens the slave by name, usually through QUENBY_COMn.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win_serial.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace quenby_test {

using Bytes = std::vector<unsigned char>;

inline int FdOf(HANDLE h) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(h));
}

// A PtyPair with byte-vector helpers and access to the slave's settings.
class Pty : public PtyPair {
  public:
    int master() const { return Master(); }
    const std::string& slave() const { return SlavePath(); }

    // On Linux, termios requests on a master act on its slave, so the slave's settings can be
    // read and prepared here without opening it.
    termios SlaveTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(master(), &t), 0);
        return t;
    }
    void SetSlaveTermios(const termios& t) const {
        EXPECT_EQ(::tcsetattr(master(), TCSANOW, &t), 0);
    }
    // Sets or clears RTS/CTS and XON/XOFF on the slave, as another program might have left them.
    void SetSlaveFlowControl(bool rtscts, bool xonxoff) const {
        termios t = SlaveTermios();
        t.c_cflag = rtscts ? (t.c_cflag | CRTSCTS) : (t.c_cflag & ~CRTSCTS);
        t.c_iflag = xonxoff ? (t.c_iflag | IXON | IXOFF) : (t.c_iflag & ~(IXON | IXOFF));
        SetSlaveTermios(t);
    }

    void Send(const Bytes& bytes) const { PtyPair::Send(std::string(bytes.begin(), bytes.end())); }

    // Up to n bytes the slave sent, gathered until n arrived or the wait ran out.
    Bytes Receive(std::size_t n, std::chrono::milliseconds wait = std::chrono::seconds(2)) const {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{master(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            unsigned char buf[4096];
            const ssize_t r = ::read(master(), buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
};

inline Bytes AllByteValues() {
    Bytes b(256);
    for (int i = 0; i < 256; ++i) b[i] = static_cast<unsigned char>(i);
    return b;
}

}  // namespace quenby_test
