#include "platform/win_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local int lastErrno = 0;

BOOL Fail(DWORD error, int err) {
    lastError = error;
    lastErrno = err;
    return FALSE;
}

DWORD ErrorFor(int err) {
    switch (err) {
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case ENOTTY:
            return ERROR_NOT_SUPPORTED;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL FailErrno(int err) {
    return Fail(ErrorFor(err), err);
}

// A handle is the descriptor itself; anything outside the descriptor range, including
// INVALID_HANDLE_VALUE, is refused before any system call.
int FdOf(HANDLE h) {
    const auto v = reinterpret_cast<std::intptr_t>(h);
    return v < 0 || v > INT_MAX ? -1 : static_cast<int>(v);
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

constexpr std::pair<speed_t, DWORD> kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

DWORD RateOf(speed_t speed) {
    for (const auto& [s, rate] : kSpeeds)
        if (s == speed) return rate;
    return 0;
}

bool SpeedOf(DWORD rate, speed_t* speed) {
    for (const auto& [s, r] : kSpeeds)
        if (r == rate) {
            *speed = s;
            return true;
        }
    return false;
}

}  // namespace

std::string ComDevicePath(const std::string& portName) {
    if (portName.size() == 4 && portName.starts_with("COM") && portName[3] >= '1' &&
        portName[3] <= '4') {
        const std::string var = "QUENBY_" + portName;
        if (const char* v = std::getenv(var.c_str()); v != nullptr && *v != '\0') return v;
        return std::string("/dev/ttyS") + static_cast<char>(portName[3] - 1);
    }
    return portName;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, void*, DWORD, DWORD,
                   HANDLE) {
    if (fileName == nullptr) {
        Fail(ERROR_FILE_NOT_FOUND, ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = ComDevicePath(fileName);
    const bool reads = desiredAccess & GENERIC_READ, writes = desiredAccess & GENERIC_WRITE;
    const int access = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    // O_NONBLOCK so the open never waits for carrier. It stays set: WriteFile waits for the line
    // itself, with a time-out, so writes are synchronous for the caller without a blocked
    // descriptor that an XOFF could hold for ever.
    int fd;
    do fd = ::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        FailErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    auto reject = [fd](DWORD error, int err) {
        ::close(fd);
        Fail(error, err);
        return INVALID_HANDLE_VALUE;
    };
    if (!::isatty(fd)) return reject(ERROR_NOT_SUPPORTED, ENOTTY);
    if (shareMode == 0) {
        // flock excludes every opener that asks the same way, root included; TIOCEXCL also
        // turns away other programs that do not lock (except privileged ones).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            return reject(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFor(err), err);
        }
        if (::ioctl(fd, TIOCEXCL) != 0) {
            const int err = errno;
            return reject(err == EBUSY ? ERROR_SHARING_VIOLATION : ErrorFor(err), err);
        }
    }
    lastError = ERROR_SUCCESS;
    return HandleOf(fd);
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER, EINVAL);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return FailErrno(errno);

    DCB d;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = RateOf(::cfgetospeed(&t));
    d.fBinary = 1;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            d.ByteSize = 5;
            break;
        case CS6:
            d.ByteSize = 6;
            break;
        case CS7:
            d.ByteSize = 7;
            break;
        default:
            d.ByteSize = 8;
            break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        if (t.c_cflag & CMSPAR)
            d.Parity = odd ? MARKPARITY : SPACEPARITY;
        else
            d.Parity = odd ? ODDPARITY : EVENPARITY;
    } else {
        d.Parity = NOPARITY;
    }
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    d.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    const bool rtscts = t.c_cflag & CRTSCTS;
    d.fOutxCtsFlow = rtscts ? 1 : 0;
    d.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fDtrControl = DTR_CONTROL_ENABLE;  // the driver raises DTR on open
    d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    d.XonChar = static_cast<char>(t.c_cc[VSTART]);
    d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    *dcb = d;
    return TRUE;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER, EINVAL);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return FailErrno(errno);

    // Everything is checked before anything is applied, so a refused record changes nothing.
    speed_t speed;
    if (!SpeedOf(dcb->BaudRate, &speed)) return Fail(ERROR_INVALID_PARAMETER, EINVAL);
    tcflag_t size;
    switch (dcb->ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER, EINVAL);
    }
    tcflag_t parity;
    switch (dcb->Parity) {
        case NOPARITY:
            parity = 0;
            break;
        case ODDPARITY:
            parity = PARENB | PARODD;
            break;
        case EVENPARITY:
            parity = PARENB;
            break;
        case MARKPARITY:
            parity = PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            parity = PARENB | CMSPAR;
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER, EINVAL);
    }
    // 1.5 stop bits (1) is what the UART sends for CSTOPB with 5-bit characters.
    if (dcb->StopBits > TWOSTOPBITS) return Fail(ERROR_INVALID_PARAMETER, EINVAL);

    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size | parity | CREAD | CLOCAL;
    if (dcb->StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    if (dcb->fOutxCtsFlow) t.c_cflag |= CRTSCTS;

    t.c_iflag &=
        ~(IXON | IXOFF | ICRNL | INLCR | IGNCR | IUCLC | ISTRIP | IGNBRK | BRKINT | PARMRK | INPCK);
    if (dcb->fOutX) t.c_iflag |= IXON;
    if (dcb->fInX) t.c_iflag |= IXOFF;
    if (parity != 0) t.c_iflag |= INPCK;
    if (dcb->XonChar != 0) t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
    if (dcb->XoffChar != 0) t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);

    t.c_oflag &= ~(OPOST | ONLCR | OCRNL | ONOCR | ONLRET);
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    // Reads return at once with whatever is waiting.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return FailErrno(errno);
    return TRUE;
}

