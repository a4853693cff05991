#include "files/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "files/DeviceMemoryFile.h"
#include "files/StartupFiles.h"
#include "files/tests/FileTestSupport.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class PathsTest : public ::testing::Test {
  protected:
    TempFolder root;
    RecordingReporter reporter;
    std::string app = root.file("opt/kyvo");
    std::string userData = root.file("home/.config");
    std::string common = root.file("etc/xdg");
    std::string userFolder = userData + "/Kalmi/Kyvo Data Reader";
    std::string commonFolder = common + "/Kalmi/Kyvo Data Reader";
    bool protectedApp = false;

    void SetUp() override {
        fs::create_directories(app);
        fs::create_directories(userData);
        fs::create_directories(common);
    }
    void TearDown() override { ::chmod(app.c_str(), 0755); }

    // The program folder is write-protected for real (mode 0555) and, since
    // root may write anyway, also by the write-access decision.
    void protectProgramFolder() {
        protectedApp = true;
        ::chmod(app.c_str(), 0555);
    }

    tPathsEnvironment environment() {
        tPathsEnvironment env = systemPathsEnvironment();
        env.appPath = app;
        env.userDataPath = userData;
        env.appDataPath = common;
        auto real = env.openReadWrite;
        env.openReadWrite = [this, real](const std::string& path, bool create) {
            if (protectedApp && path.rfind(app + "/", 0) == 0)
                return tPathsEnvironment::OpenResult::Failed;
            return real(path, create);
        };
        return env;
    }

    tPaths start(tPathsEnvironment env) {
        tPaths paths;
        paths.InitPaths("DRConfig.ini", "Kyvo Data Reader", true, std::move(env));
        return paths;
    }
    tPaths start() { return start(environment()); }

    void shipWithProgram(const std::string& name, const Lines& lines) {
        ::chmod(app.c_str(), 0755);
        writeLines(app + "/" + name, lines);
        if (protectedApp) ::chmod(app.c_str(), 0555);
    }
};

TEST_F(PathsTest, writableProgramFolderWithSettingsKeepsEveryFileBesideTheProgram) {
    shipWithProgram("DRConfig.ini", {"[Setup]", "Width = 900"});
    tPaths paths = start();
    EXPECT_TRUE(paths.appPathWriteAccess);
    EXPECT_EQ(app, paths.configPath);
    EXPECT_EQ(app + "/DRConfig.ini", paths.configFileFullName);
    EXPECT_EQ(app + "/DRConfigRO.ini", paths.ProgramFilePath(paths.configFileNameRO));
    {
        auto user = OpenUserSettings(paths, &reporter);
        EXPECT_EQ(app + "/DRConfig.ini", user->Filename);
        EXPECT_EQ(900, user->GetVal("Setup", "Width", 874));
        auto language = OpenLanguageFile(paths, "language.ini", &reporter, "");
        EXPECT_EQ(app + "/language.ini", language->Filename);
        EXPECT_TRUE(language->IsValid());
    }
    EXPECT_TRUE(fs::exists(app + "/language.ini"));
    EXPECT_FALSE(fs::exists(userData + "/Kalmi"));
    EXPECT_FALSE(fs::exists(app + "/uninstallFiles.log"));
    EXPECT_TRUE(paths.uninstallFileName.empty());
    EXPECT_FALSE(paths.UninstallConfigFiles());
    EXPECT_TRUE(fs::exists(app + "/DRConfig.ini"));
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PathsTest, writeTestLeavesNoProbeBehindAndNeverDeletesAUsersOwnFile) {
    tPaths paths = start();
    EXPECT_TRUE(paths.appPathWriteAccess);
    EXPECT_EQ(app, paths.configPath);  // no settings file, no data folder: nothing moves
    EXPECT_FALSE(fs::exists(app + "/tmp.txt"));
    EXPECT_TRUE(paths.tmpFileList.empty());

    writeLines(app + "/tmp.txt", {"mine"});
    start();
    EXPECT_EQ(Lines{"mine"}, fileLines(app + "/tmp.txt"));
}

