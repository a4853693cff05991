#pragma once

#include <string>

namespace kyvo {

// Where the key files report that they cannot be opened, created or saved.
// The application connects it to its modal message box with a single OK
// button; tests record the calls.
class IFileErrorReporter {
  public:
    virtual ~IFileErrorReporter() = default;
    virtual void ShowFileError(const std::string& text, const std::string& caption) = 0;
};

// Used when no reporter is given: writes the message to standard error.
IFileErrorReporter& stderrFileErrorReporter();

}  // namespace kyvo
