// quenby-bench: the main window under the offscreen platform, COM2 on a pseudo-terminal.
// Prints "key value" lines on stdout (the benchmark library's own table goes to stderr):
//   a 1 MiB transfer through the real handler against a bare write-and-process loop, the tick
//   intervals during the transfer, the memory a monitor line takes, and the cost of one tick with
//   an empty, a one-line and a 100,000-line monitor.
// QUENBY_BENCH_TRANSFERS sets how many transfers of each kind run (default 3; 0 skips them).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "serial/serial_port.h"
#include "tests/support/far_end.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "ui/application.h"
#include "ui/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kTransferBytes = std::size_t{1} << 20;
constexpr int kMonitorLines = 100000;

void Emit(const std::string& key, double value) {
    std::printf("%s %.6g\n", key.c_str(), value);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "quenby-bench: %s\n", message.c_str());
    std::exit(1);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Nearest-rank percentile.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

// A sample record as the board sends it: 24 bytes and CR LF.
std::string RecordChunk(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "ad0:%08dad1:%08d\r\n", 1000 + i % 9000,
                  5000 + (i * 7) % 4000);
    return text;
}

// An S-record file of exactly `size` bytes, LF line ends.
std::string SRecordFile(std::size_t size) {
    std::string file;
    char line[64];
    for (unsigned address = 0; file.size() < size; address += 16) {
        std::snprintf(line, sizeof line, "S113%04X%08X%08X%08X%08X%02X\n", address & 0xFFFF,
                      address * 2654435761u, address ^ 0x5A5A5A5Au, ~address, address * 40503u,
                      address & 0xFF);
        file += line;
    }
    file.resize(size);
    return file;
}

std::size_t LineEnds(const std::string& bytes) {
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

// The main window as the program runs it: COM2 opened at construction, shown.
class Window {
  public:
    Window()
        : com2_("QUENBY_COM2", pty_.SlavePath().c_str()), form_(std::make_unique<TForm1>(qApp)) {
        if (hComm == INVALID_HANDLE_VALUE) Fail("COM2 did not open on " + pty_.SlavePath());
        form_->show();
        if (!QTest::qWaitForWindowExposed(form_.get())) Fail("the window was not exposed");
    }
    ~Window() {
        form_.reset();
        CloseHandle(hComm);
        hComm = INVALID_HANDLE_VALUE;
    }
    TForm1& F() { return *form_; }
    PtyPair& Pty() { return pty_; }

  private:
    PtyPair pty_;
    ScopedEnv com2_;
    std::unique_ptr<TForm1> form_;
};

struct TransferRun {
    double seconds = 0;
    std::vector<double> tickGapsMs;
};

// The file transfer handler with the dialog answered from a timer; timed from the dialog's accept
// to the handler's return.
TransferRun RealTransfer(const std::string& path, std::size_t lineBytes) {
    Window w;
    quenby_test::FarEnd far(w.Pty().Master());
    TransferRun run;
    bool timing = false;
    Clock::time_point start, lastTick;
    QObject::connect(w.F().Timer1, &QTimer::timeout, &w.F(), [&] {
        const auto now = Clock::now();
        if (timing && lastTick != Clock::time_point{})
            run.tickGapsMs.push_back(
                std::chrono::duration<double, std::milli>(now - lastTick).count());
        if (timing) lastTick = now;
    });
    QTimer::singleShot(0, &w.F(), [&] {
        auto* name = w.F().OpenDialog1->findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) Fail("no file name box in the dialog");
        name->setText(QString::fromStdString(path));
        static_cast<QDialog*>(w.F().OpenDialog1)->accept();
        start = Clock::now();
        timing = true;
    });
    w.F().Button2->click();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timing = false;
    if (far.WaitFor(lineBytes, std::chrono::seconds(30)).size() != lineBytes)
        Fail("the transfer lost bytes");
    return run;
}

// The baseline: one write and one processEvents per byte on a raw pseudo-terminal.
double BareLoop(const std::string& bytes) {
    PtyPair pty;
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0) Fail("cannot open " + pty.SlavePath());
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    quenby_test::FarEnd far(pty.Master());
    const auto start = Clock::now();
    for (const char c : bytes) {
        if (::write(fd, &c, 1) != 1) Fail("bare write failed");
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (far.WaitFor(bytes.size(), std::chrono::seconds(30)).size() != bytes.size())
        Fail("the bare loop lost bytes");
    ::close(fd);
    return seconds;
}

void MeasureTransfers() {
    const char* env = std::getenv("QUENBY_BENCH_TRANSFERS");
    const int runs = env ? std::atoi(env) : 3;
    if (runs <= 0) return;
    const std::string bytes = SRecordFile(kTransferBytes);
    const quenby_test::TempDir dir("quenby-bench");
    const std::string path = dir.Write("transfer.s", bytes);

    std::vector<double> bare, real, gaps;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(BareLoop(bytes));
        TransferRun run = RealTransfer(path, bytes.size() + LineEnds(bytes));
        real.push_back(run.seconds);
        gaps.insert(gaps.end(), run.tickGapsMs.begin(), run.tickGapsMs.end());
        std::fprintf(stderr, "transfer %d: bare %.3f s, real %.3f s, %zu tick intervals\n", i + 1,
                     bare.back(), real.back(), run.tickGapsMs.size());
    }
    // Both figures in file bytes per second: each file byte is one write in both loops.
    Emit("transfer_bare_Bps", static_cast<double>(bytes.size()) / Median(bare));
    Emit("transfer_real_Bps", static_cast<double>(bytes.size()) / Median(real));
    Emit("tick_gap_p50_ms", Percentile(gaps, 50));
    Emit("tick_gap_p99_ms", Percentile(gaps, 99));
    Emit("tick_gap_max_ms", Percentile(gaps, 100));
    Emit("tick_gap_count", static_cast<double>(gaps.size()));
}

