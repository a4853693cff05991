// Reading result files: the tab-separated measurement lists the writer
// produces, in the layout the settings select.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "files/LanguageEntries.h"
#include "files/SettingsEnums.h"
#include "protocol/ByteBuffer.h"
#include "testdata/MeasureSet.h"
#include "testdata/Sorting.h"

namespace kyvo {

// A line holds at most kMaxResults results, kMaxTestLines line results and
// kMaxImageValues image values.

// Tabs in the header line of a layout: 139, 46, 36; 0 for the others.
std::size_t TsvHeaderTabCount(ETSVVersion layout);

// The layout of a file from its first line, by its tab count alone, so that
// files written in any language are recognised.
ETSVVersion DetectTsvVersion(std::string_view headerLine);

// A decimal number with "." or "," as separator, "INF", "-INF" or "NAN".
// Returns false, value untouched, for anything else.
bool ParseTsvFloat(std::string_view text, float& value);

// The date field: "MM/dd/yyyy", optionally followed by a blank and
// "hh:nn:ss"; otherwise an unsigned 32-bit number holding Seconds, Minutes,
// Hour and MonthDay from its least significant byte (Month and Year 0).
bool ParseTsvDate(std::string_view text, TDateData& date);

// Fills a freshly created measure set from one line of the given layout.
// False when the line is no valid measurement line; the set is then in an
// unspecified but safe state and should be discarded.
bool ParseMeasureRow(std::string_view line, TMeasureSet& set, ETSVVersion layout);

// The first field of a line, as ParseMeasureRow reads it into TestID.
std::string_view TsvFirstField(std::string_view line);

// The first fields (TestIDs) of the measurement lines of the result file at
// path, header excluded, without parsing the lines: what is needed to know
// which measurements a file holds, at the cost of the IDs alone. False when
// the file cannot be read.
bool ReadResultFileTestIDs(const std::string& path, std::unordered_set<std::string>& ids);

enum class EDialogAnswer { Yes, No, Cancel };

// The questions, messages and file choices of saving and loading. The
// window implements it; texts come as language entries for it to look up.
class IResultFileDialogs {
  public:
    virtual ~IResultFileDialogs() = default;
    // The save dialog of result files; none when cancelled.
    virtual std::optional<std::string> ChooseSaveFile() = 0;
    // A result file was chosen for saving, or loaded: its folder and name
    // become the start of both result dialogs and the settings
    // "DefaultDir" and "LastUsedFile".
    virtual void RememberResultFile(const std::string& path) = 0;
    virtual EDialogAnswer AskYesNoCancel(const TLangEntry& question) = 0;
    // A message box with OK only. detail (may be empty) is appended to the
    // looked-up text, e.g. the file name after "The file could not be found: ".
    virtual void ShowMessage(const TLangEntry& text, const TLangEntry* caption,
                             const std::string& detail) = 0;
};

enum class ELoadResult {
    Loaded,        // every line read
    NotFound,      // nothing changed
    InUse,         // another instance is writing it; nothing changed
    ReadFailed,    // the file could not be read; nothing changed
    Incompatible,  // another layout, unknown header or empty file; list empty
    DamagedLine,   // the lines before the damaged one were loaded
    TooLarge,      // beyond kMaxResultFileBytes: refused, nothing changed
};

// The largest result file loaded: a real file holds a few thousand
// measurements of about 2 KB; a larger one is refused rather than allowed to
// exhaust the memory.
inline constexpr std::uintmax_t kMaxResultFileBytes = 64u << 20;

struct TLoadOutcome {
    ELoadResult Result = ELoadResult::Loaded;
    std::size_t Added = 0;        // sets appended to the list
    std::size_t Duplicates = 0;   // lines whose TestID was already in the list
    std::size_t DamagedLine = 0;  // 1-based line number of the damaged line
    std::string Error;            // system reason of ReadFailed
};

// Replaces the list with the measurements of the file at path, which must
// be of the given layout, shows the messages of every failure through
// dialogs, sorts the list with sortMode and remembers the file. The list is
// emptied before the layout is checked; a missing file or one in use leaves
// it as it was, and so does one that cannot be read or is larger than
// kMaxResultFileBytes.
TLoadOutcome LoadMeasureFile(const std::string& path, ETSVVersion layout, TMeasureList& list,
                             IResultFileDialogs& dialogs, ESortType sortMode,
                             const ICollation& collation = defaultCollation());

}  // namespace kyvo
