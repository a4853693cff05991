#include "files/StartupFiles.h"

#include <filesystem>
#include <string_view>

#include "files/DeviceMemoryFile.h"

namespace kyvo {

namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Moves an opened file to its writable place: the copy there wins when there
// is one, otherwise the content just read becomes that copy.
void MoveToWritablePlace(TGenFile& file, const std::string& writePath) {
    if (file.Filename == writePath) return;
    const bool readable = file.FileValid;
    file.Filename = writePath;
    if (exists(writePath)) {
        file.reload();
    } else if (readable) {
        file.save();
    } else {
        file.reload();  // nothing was read: create the file at its new place
    }
}

}  // namespace

#ifndef KYVO_SYSTEM_SETTINGS_FROM_PROGRAM
#define KYVO_SYSTEM_SETTINGS_FROM_PROGRAM "../../etc/kyvo-data-reader"
#endif

std::string SystemSettingsFolder(const std::string& appPath) {
    const std::filesystem::path folder =
        std::filesystem::path(appPath) / KYVO_SYSTEM_SETTINGS_FROM_PROGRAM;
    std::string normal = folder.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool IsSystemInstallation(const std::string& appPath, const std::string& readOnlyName) {
    return !exists((std::filesystem::path(appPath) / readOnlyName).string()) &&
           exists(SystemSettingsFolder(appPath) + "/" + readOnlyName);
}

std::string ShippedFilesFolder(const std::string& appPath, const std::string& readOnlyName) {
    if (!IsSystemInstallation(appPath, readOnlyName)) return appPath;
    std::string normal =
        (std::filesystem::path(appPath) / "../share/kyvo-data-reader").lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

void InitProgramPaths(tPaths& paths, const std::string& configFileName,
                      const std::string& programName, tPathsEnvironment environment) {
    const bool installed =
        IsSystemInstallation(environment.appPath, readOnlyVariantName(configFileName));
    paths.InitPaths(configFileName, programName, !installed, std::move(environment));
}

std::unique_ptr<TConfigFile> OpenProgramSettings(const tPaths& paths,
                                                 IFileErrorReporter* reporter) {
    std::string path = paths.ProgramFilePath(paths.configFileNameRO);
    if (IsSystemInstallation(paths.appPath, paths.configFileNameRO))
        path = SystemSettingsFolder(paths.appPath) + "/" + paths.configFileNameRO;
    return std::make_unique<TConfigFile>(path, false, true, reporter);
}

std::unique_ptr<TConfigFile> OpenUserSettings(tPaths& paths, IFileErrorReporter* reporter) {
    auto file = std::make_unique<TConfigFile>(paths.ConfigFilePath(paths.configFileName, false),
                                              false, false, reporter);
    MoveToWritablePlace(*file, paths.ConfigFilePath(paths.configFileName, true));
    return file;
}

std::unique_ptr<TLanguageFile> OpenLanguageFile(tPaths& paths, const std::string& fileName,
                                                IFileErrorReporter* reporter,
                                                const std::string& buildTreeCopy) {
    const std::string readPath = paths.ConfigFilePath(fileName, false);
    if (exists(readPath)) {
        auto file = std::make_unique<TLanguageFile>(readPath, false, reporter);
        MoveToWritablePlace(*file, paths.ConfigFilePath(fileName, true));
        return file;
    }
    if (!buildTreeCopy.empty() && exists(buildTreeCopy))
        return std::make_unique<TLanguageFile>(buildTreeCopy, false, reporter);
    // A language file that exists nowhere yet collects the learned texts at
    // the writable place of the settings, not in whatever folder the program
    // was started from.
    return std::make_unique<TLanguageFile>(paths.ConfigFilePath(fileName, true), false, reporter);
}

bool IsUninstallRequest(int argc, const char* const* argv) {
    return argc > 1 && argv[1] && std::string_view(argv[1]) == "-uninstall";
}

void UninstallUserFiles(tPaths& paths, const std::string& deviceMemoryFolder) {
    paths.UninstallConfigFiles();
    removeDeviceMemoryFolder(deviceMemoryFolder);
}

}  // namespace kyvo