BOOL SetupComm(HANDLE file, DWORD, DWORD) {
    // The Linux tty layer sizes its own queues and takes no request; only the handle is checked.
    const int fd = FdOf(file);
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    return TRUE;
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat) {
    if (errors != nullptr) *errors = 0;
    if (stat != nullptr) *stat = COMSTAT{};
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) return FailErrno(errno);
    int unsent = 0;
    if (::ioctl(fd, TIOCOUTQ, &unsent) != 0) unsent = 0;
    if (stat != nullptr) {
        stat->cbInQue = waiting > 0 ? static_cast<DWORD>(waiting) : 0;
        stat->cbOutQue = unsent > 0 ? static_cast<DWORD>(unsent) : 0;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void*) {
    if (read != nullptr) *read = 0;
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    auto* out = static_cast<unsigned char*>(buffer);
    DWORD got = 0;
    int err = 0;
    // Each pass either takes bytes or ends the loop: poll with no wait first, so a line that is
    // quiet, hung up or still in canonical mode never blocks the caller.
    while (got < toRead && err == 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0) {
            if (errno != EINTR) err = errno;
            continue;
        }
        if (ready == 0) break;
        if (p.revents & POLLNVAL) {
            err = EBADF;
            break;
        }
        const ssize_t n = ::read(fd, out + got, toRead - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
        } else if (n == 0) {
            if (p.revents & (POLLHUP | POLLERR)) err = EIO;  // a hung-up line reads as end of file
            break;
        } else if (errno == EAGAIN) {
            break;
        } else if (errno != EINTR) {
            err = errno;
        }
    }
    if (got == 0 && err != 0) return FailErrno(err);
    if (read != nullptr) *read = got;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void*) {
    if (written != nullptr) *written = 0;
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    const auto* in = static_cast<const unsigned char*>(buffer);
    const auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
    DWORD sent = 0;
    int err = 0;
    while (sent < toWrite && err == 0) {
        const ssize_t n = ::write(fd, in + sent, toWrite - sent);
        if (n > 0) {
            sent += static_cast<DWORD>(n);
            continue;
        }
        if (n == 0) {
            err = EIO;  // a tty that takes nothing would never take the rest either
        } else if (errno == EAGAIN) {
            // The line is full or held stopped (flow control, an XOFF with no XON): wait for it,
            // but not for ever, so a stopped line fails the write instead of freezing the caller.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                err = ETIMEDOUT;
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) err = errno;
            if (ready > 0 && (p.revents & POLLNVAL)) err = EBADF;
        } else if (errno != EINTR) {
            err = errno;
        }
    }
    if (written != nullptr) *written = sent;
    if (err != 0) return FailErrno(err);
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    const int fd = FdOf(object);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    // A pty slave keeps its exclusive flag while the master lives, so drop it if the lock shows
    // the port is ours (the lock is ours to take only when no one else holds it).
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::ioctl(fd, TIOCNXCL);
    // Linux frees the descriptor even when close reports EINTR, so it is never retried.
    if (::close(fd) != 0 && errno == EBADF) return Fail(ERROR_INVALID_HANDLE, EBADF);
    return TRUE;
}

DWORD GetLastError() {
    return lastError;
}

int GetLastErrno() {
    return lastErrno;
}
