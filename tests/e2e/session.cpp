#include "tests/e2e/session.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {

namespace {

constexpr int kInherit = -2;

std::vector<std::string> MergedEnv(const Env& extra) {
    Env all;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string kv = *e;
        const auto eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : extra) all[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : all) out.push_back(k + "=" + v);
    return out;
}

// posix_spawn rather than fork, as the tests have threads of their own.
pid_t Spawn(const std::vector<std::string>& argv, const Env& env, int in, int out, int err,
            int passFd = -1, int passAs = -1) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const int fds[3] = {in, out, err};
    for (int n = 0; n < 3; ++n) {
        if (fds[n] == kInherit) continue;
        if (fds[n] >= 0)
            posix_spawn_file_actions_adddup2(&fa, fds[n], n);
        else
            posix_spawn_file_actions_addopen(&fa, n, "/dev/null", n == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    if (passFd >= 0) posix_spawn_file_actions_adddup2(&fa, passFd, passAs);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::vector<std::string> merged = MergedEnv(env);
    for (const auto& e : merged) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0].c_str(), &fa, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

int StatusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int OpenOut(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    return fd;
}

std::vector<unsigned long> Ids(const std::string& text) {
    std::vector<unsigned long> ids;
    std::istringstream s(text);
    unsigned long id;
    while (s >> id) ids.push_back(id);
    return ids;
}

std::string RealPath(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

void Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(Run(argv), 0) << "xdotool " << args.front();
}

}  // namespace

std::string BinPath(const std::string& name) {
    return std::string(QUENBY_BIN_DIR) + "/" + name;
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(20ms);
    }
}

int Run(const std::vector<std::string>& argv, std::string* out, Clock::duration limit) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = Spawn(argv, {}, -1, pipeFds[1], kInherit);
    ::close(pipeFds[1]);
    std::string got;
    const auto until = Clock::now() + limit;
    char buf[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    if (out != nullptr) *out = got;
    return StatusOf(raw);
}

// ---- Child

Child::Child(const std::vector<std::string>& argv, const Env& env, const std::string& outPath,
             const std::string& errPath, int passFd, int passAs)
    : outPath_(outPath), errPath_(errPath) {
    const int out = OpenOut(outPath), err = OpenOut(errPath);
    try {
        pid_ = Spawn(argv, env, -1, out, err, passFd, passAs);
    } catch (...) {
        ::close(out);
        ::close(err);
        throw;
    }
    ::close(out);
    ::close(err);
}

Child::~Child() {
    Stop();
}

bool Child::Running() {
    if (status_) return false;
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = StatusOf(raw);
        return false;
    }
    return true;
}

std::optional<int> Child::WaitExit(Clock::duration limit) {
    WaitUntil([this] { return !Running(); }, limit);
    return status_;
}

void Child::Signal(int sig) {
    if (Running()) ::kill(pid_, sig);
}

void Child::Stop() {
    if (!Running()) return;
    ::kill(pid_, SIGTERM);
    if (WaitExit(10s)) return;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = StatusOf(raw);
}

std::string Child::Out() const {
    return ReadAll(outPath_);
}
std::string Child::Err() const {
    return ReadAll(errPath_);
}

// ---- Line

Line::Line() {
    probe_ = ::open(Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe_ < 0) throw std::runtime_error("cannot open " + Slave());
    reader_ = std::thread([this] { Read(); });
}

Line::~Line() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (probe_ >= 0) ::close(probe_);
}

void Line::Read() {
    char buf[65536];
    while (!stop_) {
        if (paused_) {
            std::this_thread::sleep_for(5ms);
            continue;
        }
        pollfd p{pty_.Master(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = (p.revents & POLLIN) ? ::read(pty_.Master(), buf, sizeof buf) : 0;
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            got_.append(buf, static_cast<std::size_t>(n));
        } else {
            std::this_thread::sleep_for(5ms);  // nobody on the slave side: no spin
        }
    }
}

std::string Line::Got() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_;
}

std::size_t Line::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_.size();
}

void Line::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    got_.clear();
}

std::string Line::WaitFor(std::size_t count, Clock::duration limit) {
    WaitUntil([&] { return Size() >= count; }, limit);
    return Got();
}

std::string Line::Expect(const std::string& expected, Clock::duration limit) {
    WaitFor(expected.size(), limit);
    std::this_thread::sleep_for(500ms);
    return Got();
}

