#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/FileLock.h"

namespace kyvo {

ELockResult TFileLock::TryLock(const std::string& path, std::string* error) {
    Unlock();
    const std::string lockPath = LockFileName(path);
    // The holder removes the lock file when it is done, so a lock taken on a
    // file that was unlinked meanwhile guards nothing: check and retry.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (error) *error = "Could not create " + lockPath + ": " + std::strerror(errno);
            return ELockResult::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return ELockResult::InUse;
            if (error) *error = "Could not lock " + lockPath + ": " + std::strerror(err);
            return ELockResult::Failed;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            lockPath_ = lockPath;
            return ELockResult::Locked;
        }
        ::close(fd);
    }
    return ELockResult::InUse;
}

bool IsWritableOrAbsent(const std::string& path) {
    return ::access(path.c_str(), F_OK) != 0 || ::access(path.c_str(), W_OK) == 0;
}

void TFileLock::Unlock() {
    if (fd_ < 0) return;
    // Unlinked before it is unlocked, so that no one can lock the old file
    // after we let go (see TryLock).
    ::unlink(lockPath_.c_str());
    ::close(fd_);
    fd_ = -1;
    lockPath_.clear();
}

}  // namespace kyvo
