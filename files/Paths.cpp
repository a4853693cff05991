#include "files/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "files/AtomicFile.h"
#include "files/TextCodec.h"

namespace kyvo {

namespace fs = std::filesystem;

namespace {

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool createFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return isFolder(path);
}

bool removeEmptyFolder(const std::string& path) {
    std::error_code ec;
    if (!isFolder(path) || !fs::is_empty(path, ec) || ec) return false;
    return fs::remove(path, ec);
}

// A log entry may only name a file below configPath.
bool safeLoggedName(const std::string& name) {
    if (name.empty()) return false;
    const fs::path p(name);
    if (p.is_absolute()) return false;
    return std::none_of(p.begin(), p.end(), [](const fs::path& part) { return part == ".."; });
}

}  // namespace

std::string readOnlyVariantName(const std::string& name) {
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + "RO";
    return name.substr(0, dot) + "RO" + name.substr(dot);
}

std::string tPaths::userFolder() const {
    return join(join(userDataPath, kMakerFolder), appName);
}

std::string tPaths::commonFolder() const {
    return join(join(appDataPath, kMakerFolder), appName);
}

void tPaths::InitPaths(const std::string& configFileName_, const std::string& programName,
                       bool checkWriteAccess, tPathsEnvironment environment) {
    env_ = std::move(environment);
    appName = programName;
    configFileName = configFileName_;
    configFileNameRO = readOnlyVariantName(configFileName);

    appPath = env_.appPath;
    while (appPath.size() > 1 && appPath.back() == '/') appPath.pop_back();
    appPathWriteAccess = false;
    configPath = appPath;
    configFileFullName = join(configPath, configFileName);
    tmpFileList.clear();

    if (checkWriteAccess && env_.openReadWrite) {
        using R = tPathsEnvironment::OpenResult;
        if (fileExists(configFileFullName)) {
            appPathWriteAccess = env_.openReadWrite(configFileFullName, false) != R::Failed;
        } else {
            const std::string probe = join(appPath, "tmp.txt");
            const R r = env_.openReadWrite(probe, true);
            appPathWriteAccess = r != R::Failed;
            // Only a probe the test created itself is removed again; a user's
            // own tmp.txt stays.
            if (r == R::Created) tmpFileList.push_back(probe);
        }
    }

    appDataPath = env_.appDataPath;
    userDataPath = env_.userDataPath;
    appDirExists = !appDataPath.empty() && isFolder(join(appDataPath, kMakerFolder)) &&
                   isFolder(commonFolder());
    userDirExists = !userDataPath.empty() && isFolder(join(userDataPath, kMakerFolder)) &&
                    isFolder(userFolder());

    regPath = std::string("\\SOFTWARE\\") + kMakerFolder + "\\" + appName;
    regUserExists = env_.regUserExists;
    regAllUSerExists = env_.regAllUserExists;

    if (!(appPathWriteAccess && fileExists(join(appPath, configFileName)))) {
        if (regUserExists && !userDirExists) {
            if (!userDataPath.empty() && createFolders(userFolder())) {
                configPath = userFolder();
                userDirExists = true;
            }
        } else if (regAllUSerExists && !appDirExists) {
            if (!appDataPath.empty() && createFolders(commonFolder())) {
                configPath = commonFolder();
                appDirExists = true;
            }
        } else if (userDirExists) {
            configPath = userFolder();
        } else if (appDirExists && (!env_.folderWritable || env_.folderWritable(commonFolder()))) {
            // A common folder the user cannot write to would swallow every
            // setting silently; it counts only when it takes files.
            configPath = commonFolder();
        } else if (!appPathWriteAccess) {
            if (!userDataPath.empty() && createFolders(userFolder())) {
                configPath = userFolder();
                userDirExists = true;
            }
        }
    }

    uninstallFileList.clear();
    uninstallFileName.clear();
    if (configPath != appPath) {
        uninstallFileName = join(configPath, kUninstallLogName);
        std::string bytes;
        if (readFileBytes(uninstallFileName, bytes))
            for (std::string& line : decodeTextLines(bytes))
                if (!line.empty()) uninstallFileList.push_back(std::move(line));
    }

    for (const std::string& tmp : tmpFileList) {
        std::error_code ec;
        fs::remove(tmp, ec);
    }
    tmpFileList.clear();
    configFileFullName = join(configPath, configFileName);
}

