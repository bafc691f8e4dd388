// quenby-board: a simulated two-channel ADC board on a pseudo-terminal.
//
// Prints the slave device path as its first stdout line, then sends sample records
// ("ad0:" field "ad1:" field CR LF) at a steady rate and prints every read from the program
// as "rx N: hex | text". Faults (garbage, bursts, split records) can be injected on request.
// Like a real line, it takes the program's bytes and delivers its own no faster than the rate
// the program set on the port; --fast reads and writes at once instead.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/line_speed.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kRecordBytes = 26;  // 24-byte record + CR LF
constexpr auto kSplitGap = 60ms;          // longer than one 50 ms poll of the program
constexpr auto kDrainLimit = 2s;          // how long --count waits for the reader to catch up
// The line takes the program's bytes in steps of this much line time, so room in the port frees
// up gradually as on a UART. A step that starts late may make up for up to kLineSlack of it.
constexpr auto kLineStep = 2ms;
constexpr auto kLineSlack = 10ms;
// Writes that wait for the line beyond this many bytes are dropped, as a UART driver would.
constexpr std::size_t kTxQueueLimit = 4096;

enum class Format { kZero, kSpace, kSigned };

struct Options {
    int rate = 10;
    Format format = Format::kZero;
    double garbage = 0.0;
    std::size_t burst = 0;
    bool split = false;
    std::optional<std::uint64_t> count;
    std::optional<std::uint64_t> seed;
    std::optional<std::uint64_t> ramp;
    std::string link;
    bool quiet = false;
    bool fast = false;
};

const char kUsage[] =
    "usage: quenby-board [options]\n"
    "Simulated ADC board on a pseudo-terminal. The first stdout line is the slave device path;\n"
    "open it as the serial port. Every read from the program is printed as\n"
    "  rx N: hex bytes | text   (non-printables as '.')\n"
    "\n"
    "  --rate N          records per second, 1..10000 (default 10)\n"
    "  --format F        field style: zero (00001234), space (    1234) or\n"
    "                    signed (+0001234, -0001234; values may go negative) (default zero)\n"
    "  --garbage P       probability 0..1 per record of random bytes replacing it or\n"
    "                    going ahead of it\n"
    "  --burst N         at the start and every --rate records (about once a second), send\n"
    "                    whole records back to back, at least N bytes, in one write\n"
    "  --split           write each record in two parts 60 ms apart, so it straddles polls\n"
    "  --count N         stop after N records (garbled and burst ones included), wait up to\n"
    "                    2 s for them to be read, then exit\n"
    "  --seed S          seed for noise and faults (default: random)\n"
    "  --ramp N          instead of the waves, record i carries 1000 + i % N on channel 0 and\n"
    "                    3000 + i % N on channel 1 (N 1..1000000), from the first record on\n"
    "  --link PATH       symbolic link to the slave at PATH (an existing symlink is replaced;\n"
    "                    removed on exit)\n"
    "  --quiet           do not print received data\n"
    "  --fast            read what the program sends as soon as it comes and write every\n"
    "                    record at once; by default the board takes the program's bytes at the\n"
    "                    line's character rate as the program set the port (rate / 10 bytes\n"
    "                    a second for 8N1: 11520 at 115200, 3840 at 38400), a few at a time,\n"
    "                    and its own writes go out whole but never faster than that rate\n"
    "  --help            this text\n"
    "\n"
    "Ends with status 0 on SIGINT, SIGTERM or SIGHUP. Bytes the port cannot take, and writes\n"
    "that would wait for the line behind more than 4096 bytes, are dropped.\n";

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "quenby-board: %s\n(see --help)\n", message.c_str());
    std::exit(2);
}

