// The program driven as a person would: clicks, the file dialog, the close button.

#include <algorithm>
#include <cstdio>

#include "tests/e2e/session.h"
#include "tests/e2e/transfer_file.h"

namespace e2e {
namespace {

using namespace std::string_literals;
namespace c = controls;

class Ui : public Session {};

TEST_F(Ui, TestBytesArriveOnePerClickInOrder) {
    auto [line, p] = Start();

    p.Click(c::kDataOut0x55, 3);
    EXPECT_EQ(line.Expect("UUU"), "UUU");
    p.Click(c::kDataOut0xAA, 2);
    p.Click(c::kDataOut0x55);
    EXPECT_EQ(line.Expect("UUU\xAA\xAAU"), "UUU\xAA\xAAU");
}

TEST_F(Ui, FileTransfersArriveByteForByteUnderTheTextRules) {
    struct Case {
        const char* name;
        std::string file, wire;
    };
    const Case cases[] = {
        // CR dropped anywhere, LF sent as CR LF, other bytes as they are, nothing from Ctrl-Z on.
        {"rules.s",
         "S00F00\r\nS113\n\r\rA\rB\n\n\x00\x7f\x80\xff\x1a"s
         "AFTER\n",
         "S00F00\r\nS113\r\nAB\r\n\r\n\x00\x7f\x80\xff"s},
        {"no-line-end.hex", ":00000001FF", ":00000001FF"},
        {"ctrl-z-first.s", "\x1aS0\n", ""},
    };
    auto [line, p] = Start();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        line.Clear();
        ASSERT_TRUE(p.Transfer(File(k.name, k.file)));
        // A test byte after the transfer shows where its bytes end.
        p.Click(c::kDataOut0x55);
        const std::string got = line.Expect(k.wire + "U");
        EXPECT_EQ(got, k.wire + "U") << Difference(got, k.wire + "U");
    }
}

// Nothing of the dialog stays behind to take the clicks that come straight after it.
TEST_F(Ui, FileChosenByTypingItsNameAndReturn_TestBytesClickedAtOnceFollowExactly) {
    Line line;
    Attach(2, line.Slave());
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    ASSERT_TRUE(p.WaitOpen(line.Slave()));
    File("prog0.s", "S0\n");
    ASSERT_TRUE(p.Transfer(File("prog1.s", "S9030000FC\n")));
    p.Click(c::kDataOut0x55);
    p.Click(c::kDataOut0xAA);
    p.Click(c::kDataOut0x55, 2);
    const std::string want = "S9030000FC\r\nU\xAAUU";
    const std::string got = line.Expect(want);
    EXPECT_EQ(got, want) << Difference(got, want);
    EXPECT_EQ(p.VisibleWindows(), std::vector<unsigned long>{p.Window()});
}

// The frame's extents as the window manager reports them: left, right, top, bottom.
std::vector<int> FrameExtents(unsigned long window) {
    std::string out;
    Run({"xprop", "-id", std::to_string(window), "_NET_FRAME_EXTENTS"}, &out);
    std::vector<int> extents(4, -1);
    const auto eq = out.find('=');
    if (eq == std::string::npos || std::sscanf(out.c_str() + eq + 1, " %d, %d, %d, %d", &extents[0],
                                               &extents[1], &extents[2], &extents[3]) != 4)
        return {};
    return extents;
}

TEST_F(Ui, OuterSizeWithTheWindowManagersFrameIs590By570) {
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    std::vector<int> frame;
    ASSERT_TRUE(WaitUntil([&] { return !(frame = FrameExtents(p.Window())).empty(); }, 30s))
        << "the window manager reports no frame";
    EXPECT_GT(frame[2], 0) << "a title bar";
    int width = 0, height = 0;
    // The client area settles once the frame is known.
    const bool settled = WaitUntil(
        [&] {
            std::string info;
            e2e::Run({"xwininfo", "-id", std::to_string(p.Window())}, &info);
            std::sscanf(info.c_str() + info.find("Width:"), "Width: %d", &width);
            std::sscanf(info.c_str() + info.find("Height:"), "Height: %d", &height);
            return width + frame[0] + frame[1] == 590 && height + frame[2] + frame[3] == 570;
        },
        10s);
    EXPECT_TRUE(settled) << "client " << width << "x" << height << ", frame " << frame[0] << ","
                         << frame[1] << "," << frame[2] << "," << frame[3];
}

TEST_F(Ui, PortButtonsOpenAtTheirRate8N1AndReleaseThePreviousPort) {
    Line lines[4];
    for (int n = 1; n <= 4; ++n) {
        lines[n - 1].SetSpeed(B9600);  // the program must change it
        Attach(n, lines[n - 1].Slave());
    }
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);

