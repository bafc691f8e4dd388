#pragma once

// An X display of one's own (Xvfb on a free display number), and finding and driving windows on
// it with the X command-line tools (xdotool, xwininfo).

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/child.h"

namespace quenby_test {

class XSession {
  public:
    // Starts Xvfb with one 1280x1024x24 screen, its output in <dir>/xvfb.out and .err, and waits
    // for it to take a display; then the openbox window manager on it, as every desktop has one,
    // ready once it names itself on the root window (output in <dir>/wm.out and .err). Throws
    // std::runtime_error (with the stderr of the one that failed) when either does not come.
    explicit XSession(const std::string& dir, Clock::duration limit = std::chrono::seconds(60));
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // ":N", as DISPLAY takes it.
    const std::string& Display() const { return display_; }

  private:
    std::optional<Child> server_;
    std::optional<Child> wm_;  // declared after the server, so it goes first
    std::string display_;
};

// The commands below work on the display in DISPLAY.

// Visible windows of a process whose name matches `namePattern` (a regular expression), mapped
// top-levels or not (xdotool search --all).
std::vector<unsigned long> FindWindows(pid_t pid, const std::string& namePattern);
// All visible windows of a process.
std::vector<unsigned long> VisibleWindows(pid_t pid);
// The window with the keyboard focus, 0 when none.
unsigned long FocusedWindow();
// The window's upper-left corner on the screen; false when xwininfo cannot tell.
bool WindowOrigin(unsigned long window, int* x, int* y);
// Runs xdotool with these arguments; returns its exit status.
int Xdotool(const std::vector<std::string>& args);

}  // namespace quenby_test