template <typename T>
T ParseNumber(const std::string& name, const std::string& text, T lo, T hi) {
    char* end = nullptr;
    errno = 0;
    T value{};
    if constexpr (std::is_floating_point_v<T>) {
        value = std::strtod(text.c_str(), &end);
    } else {
        if (text.empty() || text[0] == '-') UsageError(name + ": not a number: " + text);
        value = static_cast<T>(std::strtoull(text.c_str(), &end, 10));
    }
    if (text.empty() || *end != '\0' || errno == ERANGE || !(value >= lo && value <= hi)) {
        UsageError(name + ": out of range or not a number: " + text);
    }
    return value;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool has_inline = false;
        if (auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            has_inline = true;
        }
        auto arg = [&]() -> std::string {
            if (has_inline) return value;
            if (i + 1 >= argc) UsageError(name + " needs a value");
            return argv[++i];
        };
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (name == "--rate") {
            o.rate = ParseNumber<int>(name, arg(), 1, 10000);
        } else if (name == "--format") {
            const std::string f = arg();
            if (f == "zero") {
                o.format = Format::kZero;
            } else if (f == "space") {
                o.format = Format::kSpace;
            } else if (f == "signed") {
                o.format = Format::kSigned;
            } else {
                UsageError("--format: expected zero, space or signed, not " + f);
            }
        } else if (name == "--garbage") {
            o.garbage = ParseNumber<double>(name, arg(), 0.0, 1.0);
        } else if (name == "--burst") {
            o.burst = ParseNumber<std::size_t>(name, arg(), 1, 1 << 20);
        } else if (name == "--split") {
            o.split = true;
        } else if (name == "--count") {
            o.count = ParseNumber<std::uint64_t>(name, arg(), 1, UINT64_MAX);
        } else if (name == "--seed") {
            o.seed = ParseNumber<std::uint64_t>(name, arg(), 0, UINT64_MAX);
        } else if (name == "--ramp") {
            o.ramp = ParseNumber<std::uint64_t>(name, arg(), 1, 1000000);
        } else if (name == "--link") {
            o.link = arg();
            if (o.link.empty()) UsageError("--link needs a path");
        } else if (name == "--quiet") {
            o.quiet = true;
        } else if (name == "--fast") {
            o.fast = true;
        } else {
            UsageError("unknown option " + name);
        }
        if (has_inline && (name == "--split" || name == "--quiet" || name == "--fast")) {
            UsageError(name + " takes no value");
        }
    }
    return o;
}

// Two slow sine waves of different periods with a little Gaussian noise.
class SignalSource {
  public:
    SignalSource(Format format, int rate, std::optional<std::uint64_t> ramp, std::mt19937_64& rng)
        : format_(format), rate_(rate), ramp_(ramp) {
        std::uniform_real_distribution<double> phase(0.0, 2 * std::numbers::pi);
        if (format == Format::kSigned) {
            ch_[0] = {0.0, 6000.0, 20.0, phase(rng)};
            ch_[1] = {-500.0, 1500.0, 7.3, phase(rng)};
        } else {
            ch_[0] = {5000.0, 3000.0, 20.0, phase(rng)};
            ch_[1] = {2000.0, 1500.0, 7.3, phase(rng)};
        }
    }

    // The next record, with CR LF.
    std::string Next(std::mt19937_64& rng) {
        if (ramp_) {
            const auto step = static_cast<long>(index_++ % *ramp_);
            return "ad0:" + Field(1000 + step) + "ad1:" + Field(3000 + step) + "\r\n";
        }
        const double t = static_cast<double>(index_++) / rate_;
        std::string r = "ad0:" + Field(Value(ch_[0], t, rng));
        r += "ad1:" + Field(Value(ch_[1], t, rng));
        r += "\r\n";
        return r;
    }

  private:
    struct Wave {
        double offset, amplitude, period_s, phase;
    };

    long Value(const Wave& w, double t, std::mt19937_64& rng) {
        const double v = w.offset +
                         w.amplitude * std::sin(2 * std::numbers::pi * t / w.period_s + w.phase) +
                         noise_(rng);
        const double lo = format_ == Format::kSigned ? -9999999.0 : 0.0;
        const double hi = format_ == Format::kSigned ? 9999999.0 : 99999999.0;
        return std::lround(std::clamp(v, lo, hi));
    }

    std::string Field(long v) const {
        char buf[24];
        switch (format_) {
            case Format::kZero:
                std::snprintf(buf, sizeof buf, "%08ld", v);
                break;
            case Format::kSpace:
                std::snprintf(buf, sizeof buf, "%8ld", v);
                break;
            case Format::kSigned:
                std::snprintf(buf, sizeof buf, "%+08ld", v);
                break;
        }
        return buf;
    }

    Format format_;
    int rate_;
    std::optional<std::uint64_t> ramp_;
    Wave ch_[2];
    std::uint64_t index_ = 0;
    std::normal_distribution<double> noise_{0.0, 15.0};
};

void Emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::string RxLine(const unsigned char* data, std::size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string line = "rx " + std::to_string(n) + ":";
    for (std::size_t i = 0; i < n; ++i) {
        line += ' ';
        line += kHex[data[i] >> 4];
        line += kHex[data[i] & 0xF];
    }
    line += " | ";
    for (std::size_t i = 0; i < n; ++i) {
        line += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i]) : '.';
    }
    line += '\n';
    return line;
}

