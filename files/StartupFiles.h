#pragma once

// Opening the settings files and the language file at start-up, at the
// places the paths decide. A file shipped next to the program is read from
// there the first time and from then on lives, written, at its writable
// place.

#include <memory>
#include <string>

#include "files/ConfigFile.h"
#include "files/FileErrorReporter.h"
#include "files/LanguageFile.h"
#include "files/Paths.h"

namespace kyvo {

// The folder where a system installation keeps its read-only program
// settings: a package puts the programs into /usr/bin and DRConfigRO.ini, as a
// configuration file the administrator may edit, into /etc/kyvo-data-reader.
// It is found relative to the program's folder, so that an installation
// unpacked below another root reads its own file.
std::string SystemSettingsFolder(const std::string& appPath);

// The program in appPath is a system installation: it has no program
// settings file (readOnlyName) beside it, but one in its system settings
// folder.
bool IsSystemInstallation(const std::string& appPath, const std::string& readOnlyName);

// Where the files shipped with the programs (the default language file) lie:
// beside the programs, or under share/kyvo-data-reader of a system
// installation, whose /usr/bin holds programs only.
std::string ShippedFilesFolder(const std::string& appPath, const std::string& readOnlyName);

// Sets up the paths as the programs start. The folder of a system
// installation is shared by every user and never takes settings files, also
// not from a user (root) who may write to it: its writable files live in the
// user's folder.
void InitProgramPaths(tPaths& paths, const std::string& configFileName,
                      const std::string& programName,
                      tPathsEnvironment environment = systemPathsEnvironment());

// The read-only program settings file DRConfigRO.ini: next to the program,
// or in the system settings folder of a system installation.
std::unique_ptr<TConfigFile> OpenProgramSettings(const tPaths& paths,
                                                 IFileErrorReporter* reporter = nullptr);

// The user settings file: opened where it can be read, then moved to its
// writable place; reloaded from there when a copy exists, else saved there.
std::unique_ptr<TConfigFile> OpenUserSettings(tPaths& paths,
                                              IFileErrorReporter* reporter = nullptr);

// The language file named by "Language"/"filename" of the user settings.
// Missing everywhere, it is created empty at its writable place (or taken
// from ../../../language.ini of the working folder, for a program run from
// its build folder; an empty buildTreeCopy skips that).
std::unique_ptr<TLanguageFile> OpenLanguageFile(
    tPaths& paths, const std::string& fileName, IFileErrorReporter* reporter = nullptr,
    const std::string& buildTreeCopy = "../../../language.ini");

// The first command-line argument (after the program name) is exactly
// "-uninstall".
bool IsUninstallRequest(int argc, const char* const* argv);

// What "-uninstall" removes: the user files the uninstall log lists, the log
// and the folders this emptied (tPaths::UninstallConfigFiles), and what is
// remembered of every device, its folder included (deviceMemoryFolder as
// deviceMemoryFolder() names it; empty: none).
void UninstallUserFiles(tPaths& paths, const std::string& deviceMemoryFolder);

}  // namespace kyvo
