// Programs installed by the package: under <root>/usr/bin, their read-only
// settings under <root>/etc/kyvo-data-reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/Paths.h"
#include "files/StartupFiles.h"
#include "files/tests/FileTestSupport.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class SystemInstallationTest : public ::testing::Test {
  protected:
    TempFolder root;
    RecordingReporter reporter;
    std::string bin = root.file("usr/bin");
    std::string etc = root.file("etc/kyvo-data-reader");
    std::string userData = root.file("home/.config");
    std::string userFolder = userData + "/Kalmi/Kyvo Data Reader";

    void SetUp() override {
        fs::create_directories(bin);
        fs::create_directories(etc);
        fs::create_directories(userData);
    }

    // The program folder stays writable, as /usr/bin is for root.
    tPathsEnvironment environment() {
        tPathsEnvironment env = systemPathsEnvironment();
        env.appPath = bin;
        env.userDataPath = userData;
        env.appDataPath = root.file("etc/xdg");
        return env;
    }
};

TEST_F(SystemInstallationTest, theSystemFolderIsFoundBesideTheProgramsRoot) {
    EXPECT_EQ("/etc/kyvo-data-reader", SystemSettingsFolder("/usr/bin"));
    EXPECT_EQ("/etc/kyvo-data-reader", SystemSettingsFolder("/usr/bin/"));
    EXPECT_EQ(etc, SystemSettingsFolder(bin));
    EXPECT_FALSE(IsSystemInstallation(bin, "DRConfigRO.ini"));
    writeLines(etc + "/DRConfigRO.ini", {"[Setup]"});
    EXPECT_TRUE(IsSystemInstallation(bin, "DRConfigRO.ini"));
    writeLines(bin + "/DRConfigRO.ini", {"[Setup]"});
    EXPECT_FALSE(IsSystemInstallation(bin, "DRConfigRO.ini"));
}

TEST_F(SystemInstallationTest, shippedFilesLieUnderShareOfAnInstallationAndBesideAPortableCopy) {
    EXPECT_EQ(bin, ShippedFilesFolder(bin, "DRConfigRO.ini"));
    writeLines(etc + "/DRConfigRO.ini", {"[Setup]"});
    EXPECT_EQ(root.file("usr/share/kyvo-data-reader"), ShippedFilesFolder(bin, "DRConfigRO.ini"));
    writeLines(bin + "/DRConfigRO.ini", {"[Setup]"});
    EXPECT_EQ(bin, ShippedFilesFolder(bin, "DRConfigRO.ini"));
}

TEST_F(SystemInstallationTest, installedProgramReadsEtcAndWritesOnlyToTheUsersFolder) {
    writeLines(etc + "/DRConfigRO.ini", {"[Setup]", "SaveTSVStyle = Short"});
    tPaths paths;
    InitProgramPaths(paths, "DRConfig.ini", "Kyvo Data Reader", environment());
    EXPECT_FALSE(paths.appPathWriteAccess);
    EXPECT_EQ(userFolder, paths.configPath);
    {
        auto prog = OpenProgramSettings(paths, &reporter);
        EXPECT_EQ(etc + "/DRConfigRO.ini", prog->Filename);
        EXPECT_EQ("Short", prog->GetVal("Setup", "SaveTSVStyle", std::string_view("Long")));
        auto user = OpenUserSettings(paths, &reporter);
        EXPECT_EQ(userFolder + "/DRConfig.ini", user->Filename);
        user->SetVal("Setup", "Width", 900);
        OpenLanguageFile(paths, "language.ini", &reporter, "");
    }
    EXPECT_TRUE(reporter.messages.empty());
    // Nothing lands beside the programs, not even the write probe.
    EXPECT_TRUE(fs::is_empty(bin));
    EXPECT_EQ((Lines{"[Setup]", "SaveTSVStyle = Short"}), fileLines(etc + "/DRConfigRO.ini"));
    EXPECT_TRUE(fs::exists(userFolder + "/DRConfig.ini"));
    EXPECT_EQ((Lines{"DRConfig.ini", "language.ini"}),
              fileLines(userFolder + "/uninstallFiles.log"));

    tPaths again;
    InitProgramPaths(again, "DRConfig.ini", "Kyvo Data Reader", environment());
    EXPECT_TRUE(again.UninstallConfigFiles());
    EXPECT_FALSE(fs::exists(userData + "/Kalmi"));
    EXPECT_TRUE(fs::exists(etc + "/DRConfigRO.ini"));
}

TEST_F(SystemInstallationTest, aCopyWithItsOwnSettingsBesideItStaysPortable) {
    writeLines(etc + "/DRConfigRO.ini", {"[Setup]", "SaveTSVStyle = Short"});
    writeLines(bin + "/DRConfigRO.ini", {"[Setup]", "SaveTSVStyle = Tobrel"});
    writeLines(bin + "/DRConfig.ini", {"[Setup]"});
    tPaths paths;
    InitProgramPaths(paths, "DRConfig.ini", "Kyvo Data Reader", environment());
    EXPECT_TRUE(paths.appPathWriteAccess);
    EXPECT_EQ(bin, paths.configPath);
    auto prog = OpenProgramSettings(paths, &reporter);
    EXPECT_EQ(bin + "/DRConfigRO.ini", prog->Filename);
    EXPECT_EQ("Tobrel", prog->GetVal("Setup", "SaveTSVStyle", std::string_view("Long")));
    EXPECT_FALSE(fs::exists(userData + "/Kalmi"));
}

TEST_F(SystemInstallationTest, settingsMissingEverywhereAreReportedBesideTheProgram) {
    tPaths paths;
    InitProgramPaths(paths, "DRConfig.ini", "Kyvo Data Reader", environment());
    EXPECT_TRUE(paths.appPathWriteAccess);
    auto prog = OpenProgramSettings(paths, &reporter);
    EXPECT_EQ(bin + "/DRConfigRO.ini", prog->Filename);
    ASSERT_EQ(1u, reporter.messages.size());
    EXPECT_EQ("Could not open file " + bin + "/DRConfigRO.ini", reporter.messages[0].text);
}

}  // namespace
}  // namespace kyvo
