// The program on boards that take its bytes at the line's own rate, as a UART does: the window
// stays live during a transfer, test bytes and readings stay right, and a port change answers.

#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "tests/e2e/session.h"
#include "tests/e2e/transfer_file.h"

namespace e2e {
namespace {

using namespace std::string_literals;
namespace c = controls;

constexpr Control kClock{514, 8, 56, 21};        // Edit1
constexpr Control kMonitor{103, 320, 418, 169};  // Memo1
constexpr Control kMonClr{8, 312, 75, 25};       // Button3
// Edit2, Edit5 and Edit6; Edit7, Edit8 and Edit9: maximum, minimum and difference.
constexpr Control kChannel0{168, 120, 121, 107};
constexpr Control kChannel1{384, 120, 121, 107};

constexpr int kRamp = 50;  // the board's records run 1000..1049 and 3000..3049, then again

// The screen read straight from the X server: a grab takes about a millisecond, so a change can
// be timed to within a few.
class Screen {
  public:
    explicit Screen(unsigned long window) {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_)) throw std::runtime_error("no X connection");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        auto* at = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, static_cast<xcb_window_t>(window), root_, 0, 0),
            nullptr);
        if (at == nullptr) throw std::runtime_error("no such window");
        x_ = at->dst_x;
        y_ = at->dst_y;
        std::free(at);
    }
    ~Screen() { xcb_disconnect(c_); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // The pixels of an area of the window's client area, as the server keeps them.
    std::string Grab(const Control& a) const {
        auto* img = xcb_get_image_reply(
            c_,
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(x_ + a.x),
                          static_cast<int16_t>(y_ + a.y), static_cast<uint16_t>(a.w),
                          static_cast<uint16_t>(a.h), ~0u),
            nullptr);
        if (img == nullptr) return {};
        std::string px(reinterpret_cast<const char*>(xcb_get_image_data(img)),
                       static_cast<std::size_t>(xcb_get_image_data_length(img)));
        std::free(img);
        return px;
    }

  private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    int x_ = 0, y_ = 0;
};

// Grabs the clock every 10 ms on a thread of its own and keeps the times it changed.
class ClockWatch {
  public:
    explicit ClockWatch(unsigned long window)
        : thread_([this, window] {
              const Screen screen(window);
              std::string last = screen.Grab(kClock);
              while (!stop_) {
                  std::this_thread::sleep_for(10ms);
                  const std::string now = screen.Grab(kClock);
                  if (now == last) continue;
                  last = now;
                  const std::lock_guard lock(mutex_);
                  changes_.push_back(Clock::now());
              }
          }) {}
    ~ClockWatch() {
        stop_ = true;
        thread_.join();
    }

    // The longest time within [from, to] during which the clock did not change.
    Clock::duration LongestStill(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard lock(mutex_);
        Clock::duration longest{};
        Clock::time_point since = from;
        for (const auto t : changes_) {
            if (t < from) continue;
            if (t > to) break;
            longest = std::max(longest, t - since);
            since = t;
        }
        return std::max(longest, to - since);
    }

  private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Clock::time_point> changes_;
    std::thread thread_;
};

// What a board has received, parsed from its "rx N: hex | text" lines by a thread that looks
// every 10 ms, with the times the first and the latest bytes were seen.
class Received {
  public:
    explicit Received(Board& board)
        : path_(board.Process().OutPath()), thread_([this] {
              while (!stop_) {
                  Parse();
                  std::this_thread::sleep_for(10ms);
              }
          }) {}
    ~Received() {
        stop_ = true;
        thread_.join();
    }

