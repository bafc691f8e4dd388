#include "tests/e2e/openers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace e2e {

Holder::Holder(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot hold " + device);
}

Holder::~Holder() {
    Release();
}

void Holder::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int InputQueued(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int n = -1;
    if (fd >= 0 && ::ioctl(fd, FIONREAD, &n) != 0) n = -1;
    if (fd >= 0) ::close(fd);
    return n;
}

bool CanLock(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

int OpenErrnoAs(const std::string& device, uid_t uid, gid_t gid) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Raw system calls: only this thread exists here and it alone changes identity.
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, gid, gid, gid) ||
            ::syscall(SYS_setresuid, uid, uid, uid) != 0)
            ::_exit(255);
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 255;
}

}  // namespace e2e
