// What a report says besides the measurements; standard types only, so that
// front ends without Qt can fill it.
#pragma once

#include <string>
#include <vector>

#include "testdata/MeasureSet.h"

namespace kyvo {

struct TReportInfo {
    std::string ProgramName;
    std::string ProgramVersion;
    std::string DeviceSerial;    // empty when not known
    std::string DeviceFirmware;  // empty when not known
    TextLookup Text = EnglishText;
};

// For a program without a window: starts an offscreen Qt application when
// none runs, writes the PDF report to path (A4 or Letter by the user's
// locale) and returns false with error set on failure.
bool WriteReportPdfOffscreen(const std::vector<const TMeasureSet*>& sets, const TReportInfo& info,
                             const std::string& path, std::string& error);

}  // namespace kyvo
