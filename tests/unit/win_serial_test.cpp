#include "platform/win_serial.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/line_rate_reader.h"
#include "tests/unit/pty_fixture.h"

using namespace quenby_test;

namespace {

HANDLE OpenExclusive(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(ComDevicePath, MapsPortNamesAndReadsTheEnvironmentAtEachCall) {
    struct Case {
        const char* name;
        const char* var;    // environment variable set for the call, or nullptr
        const char* value;  // its value; nullptr removes it
        const char* expected;
    };
    const Case cases[] = {
        {"COM1", "QUENBY_COM1", nullptr, "/dev/ttyS0"},
        {"COM4", "QUENBY_COM4", nullptr, "/dev/ttyS3"},
        {"COM2", "QUENBY_COM2", "/dev/pts/5", "/dev/pts/5"},
        {"COM2", "QUENBY_COM2", nullptr, "/dev/ttyS1"},  // same name, variable gone since
        {"COM3", "QUENBY_COM3", "", "/dev/ttyS2"},       // empty means unset
        {"COM2", "QUENBY_COM1", "/dev/pts/7", "/dev/ttyS1"},
        {"COM5", "QUENBY_COM5", "/dev/pts/7", "COM5"},  // only COM1..COM4 are mapped
        {"COM12", nullptr, nullptr, "COM12"},
        {"com1", nullptr, nullptr, "com1"},
        {"/dev/ttyUSB0", nullptr, nullptr, "/dev/ttyUSB0"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<ScopedEnv> env;
        if (c.var) env = std::make_unique<ScopedEnv>(c.var, c.value);
        EXPECT_EQ(ComDevicePath(c.name), c.expected)
            << c.name << " with " << (c.var ? c.var : "-") << "=" << (c.value ? c.value : "unset");
    }
}

TEST(CreateFileA, RefusedOpensReportTheCauseAndKeepNoDescriptor) {
    TempDir dir;
    Pty held;
    const HANDLE holder = OpenExclusive(held.slave());
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    { std::ofstream(dir.File("plain")) << "not a tty"; }
    struct Case {
        const char* what;
        std::string path;
        DWORD error;
        int err;
    };
    const Case cases[] = {
        {"missing device", dir.File("absent"), ERROR_FILE_NOT_FOUND, ENOENT},
        {"regular file", dir.File("plain"), ERROR_NOT_SUPPORTED, ENOTTY},
        {"character device that is no terminal", "/dev/null", ERROR_NOT_SUPPORTED, ENOTTY},
        {"port held by another opener", held.slave(), ERROR_SHARING_VIOLATION, EWOULDBLOCK},
    };
    for (const Case& c : cases) {
        const std::size_t before = OpenDescriptors();
        EXPECT_EQ(OpenExclusive(c.path), INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        EXPECT_EQ(GetLastErrno(), c.err) << c.what;
        EXPECT_EQ(OpenDescriptors(), before) << c.what;
    }
    EXPECT_EQ(CloseHandle(holder), TRUE);
    const HANDLE again = OpenExclusive(held.slave());
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "closing must release the port";
    CloseHandle(again);
}

// One line setting, as termios bits and as the record that describes it. The pty driver forces
// CS8 and clears PARENB whatever is asked, so character size and parity cannot be read back here;
// what it keeps of parity (PARODD, CMSPAR, INPCK) is checked on the way in.
struct Framing {
    const char* what;
    speed_t speed;
    tcflag_t cflag;  // CSTOPB and CRTSCTS
    tcflag_t iflag;  // IXON and IXOFF
    cc_t vstart, vstop;
    DWORD rate;
    BYTE stopBits;
    BYTE parity;          // applied by SetCommState
    tcflag_t parityBits;  // the PARODD and CMSPAR it must leave
};

const Framing kFramings[] = {
    {"9600 N1", B9600, 0, 0, 0x11, 0x13, 9600, ONESTOPBIT, NOPARITY, 0},
    {"50 E2", B50, CSTOPB, 0, 0x11, 0x13, 50, TWOSTOPBITS, EVENPARITY, 0},
    {"57600 O1", B57600, 0, 0, 0x11, 0x13, 57600, ONESTOPBIT, ODDPARITY, PARODD},
    {"4000000 M2", B4000000, CSTOPB, 0, 0x11, 0x13, 4000000, TWOSTOPBITS, MARKPARITY,
     PARODD | CMSPAR},
    {"115200 S1, RTS/CTS and XON/XOFF with own characters", B115200, CRTSCTS, IXON | IXOFF, 0x01,
     0x02, 115200, ONESTOPBIT, SPACEPARITY, CMSPAR},
};

TEST(CommState, GetCommStateDescribesTheDriverSetting) {
    for (const Framing& f : kFramings) {
        Pty pty;
        termios t = pty.SlaveTermios();
        cfsetispeed(&t, f.speed);
        cfsetospeed(&t, f.speed);
        t.c_cflag = (t.c_cflag & ~(CSTOPB | CRTSCTS)) | f.cflag;
        t.c_iflag = (t.c_iflag & ~(IXON | IXOFF)) | f.iflag;
        t.c_cc[VSTART] = f.vstart;
        t.c_cc[VSTOP] = f.vstop;
        pty.SetSlaveTermios(t);
        const HANDLE h = OpenExclusive(pty.slave());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);

        DCB d;
        d.EofChar = 'x';  // stale content must not survive: the whole record is filled
        ASSERT_EQ(GetCommState(h, &d), TRUE) << f.what;
        const bool rtscts = f.cflag & CRTSCTS;
        EXPECT_EQ(d.DCBlength, sizeof(DCB)) << f.what;
        EXPECT_EQ(d.BaudRate, f.rate) << f.what;
        EXPECT_EQ(d.ByteSize, 8) << f.what;
        EXPECT_EQ(d.Parity, NOPARITY) << f.what;
        EXPECT_EQ(d.StopBits, f.stopBits) << f.what;
        EXPECT_EQ(d.fBinary, 1u) << f.what;
        EXPECT_EQ(d.fOutxCtsFlow, rtscts ? 1u : 0u) << f.what;
        EXPECT_EQ(d.fRtsControl, rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE) << f.what;
        EXPECT_EQ(d.fOutX, (f.iflag & IXON) ? 1u : 0u) << f.what;
        EXPECT_EQ(d.fInX, (f.iflag & IXOFF) ? 1u : 0u) << f.what;
        EXPECT_EQ(d.XonChar, static_cast<char>(f.vstart)) << f.what;
        EXPECT_EQ(d.XoffChar, static_cast<char>(f.vstop)) << f.what;
        EXPECT_EQ(d.EofChar, 0) << f.what;
        CloseHandle(h);
    }
}

TEST(CommState, SetCommStateAppliesTheRecordOnABinaryLine) {
    for (const Framing& f : kFramings) {
        Pty pty;  // starts as a fresh terminal: echo, canonical input, CR/LF translation
        const HANDLE h = OpenExclusive(pty.slave());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DCB d;
        ASSERT_EQ(GetCommState(h, &d), TRUE);
        d.BaudRate = f.rate;
        d.ByteSize = 8;
        d.Parity = f.parity;
        d.StopBits = f.stopBits;
        d.fOutxCtsFlow = (f.cflag & CRTSCTS) ? 1 : 0;
        d.fOutX = (f.iflag & IXON) ? 1 : 0;
        d.fInX = (f.iflag & IXOFF) ? 1 : 0;
        d.XonChar = static_cast<char>(f.vstart);
        d.XoffChar = static_cast<char>(f.vstop);
        ASSERT_EQ(SetCommState(h, &d), TRUE) << f.what;

        const termios t = pty.SlaveTermios();
        EXPECT_EQ(cfgetospeed(&t), f.speed) << f.what;
        EXPECT_EQ(cfgetispeed(&t), f.speed) << f.what;
        EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), f.cflag) << f.what;
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), f.parityBits) << f.what;
        EXPECT_EQ(t.c_iflag & INPCK, f.parity != NOPARITY ? INPCK : 0u) << f.what;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), f.iflag) << f.what;
        EXPECT_EQ(t.c_cc[VSTART], f.vstart) << f.what;
        EXPECT_EQ(t.c_cc[VSTOP], f.vstop) << f.what;
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL) << f.what;
        EXPECT_EQ(t.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN), 0u)
            << f.what;
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK), 0u) << f.what;
        EXPECT_EQ(t.c_oflag & (OPOST | ONLCR | OCRNL), 0u) << f.what;
        EXPECT_EQ(t.c_cc[VMIN], 0) << f.what;
        EXPECT_EQ(t.c_cc[VTIME], 0) << f.what;
        CloseHandle(h);
    }
}