// --- One tick, with an empty, a one-line and a full monitor ---

Window* tickWindow = nullptr;

// Waits until `count` bytes wait on the port: the pseudo-terminal moves them across on its own.
void AwaitWaiting(int fd, int count) {
    for (int waiting = 0;;) {
        if (::ioctl(fd, FIONREAD, &waiting) != 0) Fail("FIONREAD failed");
        if (waiting >= count) return;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 1);
    }
}

enum class TickCase { Idle, Record, RecordAndRepaint };

// Brings a small monitor back to `lines` lines (0 or 1) before each tick.
void ResetMonitor(TMemo* memo, std::int64_t lines) {
    memo->ClearLines();
    if (lines == 1) memo->AddLine(DisplayText(RecordChunk(0)));
}

// One tick's handler; the repaint it asks for runs untimed, except in the last case.
void Tick(benchmark::State& state, TickCase what) {
    TForm1& f = tickWindow->F();
    const std::int64_t lines = state.range(0);
    const bool full = lines == kMonitorLines;
    if (full && f.Memo1->document()->blockCount() < kMonitorLines) Fail("the monitor is not full");
    if (!full) ResetMonitor(f.Memo1, lines);
    QApplication::processEvents();
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(hComm));
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (what != TickCase::Idle) {
            if (!full) ResetMonitor(f.Memo1, lines);
            const std::string record = RecordChunk(i++);
            tickWindow->Pty().Send(record);
            AwaitWaiting(fd, static_cast<int>(record.size()));
        }
        if (what != TickCase::RecordAndRepaint) QApplication::processEvents();
        state.ResumeTiming();
        f.Timer1Timer();
        if (what == TickCase::RecordAndRepaint) QApplication::processEvents();
    }
    QApplication::processEvents();
}

// In-use heap, the large blocks glibc maps on their own included.
double HeapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

double ResidentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Fills the monitor as ticks would, measuring the heap and the resident set on the way.
void FillMonitor() {
    TForm1& f = tickWindow->F();
    f.Memo1->ClearLines();
    QApplication::processEvents();
    const double heap0 = HeapBytes(), rss0 = ResidentBytes();
    std::size_t chars = 0;
    for (int i = 0; i < kMonitorLines; ++i) {
        const QString line = DisplayText(RecordChunk(i));
        chars += static_cast<std::size_t>(line.size());
        f.Memo1->AddLine(line);
        // Back to the event loop now and then, as between ticks, so posted events never pile up.
        if (i % 100 == 99) QApplication::processEvents();
    }
    QApplication::processEvents();
    const double heap1 = HeapBytes(), rss1 = ResidentBytes();
    Emit("line_chars", static_cast<double>(chars) / kMonitorLines);
    Emit("line_heap_bytes", (heap1 - heap0) / kMonitorLines);
    Emit("line_rss_bytes", (rss1 - rss0) / kMonitorLines);
}

// Keeps the library's table on stderr and the medians for the summary.
class Collector : public benchmark::ConsoleReporter {
  public:
    Collector() {
        SetOutputStream(&std::cerr);
        SetErrorStream(&std::cerr);
    }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

void RegisterTicks() {
    const std::pair<const char*, TickCase> cases[] = {
        {"tick_idle", TickCase::Idle},
        {"tick_record", TickCase::Record},
        {"tick_record_repaint", TickCase::RecordAndRepaint},
    };
    for (const auto& [name, what] : cases) {
        auto* b = benchmark::RegisterBenchmark(name, Tick, what)
                      ->ArgName("lines")
                      ->Arg(0)
                      ->Unit(benchmark::kMicrosecond)
                      ->Repetitions(5)
                      ->ReportAggregatesOnly(true);
        // One line: the tick then adds a block to a document that has one, as at every later tick.
        if (what == TickCase::Record) b->Arg(1);
        b->Arg(kMonitorLines);
        if (what == TickCase::Idle)
            b->MinTime(0.1);
        else
            b->Iterations(500);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    TApplication app(argc, argv);

    MeasureTransfers();

    RegisterTicks();
    Collector collector;
    tickWindow = new Window;
    tickWindow->F().Timer1->stop();  // the benchmark calls the tick itself
    tickWindow->F().Memo1->ClearLines();
    benchmark::RunSpecifiedBenchmarks(&collector, "lines:[01]/");
    FillMonitor();
    benchmark::RunSpecifiedBenchmarks(&collector, "lines:" + std::to_string(kMonitorLines) + "/");
    for (const auto& [name, us] : collector.medians) {
        std::string key = name;
        std::replace(key.begin(), key.end(), '/', '_');
        std::replace(key.begin(), key.end(), ':', '_');
        Emit(key + "_us", us);
    }
    delete tickWindow;
    benchmark::Shutdown();
    return 0;
}