// One direction of a serial line: what goes in occupies it for its line time, and the next
// piece waits until the line is free again.
class LineTime {
  public:
    bool FreeAt(Clock::time_point now) const { return now >= free_at_; }
    Clock::time_point Free() const { return free_at_; }

    // `bytes` went onto the line at `now`, at `bytes_per_s`. A piece that starts late after a
    // busy stretch may make up for up to `slack` of lost time; after that the line starts afresh.
    void Carry(std::size_t bytes, double bytes_per_s, Clock::time_point now,
               Clock::duration slack) {
        const auto start = std::max(free_at_, now - slack);
        free_at_ =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(bytes) / bytes_per_s));
    }

  private:
    Clock::time_point free_at_{};
};

// Characters per second for a line set up as `tio` (start bit, data bits, parity, stop bits),
// in each direction; 0 for a line at B0 or an unknown speed.
struct CharRates {
    double out = 0, in = 0;
};

CharRates CharRatesOf(const termios& tio) {
    const double out = line_speed::CharactersPerSecond(cfgetospeed(&tio), tio);
    // An input speed of 0 means "the same as the output speed".
    const speed_t in_speed = cfgetispeed(&tio);
    return {out, in_speed == B0 ? out : line_speed::CharactersPerSecond(in_speed, tio)};
}

class Board {
  public:
    explicit Board(Options options) : o_(std::move(options)) {
        rng_.seed(o_.seed ? *o_.seed : std::random_device{}());
        signal_.emplace(o_.format, o_.rate, o_.ramp, rng_);
    }

    ~Board() {
        if (!link_made_.empty()) {
            // Only remove the link if it is still ours.
            char target[PATH_MAX];
            const ssize_t n = readlink(link_made_.c_str(), target, sizeof target - 1);
            if (n >= 0 && std::string_view(target, n) == slave_path_) unlink(link_made_.c_str());
        }
        if (signal_fd_ >= 0) close(signal_fd_);
        if (inotify_fd_ >= 0) close(inotify_fd_);
        if (slave_fd_ >= 0) close(slave_fd_);
        if (master_fd_ >= 0) close(master_fd_);
    }

    bool Open() {
        master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_fd_ < 0) return Fail("posix_openpt");
        if (grantpt(master_fd_) != 0) return Fail("grantpt");
        if (unlockpt(master_fd_) != 0) return Fail("unlockpt");
        char name[128];
        if (ptsname_r(master_fd_, name, sizeof name) != 0) return Fail("ptsname_r");
        slave_path_ = name;