TEST(CommState, SetCommStateRefusesWhatTheLineCannotTakeAndChangesNothing) {
    const struct {
        const char* what;
        std::function<void(DCB&)> spoil;
    } bad[] = {
        {"unsupported rate", [](DCB& d) { d.BaudRate = 12345; }},
        {"no rate", [](DCB& d) { d.BaudRate = 0; }},
        {"9-bit characters", [](DCB& d) { d.ByteSize = 9; }},
        {"unknown parity", [](DCB& d) { d.Parity = 5; }},
        {"unknown stop bits", [](DCB& d) { d.StopBits = 3; }},
    };
    Pty pty;
    const HANDLE h = OpenExclusive(pty.slave());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB good;
    ASSERT_EQ(GetCommState(h, &good), TRUE);
    good.BaudRate = 115200;
    good.ByteSize = 8;
    ASSERT_EQ(SetCommState(h, &good), TRUE);
    const termios before = pty.SlaveTermios();
    for (const auto& b : bad) {
        DCB d = good;
        d.fOutxCtsFlow = 1;  // a valid change riding along must not be applied either
        b.spoil(d);
        EXPECT_EQ(SetCommState(h, &d), FALSE) << b.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << b.what;
        const termios after = pty.SlaveTermios();
        EXPECT_EQ(after.c_cflag, before.c_cflag) << b.what;
        EXPECT_EQ(after.c_iflag, before.c_iflag) << b.what;
        EXPECT_EQ(after.c_lflag, before.c_lflag) << b.what;
    }
    CloseHandle(h);
}