TEST_F(PathsTest, writeProtectedProgramFolderCopiesItsFilesToTheUserFolderAndLogsThem) {
    shipWithProgram("DRConfig.ini", {"# shipped", "[Setup]", "Width = 900"});
    shipWithProgram("language.ini", {"[Deutsch]", "15 = \"Abbrechen\""});
    protectProgramFolder();
    tPaths paths = start();
    EXPECT_FALSE(paths.appPathWriteAccess);
    EXPECT_EQ(userFolder, paths.configPath);
    EXPECT_TRUE(paths.userDirExists);
    EXPECT_EQ(userFolder + "/DRConfig.ini", paths.configFileFullName);
    EXPECT_EQ(userFolder + "/uninstallFiles.log", paths.uninstallFileName);
    EXPECT_FALSE(fs::exists(app + "/tmp.txt"));
    {
        auto user = OpenUserSettings(paths, &reporter);
        EXPECT_EQ(userFolder + "/DRConfig.ini", user->Filename);
        EXPECT_EQ(900, user->GetVal("Setup", "Width", 874));
        user->SetVal("Setup", "Height", 700);
        auto language = OpenLanguageFile(paths, "language.ini", &reporter, "");
        EXPECT_EQ(userFolder + "/language.ini", language->Filename);
        language->CurrentLanguage = "Deutsch";
        EXPECT_EQ("Abbrechen", language->GetLanguageString(LE_Cancel));
    }
    EXPECT_EQ((Lines{"# shipped", "[Setup]", "Height = 700", "Width = 900"}),
              fileLines(userFolder + "/DRConfig.ini"));
    EXPECT_EQ((Lines{"[Deutsch]", "15 = \"Abbrechen\""}), fileLines(userFolder + "/language.ini"));
    EXPECT_EQ((Lines{"# shipped", "[Setup]", "Width = 900"}), fileLines(app + "/DRConfig.ini"));
    const std::string log = fileBytes(userFolder + "/uninstallFiles.log");
    EXPECT_EQ(encodeTextLines({"DRConfig.ini", "language.ini"}), log);
    EXPECT_TRUE(reporter.messages.empty());

    // The next start finds the user's copies and the log, and adds nothing.
    tPaths again = start();
    EXPECT_EQ(userFolder, again.configPath);
    EXPECT_EQ((Lines{"DRConfig.ini", "language.ini"}), again.uninstallFileList);
    auto user = OpenUserSettings(again, &reporter);
    EXPECT_EQ(700, user->GetVal("Setup", "Height", 1));
    EXPECT_EQ(log, fileBytes(userFolder + "/uninstallFiles.log"));
    user->FileValid = false;
}

TEST_F(PathsTest, uninstallRemovesTheLoggedFilesTheLogAndTheEmptiedFolders) {
    shipWithProgram("DRConfig.ini", {"[Setup]"});
    protectProgramFolder();
    {
        tPaths paths = start();
        OpenUserSettings(paths, &reporter);
        OpenLanguageFile(paths, "language.ini", &reporter, "");
    }
    ASSERT_TRUE(fs::exists(userFolder + "/language.ini"));
    ASSERT_TRUE(fs::exists(userFolder + "/uninstallFiles.log"));

    tPaths paths = start();
    EXPECT_TRUE(paths.UninstallConfigFiles());
    EXPECT_FALSE(fs::exists(userData + "/Kalmi"));
    EXPECT_TRUE(fs::exists(userData));
    EXPECT_TRUE(fs::exists(app + "/DRConfig.ini"));
}

// The device-memory files hold every measurement of a device: an uninstall
// leaves none of them behind.
TEST_F(PathsTest, uninstallAlsoForgetsEveryRememberedDevice) {
    shipWithProgram("DRConfig.ini", {"[Setup]"});
    protectProgramFolder();
    {
        tPaths paths = start();
        OpenUserSettings(paths, &reporter);
    }
    const std::string cache = root.file("home/.cache");
    const std::string devices = cache + "/kyvo-data-reader/devices";
    ASSERT_TRUE(writeDeviceMemoryFile(devices + "/device-0a.mem", TDeviceMemoryRecord{}));

    tPaths paths = start();
    UninstallUserFiles(paths, devices);
    EXPECT_FALSE(fs::exists(userData + "/Kalmi"));
    EXPECT_FALSE(fs::exists(cache + "/kyvo-data-reader"));
    EXPECT_TRUE(fs::exists(cache));
}

