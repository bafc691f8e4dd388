#include "tests/support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quenby_test {

namespace {

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

int OpenOut(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    return fd;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, const Env& env, int in, int out, int err,
            int passFd, int passAs) {
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

Pipe::Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
}

Pipe::~Pipe() {
    CloseWriteEnd();
    ::close(fds_[0]);
}

void Pipe::CloseWriteEnd() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
}

std::string Pipe::ReadUntil(Clock::time_point until,
                            const std::function<bool(const std::string&)>& done) {
    std::string got;
    char buf[65536];
    while (!done || !done(got)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds_[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::read(fds_[0], buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

int Run(const std::vector<std::string>& argv, std::string* out, Clock::duration limit) {
    Pipe pipe;
    const pid_t pid = Spawn(argv, {}, -1, pipe.WriteEnd(), kInherit);
    pipe.CloseWriteEnd();
    const auto until = Clock::now() + limit;
    const std::string got = pipe.ReadUntil(until);
    if (Clock::now() >= until) ::kill(pid, SIGKILL);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    if (out != nullptr) *out = got;
    return StatusOf(raw);
}

// ---- Child

Child::Child(const std::vector<std::string>& argv, const Env& env, const std::string& outPath,
             const std::string& errPath, int passFd, int passAs)
    : outPath_(outPath), errPath_(errPath) {
    const int out = OpenOut(outPath);
    int err = -1;
    try {
        err = OpenOut(errPath);
        pid_ = Spawn(argv, env, -1, out, err, passFd, passAs);
    } catch (...) {
        ::close(out);
        if (err >= 0) ::close(err);
        throw;
    }
    ::close(out);
    ::close(err);
}

Child::Child(const std::vector<std::string>& argv, const Env& env, Streams streams)
    : pid_(Spawn(argv, env, streams.in, streams.out, streams.err)) {}

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
    if (WaitExit(std::chrono::seconds(10))) return;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = StatusOf(raw);
}

std::string Child::Out() const {
    return outPath_.empty() ? std::string() : ReadFile(outPath_);
}

std::string Child::Err() const {
    return errPath_.empty() ? std::string() : ReadFile(errPath_);
}

double CpuSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream s(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && s >> field; ++i) {  // fields 14 and 15 are utime and stime
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace quenby_test
