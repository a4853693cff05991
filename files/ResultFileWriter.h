// Writing result files: one header line and one tab-separated line per
// measurement, UTF-16 LE with BOM and CR LF, every field followed by a tab.
// Saving merges into an existing file: lines of known measurements are
// updated, new measurements appended, nothing else is touched. A comment in
// the file survives an update by a set without a comment of its own (a
// measurement read again from the device); one the user edited or cleared in
// the list (TMeasureSet::CommentEdited) replaces it.
#pragma once

#include <string>

#include "files/ResultFileReader.h"
#include "testdata/MeasureSet.h"

namespace kyvo {

// The header line of a layout, without line end. Titles come from text in
// the present language; numbered titles get a blank and 1 to 10.
std::string BuildTsvHeader(ETSVVersion layout, const TextLookup& text = EnglishText);

// One measurement line of a layout, without line end. Numbers and dates use
// the program's fixed format, never the user's regional settings. A tab or
// line break inside a text would break the file's columns and is written as
// a blank. Results beyond ten and lines beyond ten are not written.
std::string FormatMeasureRow(const TMeasureSet& set, ETSVVersion layout);

// "MM/dd/yyyy hh:nn:ss" (just the date at midnight) for a calendar date,
// else the number text of the first four bytes.
std::string FormatTsvDate(const TDateData& date);
// "%.2f" with "." as separator; INF, -INF and NAN for the special values.
std::string FormatTsvFloat(float value);

enum class ESaveMode : std::uint8_t {
    Interactive = 0,  // the user chooses the file and is asked
    LastFile = 1,     // the file last chosen, always merged
    Tracking = 3,     // the tracking file, always merged
};

struct TSaveRequest {
    ESaveMode Mode = ESaveMode::Interactive;
    ETSVVersion Layout = TSVVLong;  // the layout the settings select
    std::string LastFile;           // LastFile mode: the save dialog's present folder and name
    std::string TrackingFile;       // Tracking mode: as the settings give it
};

enum class ESaveResult {
    Saved,
    Cancelled,     // dialog or question cancelled: nothing written
    Incompatible,  // another layout in LastFile or Tracking mode: nothing written
    Failed,        // the file could not be read, locked or written; it is unchanged
};

struct TSaveOutcome {
    ESaveResult Result = ESaveResult::Saved;
    std::string Path;   // the file saved (or tried)
    std::string Error;  // system reason of Failed, for the caller to show
};

// Saves the whole list. A file another instance is writing is reported as in
// use (language entry 556) and then chosen again (Interactive) or tried again
// (the other modes) after the user's OK. The file is replaced in one step,
// never left half written.
TSaveOutcome SaveMeasureList(const TMeasureList& list, const TSaveRequest& request,
                             IResultFileDialogs& dialogs, const TextLookup& text = EnglishText);

}  // namespace kyvo
