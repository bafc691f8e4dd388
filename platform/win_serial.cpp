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
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/line_pacing.h"
#include "platform/line_speed.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local int lastErrno = 0;

BOOL Fail(DWORD error, int err) {
    lastError = error;
    lastErrno = err;
    return FALSE;
}

// A pair of equivalent values, one on each side of the interface; a table of them is searched
// either way. Where a value appears twice, the first row wins.
template <typename A, typename B, std::size_t N>
std::optional<B> Find(const std::pair<A, B> (&table)[N], std::type_identity_t<A> key) {
    for (const auto& [a, b] : table)
        if (a == key) return b;
    return std::nullopt;
}
template <typename A, typename B, std::size_t N>
std::optional<A> FindBack(const std::pair<A, B> (&table)[N], std::type_identity_t<B> key) {
    for (const auto& [a, b] : table)
        if (b == key) return a;
    return std::nullopt;
}

constexpr std::pair<int, DWORD> kErrors[] = {
    {EBADF, ERROR_INVALID_HANDLE},    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENODEV, ERROR_FILE_NOT_FOUND},   {ENXIO, ERROR_FILE_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},    {EPERM, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_SHARING_VIOLATION}, {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
    {ENOTTY, ERROR_NOT_SUPPORTED},    {EINVAL, ERROR_INVALID_PARAMETER},
};

DWORD ErrorFor(int err) {
    return Find(kErrors, err).value_or(ERROR_GEN_FAILURE);
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

// The c_cflag parity bits of each parity setting; any bits without PARENB read as no parity.
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
constexpr std::pair<tcflag_t, BYTE> kParities[] = {
    {0, NOPARITY},
    {PARENB | PARODD, ODDPARITY},
    {PARENB, EVENPARITY},
    {PARENB | CMSPAR | PARODD, MARKPARITY},
    {PARENB | CMSPAR, SPACEPARITY},
};

// CSTOPB reads back as two stop bits; 1.5 (ONE5STOPBITS) is what a UART sends for CSTOPB with
// 5-bit characters.
constexpr std::pair<tcflag_t, BYTE> kStopBits[] = {
    {0, ONESTOPBIT},
    {CSTOPB, TWOSTOPBITS},
    {CSTOPB, ONE5STOPBITS},
};

// Characters per second of the line the settings describe: start bit, data bits, parity bit and
// stop bits per character.
std::uint32_t LineBytesPerSecond(const termios& t) {
    return line_pacing::BytesPerSecond(line_speed::BitRateOf(::cfgetospeed(&t)),
                                       line_speed::BitsPerCharacter(t));
}

// What WriteFileNow knows of one port's output queue, so that it asks the driver only when the
// queue may have reached its limit: asking costs about as much as the write itself.
struct QueueBound {
    int fd = -1;
    bool reported = false;             // the driver reports its queue
    std::uint32_t bytesPerSecond = 0;  // the line's rate when last asked; 0: unknown
    std::uint32_t atMost = 0;  // bytes queued when last asked, plus every byte written since
};

std::mutex queueMutex;
QueueBound queueBound;  // of the port written last

// Forgets what is known of a descriptor's queue, when it is opened, set up or closed.
void ForgetQueue(int fd) {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queueBound.fd == fd) queueBound = QueueBound{};
}

// How many of `toWrite` bytes may go to the driver now (see line_pacing::BytesToQueue).
std::uint32_t BytesToQueue(int fd, std::uint32_t toWrite) {
    std::lock_guard<std::mutex> lock(queueMutex);
    QueueBound& q = queueBound;
    if (q.fd == fd &&
        (!q.reported || line_pacing::BytesToQueue(q.atMost, toWrite, q.bytesPerSecond) == toWrite))
        return toWrite;  // fits even if nothing has left since the driver was last asked
    q = QueueBound{fd};
    int queued = 0;
    q.reported = ::ioctl(fd, TIOCOUTQ, &queued) == 0;
    if (!q.reported) return toWrite;  // the driver's own buffer is the limit
    termios t{};
    q.bytesPerSecond = ::tcgetattr(fd, &t) == 0 ? LineBytesPerSecond(t) : 0;
    q.atMost = static_cast<std::uint32_t>(std::max(queued, 0));
    return line_pacing::BytesToQueue(q.atMost, toWrite, q.bytesPerSecond);
}

