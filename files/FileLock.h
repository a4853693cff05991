#pragma once

// The advisory lock that keeps two instances of the program from writing the
// same result file at once. It lives on a small file beside the result file
// ("<file>.lock"): saving renames a new file into place, so a lock on the
// result file itself would guard an inode that is about to disappear.

#include <string>

namespace kyvo {

enum class ELockResult {
    Locked,  // this object now holds the lock
    InUse,   // another holder has it
    Failed,  // the lock file could not be created (e.g. no write permission)
};

class TFileLock {
  public:
    TFileLock() = default;
    ~TFileLock() { Unlock(); }
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // Takes the lock of the file at path without waiting. error (when given)
    // receives the system's reason of a failure.
    ELockResult TryLock(const std::string& path, std::string* error = nullptr);
    // Releases the lock and removes the lock file; harmless when not held.
    void Unlock();
    bool IsLocked() const { return fd_ >= 0; }

    static std::string LockFileName(const std::string& path) { return path + ".lock"; }

  private:
    int fd_ = -1;
    std::string lockPath_;
};

// False when the file at path exists but this user may not write it: such a
// file is left alone rather than replaced behind its protection.
bool IsWritableOrAbsent(const std::string& path);

}  // namespace kyvo
