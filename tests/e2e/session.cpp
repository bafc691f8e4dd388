#include "tests/e2e/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace e2e {

std::string BinPath(const std::string& name) {
    return std::string(QUENBY_BIN_DIR) + "/" + name;
}

void Session::SetUp() {
    dir_.emplace("quenby-e2e");
    ::chmod(Dir().c_str(), 0755);  // an unprivileged program must reach its port links
    ::mkdir(dir_->File("runtime").c_str(), 0700);

    x_.emplace(Dir());
    display_ = x_->Display();
    ::setenv("DISPLAY", display_.c_str(), 1);

    for (int n = 1; n <= 4; ++n) Attach(n, dir_->File("unplugged-com" + std::to_string(n)));
}

Session::Started Session::Start() {
    line_ = std::make_unique<Line>();
    Attach(2, line_->Slave());
    program_ = std::make_unique<Program>(*this);
    if (program_->Window() == 0) throw std::runtime_error("the program showed no window");
    if (!program_->WaitOpen(line_->Slave()))
        throw std::runtime_error("the program did not open COM2 at start-up");
    return {*line_, *program_};
}

void Session::TearDown() {
    program_.reset();
    line_.reset();
    if (!IsSkipped()) Shot();  // a skipped test showed nothing
    x_.reset();
    if (dir_ && HasFailure()) {
        dir_->Keep();
        std::fprintf(stderr, "e2e: files of the failed test kept in %s\n", Dir().c_str());
    }
    dir_.reset();
}

std::string Session::PortPath(int n) const {
    return dir_->File("com" + std::to_string(n));
}

void Session::Attach(int n, const std::string& device) const {
    const std::string link = PortPath(n), tmp = link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(device.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link);
}

Env Session::BaseEnv() const {
    Env env{{"DISPLAY", display_},
            {"QT_QPA_PLATFORM", "xcb"},
            {"XDG_RUNTIME_DIR", dir_->File("runtime")}};
    for (int n = 1; n <= 4; ++n) env["QUENBY_COM" + std::to_string(n)] = PortPath(n);
    return env;
}

std::string Session::File(const std::string& name, const std::string& bytes) const {
    return dir_->Write(name, bytes);
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
