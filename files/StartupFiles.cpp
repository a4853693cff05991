#include "files/StartupFiles.h"

#include <filesystem>
#include <string_view>

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

std::unique_ptr<TConfigFile> OpenProgramSettings(const tPaths& paths,
                                                 IFileErrorReporter* reporter) {
    return std::make_unique<TConfigFile>(paths.ProgramFilePath(paths.configFileNameRO), false, true,
                                         reporter);
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

}  // namespace kyvo
