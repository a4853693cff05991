// What the program remembers of a device, as read back from the user's
// cache folder, where anything running as the user can write: the file's
// bytes decoded; a record that decodes is written back byte for byte, so
// that nothing the reader accepts is more than the writer produces.
#include <cstdint>
#include <string>
#include <string_view>

#include "files/DeviceMemoryFile.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto record = decodeDeviceMemory(bytes);
    if (!record) return 0;
    if (record->Identity.size() > kMaxDeviceIdentitySize ||
        record->ResultCfg.Bytes.size() > kMaxStoredRingSize ||
        record->Result.Bytes.size() > kMaxStoredRingSize)
        __builtin_trap();
    if (encodeDeviceMemory(*record) != bytes) __builtin_trap();
    fuzz::keep(record->Identity.data(), record->Identity.size());
    return 0;
}
