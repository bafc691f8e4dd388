#pragma once

// Other programs at the program's devices: a holder of the same lock the serial link takes, and
// one-off opens from the outside.

#include <sys/types.h>

#include <string>

namespace e2e {

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

}  // namespace e2e
