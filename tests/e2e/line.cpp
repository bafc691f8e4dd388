#include "tests/e2e/line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace e2e {

using namespace std::chrono_literals;
using quenby_test::Clock;

Line::Line() {
    probe_ = ::open(Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe_ < 0) throw std::runtime_error("cannot open " + Slave());
}

Line::~Line() {
    far_.Stop();
    if (probe_ >= 0) ::close(probe_);
}

std::string Line::Expect(const std::string& expected, quenby_test::Clock::duration limit) {
    WaitFor(expected.size(), limit);
    std::this_thread::sleep_for(500ms);
    return Got();
}

void Line::Unplug() {
    far_.Stop();
    pty_.CloseMaster();
}

int Line::Queued() const {
    int n = 0;
    return ::ioctl(probe_, FIONREAD, &n) == 0 ? n : -1;
}

bool Line::WaitDrained(quenby_test::Clock::duration limit) {
    int emptyChecks = 0;
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        emptyChecks = Queued() == 0 ? emptyChecks + 1 : 0;
        if (emptyChecks >= 2) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

termios Line::Settings() const {
    termios t{};
    if (::tcgetattr(probe_, &t) != 0) throw std::runtime_error("tcgetattr " + Slave());
    return t;
}

void Line::SetSpeed(speed_t speed) const {
    termios t = Settings();
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(probe_, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr " + Slave());
}

void Line::Chmod(mode_t mode) const {
    if (::chmod(Slave().c_str(), mode) != 0) throw std::runtime_error("chmod " + Slave());
}

}  // namespace e2e