    std::string Bytes() {
        const std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::size_t Size() {
        const std::lock_guard lock(mutex_);
        return bytes_.size();
    }
    bool EndsWith(const std::string& tail) {
        const std::lock_guard lock(mutex_);
        return bytes_.ends_with(tail);
    }
    std::optional<Clock::time_point> First() {
        const std::lock_guard lock(mutex_);
        return first_;
    }
    Clock::time_point Latest() {
        const std::lock_guard lock(mutex_);
        return latest_;
    }
    bool WaitFor(std::size_t count, Clock::duration limit) {
        return WaitUntil([&] { return Size() >= count; }, limit);
    }
    // Waits until nothing more has come for `quiet`.
    void WaitQuiet(Clock::duration quiet, Clock::duration limit) {
        WaitUntil([&] { return First() && Clock::now() - Latest() >= quiet; }, limit);
    }

  private:
    void Parse() {
        std::ifstream f(path_, std::ios::binary);
        f.seekg(static_cast<std::streamoff>(offset_));
        std::string line, got;
        while (std::getline(f, line)) {
            if (f.eof()) break;  // not yet written to its end
            offset_ += line.size() + 1;
            if (!line.starts_with("rx ")) continue;
            const auto colon = line.find(':'), bar = line.find(" | ");
            for (std::size_t i = colon + 2; i + 2 <= bar; i += 3)
                got += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        }
        if (got.empty()) return;
        const std::lock_guard lock(mutex_);
        bytes_ += got;
        latest_ = Clock::now();
        if (!first_) first_ = latest_;
    }

    std::string path_;
    std::size_t offset_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string bytes_;
    std::optional<Clock::time_point> first_;
    Clock::time_point latest_;
    std::thread thread_;
};

bool IsTestByte(char b) {
    return b == '\x55' || b == '\xAA';
}

// Whether the monitor holds at most one chunk: nothing below its first two rows of text (a
// chunk with a line end in it may wrap onto a second). A memo without text is its background
// colour throughout, apart from the frame and the scroll bar at its right.
bool AtMostOneChunk(const std::string& px, const Control& area) {
    constexpr int kTwoRows = 50, kFrame = 3, kScrollBar = 20;  // rows are 23 px apart
    const auto at = [&](int x, int y) { return px.substr((y * area.w + x) * 4, 3); };
    const std::string background = at(kFrame + 2, area.h - kFrame - 2);
    for (int y = kTwoRows; y < area.h - kFrame; ++y)
        for (int x = kFrame; x < area.w - kScrollBar; ++x)
            if (at(x, y) != background) return false;
    return true;
}

struct LiveCase {
    const char* name;
    int port;
    Control button;  // the port button, or none for COM2, open from the start
    std::size_t fileSize;
};

void PrintTo(const LiveCase& k, std::ostream* os) {
    *os << k.name;
}

class LineRateTransfer : public Session, public ::testing::WithParamInterface<LiveCase> {};

// A transfer fills the line for seconds. Meanwhile the clock runs, MON_CLR empties the monitor
// at once, test bytes go out between the file's line ends, and every record the board sends is
// read whole, so the readings afterwards are those of the records sent. A tick held up for more
// than a record's time (100 ms), by the transfer or by a test byte waiting for room, lets two
// records pile up; a tick then reads 28 bytes across them and the next finds a tag it cannot
// read the fields after, which shows as a minimum of 0.
TEST_P(LineRateTransfer, WindowStaysLiveAndReadingsStayExact) {
    const LiveCase& k = GetParam();
    const TransferFile t = MakeTransferFile(k.fileSize, 9);
    Board board(*this, k.port, {"--rate", "10", "--ramp", std::to_string(kRamp)});
    ASSERT_FALSE(board.Slave().empty());
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    if (k.port != 2) p.Click(k.button);
    ASSERT_TRUE(p.WaitOpen(board.Slave()));
    Received rx(board);
    const Screen screen(p.Window());

    ClockWatch clock(p.Window());
    const std::string path = File("line.s", t.file);
    ASSERT_TRUE(p.Transfer(path));
    ASSERT_TRUE(rx.WaitFor(1, 10s)) << "the transfer did not start";
    const auto from = *rx.First();

    // MON_CLR, twice, each once the monitor has filled again.
    std::vector<double> clearMs;
    int clicks55 = 0, clicksAA = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(
            WaitUntil([&] { return !AtMostOneChunk(screen.Grab(kMonitor), kMonitor); }, 10s))
            << "no records in the monitor";
        p.Click(kMonClr);
        const auto clicked = Clock::now();
        const bool cleared =
            WaitUntil([&] { return AtMostOneChunk(screen.Grab(kMonitor), kMonitor); }, 10s);
        clearMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
        EXPECT_TRUE(cleared) << "the monitor was not emptied";
        if (!cleared) Shot();
        p.Click(c::kDataOut0x55, 2);
        clicks55 += 2;
        p.Click(c::kDataOut0xAA);
        ++clicksAA;
        std::this_thread::sleep_for(1500ms);
    }
    EXPECT_LT(rx.Size(), t.wire.size()) << "the transfer ended before the checks were done";
    for (const double ms : clearMs) EXPECT_LE(ms, 100.0) << "MON_CLR took " << ms << " ms";