TEST(HangUp, ALineWhoseFarEndClosedFailsPromptly) {
    Pty pty;
    const HANDLE h = OpenExclusive(pty.slave());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB d;
    ASSERT_EQ(GetCommState(h, &d), TRUE);
    ASSERT_EQ(SetCommState(h, &d), TRUE);
    pty.Send({'a', 'b', 'c'});
    pty.CloseMaster();

    const auto start = std::chrono::steady_clock::now();
    DWORD errors = 7;
    COMSTAT stat;
    stat.cbInQue = 99;
    ClearCommError(h, &errors, &stat);
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(errors, 0u);

    // More than the line buffers: a write that blocked or retried on a dead line would hang here.
    const Bytes big(1 << 20, 0x55);
    DWORD written = 12345;
    EXPECT_EQ(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr), FALSE);
    EXPECT_EQ(written, 0u);

    unsigned char buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    DWORD got = 12345;
    EXPECT_EQ(ReadFile(h, buf, sizeof buf, &got, nullptr), FALSE) << "a hang-up is a failure";
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(CloseHandle(h), TRUE);
}

TEST(InvalidHandle, EveryCallFailsHarmlessly) {
    int closed = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(closed, 0);
    ::close(closed);
    const HANDLE handles[] = {
        INVALID_HANDLE_VALUE,
        reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(closed)),   // a descriptor now unused
        reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(1) << 40),  // beyond any descriptor
    };
    for (std::size_t i = 0; i < std::size(handles); ++i) {
        const HANDLE h = handles[i];
        auto failedAsInvalid = [&](BOOL r, const char* call) {
            EXPECT_EQ(r, FALSE) << call << ", handle " << i;
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << call << ", handle " << i;
        };
        DCB d;
        d.BaudRate = 4242;
        failedAsInvalid(GetCommState(h, &d), "GetCommState");
        EXPECT_EQ(d.BaudRate, 4242u);
        d.BaudRate = 115200;
        d.ByteSize = 8;
        failedAsInvalid(SetCommState(h, &d), "SetCommState");
        failedAsInvalid(SetupComm(h, 50000, 50000), "SetupComm");
        DWORD errors = 1;
        COMSTAT stat;
        stat.cbInQue = 99;
        failedAsInvalid(ClearCommError(h, &errors, &stat), "ClearCommError");
        EXPECT_EQ(stat.cbInQue, 0u);
        unsigned char buf[8] = {0xEE};
        DWORD n = 99;
        failedAsInvalid(ReadFile(h, buf, sizeof buf, &n, nullptr), "ReadFile");
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(buf[0], 0xEE);
        n = 99;
        failedAsInvalid(WriteFile(h, "x", 1, &n, nullptr), "WriteFile");
        EXPECT_EQ(n, 0u);
        failedAsInvalid(CloseHandle(h), "CloseHandle");
    }
}

}  // namespace

