#include "files/DeviceMemoryFile.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "files/AtomicFile.h"

namespace kyvo {

namespace {

constexpr std::string_view kMagic{"KYVOMEM\x1A", 8};
constexpr std::uint16_t kFormatVersion = 1;
// Magic, version, identity and two rings at their limits, checksum.
constexpr std::size_t kMaxFileSize =
    kMagic.size() + 2 + 2 + kMaxDeviceIdentitySize + 2 * (8 + 4 + kMaxStoredRingSize) + 4;

std::uint32_t crc32(std::string_view bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Reads little-endian values; once anything is missing every later read
// fails too, so a caller checks ok once at the end.
class Reader {
  public:
    explicit Reader(std::string_view b) : b_(b) {}
    std::uint32_t u16() {
        if (!need(2)) return 0;
        const std::uint32_t v = byte(0) | byte(1) << 8;
        at_ += 2;
        return v;
    }
    std::uint32_t u32() {
        const std::uint32_t lo = u16();
        return lo | u16() << 16;
    }
    // Only after the length has been checked against what is left.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        if (!need(n)) return {};
        std::vector<std::uint8_t> v(b_.begin() + static_cast<std::ptrdiff_t>(at_),
                                    b_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return v;
    }
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == b_.size(); }

  private:
    bool need(std::size_t n) {
        if (!ok_ || b_.size() - at_ < n) ok_ = false;
        return ok_;
    }
    std::uint32_t byte(std::size_t i) const { return static_cast<unsigned char>(b_[at_ + i]); }
    std::string_view b_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

void putRing(std::string& out, const TStoredRing& r) {
    put16(out, r.Start);
    put16(out, r.Stop);
    put16(out, r.ReadPtr);
    put16(out, r.WritePtr);
    put32(out, static_cast<std::uint32_t>(r.Bytes.size()));
    out.append(reinterpret_cast<const char*>(r.Bytes.data()), r.Bytes.size());
}

bool getRing(Reader& in, TStoredRing& r) {
    r.Start = static_cast<std::uint16_t>(in.u16());
    r.Stop = static_cast<std::uint16_t>(in.u16());
    r.ReadPtr = static_cast<std::uint16_t>(in.u16());
    r.WritePtr = static_cast<std::uint16_t>(in.u16());
    const std::uint32_t size = in.u32();
    if (!in.ok() || size > kMaxStoredRingSize) return false;
    r.Bytes = in.bytes(size);
    return in.ok();
}

}  // namespace

std::string encodeDeviceMemory(const TDeviceMemoryRecord& record) {
    if (record.Identity.size() > kMaxDeviceIdentitySize ||
        record.ResultCfg.Bytes.size() > kMaxStoredRingSize ||
        record.Result.Bytes.size() > kMaxStoredRingSize)
        return {};
    std::string out(kMagic);
    put16(out, kFormatVersion);
    put16(out, static_cast<std::uint32_t>(record.Identity.size()));
    out.append(reinterpret_cast<const char*>(record.Identity.data()), record.Identity.size());
    putRing(out, record.ResultCfg);
    putRing(out, record.Result);
    put32(out, crc32(out));
    return out;
}

std::optional<TDeviceMemoryRecord> decodeDeviceMemory(std::string_view bytes) {
    if (bytes.size() < kMagic.size() + 4 + 4 || bytes.size() > kMaxFileSize ||
        bytes.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    const std::string_view body = bytes.substr(0, bytes.size() - 4);
    Reader tail(bytes.substr(bytes.size() - 4));
    if (tail.u32() != crc32(body)) return std::nullopt;

    Reader in(body.substr(kMagic.size()));
    if (in.u16() != kFormatVersion) return std::nullopt;
    TDeviceMemoryRecord r;
    const std::uint32_t idSize = in.u16();
    if (idSize > kMaxDeviceIdentitySize) return std::nullopt;
    r.Identity = in.bytes(idSize);
    if (!in.ok() || !getRing(in, r.ResultCfg) || !getRing(in, r.Result) || !in.atEnd())
        return std::nullopt;
    return r;
}

std::string deviceMemoryFolder(const std::function<const char*(const char*)>& getenv) {
    std::string base;
    if (const char* x = getenv("XDG_CACHE_HOME"); x && x[0] == '/') {
        base = x;
    } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
        base = std::string(home) + "/.cache";
    } else {
        return {};
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/kyvo-data-reader/devices";
}

std::string deviceMemoryFolder() {
    return deviceMemoryFolder([](const char* name) -> const char* { return std::getenv(name); });
}

std::string deviceMemoryFileName(const std::vector<std::uint8_t>& serial) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string name = "device-";
    for (std::uint8_t b : serial) {
        name.push_back(hex[b >> 4]);
        name.push_back(hex[b & 0x0F]);
    }
    return name + ".mem";
}

std::optional<TDeviceMemoryRecord> readDeviceMemoryFile(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileSize) return std::nullopt;
    std::string bytes;
    if (!readFileBytes(path, bytes)) return std::nullopt;
    return decodeDeviceMemory(bytes);
}

namespace {

// mkdir -p with 0700 for every folder it makes; the folder that holds the
// files is narrowed to 0700 even when it was there already (made by an
// older version under a wide umask). A folder just made is empty until
// narrowed, and the files in it are 0600 from their creation.
bool makePrivateFolder(const std::filesystem::path& folder, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path at;
    for (const auto& part : folder) {
        at /= part;
        if (fs::create_directory(at, ec)) fs::permissions(at, fs::perms::owner_all, ec);
        if (ec) {
            if (error) *error = at.string() + ": " + ec.message();
            return false;
        }
    }
    if (!fs::is_directory(folder, ec)) {
        if (error) *error = folder.string() + ": not a folder";
        return false;
    }
    if (fs::status(folder, ec).permissions() != fs::perms::owner_all)
        fs::permissions(folder, fs::perms::owner_all, ec);
    return true;
}

bool isOurFile(const std::string& name) {
    if (name.rfind("device-", 0) != 0) return false;
    const auto mem = name.find(".mem");
    return mem != std::string::npos &&
           (mem + 4 == name.size() || name.compare(mem + 4, 5, ".tmp-") == 0);
}

}  // namespace

bool writeDeviceMemoryFile(const std::string& path, const TDeviceMemoryRecord& record,
                           std::string* error) {
    const std::string bytes = encodeDeviceMemory(record);
    if (bytes.empty()) {
        if (error) *error = path + ": the device memory is too large to keep";
        return false;
    }
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !makePrivateFolder(folder, error)) return false;
    return writeFileAtomically(path, bytes, error, true);
}

bool removeDeviceMemoryFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return !ec && !std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool removeDeviceMemoryFolder(const std::string& folder) {
    if (folder.empty()) return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir(folder);
    if (!fs::is_directory(fs::symlink_status(dir, ec)))
        return !fs::exists(fs::symlink_status(dir, ec));
    std::vector<fs::path> ours;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (isOurFile(e.path().filename().string())) ours.push_back(e.path());
    for (const auto& p : ours) fs::remove(p, ec);
    // remove() of a folder takes only an empty one.
    if (!fs::remove(dir, ec)) return false;
    if (dir.parent_path().filename() == "kyvo-data-reader") fs::remove(dir.parent_path(), ec);
    return true;
}

}  // namespace kyvo