TEST_F(PathsTest, uninstallKeepsFoldersThatHoldOtherFilesAndNeverLeavesTheConfigFolder) {
    protectProgramFolder();
    fs::create_directories(userFolder);
    fs::create_directories(userData + "/Kalmi/Other Program");
    const std::string victim = root.file("home/victim.txt");
    writeLines(victim, {"keep"});
    writeLines(userFolder + "/DRConfig.ini", {});
    writeLines(userFolder + "/notes.txt", {"not logged"});
    writeLines(userFolder + "/uninstallFiles.log",
               {"DRConfig.ini", "../../../victim.txt", victim, ""});

    tPaths paths = start();
    EXPECT_EQ((Lines{"DRConfig.ini", "../../../victim.txt", victim}), paths.uninstallFileList);
    EXPECT_FALSE(paths.UninstallConfigFiles());
    EXPECT_FALSE(fs::exists(userFolder + "/DRConfig.ini"));
    EXPECT_FALSE(fs::exists(userFolder + "/uninstallFiles.log"));
    EXPECT_TRUE(fs::exists(userFolder + "/notes.txt"));
    EXPECT_TRUE(fs::exists(userData + "/Kalmi/Other Program"));
    EXPECT_EQ(Lines{"keep"}, fileLines(victim));
}

TEST_F(PathsTest, dataFoldersAndMakerKeysDecideInTheirOrder) {
    struct Case {
        const char* name;
        bool protect;
        bool regUser;
        bool regMachine;
        bool userExists;
        bool commonExists;
        bool commonWritable;
        int expect;  // 0 program folder, 1 user folder, 2 common folder
    };
    const Case cases[] = {
        {"user key without user folder", false, true, true, false, false, true, 1},
        {"machine key without common folder", false, false, true, false, false, true, 2},
        {"user folder exists", false, false, false, true, true, true, 1},
        {"common folder exists", false, false, false, false, true, true, 2},
        {"common folder the user cannot write to", true, false, false, false, true, false, 1},
        {"nothing applies", false, false, false, false, false, true, 0},
        {"protected, nothing there", true, false, false, false, false, true, 1},
    };
    for (const Case& c : cases) {
        fs::remove_all(userData + "/Kalmi");
        fs::remove_all(common + "/Kalmi");
        if (c.userExists) fs::create_directories(userFolder);
        if (c.commonExists) fs::create_directories(commonFolder);
        protectedApp = c.protect;
        tPathsEnvironment env = environment();
        env.regUserExists = c.regUser;
        env.regAllUserExists = c.regMachine;
        env.folderWritable = [&c](const std::string&) { return c.commonWritable; };
        const tPaths paths = start(env);
        const std::string expected[] = {app, userFolder, commonFolder};
        EXPECT_EQ(expected[c.expect], paths.configPath) << c.name;
        EXPECT_TRUE(fs::is_directory(paths.configPath)) << c.name;
        EXPECT_EQ(c.regUser, paths.regUserExists) << c.name;
        EXPECT_EQ("\\SOFTWARE\\Kalmi\\Kyvo Data Reader", paths.regPath);
    }
}

TEST_F(PathsTest, noUserFolderOnTheSystemLeavesTheFilesBesideTheProgram) {
    protectProgramFolder();
    tPathsEnvironment env = environment();
    env.userDataPath.clear();
    const tPaths paths = start(env);
    EXPECT_EQ(app, paths.configPath);
    EXPECT_FALSE(fs::exists("/Kalmi"));

    tPaths unchecked;
    protectedApp = false;
    unchecked.InitPaths("DRConfig.ini", "Kyvo Data Reader", false, environment());
    EXPECT_FALSE(unchecked.appPathWriteAccess);
    EXPECT_EQ(userFolder, unchecked.configPath);
}

TEST_F(PathsTest, configFilePathReadsTheShippedCopyUntilTheUserHasOne) {
    shipWithProgram("language.ini", {});
    protectProgramFolder();
    tPaths paths = start();
    EXPECT_EQ(app + "/language.ini", paths.ConfigFilePath("language.ini", false));
    EXPECT_EQ(userFolder + "/other.ini", paths.ConfigFilePath("other.ini", false));
    EXPECT_EQ("/abs/x.ini", paths.ConfigFilePath("/abs/x.ini", true));
    EXPECT_EQ(userFolder + "/uninstallFiles.log", paths.ConfigFilePath("uninstallFiles.log", true));
    EXPECT_TRUE(paths.uninstallFileList.empty());
    EXPECT_EQ(userFolder + "/language.ini", paths.ConfigFilePath("language.ini", true));
    EXPECT_EQ(Lines{"language.ini"}, paths.uninstallFileList);
    writeLines(userFolder + "/language.ini", {});
    EXPECT_EQ(userFolder + "/language.ini", paths.ConfigFilePath("language.ini", false));
}

