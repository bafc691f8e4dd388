#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "serial/port_io.h"
#include "tests/unit/pty_fixture.h"

using namespace quenby_test;

namespace {

// Every port name points into a private directory where nothing exists, so no test can reach a
// real serial device; Attach gives one port a pseudo-terminal instead.
class SerialLinkTest : public testing::Test {
  protected:
    SerialLinkTest() {
        for (const char* port : {"COM1", "COM2", "COM3", "COM4"})
            env_[port] =
                std::make_unique<ScopedEnv>(std::string("QUENBY_") + port, Absent(port).c_str());
    }
    ~SerialLinkTest() override {
        CloseHandle(hComm);
        hComm = INVALID_HANDLE_VALUE;  // a stale descriptor number must not reach the next test
    }

    std::string Absent(const std::string& port) const { return dir_.File("absent-" + port); }

    // The device starts at a rate and stop bits no open asks for, so the open must change them.
    Pty& Attach(const std::string& port) {
        auto& pty = ptys_[port];
        pty = std::make_unique<Pty>();
        termios t = pty->SlaveTermios();
        cfsetispeed(&t, B1200);
        cfsetospeed(&t, B1200);
        t.c_cflag |= CSTOPB;
        pty->SetSlaveTermios(t);
        PointAt(port, pty->slave());
        return *pty;
    }
    void PointAt(const std::string& port, const std::string& path) {
        env_[port].reset();  // restore first, so the outer value is what survives the test
        env_[port] = std::make_unique<ScopedEnv>("QUENBY_" + port, path.c_str());
    }

    static termios LineSettings() {
        termios t{};
        EXPECT_EQ(tcgetattr(FdOf(hComm), &t), 0);
        return t;
    }