std::string tPaths::ProgramFilePath(const std::string& name) const {
    return join(appPath, name);
}

std::string tPaths::ConfigFilePath(const std::string& name, bool forWriting) {
    if (fs::path(name).is_absolute()) return name;
    if (forWriting && configPath != appPath && name != kUninstallLogName &&
        std::find(uninstallFileList.begin(), uninstallFileList.end(), name) ==
            uninstallFileList.end()) {
        uninstallFileList.push_back(name);
        writeUninstallLog();
    }
    if (appPathWriteAccess) return join(appPath, name);
    const std::string inConfig = join(configPath, name);
    const std::string inApp = join(appPath, name);
    if (!forWriting && !fileExists(inConfig) && fileExists(inApp)) return inApp;
    return inConfig;
}

void tPaths::writeUninstallLog() const {
    if (!uninstallFileName.empty())
        writeFileAtomically(uninstallFileName, encodeTextLines(uninstallFileList));
}

bool tPaths::UninstallConfigFiles() {
    if (configPath == appPath) return false;
    const std::vector<std::string> names = uninstallFileList;
    for (const std::string& name : names) {
        if (!safeLoggedName(name)) continue;
        const std::string path = ConfigFilePath(name, true);
        std::error_code ec;
        if (fileExists(path)) fs::remove(path, ec);
    }
    {
        const std::string log = ConfigFilePath(kUninstallLogName, true);
        std::error_code ec;
        if (fileExists(log)) fs::remove(log, ec);
    }
    const bool removed = removeEmptyFolder(configPath);
    const std::string marker = std::string("/") + kMakerFolder + "/";
    const auto at = configPath.find(marker);
    if (at != std::string::npos) removeEmptyFolder(configPath.substr(0, at + marker.size()));
    return removed;
}

}  // namespace kyvo

namespace kyvo {

namespace {

std::string withSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs file: a shell
// assignment of a double-quoted path, absolute or below "$HOME/".
std::string documentsEntry(const std::string& file, const std::string& home) {
    std::string bytes;
    if (!readFileBytes(file, bytes)) return {};
    for (const std::string& raw : splitLines(bytes)) {
        std::string_view line = raw;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        constexpr std::string_view key = "XDG_DOCUMENTS_DIR=";
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        if (line.size() < 2 || line.front() != '"') continue;
        const auto close = line.find('"', 1);
        if (close == std::string_view::npos) continue;
        const std::string_view value = line.substr(1, close - 1);
        if (value.substr(0, 6) == "$HOME/")
            return home.empty() ? "" : join(home, std::string(value.substr(6)));
        if (!value.empty() && value.front() == '/') return std::string(value);
    }
    return {};
}

}  // namespace

std::string userDocumentsFolder(const std::function<const char*(const char*)>& getenv) {
    const char* homeVar = getenv("HOME");
    const std::string home = homeVar && homeVar[0] == '/' ? homeVar : "";
    std::string documents;
    if (const char* v = getenv("XDG_DOCUMENTS_DIR"); v && v[0] == '/') {
        documents = v;
    } else {
        const char* config = getenv("XDG_CONFIG_HOME");
        const std::string configHome = config && config[0] == '/' ? std::string(config)
                                       : home.empty()             ? std::string()
                                                                  : home + "/.config";
        if (!configHome.empty()) documents = documentsEntry(configHome + "/user-dirs.dirs", home);
    }
    if (isFolder(documents)) return withSeparator(documents);
    return withSeparator(home);
}

std::string userDocumentsFolder() {
    return userDocumentsFolder([](const char* name) -> const char* { return std::getenv(name); });
}

std::string userDataFolder(const std::function<const char*(const char*)>& getenv) {
    const auto withoutTrailingSeparators = [](std::string path) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        return path;
    };
    std::string base;
    if (const char* x = getenv("XDG_DATA_HOME"); x && x[0] == '/') {
        base = withoutTrailingSeparators(x);
    } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
        base = withoutTrailingSeparators(home) + "/.local/share";
    } else {
        return {};
    }
    return base + "/kyvo-data-reader";
}

std::string userDataFolder() {
    return userDataFolder([](const char* name) -> const char* { return std::getenv(name); });
}

}  // namespace kyvo
