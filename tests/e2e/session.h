#pragma once

// The pieces an end-to-end test drives the real program with: an Xvfb display of its own, the
// program (and the simulated board) as child processes, pseudo-terminals as its ports, and the
// mouse and keyboard through xdotool.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/board.h"
#include "tests/e2e/line.h"
#include "tests/e2e/openers.h"
#include "tests/e2e/program.h"
#include "tests/support/child.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_session.h"

namespace e2e {

using namespace std::chrono_literals;
using quenby_test::Child;
using quenby_test::Clock;
using quenby_test::Env;
using quenby_test::Run;
using quenby_test::WaitUntil;

std::string BinPath(const std::string& name);

// The fixture: a private display with a window manager (openbox), a private directory, and
// COM1..COM4 as symbolic links in it, each pointing nowhere until a test attaches a device.
class Session : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The usual start of a test: a line attached as COM2, the program started with its window
    // shown and that port open. Both stay until the end of the test (the program goes first).
    // Throws, ending the test, when the window or the open does not come.
    struct Started {
        Line& line;
        Program& program;
    };
    Started Start();

  public:
    const std::string& Dir() const { return dir_->Path(); }
    std::string PortPath(int n) const;
    void Attach(int n, const std::string& device) const;
    // The environment a program or board starts with.
    Env BaseEnv() const;
    std::string File(const std::string& name, const std::string& bytes) const;
    // The screen as it is now, saved as <build>/e2e-<test>.png; only the first call saves.
    void Shot();

  private:
    std::optional<quenby_test::TempDir> dir_;
    std::optional<quenby_test::XSession> x_;
    std::string display_;
    bool shotTaken_ = false;
    std::unique_ptr<Line> line_;
    std::unique_ptr<Program> program_;
};

// The offset of the first difference of two byte strings, for readable failures.
std::string Difference(const std::string& got, const std::string& want);

}  // namespace e2e
