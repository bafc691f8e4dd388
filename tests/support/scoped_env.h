#pragma once

// Sets (or, given nullptr, removes) an environment variable for one scope.

#include <optional>
#include <string>

class ScopedEnv {
  public:
    ScopedEnv(std::string name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};
