#include "fuzz/FuzzInput.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace kyvo::fuzz {

std::string scratchFolder() {
    static const std::string folder = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
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