    const std::size_t total = t.wire.size() + clicks55 + clicksAA;
    ASSERT_TRUE(rx.WaitFor(total, 120s)) << rx.Size() << " of " << total << " bytes arrived";
    const auto to = rx.Latest();
    const double seconds = std::chrono::duration<double>(to - from).count();
    const double still = std::chrono::duration<double>(clock.LongestStill(from, to)).count();
    std::fprintf(stderr,
                 "e2e: %zu bytes in %.2f s from the first to the last (%.0f B/s); the clock stood "
                 "still for %.3f s at most; MON_CLR took %.1f and %.1f ms\n",
                 total, seconds, static_cast<double>(total) / seconds, still, clearMs[0],
                 clearMs[1]);
    // The clock shows seconds and a tick comes every 50 ms.
    EXPECT_LE(still, 1.25) << "the clock stood still";

    // The test bytes came between the file's bytes, never between a CR and its LF.
    const std::string got = rx.Bytes();
    std::string file;
    int got55 = 0, gotAA = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!IsTestByte(got[i])) {
            file += got[i];
            continue;
        }
        (got[i] == '\x55' ? got55 : gotAA)++;
        EXPECT_FALSE(i > 0 && got[i - 1] == '\r') << "a test byte inside a line end at " << i;
    }
    EXPECT_EQ(got55, clicks55);
    EXPECT_EQ(gotAA, clicksAA);
    EXPECT_TRUE(file == t.wire) << Difference(file, t.wire);

    // The readings: every record the board sent, read whole. It sent a whole round of the ramp.
    board.Process().Signal(SIGTERM);
    ASSERT_TRUE(board.Process().WaitExit(10s));
    const std::regex summary(R"(quenby-board: (\d+) records)");
    std::smatch m;
    const std::string err = board.Process().Err();
    ASSERT_TRUE(std::regex_search(err, m, summary)) << err;
    EXPECT_GE(std::stoi(m[1]), kRamp);
    std::this_thread::sleep_for(300ms);
    const std::string shown = screen.Grab(kChannel0) + screen.Grab(kChannel1);
    Shot();
    p.Close();
    EXPECT_EQ(p.WaitExit(60s), 0);

    // The same readings, from a window that was sent only the lowest and the highest record.
    Line line;
    Attach(2, line.Slave());
    Program reference(*this, {.name = "reference"});
    ASSERT_NE(reference.Window(), 0u);
    ASSERT_TRUE(reference.WaitOpen(line.Slave()));
    const Screen refScreen(reference.Window());
    const std::string fresh = refScreen.Grab(kChannel0) + refScreen.Grab(kChannel1);
    char low[32], high[32];
    std::snprintf(low, sizeof low, "ad0:%08dad1:%08d\r\n", 1000, 3000);
    std::snprintf(high, sizeof high, "ad0:%08dad1:%08d\r\n", 1000 + kRamp - 1, 3000 + kRamp - 1);
    line.Send(low);
    std::this_thread::sleep_for(300ms);
    line.Send(high);
    std::this_thread::sleep_for(300ms);
    const std::string want = refScreen.Grab(kChannel0) + refScreen.Grab(kChannel1);
    ASSERT_FALSE(want.empty());
    ASSERT_NE(want, fresh) << "the reference shows no readings";
    EXPECT_TRUE(shown == want) << "maximum, minimum or difference not those of the records sent";
}

