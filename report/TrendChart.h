// The trend of one result over the filtered archive measurements, as chart
// data: one point per measurement in time order, one series (and colour) per
// device or per lot, invalid measurements marked apart, values that are only
// texts kept at the chart's upper edge, and the result's classes as bands
// where the test configuration gives their limits. No drawing here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "report/ChartData.h"
#include "testdata/TestConfiguration.h"

namespace kyvo {

enum class ETrendColour : std::uint8_t { Device, Lot };

// A class of a result: values from Low (inclusive) to High (exclusive).
struct TTrendClass {
    std::string Name;
    double Low = 0;
    double High = 0;
    bool operator==(const TTrendClass&) const = default;
};

// The classes of the result named resultName in cfg, in ascending order, by
// the device's rule: a value belongs to the class with the smallest limit
// above it. The lowest class is open downwards; a limit of 2^32 or more
// never wins and makes no class. Empty when the result has none or is not
// in cfg.
std::vector<TTrendClass> TrendClassesOf(const TTestConfig& cfg, const std::string& resultName);

struct TTrendOptions {
    ETrendColour ColourBy = ETrendColour::Device;
    std::vector<TTrendClass> Classes;
    // Validity texts that mark a measurement invalid, in any language the
    // archive may hold ("Invalid" and the user's language's word).
    std::vector<std::string> InvalidTexts = {"Invalid"};
    // Whether a point belongs in the trend; empty keeps every point. Where a
    // measurement's role is known, controls are kept out here.
    std::function<bool(const TArchiveResultPoint&)> Keep;
    std::string TextEdgeLabel;  // names the strip of text-only values
};

struct TTrendChart {
    TChartData Data;
    std::size_t Points = 0;       // drawn, numeric and text-only
    std::size_t TextOnly = 0;     // of those, at the upper edge
    std::size_t Invalid = 0;      // of those, marked invalid
    std::size_t WithoutDate = 0;  // no calendar date: cannot sit on a time axis
    std::size_t KeptOut = 0;      // refused by Keep
};

// points as IArchive::ResultPoints gives them (oldest first).
TTrendChart BuildTrendChart(const std::string& testName, const std::string& resultName,
                            const std::vector<TArchiveResultPoint>& points,
                            const TTrendOptions& options);

}  // namespace kyvo
