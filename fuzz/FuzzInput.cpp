#include "fuzz/FuzzInput.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <filesystem>

namespace kyvo::fuzz {

std::string scratchFolder() {
    static const std::string folder = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
        // libFuzzer ends a run without exit handlers (time up, a finding):
        // folders of processes that are gone are cleared here instead.
        for (const auto& e : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("kyvo-fuzz-", 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + 10, nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                std::filesystem::remove_all(e.path(), ec);
        }
        const auto dir = base / ("kyvo-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir, ec);
        // Removed when the process ends, however many inputs it ran.
        static const std::filesystem::path cleanup = dir;
        std::atexit([] {
            std::error_code e;
            std::filesystem::remove_all(cleanup, e);
        });
        return dir.string() + "/";
    }();
    return folder;
}

}  // namespace kyvo::fuzz