void Line::Unplug() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    pty_.CloseMaster();
}

int Line::Queued() const {
    int n = 0;
    return ::ioctl(probe_, FIONREAD, &n) == 0 ? n : -1;
}

bool Line::WaitDrained(Clock::duration limit) {
    int emptyChecks = 0;
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        emptyChecks = Queued() == 0 ? emptyChecks + 1 : 0;
        if (emptyChecks >= 2) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

termios Line::Settings() const {
    termios t{};
    if (::tcgetattr(probe_, &t) != 0) throw std::runtime_error("tcgetattr " + Slave());
    return t;
}

void Line::SetSpeed(speed_t speed) const {
    termios t = Settings();
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(probe_, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr " + Slave());
}

void Line::Chmod(mode_t mode) const {
    if (::chmod(Slave().c_str(), mode) != 0) throw std::runtime_error("chmod " + Slave());
}

// ---- Holder and opens from the outside

Holder::Holder(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot hold " + device);
}

Holder::~Holder() {
    Release();
}

void Holder::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int InputQueued(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int n = -1;
    if (fd >= 0 && ::ioctl(fd, FIONREAD, &n) != 0) n = -1;
    if (fd >= 0) ::close(fd);
    return n;
}

bool CanLock(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

int OpenErrnoAs(const std::string& device, uid_t uid, gid_t gid) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Raw system calls: only this thread exists here and it alone changes identity.
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, gid, gid, gid) ||
            ::syscall(SYS_setresuid, uid, uid, uid) != 0)
            ::_exit(255);
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 255;
}

// ---- Program

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
            std::string out;
            Run({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(Pid()),
                 "--name", "^Quenby $"},
                &out);
            const auto ids = Ids(out);
            if (!ids.empty()) window_ = ids.front();
            return window_ != 0;
        },
        120s);
    if (!found || window_ == 0) return false;
    std::string info;
    Run({"xwininfo", "-id", std::to_string(window_)}, &info);
    std::sscanf(info.c_str() + info.find("Absolute upper-left X:"), "Absolute upper-left X: %d",
                &originX_);
    std::sscanf(info.c_str() + info.find("Absolute upper-left Y:"), "Absolute upper-left Y: %d",
                &originY_);
    std::this_thread::sleep_for(300ms);  // let the first expose and focus settle
    return true;
}

std::vector<unsigned long> Program::VisibleWindows() const {
    std::string out;
    Run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(Pid())}, &out);
    return Ids(out);
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
            std::string out;
            Run({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(Pid()),
                 "--name", "^Open$"},
                &out);
            const auto ids = Ids(out);
            dialog = ids.empty() ? 0 : ids.front();
            return dialog != 0;
        },
        60s);
    if (dialog == 0) return false;
    WaitUntil(
        [&] {
            std::string out;
            Run({"xdotool", "getwindowfocus"}, &out);
            const auto ids = Ids(out);
            return !ids.empty() && ids.front() == dialog;
        },
        10s);
    std::this_thread::sleep_for(300ms);
    Xdotool({"type", "--delay", "15", "--", path});
    std::this_thread::sleep_for(500ms);  // the completion list catches up with the typing
    if (beforeReturn) beforeReturn();
    Xdotool({"key", "Return"});
    return true;
}

