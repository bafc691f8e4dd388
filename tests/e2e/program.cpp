#include "tests/e2e/program.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/e2e/session.h"
#include "tests/support/x_session.h"

namespace e2e {

namespace {

std::string RealPath(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

void Xdotool(const std::vector<std::string>& args) {
    EXPECT_EQ(quenby_test::Xdotool(args), 0) << "xdotool " << args.front();
}

}  // namespace

Program::Program(Session& session, Options options)
    : session_(session),
      child_(
          [&] {
              if (!options.asNobody) return std::vector<std::string>{BinPath("quenby")};
              // A copy in the session's directory: the build tree may lie where only root can
              // reach it.
              const std::string copy = session.Dir() + "/quenby-" + options.name;
              std::error_code ec;
              std::filesystem::copy_file(BinPath("quenby"), copy,
                                         std::filesystem::copy_options::overwrite_existing, ec);
              if (ec || ::chmod(copy.c_str(), 0755) != 0) ADD_FAILURE() << "copy " << copy;
              return std::vector<std::string>{
                  "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", copy};
          }(),
          [&] {
              Env env = session.BaseEnv();
              if (options.asNobody) {
                  // A home and runtime directory of its own, as a login would give it.
                  const passwd* pw = ::getpwnam("nobody");
                  const std::string home = session.Dir() + "/home-" + options.name;
                  ::mkdir(home.c_str(), 0700);
                  if (pw != nullptr && ::chown(home.c_str(), pw->pw_uid, pw->pw_gid) != 0)
                      ADD_FAILURE() << "chown " << home;
                  env["HOME"] = home;
                  env["XDG_RUNTIME_DIR"] = home;
              }
              return env;
          }(),
          session.Dir() + "/" + options.name + ".out",
          session.Dir() + "/" + options.name + ".err") {
    if (!WaitWindow()) ADD_FAILURE() << "no window; stderr:\n" << Stderr();
}

Program::~Program() {
    if (Running()) session_.Shot();
    child_.Stop();
    const std::string err = Stderr();
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
        if (err.find(report) != std::string::npos) ADD_FAILURE() << "sanitizer report:\n" << err;
}

bool Program::WaitWindow() {
    const bool found = WaitUntil(
        [&] {
            if (!Running()) return true;
            const auto ids = quenby_test::FindWindows(Pid(), "^Quenby $");
            if (!ids.empty()) window_ = ids.front();
            return window_ != 0;
        },
        120s);
    if (!found || window_ == 0) return false;
    if (!quenby_test::WindowOrigin(window_, &originX_, &originY_))
        ADD_FAILURE() << "no place for window " << window_;
    return true;
}

std::vector<unsigned long> Program::VisibleWindows() const {
    return quenby_test::VisibleWindows(Pid());
}

bool Program::WaitStderr(const std::string& text, Clock::duration limit) {
    return WaitUntil([&] { return Stderr().find(text) != std::string::npos; }, limit);
}

void Program::Click(const Control& c, int times) {
    // No --sync: with the pointer already in place it waits 15 s for a move that never comes.
    // The server takes the fake motion and the clicks in order anyway.
    Xdotool({"mousemove", std::to_string(originX_ + c.x + c.w / 2),
             std::to_string(originY_ + c.y + c.h / 2), "click", "--repeat", std::to_string(times),
             "--delay", "120", "1"});
}

void Program::Close() const {
    EXPECT_EQ(Run({BinPath("quenby-close-window"), std::to_string(window_)}), 0);
}

bool Program::ChooseFile(const std::string& path, const std::function<void()>& beforeReturn) {
    Click(controls::kFileTrans);
    unsigned long dialog = 0;
    WaitUntil(
        [&] {
            const auto ids = quenby_test::FindWindows(Pid(), "^Open$");
            dialog = ids.empty() ? 0 : ids.front();
            return dialog != 0;
        },
        60s);
    if (dialog == 0) return false;
    WaitUntil([&] { return quenby_test::FocusedWindow() == dialog; }, 10s);
    Xdotool({"type", "--delay", "15", "--", path});
    if (beforeReturn) beforeReturn();
    Xdotool({"key", "Return"});
    return true;
}

bool Program::DialogOpen() const {
    return !quenby_test::FindWindows(Pid(), "^Open$").empty();
}

bool Program::Transfer(const std::string& path) {
    return ChooseFile(path) && WaitUntil([&] { return !DialogOpen(); }, 60s);
}

bool Program::HasOpen(const std::string& device) const {
    const std::string real = RealPath(device);
    std::error_code ec;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(Pid()) + "/fd", ec)) {
        std::error_code lec;
        if (std::filesystem::read_symlink(fd.path(), lec).string() == real) return true;
    }
    return false;
}

bool Program::WaitOpen(const std::string& device, Clock::duration limit) const {
    return WaitUntil([&] { return HasOpen(device); }, limit);
}

bool Program::WaitReleased(const std::string& device, Clock::duration limit) const {
    return WaitUntil([&] { return !HasOpen(device); }, limit);
}

double Program::CpuSeconds() const {
    return quenby_test::CpuSeconds(Pid());
}

std::string Program::Capture(const Control& area) const {
    std::string rgb;
    const std::string geometry = std::to_string(area.w) + "x" + std::to_string(area.h) + "+" +
                                 std::to_string(originX_ + area.x) + "+" +
                                 std::to_string(originY_ + area.y);
    EXPECT_EQ(
        Run({"import", "-window", "root", "-crop", geometry, "+repage", "-depth", "8", "rgb:-"},
            &rgb),
        0);
    EXPECT_EQ(rgb.size(), static_cast<std::size_t>(area.w) * area.h * 3);
    return rgb;
}

}  // namespace e2e
