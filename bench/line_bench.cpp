// quenby-bench-line: a file transfer through the real FileTrans handler (offscreen) against a far
// end that takes bytes at the rate the program set on the line, as a UART would: 11,520 B/s on
// COM2 at 115200, and 3,840 B/s on COM3 at 38400, selected with its button. Prints "key value"
// lines, for each rate R (11520, 3840):
//   line_R_utilisation    bytes delivered / (R x time from the first byte to the last)
//   line_R_tick_*_ms      Timer1 intervals while the handler ran
//   line_R_answer_*_ms    delay of an event posted to the window every few ms from another thread
//   line_R_cpu_pct        the main thread's processor time over the transfer, % of one core:
//                         from the dialog's accept until the last byte is on the line, the window
//                         idling after the handler returns (a pseudo-terminal takes its first
//                         20 KiB at once, so the handler ends before the line does)
//   line_R_cpu_handler_pct the same over the handler's run alone
// and the same answer time and processor time of the idle window just before, for comparison.
// Each rate runs twice: with the answer probe, and without it for the processor time.
// QUENBY_BENCH_LINE_SCALE scales both file sizes (default 1: 120,000 and 40,000 bytes).

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPushButton>
#include <QRadioButton>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "bench/bench_support.h"
#include "tests/support/line_rate_reader.h"
#include "ui/application.h"

namespace {

using namespace bench;

using quenby_test::LineRateReader;

// The line's far end takes bytes at the rate the program set on the line.
double LineRate(int master) {
    const double rate = LineRateReader::RateOfLine(master);
    if (rate <= 0) Fail("the line runs at a rate this far end does not know");
    return rate;
}

// The window's answer time: a thread posts a stamped event to the window every few milliseconds;
// a filter on the window takes the delay when the window gets it.
class AnswerProbe : public QObject {
  public:
    struct Sample {
        Clock::time_point posted;
        double delayMs;
    };

