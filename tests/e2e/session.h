#pragma once

// The pieces an end-to-end test drives the real program with: an Xvfb display of its own, the
// program (and the simulated board) as child processes, pseudo-terminals as its ports, and the
// mouse and keyboard through xdotool.

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Env = std::map<std::string, std::string>;

std::string BinPath(const std::string& name);

// Polls `done` every 20 ms until it holds or `limit` has passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, Clock::duration limit);

// Runs a command to its end (killed after `limit`); returns its exit status, stdout in *out.
int Run(const std::vector<std::string>& argv, std::string* out = nullptr,
        Clock::duration limit = 60s);

// A child process with its standard output and error in files.
class Child {
  public:
    // `passFd` is handed to the child as descriptor `passAs`.
    Child(const std::vector<std::string>& argv, const Env& env, const std::string& outPath,
          const std::string& errPath, int passFd = -1, int passAs = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit status (128 + signal for a killed one), or nothing if it still runs after `limit`.
    std::optional<int> WaitExit(Clock::duration limit);
    void Signal(int sig);
    // SIGTERM, then SIGKILL if it will not go.
    void Stop();
    std::string Out() const;
    std::string Err() const;
    const std::string& OutPath() const { return outPath_; }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_, errPath_;
};

// A line to the program: a pseudo-terminal whose master the test holds (the board's end), a
// reader collecting what the program sends, and a spare descriptor on the slave for looking at
// the port's settings and input queue without taking anything from it.
class Line {
  public:
    Line();
    ~Line();

    const std::string& Slave() const { return pty_.SlavePath(); }
    void Send(const std::string& bytes) const { pty_.Send(bytes); }

    std::string Got();
    std::size_t Size();
    void Clear();
    // Waits for at least `count` received bytes; returns them all.
    std::string WaitFor(std::size_t count, Clock::duration limit = 60s);
    // Waits for `expected` to have arrived, then a while longer for anything extra.
    std::string Expect(const std::string& expected, Clock::duration limit = 60s);

    // While paused nothing is read, so the program's writes soon block.
    void Pause() { paused_ = true; }
    void Resume() { paused_ = false; }
    // The board goes away: the master is closed and the program's side is hung up.
    void Unplug();

    int Queued() const;  // bytes waiting in the port's input queue
    // Waits for the input queue to stay empty (seen empty twice, 100 ms apart).
    bool WaitDrained(Clock::duration limit);
    termios Settings() const;
    void SetSpeed(speed_t speed) const;
    void Chmod(mode_t mode) const;

  private:
    void Read();

    PtyPair pty_;
    int probe_ = -1;
    std::atomic<bool> stop_{false}, paused_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread reader_;
};

// Another program holding a device the way the serial link does, with flock.
class Holder {
  public:
    explicit Holder(const std::string& device);
    ~Holder();
    void Release();

  private:
    int fd_ = -1;
};

// Bytes waiting in a device's input queue, looked at through a descriptor of our own.
int InputQueued(const std::string& device);
// Whether an open and flock of the device succeeds (released straight away).
bool CanLock(const std::string& device);
// The errno of an open of the device as uid:gid, without any lock (0 when it opened).
int OpenErrnoAs(const std::string& device, uid_t uid, gid_t gid);

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
    // Presses Escape until only the main window is left (a completion list or dialog closes).
    // Qt leaves the name box's completion list up after Return, and it eats the next click.
    bool DismissPopups();
    // A whole choice of a file to transfer: ChooseFile, the dialog gone, the list dismissed.
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
    Child child_;
    unsigned long window_ = 0;
    int originX_ = 0, originY_ = 0;
};

// The simulated board, on a pseudo-terminal of its own, linked as one of the session's ports.
class Board {
  public:
    Board(Session& session, int port, const std::vector<std::string>& args = {});
    const std::string& Slave() const { return slave_; }
    // Its "rx N: hex | text" lines so far.
    std::vector<std::string> RxLines() const;
    bool WaitRx(const std::string& line, Clock::duration limit = 30s) const;
    Child& Process() { return child_; }

  private:
    Child child_;
    std::string slave_;
};

// The fixture: a private display and directory, and COM1..COM4 as symbolic links in it, each
// pointing nowhere until a test attaches a device.
class Session : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  public:
    const std::string& Dir() const { return dir_; }
    std::string PortPath(int n) const;
    void Attach(int n, const std::string& device) const;
    // The environment a program or board starts with.
    Env BaseEnv() const;
    std::string File(const std::string& name, const std::string& bytes) const;
    // The screen as it is now, saved as <build>/e2e-<test>.png; only the first call saves.
    void Shot();

  private:
    std::string dir_;
    std::optional<Child> xvfb_;
    std::string display_;
    bool shotTaken_ = false;
};

// The offset of the first difference of two byte strings, for readable failures.
std::string Difference(const std::string& got, const std::string& want);

}  // namespace e2e
