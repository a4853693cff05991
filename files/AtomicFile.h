#pragma once

// Whole-file reads and crash-safe whole-file writes.

#include <string>
#include <string_view>

namespace kyvo {

// Replaces the file at path with bytes: the bytes go to a new temporary file
// in the same folder, are flushed to the disk, and the temporary file is then
// renamed over path. A crash, a full disk or any other failure leaves the old
// file whole (or no file, when there was none) and removes the temporary
// file. An existing file keeps its permission bits; when path is a symbolic
// link, the file it points to is replaced and the link stays.
// Returns true on success; on failure error (when given) receives a text
// naming the file and the system's reason.
// ownerOnly: the file gets exactly 0600, whatever the umask or the old
// file's bits, and is never readable by others on the way.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* error = nullptr, bool ownerOnly = false);

// Reads the whole file at path into bytes. Returns false (bytes empty) when
// it cannot be opened or read, with errno telling why.
bool readFileBytes(const std::string& path, std::string& bytes);

}  // namespace kyvo
