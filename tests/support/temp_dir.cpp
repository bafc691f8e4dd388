#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace quenby_test {

TempDir::TempDir(const std::string& prefix) {
    std::string tmpl = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
    path_ = tmpl;
}

TempDir::~TempDir() {
    if (keep_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = File(name);
    std::ofstream f(path, std::ios::binary);
    f << bytes;
    if (!f) throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace quenby_test
