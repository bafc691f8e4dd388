#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <optional>
#include <vector>

#include "serial/serial_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scoped_env.h"
#include "ui/main_window.h"

// A main window whose four ports are pseudo-terminals (or, per port, a path that cannot open).
class FormTest : public ::testing::Test {
  protected:
    // Builds the window; COM2 is opened by the construction, as at start-up.
    void MakeForm() {
        for (int n = 1; n <= 4; ++n) {
            const std::string device = missing_[n - 1]
                                           ? "/nonexistent/quenby-tty" + std::to_string(n)
                                           : ports_[n - 1].SlavePath();
            overrides_.push_back(
                std::make_unique<ScopedEnv>("QUENBY_COM" + std::to_string(n), device.c_str()));
        }
        form_ = std::make_unique<TForm1>(qApp);
    }
    void TearDown() override {
        form_.reset();
        CloseHandle(hComm);  // the program never closes it; each test frees it for the next
        hComm = INVALID_HANDLE_VALUE;
    }

    PtyPair& Port(int n) { return ports_[n - 1]; }
    void MakeMissing(int n) { missing_[n - 1] = true; }
    TForm1& F() { return *form_; }

    // Clicks a port button as the user would.
    void Choose(QRadioButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    PtyPair ports_[4];
    bool missing_[4] = {false, false, false, false};
    std::vector<std::unique_ptr<ScopedEnv>> overrides_;
    std::unique_ptr<TForm1> form_;
};
