#pragma once

// What the window benchmarks share: "key value" output, percentiles, an S-record file of a given
// size, and the main window as the program runs it with COM2 on a pseudo-terminal.

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "tests/support/percentile.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scoped_env.h"
#include "ui/main_window.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using quenby_test::Percentile;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline void Emit(const std::string& key, double value) {
    std::printf("%s %.6g\n", key.c_str(), value);
    std::fflush(stdout);
}

[[noreturn]] inline void Fail(const std::string& message) {
    std::fprintf(stderr, "quenby-bench: %s\n", message.c_str());
    std::exit(1);
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// An S-record file of exactly `size` bytes, LF line ends.
inline std::string SRecordFile(std::size_t size) {
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

// The bytes the file puts on the line: each LF goes out as CR LF.
inline std::size_t LineBytes(const std::string& file) {
    return file.size() + static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n'));
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

// Clicks FileTrans with the dialog answered from a timer, as a user picking `path`.
// `accepted` runs just after the dialog's accept, before the handler's first write; the click
// returns when the handler does.
inline void ClickFileTrans(TForm1& f, const std::string& path, std::function<void()> accepted) {
    QTimer::singleShot(0, &f, [&f, path, accepted = std::move(accepted)] {
        auto* name = f.OpenDialog1->findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) Fail("no file name box in the dialog");
        name->setText(QString::fromStdString(path));
        static_cast<QDialog*>(f.OpenDialog1)->accept();
        accepted();
    });
    f.Button2->click();
}

}  // namespace bench
