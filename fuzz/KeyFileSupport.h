// The key-file targets write the input to a file in the scratch folder and
// open it the way the program opens its settings and language files.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "files/FileErrorReporter.h"

namespace kyvo::fuzz {

class QuietReporter final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string&, const std::string&) override {}
};

inline void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace kyvo::fuzz
