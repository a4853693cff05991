#include "files/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, writeCreatesOrReplacesTheWholeFileAndLeavesNoTemporaryFile) {
    TempFolder dir;
    const std::string path = dir.file("a.ini");
    ASSERT_TRUE(writeFileAtomically(path, "first version, rather long"));
    ASSERT_TRUE(writeFileAtomically(path, std::string("short\0x", 7)));
    std::string bytes;
    ASSERT_TRUE(readFileBytes(path, bytes));
    EXPECT_EQ(std::string("short\0x", 7), bytes);
    EXPECT_EQ(1, dir.count());
}

TEST(AtomicFile, failedWriteLeavesTheOldContentAndNoTemporaryFile) {
    TempFolder dir;
    // A folder in the file's place makes the final rename fail after the
    // temporary file was written in full.
    const std::string path = dir.file("taken");
    fs::create_directory(path);
    std::string error;
    EXPECT_FALSE(writeFileAtomically(path, "data", &error));
    EXPECT_NE(std::string::npos, error.find(path)) << error;
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(1, dir.count());

    EXPECT_FALSE(writeFileAtomically(dir.file("missing/x.ini"), "data", &error));
    EXPECT_NE(std::string::npos, error.find("missing/x.ini")) << error;
}

TEST(AtomicFile, replacingKeepsPermissionBitsAndSymbolicLinks) {
    TempFolder dir;
    const std::string real = dir.file("real.ini");
    const std::string link = dir.file("link.ini");
    ASSERT_TRUE(writeFileAtomically(real, "old"));
    ASSERT_EQ(0, ::chmod(real.c_str(), 0640));
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeFileAtomically(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    std::string bytes;
    ASSERT_TRUE(readFileBytes(real, bytes));
    EXPECT_EQ("new", bytes);
    struct stat st {};
    ASSERT_EQ(0, ::stat(real.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST(AtomicFile, readingAMissingFileOrAFolderFails) {
    TempFolder dir;
    std::string bytes = "stale";
    EXPECT_FALSE(readFileBytes(dir.file("none"), bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(readFileBytes(dir.path(), bytes));
}

}  // namespace
}  // namespace kyvo
