#pragma once

#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileErrorReporter.h"
#include "files/TextCodec.h"

namespace kyvo {

struct RecordingReporter : IFileErrorReporter {
    struct Message {
        std::string text;
        std::string caption;
    };
    std::vector<Message> messages;
    void ShowFileError(const std::string& text, const std::string& caption) override {
        messages.push_back({text, caption});
    }
};

inline std::string fileBytes(const std::string& path) {
    std::string bytes;
    readFileBytes(path, bytes);
    return bytes;
}

inline std::vector<std::string> fileLines(const std::string& path) {
    return decodeTextLines(fileBytes(path));
}

inline void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    writeFileAtomically(path, encodeTextLines(lines));
}

}  // namespace kyvo
