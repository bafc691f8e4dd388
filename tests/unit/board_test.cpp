// Runs the simulated board as a separate process and talks to it through its pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr auto kTimeout = 8s;

// One quenby-board process with its stdout on a pipe; stopped on destruction if still running.
class BoardProcess {
  public:
    explicit BoardProcess(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {QUENBY_BIN_DIR "/quenby-board"};
        argv.insert(argv.end(), args.begin(), args.end());
        try {
            child_.emplace(argv, quenby_test::Env{},
                           quenby_test::Child::Streams{quenby_test::kInherit, out_.WriteEnd()});
        } catch (const std::exception&) {
        }
        out_.CloseWriteEnd();
    }

    bool Started() const { return child_.has_value(); }

    // The next stdout line without its newline, or nothing on timeout or end of output.
    std::optional<std::string> ReadLine(Clock::time_point deadline) {
        for (;;) {
            if (auto nl = buffered_.find('\n'); nl != std::string::npos) {
                std::string line = buffered_.substr(0, nl);
                buffered_.erase(0, nl + 1);
                return line;
            }
            if (!WaitReadable(out_.ReadEnd(), deadline)) return std::nullopt;
            char buf[512];
            const ssize_t n = read(out_.ReadEnd(), buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            buffered_.append(buf, static_cast<std::size_t>(n));
        }
    }

    void Signal(int sig) { child_->Signal(sig); }

    // The exit status (128 + signal for a killed one), or nothing if the process is still
    // running at the deadline.
    std::optional<int> Wait(Clock::time_point deadline) {
        return child_->WaitExit(deadline - Clock::now());
    }

    static bool WaitReadable(int fd, Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(left.count())) > 0;
    }

  private:
    quenby_test::Pipe out_;
    std::optional<quenby_test::Child> child_;
    std::string buffered_;
};

