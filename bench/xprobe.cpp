// quenby-bench-xprobe: starts a program under the X display in DISPLAY, with a fresh
// pseudo-terminal on which nothing arrives as its COM2, and measures it from outside.
//
//   quenby-bench-xprobe startup TITLE -- PROGRAM [ARGS...]
//       prints the milliseconds from the start to the mapping of a top-level window whose title
//       contains TITLE (with no window manager the server exposes a window as it maps it)
//   quenby-bench-xprobe idle SECONDS TITLE -- PROGRAM [ARGS...]
//       waits for the window, lets the program settle for 2 s, then prints the processor time it
//       used over SECONDS as a percentage of one core: from /proc/PID/stat (clock ticks) and from
//       the per-thread /proc/PID/task/*/schedstat (nanoseconds)

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "quenby-bench-xprobe: %s\n", message.c_str());
    std::exit(2);
}

std::string WindowTitle(Display* display, Window window) {
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    for (const Atom property : {XInternAtom(display, "_NET_WM_NAME", False), XA_WM_NAME}) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr) {
            std::string title(reinterpret_cast<char*>(data), count);
            XFree(data);
            if (!title.empty() && (type == utf8 || type == XA_STRING || format == 8)) return title;
        }
    }
    return {};
}

// Waits for the child's window to be mapped; the root's substructure was selected before the
// start, so the mapping cannot be missed.
void AwaitWindow(Display* display, quenby_test::Child& child, const std::string& title) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect &&
                WindowTitle(display, event.xmap.window).find(title) != std::string::npos)
                return;
        }
        if (!child.Running()) Die("the program ended before its window");
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    Die("no window titled \"" + title + "\" within 30 s");
}

// Processor time of the whole process: from /proc/PID/stat in seconds (tick resolution), and
// summed over its threads' schedstat in seconds.
std::pair<double, double> CpuSeconds(pid_t pid) {
    const double stat = quenby_test::CpuSeconds(pid);
    if (stat < 0) Die("cannot read /proc/" + std::to_string(pid) + "/stat");

    double ns = 0;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = opendir(taskDir.c_str())) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream sched(taskDir + "/" + e->d_name + "/schedstat");
            double onCpu = 0;
            if (sched >> onCpu) ns += onCpu;
        }
        closedir(dir);
    }
    return {stat, ns / 1e9};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t dash = 0;
    while (dash < args.size() && args[dash] != "--") ++dash;
    const bool startup = !args.empty() && args[0] == "startup" && dash == 2;
    const bool idle = !args.empty() && args[0] == "idle" && dash == 3;
    if ((!startup && !idle) || dash + 1 >= args.size())
        Die("usage: startup TITLE -- PROGRAM... | idle SECONDS TITLE -- PROGRAM...");
    const std::string title = args[dash - 1];

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) Die("cannot open the display");
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    std::optional<PtyPair> com2;
    try {
        com2.emplace();
    } catch (const std::exception& e) {
        Die(e.what());
    }
    const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(dash) + 1,
                                           args.end());
    const quenby_test::Env env{{"QUENBY_COM2", com2->SlavePath()}};
    const quenby_test::Child::Streams inherited{quenby_test::kInherit, quenby_test::kInherit,
                                                quenby_test::kInherit};

    const auto start = Clock::now();
    std::optional<quenby_test::Child> child;
    try {
        child.emplace(command, env, inherited);
    } catch (const std::exception& e) {
        Die(e.what());
    }
    AwaitWindow(display, *child, title);
    const double shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    if (startup) {
        std::printf("%.3f\n", shownMs);
    } else {
        const double seconds = std::stod(args[1]);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto [stat0, sched0] = CpuSeconds(child->Pid());
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const auto [stat1, sched1] = CpuSeconds(child->Pid());
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("%.4f %.4f\n", 100 * (stat1 - stat0) / wall, 100 * (sched1 - sched0) / wall);
    }
    child->Stop();
    XCloseDisplay(display);
    return 0;
}
