#pragma once

// Where the configuration files live. The program runs either from a folder
// it may write to (its settings stay beside it) or from a write-protected
// installation (its writable settings go to the user's folder
// <user config>/Kalmi/<program name>, and every file created there is listed
// in uninstallFiles.log so that "-uninstall" can remove them again).
//
// Linux stand-ins: the user folder is $XDG_CONFIG_HOME (default ~/.config),
// the common folder /etc/xdg, and the maker's registry keys read as absent.
// Linux has no hidden attribute, so the log keeps its name and stays visible.

#include <functional>
#include <string>
#include <vector>

namespace kyvo {

// What the paths learn from the system, injectable for tests.
struct tPathsEnvironment {
    enum class OpenResult { Failed, Opened, Created };

    std::string appPath;       // folder of the program file
    std::string userDataPath;  // user's configuration folder; empty when there is none
    std::string appDataPath;   // common configuration folder
    bool regUserExists = false;
    bool regAllUserExists = false;
    // The write test: opens path for reading and writing, creating it when
    // createIfMissing is set and it does not exist yet.
    std::function<OpenResult(const std::string& path, bool createIfMissing)> openReadWrite;
    // Whether files may be created in an existing folder.
    std::function<bool(const std::string& folder)> folderWritable;
};

// The real system: the running program's folder, XDG folders, real opens.
tPathsEnvironment systemPathsEnvironment();

class tPaths {
  public:
    static constexpr const char* kUninstallLogName = "uninstallFiles.log";
    static constexpr const char* kMakerFolder = "Kalmi";

    // Decides once where the writable configuration files live. With
    // checkWriteAccess false the program folder counts as write-protected.
    void InitPaths(const std::string& configFileName, const std::string& programName,
                   bool checkWriteAccess, tPathsEnvironment environment = systemPathsEnvironment());

    // appPath/name: the read-only program settings file.
    std::string ProgramFilePath(const std::string& name) const;
    // The place of a writable configuration file, for reading or for
    // writing. Asking for writing records a file created outside the program
    // folder in the uninstall log. An absolute name is returned unchanged.
    std::string ConfigFilePath(const std::string& name, bool forWriting);
    // Removes the logged files, the log and the emptied folders. Does nothing
    // (false) when the files live in the program folder. Returns whether
    // configPath was removed. Log entries that are absolute or climb out of
    // configPath with ".." are never deleted.
    bool UninstallConfigFiles();
    void FreeUninstallList() { uninstallFileList.clear(); }

    std::vector<std::string> tmpFileList;
    std::string appName;
    std::string appPath;
    bool appPathWriteAccess = false;
    std::string globalPath;
    std::string configFileName;
    std::string configFileFullName;
    std::string configFileNameRO;
    std::string configPath;
    std::string appDataPath;
    std::string userDataPath;
    bool userDirExists = false;
    bool appDirExists = false;
    std::string regPath;
    bool regUserExists = false;
    bool regAllUSerExists = false;
    std::vector<std::string> uninstallFileList;
    std::string uninstallFileName;

  private:
    std::string userFolder() const;
    std::string commonFolder() const;
    void writeUninstallLog() const;

    tPathsEnvironment env_;
};

// The user's documents folder, the default folder of result files, with a
// trailing separator: XDG_DOCUMENTS_DIR from the environment, else from
// <XDG_CONFIG_HOME or ~/.config>/user-dirs.dirs (an absolute path or one
// starting "$HOME/"), when that folder exists; else the home folder; empty
// when there is no home either. getenv looks up an environment variable
// (null when unset), so tests can pass their own.
std::string userDocumentsFolder(const std::function<const char*(const char*)>& getenv);
std::string userDocumentsFolder();

// The program's folder of user data that is neither settings nor cache:
// <XDG_DATA_HOME or ~/.local/share>/kyvo-data-reader, without a trailing
// separator; empty when neither gives an absolute path.
std::string userDataFolder(const std::function<const char*(const char*)>& getenv);
std::string userDataFolder();

// "DRConfig.ini" -> "DRConfigRO.ini"; a name without extension gets "RO"
// appended.
std::string readOnlyVariantName(const std::string& name);

}  // namespace kyvo