TEST(PathNames, readOnlySettingsNameAndUninstallArgument) {
    EXPECT_EQ("DRConfigRO.ini", readOnlyVariantName("DRConfig.ini"));
    EXPECT_EQ("a.bRO.c", readOnlyVariantName("a.b.c"));
    EXPECT_EQ("configRO", readOnlyVariantName("config"));
    EXPECT_EQ("dir.x/configRO", readOnlyVariantName("dir.x/config"));

    const char* uninstall[] = {"kyvo", "-uninstall"};
    const char* capital[] = {"kyvo", "-Uninstall"};
    const char* second[] = {"kyvo", "x", "-uninstall"};
    const char* none[] = {"kyvo"};
    EXPECT_TRUE(IsUninstallRequest(2, uninstall));
    EXPECT_FALSE(IsUninstallRequest(2, capital));
    EXPECT_FALSE(IsUninstallRequest(3, second));
    EXPECT_FALSE(IsUninstallRequest(1, none));
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

TEST(DocumentsFolder, xdgDocumentsFolderWhenItExistsElseTheHomeFolder) {
    TempFolder root;
    const std::string home = root.file("home");
    std::filesystem::create_directories(home + "/.config");
    std::filesystem::create_directories(home + "/Dokumente");
    std::filesystem::create_directories(root.file("elsewhere"));
    struct Case {
        const char* name;
        std::string userDirs;  // content of ~/.config/user-dirs.dirs, none when empty
        std::string envValue;  // XDG_DOCUMENTS_DIR, unset when empty
        std::string expected;
    };
    const Case cases[] = {
        {"user-dirs below $HOME",
         "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "",
         home + "/Dokumente/"},
        {"user-dirs absolute", "XDG_DOCUMENTS_DIR=\"" + root.file("elsewhere") + "\"\n", "",
         root.file("elsewhere") + "/"},
        {"environment wins", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", root.file("elsewhere"),
         root.file("elsewhere") + "/"},
        {"folder named but gone", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", "", home + "/"},
        {"no user-dirs file", "", "", home + "/"},
    };
    for (const Case& c : cases) {
        const std::string dirs = home + "/.config/user-dirs.dirs";
        std::filesystem::remove(dirs);
        if (!c.userDirs.empty()) std::ofstream(dirs) << c.userDirs;
        const auto env = [&](const char* name) -> const char* {
            const std::string n = name;
            if (n == "HOME") return home.c_str();
            if (n == "XDG_DOCUMENTS_DIR" && !c.envValue.empty()) return c.envValue.c_str();
            return nullptr;
        };
        EXPECT_EQ(userDocumentsFolder(env), c.expected) << c.name;
    }
    EXPECT_EQ(userDocumentsFolder([](const char*) -> const char* { return nullptr; }), "");
}

TEST(DataFolder, xdgDataHomeWhenAbsoluteElseBelowTheHomeFolder) {
    struct Case {
        const char* dataHome;  // null: unset
        const char* home;
        std::string expected;
    } cases[] = {
        {"/srv/data/", "/home/u", "/srv/data/kyvo-data-reader"},
        {"relative/data", "/home/u", "/home/u/.local/share/kyvo-data-reader"},
        {nullptr, "/home/u", "/home/u/.local/share/kyvo-data-reader"},
        {"", "/home/u/", "/home/u/.local/share/kyvo-data-reader"},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        const auto env = [&](const char* name) -> const char* {
            const std::string n = name;
            if (n == "HOME") return c.home;
            if (n == "XDG_DATA_HOME") return c.dataHome;
            return nullptr;
        };
        EXPECT_EQ(userDataFolder(env), c.expected) << (c.dataHome ? c.dataHome : "unset");
    }
}

}  // namespace
}  // namespace kyvo
