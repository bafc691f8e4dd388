#pragma once

// Child processes for tests and benchmarks: started with posix_spawn (the callers have threads of
// their own, so no fork), with a chosen environment and standard streams.

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace quenby_test {

using Env = std::map<std::string, std::string>;

// For a standard stream of Spawn: keep the caller's. -1 gives /dev/null, any other descriptor is
// duplicated onto the stream.
inline constexpr int kInherit = -2;

// Starts argv[0] (searched in PATH) with the caller's environment plus `env`; `passFd` is handed
// to the child as descriptor `passAs`. Throws std::runtime_error when it cannot start.
pid_t Spawn(const std::vector<std::string>& argv, const Env& env, int in, int out, int err,
            int passFd = -1, int passAs = -1);

// A pipe from a child: the child gets the write end as one of its descriptors, the read end stays
// here.
class Pipe {
  public:
    // Throws std::runtime_error when no pipe can be had.
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int ReadEnd() const { return fds_[0]; }
    int WriteEnd() const { return fds_[1]; }
    // Once the child has its copy: so that the reader sees the end when the child closes it.
    void CloseWriteEnd();
    // Reads until what came satisfies `done` (when given), every writer has closed, or `until`
    // has passed; returns all that came.
    std::string ReadUntil(Clock::time_point until,
                          const std::function<bool(const std::string&)>& done = {});

  private:
    int fds_[2] = {-1, -1};
};

// The exit status of a raw wait status, 128 + the signal for a killed process.
int StatusOf(int raw);

// Runs a command to its end (killed after `limit`) with stdin from /dev/null and stderr
// inherited; returns its exit status, its stdout in *out.
int Run(const std::vector<std::string>& argv, std::string* out = nullptr,
        Clock::duration limit = std::chrono::seconds(60));

// A started process, stopped on destruction.
class Child {
  public:
    // Standard output and error go to files, read back with Out() and Err().
    Child(const std::vector<std::string>& argv, const Env& env, const std::string& outPath,
          const std::string& errPath, int passFd = -1, int passAs = -1);
    // Standard streams as for Spawn; Out() and Err() are then empty.
    struct Streams {
        int in = -1, out = kInherit, err = kInherit;
    };
    Child(const std::vector<std::string>& argv, const Env& env, Streams streams);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit status (128 + signal for a killed one), or nothing if it still runs after `limit`.
    std::optional<int> WaitExit(Clock::duration limit);
    void Signal(int sig);
    // SIGTERM, then SIGKILL if it will not go within 10 s.
    void Stop();
    std::string Out() const;
    std::string Err() const;
    const std::string& OutPath() const { return outPath_; }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_, errPath_;
};

// A process's user plus system processor time so far, from /proc/PID/stat (clock-tick
// resolution); negative when it cannot be read.
double CpuSeconds(pid_t pid);

// A whole file's bytes (empty when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace quenby_test