    explicit AnswerProbe(QWidget* window) : window_(window) {
        window_->installEventFilter(this);
        thread_ = std::thread([this] {
            while (!stop_) {
                QCoreApplication::postEvent(window_, new Stamp(Clock::now()));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~AnswerProbe() override {
        Stop();
        window_->removeEventFilter(this);
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    // Delays of the events posted within [from, to].
    std::vector<double> Between(Clock::time_point from, Clock::time_point to) const {
        std::vector<double> delays;
        for (const Sample& s : samples_) {
            if (s.posted >= from && s.posted <= to) delays.push_back(s.delayMs);
        }
        return delays;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != kStampType) return QObject::eventFilter(watched, event);
        const auto posted = static_cast<Stamp*>(event)->posted;
        samples_.push_back({posted, Ms(Clock::now() - posted)});
        return true;
    }

  private:
    static inline const auto kStampType = static_cast<QEvent::Type>(QEvent::registerEventType());
    struct Stamp : QEvent {
        explicit Stamp(Clock::time_point at) : QEvent(kStampType), posted(at) {}
        Clock::time_point posted;
    };

    QWidget* window_;
    std::vector<Sample> samples_;  // main thread only
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the event loop as the program does between events (QTest::qWait sleeps between rounds).
void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The calling (main) thread's processor time, user and system, and how often it gave up the
// processor (a sleep or a wait: each costs a switch away and back).
struct ThreadUsage {
    double cpuSeconds = 0;
    double waits = 0;
};
ThreadUsage ThreadUsageNow() {
    rusage u{};
    if (::getrusage(RUSAGE_THREAD, &u) != 0) Fail("getrusage failed");
    auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {seconds(u.ru_utime) + seconds(u.ru_stime), static_cast<double>(u.ru_nvcsw)};
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct LineRun {
    LineRateReader::Totals far;
    double bytesPerSecond = 0;
    Clock::time_point start, end;  // the dialog's accept and the handler's return
    std::vector<double> ticksMs;
    std::vector<double> answersMs, idleAnswersMs;  // with the probe only
    double cpuSeconds = 0, idleCpuSeconds = 0, idleSeconds = 0;
    double waits = 0;  // the main thread's voluntary context switches during the transfer
    // Until the last byte was on the line: processor time and wall time from `start`.
    double lineCpuSeconds = 0, lineSeconds = 0;
};

// Runs the event loop until the far end has `count` bytes, looking every 10 ms, or `timeoutMs`.
void RunEventLoopUntil(LineRateReader& far, std::size_t count, int timeoutMs) {
    QEventLoop loop;
    QTimer look;
    const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (far.Size() >= count || Clock::now() >= limit) loop.quit();
    });
    look.start(10);
    loop.exec();
}

// One transfer of the file at `path` (`lineBytes` on the line) on the port the window has open,
// whose far end is `line`'s master, after 2 s of the idle window for comparison. With `probe`,
// the window's answer time is taken too; its events cost the window processor time of their own,
// so the processor time is taken from a run without it.
LineRun Transfer(Window& w, PtyPair& line, const std::string& path, std::size_t lineBytes,
                 double expectedBytesPerSecond, bool probe) {
    TForm1& f = w.F();
    LineRun run;
    LineRateReader far(line.Master(), LineRate(line.Master()));
    run.bytesPerSecond = far.BytesPerSecond();
    if (run.bytesPerSecond != expectedBytesPerSecond)
        Fail("the line runs at " + std::to_string(run.bytesPerSecond) + " B/s");
    std::optional<AnswerProbe> answers;
    if (probe) answers.emplace(&f);

    const auto idleStart = Clock::now();
    const double idleCpu0 = ThreadUsageNow().cpuSeconds;
    RunEventLoop(2000);
    run.idleCpuSeconds = ThreadUsageNow().cpuSeconds - idleCpu0;
    const auto idleEnd = Clock::now();
    run.idleSeconds = Seconds(idleEnd - idleStart);

    bool timing = false;
    Clock::time_point lastTick;
    QObject::connect(f.Timer1, &QTimer::timeout, &f, [&] {
        const auto now = Clock::now();
        if (timing && lastTick != Clock::time_point{}) run.ticksMs.push_back(Ms(now - lastTick));
        if (timing) lastTick = now;
    });
    ThreadUsage usage0;
    ClickFileTrans(f, path, [&] {
        run.start = Clock::now();
        usage0 = ThreadUsageNow();
        timing = true;
    });
    const ThreadUsage usage1 = ThreadUsageNow();
    run.cpuSeconds = usage1.cpuSeconds - usage0.cpuSeconds;
    run.waits = usage1.waits - usage0.waits;
    run.end = Clock::now();
    timing = false;
    if (f.Label3->text() != QString::fromUtf8("ファイル転送終了しました"))
        Fail("the transfer ended with \"" + f.Label3->text().toStdString() + "\"");
    const int drainMs =
        static_cast<int>(static_cast<double>(lineBytes) / run.bytesPerSecond * 1000);
    // The transfer lasts until its last byte is on the line; the window idles on meanwhile.
    RunEventLoopUntil(far, lineBytes, drainMs + 10000);
    run.lineCpuSeconds = ThreadUsageNow().cpuSeconds - usage0.cpuSeconds;
    run.lineSeconds = Seconds(Clock::now() - run.start);
    if (answers) {
        answers->Stop();
        RunEventLoop(100);  // the events still queued reach the window
        run.answersMs = answers->Between(run.start, run.end);
        run.idleAnswersMs = answers->Between(idleStart, idleEnd);
    }
    if (far.WaitFor(lineBytes, std::chrono::seconds(1)).size() != lineBytes)
        Fail("the far end lost bytes");
    run.far = far.Get();
    return run;
}

// The rows for one rate, from a run with the answer probe and one without.
void Report(const std::string& key, std::size_t fileBytes, std::size_t lineBytes,
            const LineRun& probed, const LineRun& quiet) {
    const LineRateReader::Totals& t = probed.far;
    const double span = Seconds(t.last - t.first);
    const double handler = Seconds(probed.end - probed.start);
    Emit(key + "_Bps", probed.bytesPerSecond);
    Emit(key + "_file_bytes", static_cast<double>(fileBytes));
    Emit(key + "_line_bytes", static_cast<double>(lineBytes));
    Emit(key + "_span_s", span);
    Emit(key + "_utilisation",
         static_cast<double>(t.bytes - t.firstRead) / (probed.bytesPerSecond * span));
    Emit(key + "_idle_max_ms", t.longestIdleMs);
    Emit(key + "_handler_s", handler);
    // How much line time was still to run when the handler reported the end.
    Emit(key + "_after_end_s", Seconds(t.last - probed.end));
    Emit(key + "_tick_p50_ms", Percentile(probed.ticksMs, 50));
    Emit(key + "_tick_p99_ms", Percentile(probed.ticksMs, 99));
    Emit(key + "_tick_max_ms", Percentile(probed.ticksMs, 100));
    Emit(key + "_tick_count", static_cast<double>(probed.ticksMs.size()));
    Emit(key + "_answer_p50_ms", Percentile(probed.answersMs, 50));
    Emit(key + "_answer_p99_ms", Percentile(probed.answersMs, 99));
    Emit(key + "_answer_max_ms", Percentile(probed.answersMs, 100));
    Emit(key + "_answer_count", static_cast<double>(probed.answersMs.size()));
    Emit(key + "_answer_idle_p99_ms", Percentile(probed.idleAnswersMs, 99));
    const double quietHandler = Seconds(quiet.end - quiet.start);
    const double cpuPct = 100 * quiet.lineCpuSeconds / quiet.lineSeconds;
    Emit(key + "_cpu_pct", cpuPct);
    Emit(key + "_cpu_handler_pct", 100 * quiet.cpuSeconds / quietHandler);
    Emit(key + "_transfer_s", quiet.lineSeconds);
    Emit(key + "_cpu_idle_pct", 100 * quiet.idleCpuSeconds / quiet.idleSeconds);
    Emit(key + "_cpu_probed_pct", 100 * probed.cpuSeconds / handler);
    Emit(key + "_waits_per_s", quiet.waits / quietHandler);
    std::fprintf(stderr,
                 "%s: %zu bytes over %.2f s at the far end, handler %.2f s, %zu ticks, tick p99 "
                 "%.1f ms, answer p99 %.2f ms, cpu %.2f%% over the transfer (%.2f%% over the "
                 "handler, %.2f%% with the probe), %.0f waits/s\n",
                 key.c_str(), t.bytes, span, handler, probed.ticksMs.size(),
                 Percentile(probed.ticksMs, 99), Percentile(probed.answersMs, 99), cpuPct,
                 100 * quiet.cpuSeconds / quietHandler, 100 * probed.cpuSeconds / handler,
                 quiet.waits / quietHandler);
}

// A window with COM3 selected with its button (the program sets 38400), its far end `com3`.
struct Com3Window {
    Com3Window() {
        ScopedEnv env("QUENBY_COM3", com3.SlavePath().c_str());
        w.F().RadioButton1->click();
        if (!w.F().RadioButton1->isChecked() || hComm == INVALID_HANDLE_VALUE)
            Fail("COM3 did not open on " + com3.SlavePath());
    }
    Window w;
    PtyPair com3;
};

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    const char* scaleText = std::getenv("QUENBY_BENCH_LINE_SCALE");
    const double scale = scaleText ? std::atof(scaleText) : 1.0;

    const auto dir =
        std::filesystem::temp_directory_path() / ("quenby-bench-line-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Cleanup {
        std::filesystem::path dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    auto write = [&](const std::string& name, std::size_t size) {
        const std::string file = SRecordFile(size);
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << file;
        return std::pair{path, file};
    };

    {  // COM2, opened at start-up at 115200
        const auto [path, file] = write("com2.s", static_cast<std::size_t>(120000 * scale));
        const std::size_t lineBytes = LineBytes(file);
        LineRun runs[2];
        for (const bool probe : {true, false}) {
            Window w;
            runs[probe ? 0 : 1] = Transfer(w, w.Pty(), path, lineBytes, 11520, probe);
        }
        Report("line_11520", file.size(), lineBytes, runs[0], runs[1]);
    }
    {  // COM3 at 38400
        const auto [path, file] = write("com3.s", static_cast<std::size_t>(40000 * scale));
        const std::size_t lineBytes = LineBytes(file);
        LineRun runs[2];
        for (const bool probe : {true, false}) {
            Com3Window c;
            runs[probe ? 0 : 1] = Transfer(c.w, c.com3, path, lineBytes, 3840, probe);
        }
        Report("line_3840", file.size(), lineBytes, runs[0], runs[1]);
    }
    return 0;
}
