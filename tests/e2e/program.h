#pragma once

// The real program under test, started on the session's display, and the places of the controls
// a test clicks.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child.h"

namespace e2e {

// A control's place in the window's client area.
struct Control {
    int x, y, w, h;
};

namespace controls {
inline constexpr Control kFileTrans{8, 38, 65, 27};
inline constexpr Control kDataOut0x55{8, 240, 75, 25};
inline constexpr Control kDataOut0xAA{8, 272, 75, 25};
inline constexpr Control kCom1{16, 102, 55, 14};
inline constexpr Control kCom2{16, 120, 65, 17};
inline constexpr Control kCom3{16, 144, 65, 17};
inline constexpr Control kCom4{16, 168, 57, 17};
// The two channel boxes and the record line below them: everything a record changes.
inline constexpr Control kReadings{104, 80, 417, 227};
}  // namespace controls

class Session;

using quenby_test::Clock;
using namespace std::chrono_literals;

// The real program, started on the session's display with its ports in the session's directory.
class Program {
  public:
    struct Options {
        bool asNobody = false;
        std::string name = "quenby";  // names its output files
    };
    explicit Program(Session& session) : Program(session, Options{}) {}
    Program(Session& session, Options options);
    ~Program();

    pid_t Pid() const { return child_.Pid(); }
    bool Running() { return child_.Running(); }
    std::optional<int> WaitExit(Clock::duration limit) { return child_.WaitExit(limit); }
    std::string Stderr() const { return child_.Err(); }
    bool WaitStderr(const std::string& text, Clock::duration limit = 30s);

    unsigned long Window() const { return window_; }
    std::vector<unsigned long> VisibleWindows() const;

    // A press and release of the left button in the middle of a control (on a port button's
    // indicator).
    void Click(const Control& c, int times = 1);
    void Close() const;
    // FileTrans, the full path typed into the dialog's name box, `beforeReturn`, Return. Waits
    // for the dialog to go. Returns false if it never appeared.
    bool ChooseFile(const std::string& path, const std::function<void()>& beforeReturn = {});
    bool DialogOpen() const;
    // A whole choice of a file to transfer: ChooseFile, then the dialog gone.
    bool Transfer(const std::string& path);

    // Whether the program holds the device open now.
    bool HasOpen(const std::string& device) const;
    bool WaitOpen(const std::string& device, Clock::duration limit = 30s) const;
    bool WaitReleased(const std::string& device, Clock::duration limit = 30s) const;
    // User plus system CPU time so far.
    double CpuSeconds() const;
    // The screen's RGB bytes over a rectangle of the client area.
    std::string Capture(const Control& area) const;

  private:
    bool WaitWindow();

    Session& session_;
    quenby_test::Child child_;
    unsigned long window_ = 0;
    int originX_ = 0, originY_ = 0;
};

}  // namespace e2e