bool Program::DialogOpen() const {
    std::string out;
    Run({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(Pid()), "--name",
         "^Open$"},
        &out);
    return !Ids(out).empty();
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
    const std::string stat = ReadAll("/proc/" + std::to_string(Pid()) + "/stat");
    std::istringstream s(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && s >> field; ++i) {  // fields 14 and 15 are utime and stime
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
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

// ---- Board

Board::Board(Session& session, int port, const std::vector<std::string>& args)
    : child_(
          [&] {
              std::vector<std::string> argv{BinPath("quenby-board"), "--link",
                                            session.PortPath(port)};
              argv.insert(argv.end(), args.begin(), args.end());
              return argv;
          }(),
          session.BaseEnv(), session.Dir() + "/board" + std::to_string(port) + ".out",
          session.Dir() + "/board" + std::to_string(port) + ".err") {
    WaitUntil(
        [&] {
            const std::string out = child_.Out();
            if (out.find('\n') == std::string::npos) return !child_.Running();
            slave_ = out.substr(0, out.find('\n'));
            return true;
        },
        30s);
    if (slave_.empty()) ADD_FAILURE() << "board did not start:\n" << child_.Err();
}

std::vector<std::string> Board::RxLines() const {
    std::vector<std::string> lines;
    std::istringstream s(child_.Out());
    std::string line;
    while (std::getline(s, line))
        if (line.starts_with("rx ")) lines.push_back(line);
    return lines;
}

bool Board::WaitRx(const std::string& line, Clock::duration limit) const {
    return WaitUntil(
        [&] {
            for (const auto& l : RxLines())
                if (l == line) return true;
            return false;
        },
        limit);
}

// ---- Session

void Session::SetUp() {
    char tmpl[] = "/tmp/quenby-e2e.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::chmod(dir_.c_str(), 0755);  // an unprivileged program must reach its port links
    ::mkdir((dir_ + "/runtime").c_str(), 0700);

    // Xvfb picks a free display itself and writes its number to the descriptor.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int passAs = pipeFds[1] == 9 ? 10 : 9;
    xvfb_.emplace(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(passAs), "-nolisten", "tcp",
                                 "-ac", "-noreset", "-screen", "0", "1280x1024x24"},
        Env{}, dir_ + "/xvfb.out", dir_ + "/xvfb.err", pipeFds[1], passAs);
    ::close(pipeFds[1]);
    std::string number;
    const auto until = Clock::now() + 60s;
    while (number.find('\n') == std::string::npos && Clock::now() < until) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c[16];
        const ssize_t n = ::read(pipeFds[0], c, sizeof c);
        if (n <= 0) break;
        number.append(c, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ASSERT_NE(number.find('\n'), std::string::npos) << "Xvfb did not start:\n" << xvfb_->Err();
    display_ = ":" + number.substr(0, number.find('\n'));
    ::setenv("DISPLAY", display_.c_str(), 1);

    // A window manager, as every desktop has: ready once it names itself on the root window.
    wm_.emplace(std::vector<std::string>{"openbox", "--sm-disable"}, Env{{"DISPLAY", display_}},
                dir_ + "/wm.out", dir_ + "/wm.err");
    const auto named = [&] {
        std::string out;
        e2e::Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, &out);
        return out.find("window id") != std::string::npos || !wm_->Running();
    };
    ASSERT_TRUE(WaitUntil(named, 60s) && wm_->Running()) << "openbox did not start:\n"
                                                         << wm_->Err();

    for (int n = 1; n <= 4; ++n) Attach(n, dir_ + "/unplugged-com" + std::to_string(n));
}

void Session::TearDown() {
    Shot();
    wm_.reset();
    xvfb_.reset();
    if (!HasFailure())
        std::filesystem::remove_all(dir_);
    else
        std::fprintf(stderr, "e2e: files of the failed test kept in %s\n", dir_.c_str());
}

std::string Session::PortPath(int n) const {
    return dir_ + "/com" + std::to_string(n);
}

void Session::Attach(int n, const std::string& device) const {
    const std::string link = PortPath(n), tmp = link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(device.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link);
}

Env Session::BaseEnv() const {
    Env env{
        {"DISPLAY", display_}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", dir_ + "/runtime"}};
    for (int n = 1; n <= 4; ++n) env["QUENBY_COM" + std::to_string(n)] = PortPath(n);
    return env;
}

std::string Session::File(const std::string& name, const std::string& bytes) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

void Session::Shot() {
    if (shotTaken_ || display_.empty()) return;
    shotTaken_ = true;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string path = std::string(QUENBY_SHOT_DIR) + "/e2e-" + name + ".png";
    EXPECT_EQ(e2e::Run({"import", "-window", "root", path}), 0);
    std::error_code ec;
    EXPECT_GT(std::filesystem::file_size(path, ec), 0u) << path;
}

std::string Difference(const std::string& got, const std::string& want) {
    if (got == want) return "same";
    std::size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    auto hex = [](const std::string& s, std::size_t at) {
        std::string h;
        char b[4];
        for (std::size_t k = at; k < s.size() && k < at + 8; ++k) {
            std::snprintf(b, sizeof b, "%02x ", static_cast<unsigned char>(s[k]));
            h += b;
        }
        return h.empty() ? "(end)" : h;
    };
    return "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
           "; first difference at " + std::to_string(i) + ": got " + hex(got, i) + "want " +
           hex(want, i);
}

}  // namespace e2e
