#pragma once

// What the program remembers of a device's two result rings between reads,
// one file per device. The file is a cache: everything in it can be read
// from the device again, so it lives under the user's cache folder, and a
// missing, damaged, truncated or foreign file simply reads as "nothing
// known" (the next read is a whole read that rewrites it). Nothing in it is
// trusted beyond what the device confirms on the next read.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kyvo {

// One ring as it was last read: its bounds and pointers as the device gave
// them, and its bytes from the ring's first byte.
struct TStoredRing {
    std::uint16_t Start = 0;
    std::uint16_t Stop = 0;
    std::uint16_t ReadPtr = 0;
    std::uint16_t WritePtr = 0;
    std::vector<std::uint8_t> Bytes;

    bool operator==(const TStoredRing&) const = default;
};

struct TDeviceMemoryRecord {
    // Opaque to this layer: the caller's description of the device (serial
    // record, layout version, memory layout, configuration words). A record
    // counts only for a device with exactly these bytes.
    std::vector<std::uint8_t> Identity;
    TStoredRing ResultCfg;
    TStoredRing Result;

    bool operator==(const TDeviceMemoryRecord&) const = default;
};

// Identity longer than this, or a ring longer than 65536 bytes, is refused
// on both ends: no damaged file makes the reader allocate more.
inline constexpr std::size_t kMaxDeviceIdentitySize = 4096;
inline constexpr std::size_t kMaxStoredRingSize = 65536;

// The file's bytes: magic, format version, the record, a CRC-32 over all
// before it. Empty when the record exceeds the limits above.
std::string encodeDeviceMemory(const TDeviceMemoryRecord& record);
// None for anything but a whole, undamaged file of this format version.
std::optional<TDeviceMemoryRecord> decodeDeviceMemory(std::string_view bytes);

// <cache>/kyvo-data-reader/devices, where <cache> is $XDG_CACHE_HOME when
// it is an absolute path, else $HOME/.cache; empty when neither is known.
// getenv looks up an environment variable (null when unset).
std::string deviceMemoryFolder(const std::function<const char*(const char*)>& getenv);
std::string deviceMemoryFolder();

// A file name made only of [0-9a-f] and fixed letters from a device's serial
// bytes, so that any serial is a safe, distinct name.
std::string deviceMemoryFileName(const std::vector<std::uint8_t>& serial);

// None when the file is missing, unreadable, too large or not a valid record.
std::optional<TDeviceMemoryRecord> readDeviceMemoryFile(const std::string& path);
// Creates the folders on the way and replaces the file through a temporary
// file and a rename. The file holds every stored measurement of the device,
// patients' included: it is made 0600 and its folder (and every folder
// created on the way) 0700, whatever the umask. False (with error, when
// given) on failure.
bool writeDeviceMemoryFile(const std::string& path, const TDeviceMemoryRecord& record,
                           std::string* error = nullptr);

// Forgets one device: removes its file. True when no file is left.
bool removeDeviceMemoryFile(const std::string& path);
// Forgets every device: removes the program's files in folder (as
// deviceMemoryFolder() names it), then the folder and its parent when they
// are left empty. Files that are not the program's stay, and so does the
// folder holding them. True when the folder is gone.
bool removeDeviceMemoryFolder(const std::string& folder);

}  // namespace kyvo
