#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "files/Paths.h"

namespace kyvo {

namespace {

std::string programFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string exe(buffer, static_cast<std::size_t>(n));
    const auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : exe.substr(0, slash));
}

std::string userConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;  // relative values are to be ignored
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return std::string(pw->pw_dir) + "/.config";
    return {};
}

tPathsEnvironment::OpenResult openReadWrite(const std::string& path, bool createIfMissing) {
    using R = tPathsEnvironment::OpenResult;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return R::Opened;
    }
    if (!createIfMissing || errno != ENOENT) return R::Failed;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return R::Failed;
    ::close(fd);
    return R::Created;
}

}  // namespace

tPathsEnvironment systemPathsEnvironment() {
    tPathsEnvironment env;
    env.appPath = programFolder();
    env.userDataPath = userConfigFolder();
    env.appDataPath = "/etc/xdg";
    env.openReadWrite = openReadWrite;
    env.folderWritable = [](const std::string& folder) {
        return ::access(folder.c_str(), W_OK) == 0;
    };
    return env;
}

}  // namespace kyvo
