#include "tests/support/x_session.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace quenby_test {

namespace {

std::vector<unsigned long> Ids(const std::string& text) {
    std::vector<unsigned long> ids;
    std::istringstream s(text);
    unsigned long id;
    while (s >> id) ids.push_back(id);
    return ids;
}

std::vector<unsigned long> Search(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool", "search"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    Run(argv, &out);
    return Ids(out);
}

}  // namespace

XSession::XSession(const std::string& dir, Clock::duration limit) {
    // Xvfb picks a free display itself and writes its number to the descriptor.
    Pipe pipe;
    const int passAs = pipe.WriteEnd() == 9 ? 10 : 9;
    server_.emplace(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(passAs), "-nolisten", "tcp",
                                 "-ac", "-noreset", "-screen", "0", "1280x1024x24"},
        Env{}, dir + "/xvfb.out", dir + "/xvfb.err", pipe.WriteEnd(), passAs);
    pipe.CloseWriteEnd();
    const std::string number = pipe.ReadUntil(Clock::now() + limit, [](const std::string& s) {
        return s.find('\n') != std::string::npos;
    });
    if (number.find('\n') == std::string::npos)
        throw std::runtime_error("Xvfb did not start:\n" + server_->Err());
    display_ = ":" + number.substr(0, number.find('\n'));

    wm_.emplace(std::vector<std::string>{"openbox", "--sm-disable"}, Env{{"DISPLAY", display_}},
                dir + "/wm.out", dir + "/wm.err");
    const auto named = [&] {
        std::string out;
        Run({"xprop", "-display", display_, "-root", "_NET_SUPPORTING_WM_CHECK"}, &out);
        return out.find("window id") != std::string::npos || !wm_->Running();
    };
    if (!WaitUntil(named, limit) || !wm_->Running())
        throw std::runtime_error("openbox did not start:\n" + wm_->Err());
}

std::vector<unsigned long> FindWindows(pid_t pid, const std::string& namePattern) {
    return Search({"--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", namePattern});
}

std::vector<unsigned long> VisibleWindows(pid_t pid) {
    return Search({"--onlyvisible", "--pid", std::to_string(pid)});
}

unsigned long FocusedWindow() {
    std::string out;
    Run({"xdotool", "getwindowfocus"}, &out);
    const auto ids = Ids(out);
    return ids.empty() ? 0 : ids.front();
}

bool WindowOrigin(unsigned long window, int* x, int* y) {
    std::string info;
    if (Run({"xwininfo", "-id", std::to_string(window)}, &info) != 0) return false;
    const auto ax = info.find("Absolute upper-left X:"), ay = info.find("Absolute upper-left Y:");
    return ax != std::string::npos && ay != std::string::npos &&
           std::sscanf(info.c_str() + ax, "Absolute upper-left X: %d", x) == 1 &&
           std::sscanf(info.c_str() + ay, "Absolute upper-left Y: %d", y) == 1;
}

int Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv);
}

}  // namespace quenby_test
