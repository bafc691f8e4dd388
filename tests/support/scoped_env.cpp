#include "tests/support/scoped_env.h"

#include <stdlib.h>

#include <utility>

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str());
}
