#include "files/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kyvo {

namespace {

bool fail(std::string* error, const std::string& what, const std::string& path, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
    return false;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file that a write to path really replaces: the target of a symbolic
// link, so that the link is not swapped for a plain file.
std::string resolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string result(real);
    std::free(real);
    return result;
}

unsigned nextSerial() {
    static std::atomic<unsigned> serial{0};
    return serial++;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error,
                         bool ownerOnly) {
    const std::string target = resolveTarget(path);
    // Created with 0666 so that the umask decides, as for any new file.
    std::string tmp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(nextSerial());
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail(error, "Could not create a temporary file beside", target, errno);

    int err = 0;
    struct stat st {};
    if (ownerOnly) {
        if (::fchmod(fd, 0600) != 0) err = errno;
    } else if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0) {
        err = errno;
    }
    if (!err && !writeAll(fd, bytes)) err = errno;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        return fail(error, "Could not write", target, err);
    }

    // The rename itself lives in the folder; without this a power loss may
    // bring the old name back.
    const int dirFd = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    // The caller reports the reason of a failed read: close must not replace it.
    const int readErrno = errno;
    ::close(fd);
    errno = readErrno;
    if (!ok) bytes.clear();
    return ok;
}

}  // namespace kyvo