void Queued(int fd, std::uint32_t written) {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queueBound.fd == fd) queueBound.atMost += written;
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
    // descriptor that an XOFF could hold for ever, and WriteFileNow never waits.
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
    ForgetQueue(fd);
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
    d.BaudRate = line_speed::BitRateOf(::cfgetospeed(&t));
    d.fBinary = 1;
    d.ByteSize = static_cast<BYTE>(line_speed::DataBitsOf(t.c_cflag));
    const tcflag_t parity = (t.c_cflag & PARENB) ? t.c_cflag & kParityBits : 0;
    d.Parity = Find(kParities, parity).value_or(NOPARITY);
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    d.StopBits = Find(kStopBits, t.c_cflag & CSTOPB).value_or(ONESTOPBIT);
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
    const auto speed = line_speed::SpeedOf(dcb->BaudRate);
    const auto size = line_speed::CharacterSizeOf(dcb->ByteSize);
    const auto parity = FindBack(kParities, dcb->Parity);
    const auto stopBits = FindBack(kStopBits, dcb->StopBits);
    if (!speed || !size || !parity || !stopBits) return Fail(ERROR_INVALID_PARAMETER, EINVAL);

    ::cfsetispeed(&t, *speed);
    ::cfsetospeed(&t, *speed);
    t.c_cflag &= ~(CSIZE | kParityBits | CSTOPB | CRTSCTS);
    t.c_cflag |= *size | *parity | *stopBits | CREAD | CLOCAL;
    if (dcb->fOutxCtsFlow) t.c_cflag |= CRTSCTS;

    t.c_iflag &=
        ~(IXON | IXOFF | ICRNL | INLCR | IGNCR | IUCLC | ISTRIP | IGNBRK | BRKINT | PARMRK | INPCK);
    if (dcb->fOutX) t.c_iflag |= IXON;
    if (dcb->fInX) t.c_iflag |= IXOFF;
    if (*parity != 0) t.c_iflag |= INPCK;
    if (dcb->XonChar != 0) t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
    if (dcb->XoffChar != 0) t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);

    t.c_oflag &= ~(OPOST | ONLCR | OCRNL | ONOCR | ONLRET);
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    // Reads return at once with whatever is waiting.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const int err = ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
    ForgetQueue(fd);  // the rate may have changed
    return err == 0 ? TRUE : FailErrno(err);
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

BOOL WriteFileNow(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) {
    if (written != nullptr) *written = 0;
    const int fd = FdOf(file);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    const auto* in = static_cast<const unsigned char*>(buffer);
    DWORD sent = 0;
    int err = 0;
    while (sent < toWrite && err == 0) {
        const DWORD now = BytesToQueue(fd, toWrite - sent);
        if (now == 0) break;  // enough line time queued already
        const ssize_t n = ::write(fd, in + sent, now);
        if (n > 0) {
            sent += static_cast<DWORD>(n);
            Queued(fd, static_cast<DWORD>(n));
        } else if (n == 0) {
            err = EIO;  // a tty that takes nothing would never take the rest either
        } else if (errno == EAGAIN) {
            break;  // the driver's buffer is full, or the line held stopped
        } else if (errno != EINTR) {
            err = errno;
        }
    }
    if (written != nullptr) *written = sent;
    if (err != 0) return FailErrno(err);
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void*) {
    if (written != nullptr) *written = 0;
    const auto* in = static_cast<const unsigned char*>(buffer);
    // A tty's POLLOUT comes only once its queue has fallen far below full (on a pseudo-terminal,
    // after most of its 20 KiB have gone), so waiting for it would stall a caller for a long
    // stretch of line time. Short sleeps find room as soon as there is some.
    auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
    DWORD sent = 0;
    for (;;) {
        DWORD n = 0;
        const BOOL ok = WriteFileNow(file, in + sent, toWrite - sent, &n);
        sent += n;
        if (written != nullptr) *written = sent;
        if (!ok) return FALSE;
        if (sent == toWrite) return TRUE;
        const auto now = std::chrono::steady_clock::now();
        if (n > 0) {
            deadline = now + kWriteTimeout;
        } else if (now >= deadline) {
            return Fail(ERROR_GEN_FAILURE, ETIMEDOUT);  // held stopped, e.g. an XOFF and no XON
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

BOOL CloseHandle(HANDLE object) {
    const int fd = FdOf(object);
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE, EBADF);
    ForgetQueue(fd);
    // Linux makes close wait until a serial port's output has drained, up to 30 s on a line held
    // stopped. Queued output gets its line time, bounded, and what is left then is dropped. A
    // driver that reports no queue (a pseudo-terminal) has nothing to drain and loses nothing.
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        termios t{};
        const std::uint32_t rate = ::tcgetattr(fd, &t) == 0 ? LineBytesPerSecond(t) : 0;
        const auto until = std::chrono::steady_clock::now() +
                           line_pacing::DrainWait(static_cast<std::uint32_t>(queued), rate);
        while (queued > 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (::ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;
        }
        if (queued > 0) ::tcflush(fd, TCOFLUSH);
    }
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
