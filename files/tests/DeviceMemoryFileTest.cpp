#include "files/DeviceMemoryFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "files/AtomicFile.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

TDeviceMemoryRecord SampleRecord() {
    TDeviceMemoryRecord r;
    r.Identity = {6, 1, 2, 3, 4, 0, 0xFF, 0x10};
    r.ResultCfg = {0x0000, 0x07FF, 0x0010, 0x0123, std::vector<std::uint8_t>(2048, 0xAB)};
    r.Result = {0x0800, 0xFFFF, 0x0900, 0x0100, {}};
    for (int i = 0; i < 4096; ++i) r.Result.Bytes.push_back(static_cast<std::uint8_t>(i * 7));
    return r;
}

std::uint32_t Crc(std::string_view bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

// Replaces the checksum so that only the deliberate change is wrong.
std::string Resealed(std::string bytes) {
    bytes.resize(bytes.size() - 4);
    const std::uint32_t c = Crc(bytes);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((c >> (8 * i)) & 0xFF));
    return bytes;
}

TEST(DeviceMemoryFile, aRecordComesBackWholeThroughTheFile) {
    TempFolder dir;
    const std::string path = dir.file("cache/kyvo-data-reader/devices/one.mem");
    const TDeviceMemoryRecord r = SampleRecord();
    ASSERT_TRUE(writeDeviceMemoryFile(path, r));
    EXPECT_EQ(readDeviceMemoryFile(path), r);
    // A second write replaces the first and leaves no temporary file behind.
    TDeviceMemoryRecord changed = r;
    changed.Result.Bytes.resize(10);
    ASSERT_TRUE(writeDeviceMemoryFile(path, changed));
    EXPECT_EQ(readDeviceMemoryFile(path), changed);
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(dir.file("cache/kyvo-data-reader/devices")),
                  std::filesystem::directory_iterator()),
              1);
}

TEST(DeviceMemoryFile, aMissingDamagedTruncatedForeignOrNewerFileReadsAsUnknown) {
    const std::string good = encodeDeviceMemory(SampleRecord());
    ASSERT_TRUE(decodeDeviceMemory(good));
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    std::string otherVersion = good;
    otherVersion[8] = 2;
    std::string trailing = good;
    trailing.insert(trailing.size() - 4, "x");
    const std::map<std::string, std::string> cases = {
        {"one bit flipped", flipped},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"checksum missing", good.substr(0, good.size() - 4)},
        {"empty", ""},
        {"a settings file", "[Setup]\nAddDataBehaviour=Ask\n"},
        {"another format version", Resealed(otherVersion)},
        {"a byte too many", Resealed(trailing)},
    };
    for (const auto& [name, bytes] : cases) EXPECT_FALSE(decodeDeviceMemory(bytes)) << name;

    TempFolder dir;
    EXPECT_FALSE(readDeviceMemoryFile(dir.file("never-written.mem")));
    ASSERT_TRUE(writeFileAtomically(dir.file("cut.mem"), good.substr(0, 100)));
    EXPECT_FALSE(readDeviceMemoryFile(dir.file("cut.mem")));
    // A folder in the file's place is no record either.
    std::filesystem::create_directory(dir.file("folder.mem"));
    EXPECT_FALSE(readDeviceMemoryFile(dir.file("folder.mem")));
}