// A line kept stopped by XON/XOFF flow control fails a write after the time-out instead of
// freezing the caller; once the far end sends XON the line works again.
TEST(FlowControl, ALineHeldStoppedFailsTheWriteInsteadOfBlockingForEver) {
    Pty pty;
    pty.SetSlaveFlowControl(false, true);
    const HANDLE h = OpenExclusive(pty.slave());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB d;
    ASSERT_EQ(GetCommState(h, &d), TRUE);
    ASSERT_EQ(d.fOutX, 1u);
    ASSERT_EQ(SetCommState(h, &d), TRUE);

    pty.Send({0x13});  // XOFF
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const unsigned char byte = 0x55;
    DWORD written = 9;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WriteFile(h, &byte, 1, &written, nullptr), FALSE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kWriteTimeout);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastErrno(), ETIMEDOUT);

    pty.Send({0x11});  // XON
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(WriteFile(h, &byte, 1, &written, nullptr), TRUE);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(pty.Receive(1), Bytes({0x55}));
    EXPECT_EQ(CloseHandle(h), TRUE);
}

namespace {

// Opens the pty's slave as a 115200 8N1 port.
HANDLE OpenAt115200(const Pty& pty) {
    const HANDLE h = OpenExclusive(pty.slave());
    DCB d;
    EXPECT_EQ(GetCommState(h, &d), TRUE);
    d.BaudRate = 115200;
    EXPECT_EQ(SetCommState(h, &d), TRUE);
    return h;
}

// The byte at offset i of everything a test writes to the line.
unsigned char Pattern(std::size_t i) {
    return static_cast<unsigned char>(i * 7 + i / 251);
}
// Writes Pattern from offset 0 until the driver takes no more; returns how many bytes it took.
std::size_t FillLine(HANDLE h) {
    std::size_t filled = 0;
    for (int quiet = 0; quiet < 2;) {
        unsigned char buf[1024];
        for (std::size_t i = 0; i < sizeof buf; ++i) buf[i] = Pattern(filled + i);
        const ssize_t n = ::write(FdOf(h), buf, sizeof buf);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
            quiet = 0;
        } else {
            ++quiet;  // the pty moves what it holds along in the background: try once more
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return filled;
}

}  // namespace

// A full line whose far end takes 11,520 B/s frees room a little at a time, and every write takes
// it as it comes: none waits for the line to empty.
TEST(FullLine, WritesFindRoomAsTheFarEndTakesBytesAtTheLineRate) {
    Pty pty;
    const HANDLE h = OpenAt115200(pty);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::size_t sent = FillLine(h);
    ASSERT_GT(sent, 4096u);

    LineRateReader far(pty.master(), 11520);
    std::chrono::steady_clock::duration longest{0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
    while (std::chrono::steady_clock::now() < until) {
        const unsigned char two[2] = {Pattern(sent), Pattern(sent + 1)};
        DWORD written = 0;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(WriteFile(h, two, 2, &written, nullptr), TRUE);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        ASSERT_EQ(written, 2u);
        sent += 2;
    }
    far.Stop();
    EXPECT_LT(longest, std::chrono::milliseconds(500)) << "a write waited for the line to drain";

    const std::string head = far.Got();
    const Bytes tail = pty.Receive(sent - head.size());
    Bytes got(head.begin(), head.end());
    got.insert(got.end(), tail.begin(), tail.end());
    ASSERT_EQ(got.size(), sent);
    for (std::size_t i = 0; i < sent; ++i) ASSERT_EQ(got[i], Pattern(i)) << "at byte " << i;
    EXPECT_EQ(CloseHandle(h), TRUE);
}

// A close never waits for a full line to drain. A pseudo-terminal reports no output queue, so
// nothing is dropped there: the far end still gets every byte written before the close.
TEST(FullLine, CloseReturnsAtOnceAndAQueueTheDriverDoesNotReportIsKept) {
    Pty pty;
    const HANDLE h = OpenAt115200(pty);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::size_t filled = FillLine(h);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

    const Bytes got = pty.Receive(filled, std::chrono::milliseconds(500));
    ASSERT_EQ(got.size(), filled);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], Pattern(i)) << "at byte " << i;
    const HANDLE again = OpenExclusive(pty.slave());
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the port must be free after the close";
    CloseHandle(again);
}