    struct Step {
        const char* label;
        Control button;
        int port;
        speed_t speed;
    };
    const Step steps[] = {
        {"start-up COM2", {}, 2, B115200}, {"COM3", c::kCom3, 3, B38400},
        {"COM1", c::kCom1, 1, B115200},    {"COM4", c::kCom4, 4, B115200},
        {"COM2", c::kCom2, 2, B115200},
    };
    int previous = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.label);
        Line& now = lines[s.port - 1];
        if (previous != 0) p.Click(s.button);
        ASSERT_TRUE(p.WaitOpen(now.Slave()));
        if (previous != 0) {
            const std::string& old = lines[previous - 1].Slave();
            EXPECT_TRUE(p.WaitReleased(old));
            EXPECT_TRUE(CanLock(old)) << "the old port is still locked";
        }
        EXPECT_FALSE(CanLock(now.Slave())) << "the port is not locked against others";

        const termios t = now.Settings();
        EXPECT_EQ(cfgetospeed(&t), s.speed);
        EXPECT_EQ(cfgetispeed(&t), s.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);

        // The test byte goes to this port and no other.
        for (Line& l : lines) l.Clear();
        p.Click(c::kDataOut0x55);
        EXPECT_EQ(now.Expect("U"), "U");
        for (Line& l : lines) {
            if (&l != &now) {
                EXPECT_EQ(l.Size(), 0u);
            }
        }
        previous = s.port;
    }
}

TEST_F(Ui, BoardRecordsAreConsumedAndShownAndTestBytesReachTheBoard) {
    auto [quiet, p] = Start();
    // Without records nothing in the readings moves.
    const std::string idle = p.Capture(c::kReadings);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(p.Capture(c::kReadings), idle);

    Board board(*this, 1, {"--rate", "10", "--seed", "7"});
    ASSERT_FALSE(board.Slave().empty());
    p.Click(c::kCom1);
    ASSERT_TRUE(p.WaitOpen(board.Slave()));
    std::this_thread::sleep_for(2s);
    const std::string first = p.Capture(c::kReadings);
    EXPECT_NE(first, idle) << "records do not show";
    std::this_thread::sleep_for(1s);
    EXPECT_NE(p.Capture(c::kReadings), first) << "the readings do not follow the records";

    // The records are taken as they come: the input queue never holds more than a few.
    int most = 0;
    for (int i = 0; i < 20; ++i) {
        most = std::max(most, InputQueued(board.Slave()));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LE(most, 4 * 26);

    p.Click(c::kDataOut0x55);
    EXPECT_TRUE(board.WaitRx("rx 1: 55 | U"));
    p.Click(c::kDataOut0xAA);
    EXPECT_TRUE(board.WaitRx("rx 1: aa | ."));
    EXPECT_EQ(board.RxLines().size(), 2u);
    Shot();
    p.Close();
    EXPECT_EQ(p.WaitExit(60s), 0);

    board.Process().Stop();
    EXPECT_NE(board.Process().Err().find(", 0 bytes dropped"), std::string::npos)
        << board.Process().Err();
}

TEST_F(Ui, CloseEndsTheProgramWithStatusZero) {
    auto [line, p] = Start();
    Shot();
    p.Close();
    EXPECT_EQ(p.WaitExit(60s), 0);
    EXPECT_TRUE(CanLock(line.Slave()));
}

TEST_F(Ui, CloseDuringATransferWaitsForItsLastByteThenExitsZero) {
    const TransferFile t = MakeTransferFile(1 << 20, 11);
    auto [line, p] = Start();
    ASSERT_TRUE(p.Transfer(File("big.s", t.file)));
    line.WaitFor(64 << 10);

    // Hold the line so the transfer is certainly still running when the close comes.
    line.Pause();
    std::this_thread::sleep_for(300ms);
    p.Close();
    std::this_thread::sleep_for(500ms);
    Shot();
    line.Resume();
    std::this_thread::sleep_for(300ms);
    if (line.Size() < t.wire.size()) {
        EXPECT_TRUE(p.Running()) << "ended in the middle of the transfer";
        const auto windows = p.VisibleWindows();
        EXPECT_TRUE(std::find(windows.begin(), windows.end(), p.Window()) != windows.end())
            << "the window went before the transfer ended";
    }
    EXPECT_EQ(p.WaitExit(600s), 0);
    const std::string got = line.Expect(t.wire, 10s);
    EXPECT_TRUE(got == t.wire) << Difference(got, t.wire);
}

}  // namespace
}  // namespace e2e