INSTANTIATE_TEST_SUITE_P(LineRate, LineRateTransfer,
                         ::testing::Values(LiveCase{"COM2_115200_100KiB", 2, {}, 100 << 10},
                                           LiveCase{"COM3_38400_30KiB", 3, c::kCom3, 30 << 10}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SwitchCase {
    const char* name;
    std::vector<std::string> boardArgs;
    std::size_t fileSize, switchAt;  // the port changes once the old one has this many bytes
    bool whole;                      // prefix and suffix make up the whole file
};

void PrintTo(const SwitchCase& k, std::ostream* os) {
    *os << k.name;
}

class LineRateSwitch : public Session, public ::testing::WithParamInterface<SwitchCase> {};

// A port chosen mid-transfer is open, and the old one released, at once; the old port has had
// the start of the file and the new one gets the rest to its end. What the old line still held
// at the change may be lost, but nothing is sent twice or out of order.
TEST_P(LineRateSwitch, PortChangeMidTransferAnswersAtOnceAndTheRestGoesToTheNewPort) {
    const SwitchCase& k = GetParam();
    const TransferFile t = MakeTransferFile(k.fileSize, 4);
    std::vector<std::string> args = {"--rate", "1"};
    args.insert(args.end(), k.boardArgs.begin(), k.boardArgs.end());
    Board com2(*this, 2, args), com4(*this, 4, args);
    ASSERT_FALSE(com2.Slave().empty());
    ASSERT_FALSE(com4.Slave().empty());
    Program p(*this);
    ASSERT_NE(p.Window(), 0u);
    ASSERT_TRUE(p.WaitOpen(com2.Slave()));
    Received old(com2), now(com4);

    ASSERT_TRUE(p.Transfer(File("switch.s", t.file)));
    ASSERT_TRUE(old.WaitFor(k.switchAt, 60s)) << old.Size() << " bytes came";
    p.Click(c::kCom4);
    const auto clicked = Clock::now();
    const bool switched =
        WaitUntil([&] { return p.HasOpen(com4.Slave()) && !p.HasOpen(com2.Slave()); }, 30s);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - clicked).count();
    ASSERT_TRUE(switched) << "COM4 not open or COM2 not released";
    std::fprintf(stderr, "e2e: port change answered in %.1f ms, after %zu bytes on COM2\n", ms,
                 old.Size());
    EXPECT_LE(ms, 100.0) << "the port change took " << ms << " ms";

    const std::string tail = t.wire.substr(t.wire.size() - 64);
    ASSERT_TRUE(WaitUntil([&] { return now.EndsWith(tail); }, 120s))
        << "the end of the file did not reach COM4; " << now.Size() << " bytes came";
    old.WaitQuiet(500ms, 30s);
    const std::string prefix = old.Bytes(), suffix = now.Bytes();
    EXPECT_TRUE(t.wire.starts_with(prefix)) << "COM2: " << Difference(prefix, t.wire);
    EXPECT_TRUE(t.wire.ends_with(suffix)) << "COM4 did not get the end of the file";
    EXPECT_GE(prefix.size(), k.switchAt);
    EXPECT_GT(suffix.size(), 0u);
    EXPECT_LE(prefix.size() + suffix.size(), t.wire.size()) << "bytes sent twice";
    if (k.whole) {
        EXPECT_TRUE(prefix + suffix == t.wire) << Difference(prefix + suffix, t.wire);
    }
}

INSTANTIATE_TEST_SUITE_P(LineRate, LineRateSwitch,
                         ::testing::Values(SwitchCase{"LineRate", {}, 60 << 10, 16 << 10, false},
                                           SwitchCase{
                                               "Fast", {"--fast"}, 1 << 20, 128 << 10, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