        // Held open for the whole run so the program can close and re-open without a hang-up.
        slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_fd_ < 0) return Fail("open " + slave_path_);
        termios tio{};
        if (tcgetattr(slave_fd_, &tio) != 0) return Fail("tcgetattr");
        cfmakeraw(&tio);
        if (tcsetattr(slave_fd_, TCSANOW, &tio) != 0) return Fail("tcsetattr");

        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return Fail("sigprocmask");
        signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (signal_fd_ < 0) return Fail("signalfd");

        // Watched only after our own open, so every event is another program opening the port.
        inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_fd_ < 0) return Fail("inotify_init1");
        if (inotify_add_watch(inotify_fd_, slave_path_.c_str(), IN_OPEN) < 0)
            return Fail("inotify_add_watch " + slave_path_);

        if (!o_.link.empty() && !MakeLink()) return false;
        Emit(slave_path_ + "\n");
        return true;
    }

    // Returns the exit status.
    int Run() {
        const auto period = std::chrono::duration_cast<Clock::duration>(1s) / o_.rate;
        auto next_record = Clock::now();
        last_write_ = next_record;
        std::optional<Clock::time_point> drain_since;
        int drained_checks = 0;
        auto master_quiet_until = Clock::time_point{};
        if (!o_.fast) RefreshRates();

        for (;;) {
            auto now = Clock::now();
            const bool done = o_.count && generated_ >= *o_.count;

            // When to wake for the next piece of work.
            Clock::time_point wake = now + 1s;
            if (pending_) {
                wake = pending_due_;
            } else if (!done && listening_) {
                wake = next_record;
            } else {
                if (!drain_since) drain_since = now;
                wake = now + 20ms;
            }
            bool watch_master = now >= master_quiet_until;
            if (!o_.fast) {
                if (!tx_.empty() && rates_.in > 0) wake = std::min(wake, tx_line_.Free());
                if (rates_.out <= 0) {
                    watch_master = false;  // a line at B0 carries nothing
                    wake = std::min(wake, now + 50ms);
                } else if (!rx_line_.FreeAt(now)) {
                    watch_master = false;
                    wake = std::min(wake, rx_line_.Free());
                }
            }
            pollfd fds[3] = {{signal_fd_, POLLIN, 0}, {master_fd_, 0, 0}, {inotify_fd_, POLLIN, 0}};
            if (watch_master) fds[1].events = POLLIN;
            const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::max(wake - now, Clock::duration::zero()));
            const timespec ts{static_cast<time_t>(wait.count() / 1000000000),
                              static_cast<long>(wait.count() % 1000000000)};
            if (ppoll(fds, 3, &ts, nullptr) < 0 && errno != EINTR) {
                Fail("poll");
                return 1;
            }
            if (fds[0].revents & POLLIN) return 0;
            // The port's settings can change at any time, during a long wait too; the line
            // follows them from the moment the wait ends.
            if (!o_.fast) RefreshRates();
            if (fds[2].revents & POLLIN) {
                const bool first = !listening_;
                OnPortOpened();
                if (first && listening_) next_record = Clock::now();
            }
            if (fds[1].revents & POLLIN) {
                Receive();
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                master_quiet_until = Clock::now() + 100ms;  // no reader at all; avoid spinning
            }

            now = Clock::now();
            if (pending_ && now >= pending_due_) {
                Write(*pending_);
                pending_.reset();
            }
            // Catch up on every record time that has passed, unless far behind (e.g. --split).
            if (next_record < now - 100ms) next_record = now;
            while (listening_ && !pending_ && !(o_.count && generated_ >= *o_.count) &&
                   now >= next_record) {
                SendSlot();
                next_record += period;
            }
            SendQueued(now);
            if (done && !pending_ && tx_.empty() && drain_since) {
                // Leave once the reader has taken everything (seen twice, after the last write
                // has had time to reach the slave), or after the limit.
                int queued = 0;
                if (ioctl(slave_fd_, FIONREAD, &queued) != 0) queued = 0;
                drained_checks =
                    (queued == 0 && now - last_write_ >= 50ms) ? drained_checks + 1 : 0;
                if (drained_checks >= 2 || now - *drain_since >= kDrainLimit) return 0;
            }
        }
    }

    void Summary() const {
        if (o_.quiet) return;
        std::fprintf(
            stderr, "quenby-board: %llu records, %llu bytes dropped, %llu unread bytes discarded\n",
            static_cast<unsigned long long>(generated_), static_cast<unsigned long long>(dropped_),
            static_cast<unsigned long long>(unread_));
    }

  private:
    bool Fail(const std::string& what) {
        std::fprintf(stderr, "quenby-board: %s: %s\n", what.c_str(), std::strerror(errno));
        return false;
    }

    bool MakeLink() {
        if (symlink(slave_path_.c_str(), o_.link.c_str()) != 0) {
            struct stat st {};
            if (errno != EEXIST || lstat(o_.link.c_str(), &st) != 0) return Fail("link " + o_.link);
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "quenby-board: %s exists and is not a symbolic link\n",
                             o_.link.c_str());
                return false;
            }
            if (unlink(o_.link.c_str()) != 0 ||
                symlink(slave_path_.c_str(), o_.link.c_str()) != 0) {
                return Fail("replace link " + o_.link);
            }
        }
        link_made_ = o_.link;
        return true;
    }

    // Takes what the program sent: all that waits with --fast, else one step of line time.
    void Receive() {
        unsigned char buf[4096];
        std::size_t want = sizeof buf;
        if (!o_.fast) {
            if (rates_.out <= 0) return;  // a line at B0 carries nothing
            const double step = rates_.out * std::chrono::duration<double>(kLineStep).count();
            want = std::clamp<std::size_t>(static_cast<std::size_t>(step), 1, sizeof buf);
        }
        const ssize_t n = read(master_fd_, buf, want);
        if (n <= 0) return;
        if (!o_.fast)
            rx_line_.Carry(static_cast<std::size_t>(n), rates_.out, Clock::now(), kLineSlack);
        if (!o_.quiet) Emit(RxLine(buf, static_cast<std::size_t>(n)));
    }

    // One record time: normally one record, once a second a burst; each may be garbled.
    void SendSlot() {
        std::uint64_t records = 1;
        if (o_.burst > 0 && slot_ % static_cast<std::uint64_t>(o_.rate) == 0) {
            records = (o_.burst + kRecordBytes - 1) / kRecordBytes;
        }
        if (o_.count) records = std::min(records, *o_.count - generated_);
        ++slot_;

        std::string out;
        std::bernoulli_distribution garble(o_.garbage);
        std::bernoulli_distribution replace(0.5);
        for (std::uint64_t i = 0; i < records; ++i) {
            std::string record = signal_->Next(rng_);
            ++generated_;
            if (o_.garbage > 0 && garble(rng_)) {
                std::uniform_int_distribution<std::size_t> length(1, 2 * kRecordBytes);
                std::uniform_int_distribution<int> byte(0, 255);
                const std::size_t n = length(rng_);
                for (std::size_t k = 0; k < n; ++k) out += static_cast<char>(byte(rng_));
                if (replace(rng_)) continue;
            }
            out += record;
        }

        if (o_.split && out.size() > 1) {
            std::uniform_int_distribution<std::size_t> cut(1, out.size() - 1);
            const std::size_t at = cut(rng_);
            Write(out.substr(0, at));
            pending_ = out.substr(at);
            pending_due_ = Clock::now() + kSplitGap;
        } else {
            Write(out);
        }
    }

    // The port's settings as they are now; the line follows every change at once.
    void RefreshRates() {
        termios tio{};
        rates_ = tcgetattr(slave_fd_, &tio) == 0 ? CharRatesOf(tio) : CharRates{};
    }

    int SlaveQueued() const {
        int queued = 0;
        return ioctl(slave_fd_, FIONREAD, &queued) == 0 ? queued : 0;
    }

    // With --fast a write goes out at once; else it waits for the line, behind at most
    // kTxQueueLimit bytes, and is dropped when there is no room for it.
    void Write(const std::string& bytes) {
        if (o_.fast) return WriteNow(bytes);
        if (tx_bytes_ + bytes.size() > kTxQueueLimit) {
            dropped_ += bytes.size();
            return;
        }
        tx_.push_back(bytes);
        tx_bytes_ += bytes.size();
    }

    // Each queued write goes out whole once the line has carried the one before.
    void SendQueued(Clock::time_point now) {
        while (!tx_.empty() && rates_.in > 0 && tx_line_.FreeAt(now)) {
            WriteNow(tx_.front());
            tx_line_.Carry(tx_.front().size(), rates_.in, now, Clock::duration::zero());
            tx_bytes_ -= tx_.front().size();
            tx_.pop_front();
        }
    }

    // Never blocks: what the port cannot take now is lost, as on a real line.
    void WriteNow(const std::string& bytes) {
        const ssize_t n = write(master_fd_, bytes.data(), bytes.size());
        const std::size_t written = n > 0 ? static_cast<std::size_t>(n) : 0;
        dropped_ += bytes.size() - written;
        last_write_ = Clock::now();
    }

    // A line with nobody listening loses what is sent on it. So records start only once the port
    // is first opened, and whatever waits unread when it is opened again is discarded; a program
    // opening the port always starts at a record boundary.
    void OnPortOpened() {
        alignas(inotify_event) char events[4096];
        bool opened = false;
        for (ssize_t n; (n = read(inotify_fd_, events, sizeof events)) > 0;) opened = true;
        if (!opened) return;
        const int queued = SlaveQueued();
        if (queued > 0) {
            tcflush(slave_fd_, TCIFLUSH);
            unread_ += static_cast<std::uint64_t>(queued);
        }
        unread_ += tx_bytes_;  // still waiting for the line, possibly the rest of a record
        tx_.clear();
        tx_bytes_ = 0;
        listening_ = true;
    }

    Options o_;
    std::mt19937_64 rng_;
    std::optional<SignalSource> signal_;
    int master_fd_ = -1;
    int slave_fd_ = -1;
    int signal_fd_ = -1;
    std::string slave_path_;
    std::string link_made_;
    std::optional<std::string> pending_;
    Clock::time_point pending_due_;
    CharRates rates_;
    LineTime rx_line_, tx_line_;
    std::deque<std::string> tx_;
    std::size_t tx_bytes_ = 0;
    Clock::time_point last_write_;
    std::uint64_t slot_ = 0;
    std::uint64_t generated_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t unread_ = 0;
    int inotify_fd_ = -1;
    bool listening_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);  // a closed stdout must not kill the board
    Board board(std::move(options));
    if (!board.Open()) return 1;
    const int status = board.Run();
    board.Summary();
    return status;
}