// Every read from the slave until the board hangs up (it exits after --count records).
std::vector<std::string> ReadUntilHangup(int fd, Clock::time_point deadline) {
    std::vector<std::string> reads;
    while (BoardProcess::WaitReadable(fd, deadline)) {
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;  // 0 or EIO once the master is gone
        reads.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return reads;
}

enum class Style { kZero, kSpace, kSigned };

bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Whether an 8-byte field is written in the given style; its value goes to *value.
bool FieldOk(const std::string& f, Style style, long* value) {
    if (f.size() != 8) return false;
    switch (style) {
        case Style::kZero:
            if (!AllDigits(f)) return false;
            break;
        case Style::kSpace: {
            const auto first = f.find_first_not_of(' ');
            if (first == std::string::npos || !AllDigits(f.substr(first))) return false;
            if (f[first] == '0' && first != 7) return false;  // padding must be spaces
            break;
        }
        case Style::kSigned:
            if ((f[0] != '+' && f[0] != '-') || !AllDigits(f.substr(1))) return false;
            break;
    }
    *value = std::stol(f);
    return true;
}

// Why a line between CR LFs is not a record the program accepts, or "" if it is one.
std::string RecordFault(const std::string& r, Style style, long values[2]) {
    if (r.size() != 24) return "length " + std::to_string(r.size());
    if (r.compare(0, 4, "ad0:") != 0 || r.compare(12, 4, "ad1:") != 0) return "tags";
    const auto b22 = static_cast<unsigned char>(r[22]);
    if (b22 < 0x30 || b22 > 0x7F) return "byte 22";
    if (!FieldOk(r.substr(4, 8), style, &values[0])) return "field 0";
    if (!FieldOk(r.substr(16, 8), style, &values[1])) return "field 1";
    return "";
}

struct StreamCase {
    const char* name;
    std::vector<std::string> args;
    Style style;
    bool garbled;  // lines other than records are expected
    bool split;    // some read must end inside a record
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class BoardStream : public testing::TestWithParam<StreamCase> {};

TEST_P(BoardStream, SendsTheRequestedRecordsThenExits) {
    const StreamCase& c = GetParam();
    constexpr int kCount = 20;
    std::vector<std::string> args = {"--rate", "50", "--count", std::to_string(kCount),
                                     "--seed", "7",  "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    BoardProcess board(args);
    ASSERT_TRUE(board.Started());
    const auto deadline = Clock::now() + kTimeout;
    const auto path = board.ReadLine(deadline);
    ASSERT_TRUE(path && path->starts_with("/dev/pts/")) << path.value_or("(no line)");

    const int fd = open(path->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << *path;
    const auto reads = ReadUntilHangup(fd, deadline);
    close(fd);
    const auto status = board.Wait(deadline);
    ASSERT_TRUE(status) << "board did not exit after --count";
    EXPECT_EQ(*status, 0);

    std::string stream;
    bool read_ended_inside_record = false;
    for (const auto& r : reads) {
        stream += r;
        read_ended_inside_record |= !stream.ends_with("\r\n");
    }
    int records = 0, faults = 0;
    std::set<long> seen[2];
    for (std::size_t at = 0; at < stream.size();) {
        auto end = stream.find("\r\n", at);
        if (end == std::string::npos) end = stream.size();
        long v[2] = {0, 0};
        const std::string fault = RecordFault(stream.substr(at, end - at), c.style, v);
        if (fault.empty()) {
            ++records;
            seen[0].insert(v[0]);
            seen[1].insert(v[1]);
        } else {
            ++faults;
            EXPECT_TRUE(c.garbled) << fault << " at byte " << at;
        }
        at = end + 2;
    }

    if (c.garbled) {
        EXPECT_GT(faults, 0);
        return;
    }
    EXPECT_EQ(records, kCount);
    EXPECT_EQ(stream.size(), kCount * 26u);
    EXPECT_EQ(read_ended_inside_record, c.split);
    // The signals move: a stuck generator repeats one value.
    EXPECT_GT(seen[0].size(), 1u);
    EXPECT_GT(seen[1].size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Board, BoardStream,
    testing::ValuesIn(std::vector<StreamCase>{
        {"zero", {"--format", "zero"}, Style::kZero, false, false},
        {"space", {"--format", "space"}, Style::kSpace, false, false},
        {"signed", {"--format", "signed"}, Style::kSigned, false, false},
        {"split", {"--split"}, Style::kZero, false, true},
        {"burst", {"--burst", "130", "--format", "space"}, Style::kSpace, false, false},
        {"garbage", {"--garbage", "1"}, Style::kZero, true, false},
        {"fast", {"--fast"}, Style::kZero, false, false},
        {"fast_split", {"--fast", "--split"}, Style::kZero, false, true},
    }),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

std::string StreamOf(const std::string& seed) {
    BoardProcess board({"--rate", "50", "--count", "10", "--seed", seed, "--quiet"});
    const auto deadline = Clock::now() + kTimeout;
    const auto path = board.ReadLine(deadline);
    if (!path) return "";
    const int fd = open(path->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string stream;
    for (const auto& r : ReadUntilHangup(fd, deadline)) stream += r;
    close(fd);
    return stream;
}

TEST(BoardSeed, SameSeedRepeatsTheStream) {
    const std::string a = StreamOf("42");
    ASSERT_EQ(a.size(), 10 * 26u);
    EXPECT_EQ(StreamOf("42"), a);
    EXPECT_NE(StreamOf("43"), a);
}

TEST(BoardReceive, PrintsEveryByteAsHexAndText) {
    BoardProcess board({"--rate", "50"});
    ASSERT_TRUE(board.Started());
    const auto deadline = Clock::now() + kTimeout;
    const auto path = board.ReadLine(deadline);
    ASSERT_TRUE(path);
    const int fd = open(path->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << *path;
    const std::string sent = "\x55\xAA\r\n~ \x7F\x00Z"s;
    ASSERT_EQ(write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));

    // The bytes may come in more than one read; each read is one line.
    const std::regex line_re(R"(rx (\d+):((?: [0-9a-f]{2})+) \| (.*))");
    std::string got, text;
    while (got.size() < sent.size()) {
        const auto line = board.ReadLine(deadline);
        ASSERT_TRUE(line) << "received so far: " << got.size() << " bytes";
        std::smatch m;
        ASSERT_TRUE(std::regex_match(*line, m, line_re)) << *line;
        const std::string hex = m[2];
        ASSERT_EQ(std::stoul(m[1]), hex.size() / 3) << *line;
        ASSERT_EQ(m[3].length(), static_cast<long>(hex.size() / 3)) << *line;
        for (std::size_t i = 0; i < hex.size(); i += 3) {
            got += static_cast<char>(std::stoi(hex.substr(i + 1, 2), nullptr, 16));
        }
        text += m[3];
    }
    close(fd);
    EXPECT_EQ(got, sent);
    EXPECT_EQ(text, "U...~ ..Z");
}

TEST(BoardSignal, EndsWithStatusZeroAndRemovesTheLink) {
    const quenby_test::TempDir dir("quenby-board");
    const std::string link = dir.File("port");
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // stale: must be replaced
        BoardProcess board({"--rate", "50", "--link", link});
        ASSERT_TRUE(board.Started());
        const auto deadline = Clock::now() + kTimeout;
        const auto path = board.ReadLine(deadline);
        ASSERT_TRUE(path);
        char target[PATH_MAX] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), *path);

        board.Signal(sig);
        const auto status = board.Wait(deadline);
        ASSERT_TRUE(status) << "still running";
        EXPECT_EQ(*status, 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
        unlink(link.c_str());
    }
}

// ---- The line's rate

void SetLine(int fd, speed_t speed, tcflag_t cflag = CS8) {
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= cflag;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
}

// The program's end of the line: the slave, non-blocking, raw, at `speed` with `cflag` framing.
// As the program does, it opens first and sets the line after, `settle` later.
int OpenPort(const std::string& path, speed_t speed, tcflag_t cflag = CS8,
             Clock::duration settle = Clock::duration::zero()) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fd;
    std::this_thread::sleep_for(settle);
    SetLine(fd, speed, cflag);
    return fd;
}

struct Taken {
    double seconds = 0;       // from the first write to the board's report of the last byte
    std::size_t largest = 0;  // the most bytes the board took in one read
};

// Writes `n` bytes as fast as the port takes them (retrying after 1 ms on a full port) and waits
// for the board to report every one of them.
Taken SendAndTime(BoardProcess& board, int fd, std::size_t n) {
    const std::string bytes(n, 'x');
    const auto start = Clock::now();
    const auto deadline = start + 30s;
    std::size_t sent = 0, got = 0;
    Taken taken;
    const std::regex rx_re(R"(rx (\d+):.*)");
    while (got < n && Clock::now() < deadline) {
        if (sent < n) {
            const ssize_t w = write(fd, bytes.data() + sent, n - sent);
            if (w > 0) sent += static_cast<std::size_t>(w);
        }
        // Take the board's reports as they come; wait 1 ms for one while bytes are left to send.
        const auto line = board.ReadLine(sent < n ? Clock::now() + 1ms : deadline);
        std::smatch m;
        if (line && std::regex_match(*line, m, rx_re)) {
            const std::size_t k = std::stoul(m[1]);
            got += k;
            taken.largest = std::max(taken.largest, k);
        }
    }
    taken.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(got, n) << "the board did not take every byte";
    return taken;
}

struct RateCase {
    const char* name;
    speed_t speed;
    tcflag_t cflag;
    double chars_per_s;  // the line's rate: bits per second over bits per character
    std::size_t bytes;
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.name;
}

class BoardLineRate : public testing::TestWithParam<RateCase> {};

// A UART cannot take bytes faster than it sends them, and takes them a few at a time; the board
// must not be much slower either, or a test of the program would measure the board.
TEST_P(BoardLineRate, TakesTheProgramsBytesAtTheRateOfThePortsSettings) {
    const RateCase& c = GetParam();
    BoardProcess board({"--rate", "1"});
    ASSERT_TRUE(board.Started());
    const auto path = board.ReadLine(Clock::now() + kTimeout);
    ASSERT_TRUE(path);
    // The board sees the open, and the settings of that moment, before the line is set.
    const int fd = OpenPort(*path, c.speed, c.cflag, 50ms);
    ASSERT_GE(fd, 0) << *path;
    const Taken t = SendAndTime(board, fd, c.bytes);
    close(fd);

    const double line_time = static_cast<double>(c.bytes) / c.chars_per_s;
    // The board may make up for up to 10 ms of lateness, and its last step takes 2 ms of bytes.
    EXPECT_GE(t.seconds, 0.98 * line_time - 0.012) << "faster than the line";
    EXPECT_LE(t.seconds, 1.5 * line_time + 1.0) << "far slower than the line";
    EXPECT_LE(t.largest, static_cast<std::size_t>(c.chars_per_s * 0.002) + 1)
        << "takes more than 2 ms of the line's bytes at once";
}

INSTANTIATE_TEST_SUITE_P(Board, BoardLineRate,
                         testing::ValuesIn(std::vector<RateCase>{
                             {"b115200_8n1", B115200, CS8, 11520.0, 5760},
                             {"b38400_8n1", B38400, CS8, 3840.0, 1920},
                             // 1 start, 7 data, 1 parity, 2 stop bits: 11 bits a character.
                             {"b9600_7e2", B9600, CS7 | PARENB | CSTOPB, 9600.0 / 11, 872},
                         }),
                         [](const testing::TestParamInfo<RateCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(BoardPace, FollowsASpeedChangeMadeWhileRunning) {
    BoardProcess board({"--rate", "1"});
    ASSERT_TRUE(board.Started());
    const auto path = board.ReadLine(Clock::now() + kTimeout);
    ASSERT_TRUE(path);
    const int fd = OpenPort(*path, B38400);
    ASSERT_GE(fd, 0) << *path;
    constexpr std::size_t kBytes = 1920;  // 0.5 s at 38400, 0.17 s at 115200
    const Taken slow = SendAndTime(board, fd, kBytes);
    SetLine(fd, B115200);
    const Taken quick = SendAndTime(board, fd, kBytes);
    close(fd);
    EXPECT_GE(slow.seconds, 0.98 * kBytes / 3840.0 - 0.012);
    EXPECT_GE(quick.seconds, 0.98 * kBytes / 11520.0 - 0.012);
    // The old rate would need at least `slow.seconds`; a late test thread only adds to both.
    EXPECT_LT(quick.seconds, 0.9 * kBytes / 3840.0)
        << "38400: " << slow.seconds << " s, 115200: " << quick.seconds << " s";
}

TEST(BoardPace, FastTakesBytesAsTheyCome) {
    BoardProcess board({"--rate", "1", "--fast"});
    ASSERT_TRUE(board.Started());
    const auto path = board.ReadLine(Clock::now() + kTimeout);
    ASSERT_TRUE(path);
    const int fd = OpenPort(*path, B115200);
    ASSERT_GE(fd, 0) << *path;
    const Taken t = SendAndTime(board, fd, 11520);  // 1 s of line time
    close(fd);
    EXPECT_LT(t.seconds, 0.5);
}

// Records asked for faster than the line carries them come at the line's rate, all of them whole.
TEST(BoardPace, RecordsLeaveNoFasterThanTheLine) {
    constexpr int kCount = 100;  // 2600 bytes: 0.68 s at 38400, asked for within 0.2 s
    BoardProcess board({"--rate", "500", "--count", std::to_string(kCount), "--quiet"});
    ASSERT_TRUE(board.Started());
    const auto deadline = Clock::now() + kTimeout;
    const auto path = board.ReadLine(deadline);
    ASSERT_TRUE(path);
    // Timed from before the open, which starts the records: a late reader can only lengthen it.
    const auto opened = Clock::now();
    const int fd = OpenPort(*path, B38400);
    ASSERT_GE(fd, 0) << *path;
    std::string stream;
    while (BoardProcess::WaitReadable(fd, deadline)) {
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        stream.append(buf, static_cast<std::size_t>(n));
        if (stream.size() >= kCount * 26u) break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - opened).count();
    close(fd);
    ASSERT_EQ(stream.size(), kCount * 26u);
    for (std::size_t at = 0; at < stream.size(); at += 26) {
        long v[2];
        ASSERT_EQ(RecordFault(stream.substr(at, 24), Style::kZero, v), "") << "at byte " << at;
        ASSERT_EQ(stream.substr(at + 24, 2), "\r\n") << "at byte " << at;
    }
    EXPECT_GE(seconds, (kCount - 1) * 26 / 3840.0 - 0.005);
}

TEST(BoardRamp, CountsUpFromTheStartValuesAndWrapsAfterN) {
    BoardProcess board({"--rate", "100", "--count", "7", "--ramp", "3", "--quiet"});
    ASSERT_TRUE(board.Started());
    const auto deadline = Clock::now() + kTimeout;
    const auto path = board.ReadLine(deadline);
    ASSERT_TRUE(path);
    const int fd = open(path->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string stream;
    for (const auto& r : ReadUntilHangup(fd, deadline)) stream += r;
    close(fd);
    std::string want;
    for (int i : {0, 1, 2, 0, 1, 2, 0}) {
        char r[48];
        std::snprintf(r, sizeof r, "ad0:%08dad1:%08d\r\n", 1000 + i, 3000 + i);
        want += r;
    }
    EXPECT_EQ(stream, want);
}

}  // namespace