TEST(DeviceMemoryFile, hostileLengthsWithAValidChecksumAreRefusedWithoutAllocating) {
    // Header, then an identity length or a ring length far beyond the file.
    std::string head("KYVOMEM\x1A\x01\x00", 10);
    const std::string hugeIdentity = Resealed(head + std::string("\xFF\xFF", 2) + "1234");
    std::string hugeRing = head + std::string("\x00\x00", 2) + std::string(8, '\0') +
                           std::string("\xFF\xFF\xFF\xFF", 4) + "1234";
    EXPECT_FALSE(decodeDeviceMemory(hugeIdentity));
    EXPECT_FALSE(decodeDeviceMemory(Resealed(hugeRing)));
    // Within the limits but longer than what is there.
    std::string shortRing = head + std::string("\x00\x00", 2) + std::string(8, '\0') +
                            std::string("\x00\x00\x01\x00", 4) + "1234";
    EXPECT_FALSE(decodeDeviceMemory(Resealed(shortRing)));
    // Records beyond the limits are never written.
    TDeviceMemoryRecord big = SampleRecord();
    big.Result.Bytes.resize(kMaxStoredRingSize + 1);
    EXPECT_EQ(encodeDeviceMemory(big), "");
    TempFolder dir;
    std::string error;
    EXPECT_FALSE(writeDeviceMemoryFile(dir.file("big.mem"), big, &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(dir.count(), 0);
}

TEST(DeviceMemoryFile, theFolderIsTheUsersCacheAndTheNameIsSafeForAnySerial) {
    const auto env = [](std::map<std::string, const char*> vars) {
        return [vars](const char* n) -> const char* {
            auto it = vars.find(n);
            return it == vars.end() ? nullptr : it->second;
        };
    };
    EXPECT_EQ(deviceMemoryFolder(env({{"XDG_CACHE_HOME", "/c/"}, {"HOME", "/h"}})),
              "/c/kyvo-data-reader/devices");
    EXPECT_EQ(deviceMemoryFolder(env({{"XDG_CACHE_HOME", "relative"}, {"HOME", "/h"}})),
              "/h/.cache/kyvo-data-reader/devices");
    EXPECT_EQ(deviceMemoryFolder(env({})), "");

    EXPECT_EQ(deviceMemoryFileName({0x00, 0x2F, 0xFF}), "device-002fff.mem");
    EXPECT_NE(deviceMemoryFileName({0x01, 0x02}), deviceMemoryFileName({0x01, 0x03}));
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

// The file holds every measurement of the device: only its owner may read
// it, whatever the umask, and a folder or file left wider by an older
// version is narrowed by the next write.
TEST(DeviceMemoryFile, theFileAndItsFoldersAreTheOwnersOnlyWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        TempFolder dir;
        const std::string folder = dir.file("cache/kyvo-data-reader/devices");
        const std::string path = folder + "/device-01.mem";
        const mode_t old = ::umask(mask);
        const bool written = writeDeviceMemoryFile(path, SampleRecord());
        ::umask(old);
        ASSERT_TRUE(written);
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_EQ(ModeOf(folder), 0700u);
        EXPECT_EQ(ModeOf(dir.file("cache/kyvo-data-reader")), 0700u);
        EXPECT_EQ(ModeOf(dir.file("cache")), 0700u);

        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
        ASSERT_TRUE(writeDeviceMemoryFile(path, SampleRecord()));
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_EQ(ModeOf(folder), 0700u);
    }
}

TEST(DeviceMemoryFile, forgettingRemovesTheDevicesFilesAndTheFoldersButNoOtherFile) {
    TempFolder dir;
    const std::string folder = dir.file("kyvo-data-reader/devices");
    ASSERT_TRUE(writeDeviceMemoryFile(folder + "/device-01.mem", SampleRecord()));
    ASSERT_TRUE(writeDeviceMemoryFile(folder + "/device-02.mem", SampleRecord()));
    std::ofstream(folder + "/device-02.mem.tmp-77-0") << "left by a crash";

    // One device.
    EXPECT_TRUE(removeDeviceMemoryFile(folder + "/device-01.mem"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/device-01.mem"));
    EXPECT_TRUE(removeDeviceMemoryFile(folder + "/device-01.mem"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/device-02.mem"));

    // Every device; a file the user put there keeps the folder.
    std::ofstream(folder + "/notes.txt") << "mine";
    EXPECT_FALSE(removeDeviceMemoryFolder(folder));
    EXPECT_FALSE(std::filesystem::exists(folder + "/device-02.mem"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/device-02.mem.tmp-77-0"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/notes.txt"));

    std::filesystem::remove(folder + "/notes.txt");
    ASSERT_TRUE(writeDeviceMemoryFile(folder + "/device-03.mem", SampleRecord()));
    EXPECT_TRUE(removeDeviceMemoryFolder(folder));
    EXPECT_FALSE(std::filesystem::exists(dir.file("kyvo-data-reader")));
    EXPECT_EQ(dir.count(), 0);
    // Nothing there is nothing to do.
    EXPECT_TRUE(removeDeviceMemoryFolder(folder));
    EXPECT_FALSE(removeDeviceMemoryFolder(""));
}

}  // namespace
}  // namespace kyvo