    TempDir dir_;
    std::map<std::string, std::unique_ptr<Pty>> ptys_;
    std::map<std::string, std::unique_ptr<ScopedEnv>> env_;
};

// Character size and parity are also checked in PortDcb, as a pty always reports CS8 without
// parity whatever it was asked.
void ExpectBinary8N1(const termios& t) {
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(PortDcb.ByteSize, 8);
    EXPECT_EQ(PortDcb.Parity, NOPARITY);
    EXPECT_EQ(PortDcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(t.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

struct Row {
    std::size_t row;
    const char* button;
    const char* port;
    speed_t speed;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << r.port;
}

class PortSelection : public SerialLinkTest, public testing::WithParamInterface<Row> {};

TEST_P(PortSelection, OpensTheRowsDeviceAtItsRate) {
    const Row& r = GetParam();
    EXPECT_STREQ(serial::kPortTable[r.row].radioButton, r.button);
    ASSERT_STREQ(serial::kPortTable[r.row].caption, r.port);
    const Pty& pty = Attach(r.port);

    EXPECT_EQ(serial::SelectPort(r.row), std::nullopt);
    ASSERT_NE(hComm, INVALID_HANDLE_VALUE);
    struct stat opened {
    }, expected{};
    ASSERT_EQ(fstat(FdOf(hComm), &opened), 0);
    ASSERT_EQ(stat(pty.slave().c_str(), &expected), 0);
    EXPECT_EQ(opened.st_rdev, expected.st_rdev) << "opened another device than " << r.port;
    const termios t = LineSettings();
    EXPECT_EQ(cfgetospeed(&t), r.speed);
    EXPECT_EQ(cfgetispeed(&t), r.speed);
    ExpectBinary8N1(t);
}

INSTANTIATE_TEST_SUITE_P(PortTable, PortSelection,
                         testing::Values(Row{0, "RadioButton3", "COM1", B115200},
                                         Row{1, "RadioButton4", "COM2", B115200},
                                         Row{2, "RadioButton1", "COM3", B38400},
                                         Row{3, "RadioButton2", "COM4", B115200}),
                         [](const auto& info) { return std::string(info.param.port); });

TEST_F(SerialLinkTest, StartupOpenKeepsTheFlowControlTheDeviceHad) {
    const struct {
        bool rtscts, xonxoff;
    } cases[] = {{true, false}, {false, true}, {true, true}, {false, false}};
    for (const auto& c : cases) {
        const Pty& pty = Attach("COM2");
        pty.SetSlaveFlowControl(c.rtscts, c.xonxoff);
        EXPECT_EQ(serial::OpenStartupPort(), std::nullopt);
        const termios t = pty.SlaveTermios();
        EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
        ExpectBinary8N1(t);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtscts);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.xonxoff ? (IXON | IXOFF) : 0u);
        EXPECT_EQ(PortDcb.fOutxCtsFlow, c.rtscts ? 1u : 0u);
        CloseHandle(hComm);
        hComm = INVALID_HANDLE_VALUE;
    }
}

TEST_F(SerialLinkTest, EveryByteValuePassesUnchangedBothWaysWithoutEcho) {
    Pty& pty = Attach("COM2");
    pty.SetSlaveFlowControl(false, false);  // XON/XOFF would rightly take 0x11 and 0x13
    ASSERT_EQ(serial::OpenStartupPort(), std::nullopt);
    const Bytes all = AllByteValues();  // CR, LF, ^C, ^D, ^S, ^Q, DEL among them

    pty.Send(all);
    COMSTAT stat{};
    DWORD errors;
    for (int i = 0; i < 200 && stat.cbInQue < all.size(); ++i) {
        ASSERT_EQ(ClearCommError(hComm, &errors, &stat), TRUE);
        if (stat.cbInQue < all.size()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(stat.cbInQue, all.size());
    Bytes in(all.size());
    DWORD got = 0;
    ASSERT_EQ(ReadFile(hComm, in.data(), stat.cbInQue, &got, nullptr), TRUE);
    EXPECT_EQ(got, all.size());
    EXPECT_EQ(in, all);
    EXPECT_EQ(pty.Receive(1, std::chrono::milliseconds(100)), Bytes{}) << "echoed to the board";

    DWORD written = 0;
    ASSERT_EQ(WriteFile(hComm, all.data(), all.size(), &written, nullptr), TRUE);
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(pty.Receive(all.size() + 1, std::chrono::milliseconds(300)), all)
        << "LF must not become CR LF, nor CR become LF";
}

TEST_F(SerialLinkTest, AWriteLargerThanTheLineBuffersArrivesWhole) {
    Pty& pty = Attach("COM2");
    ASSERT_EQ(serial::OpenStartupPort(), std::nullopt);
    Bytes out(300000);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>(i * 7 + i / 251);
    Bytes in;
    std::thread board([&] { in = pty.Receive(out.size(), std::chrono::seconds(10)); });
    DWORD written = 0;
    // Synchronous: when the write returns, the driver has taken every byte.
    EXPECT_EQ(WriteFile(hComm, out.data(), out.size(), &written, nullptr), TRUE);
    EXPECT_EQ(written, out.size());
    board.join();
    EXPECT_TRUE(in == out) << "received " << in.size() << " of " << out.size() << " bytes";
}

TEST_F(SerialLinkTest, AnOpenPortIsHeldUntilAnotherPortIsSelected) {
    Attach("COM1");
    const Pty& com2 = Attach("COM2");
    ASSERT_EQ(serial::OpenStartupPort(), std::nullopt);
    EXPECT_EQ(
        CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    ASSERT_EQ(serial::SelectPort(0), std::nullopt);
    // Programs that only honour the exclusive-use flag must find it cleared as well.
    const int plain = ::open(com2.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(plain, 0);
    int exclusive = -1;
    EXPECT_EQ(ioctl(plain, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(plain);
    const HANDLE other =
        CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
}

TEST_F(SerialLinkTest, AFailedOpenStoresTheInvalidHandleAndSaysWhyOnce) {
    std::ofstream(dir_.File("plain")) << "not a tty";
    Pty held;
    const HANDLE holder = CreateFileA(held.slave().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const struct {
        std::string device;
        const char* reason;
    } cases[] = {
        {Absent("COM2"), "No such file or directory"},
        {dir_.File("plain"), "not a serial device"},
        {held.slave(), "in use by another program"},
    };
    for (const auto& c : cases) {
        PointAt("COM2", c.device);
        testing::internal::CaptureStderr();
        const auto failure = serial::OpenStartupPort();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(hComm, INVALID_HANDLE_VALUE) << c.reason;
        ASSERT_TRUE(failure.has_value()) << c.reason;
        EXPECT_EQ(failure->port, "COM2");
        EXPECT_EQ(failure->device, c.device);
        EXPECT_EQ(failure->reason, c.reason);
        EXPECT_EQ(said, "quenby: cannot open COM2 (" + c.device + "): " + c.reason + "\n");
    }
    CloseHandle(holder);
}

TEST_F(SerialLinkTest, AFailedSelectionStillReleasesTheOldPort) {
    Attach("COM2");
    ASSERT_EQ(serial::OpenStartupPort(), std::nullopt);
    testing::internal::CaptureStderr();
    const auto failure = serial::SelectPort(3);  // COM4 does not exist
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->port, "COM4");
    EXPECT_EQ(said,
              "quenby: cannot open COM4 (" + Absent("COM4") + "): No such file or directory\n");
    EXPECT_EQ(hComm, INVALID_HANDLE_VALUE);
    const HANDLE again =
        CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "COM2 still held after selecting COM4";
    CloseHandle(again);
}

}  // namespace

namespace {

// A write that may let other work run while it waits still gives up on a line held stopped, and
// the time that work takes is not counted against the line.
TEST_F(SerialLinkTest, AWriteWaitingWithAHookFailsOnALineHeldStoppedAndWorksAfterXon) {
    Pty& pty = Attach("COM2");
    pty.SetSlaveFlowControl(false, true);
    ASSERT_EQ(serial::OpenStartupPort(), std::nullopt);
    pty.Send({0x13});  // XOFF
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    int hookRuns = 0;
    const auto hook = [&] {
        if (hookRuns++ == 0) std::this_thread::sleep_for(std::chrono::seconds(1));
    };
    const unsigned char byte = 0x55;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(serial::Write(&byte, 1, hook));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kWriteTimeout + std::chrono::seconds(1));
    EXPECT_GT(hookRuns, 1);
    EXPECT_EQ(pty.Receive(1, std::chrono::milliseconds(100)), Bytes{});

    pty.Send({0x11});  // XON
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(serial::Write(&byte, 1, hook));
    EXPECT_EQ(pty.Receive(1), Bytes({0x55}));
}

}  // namespace
