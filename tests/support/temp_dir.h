#pragma once

// A private directory under the system's temporary directory, removed with everything in it
// unless kept (ctest runs cases in parallel processes, so each needs its own).

#include <string>

namespace quenby_test {

class TempDir {
  public:
    // Named <tmp>/<prefix>-XXXXXX. Throws std::runtime_error when it cannot be made.
    explicit TempDir(const std::string& prefix = "quenby");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // The path of a name inside it.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file inside it; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    // Leaves the directory in place at destruction (to look at after a failure).
    void Keep() { keep_ = true; }

  private:
    std::string path_;
    bool keep_ = false;
};

}  // namespace quenby_test
