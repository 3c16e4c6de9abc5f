// Tells whether another instance of the program runs in this user session,
// and keeps this instance visible to the ones that start later.
#pragma once

#include <filesystem>

namespace orvalin {

class InstanceLock {
  public:
    // $XDG_RUNTIME_DIR/orvalin/CheckIfOrvalinAlreadyRunning.lock, or
    // /tmp/orvalin-<uid>/... when XDG_RUNTIME_DIR is unset.
    static std::filesystem::path DefaultLockFile();

    // Takes a shared lock on lockFile for the lifetime of the object, creating
    // the file and its folder as needed. A lock file that cannot be created,
    // or whose folder is not private to this user (see MakePrivateFolder),
    // counts as no other instance running.
    explicit InstanceLock(std::filesystem::path lockFile = DefaultLockFile());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Whether another instance held the lock when this one was taken.
    bool OtherInstanceRunning() const { return otherRunning_; }

  private:
    int fd_ = -1;
    bool otherRunning_ = false;
};

}  // namespace orvalin
