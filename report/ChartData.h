// What a chart shows, apart from how it is drawn: series of points over time
// (or over a running number), bands behind them, horizontal reference lines
// and the ranges of both axes. Standard types only, so that code without Qt
// (quality control, the trend builder) can fill it; report/ChartPainter.h
// draws it.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kyvo {

// A colour of the chart palette (ChartPalette in ChartPainter.h): the same key
// gives the same colour on screen, on paper and in every chart.
using TChartColourKey = int;

enum class EChartMark : std::uint8_t {
    None,
    Warning,  // drawn as an open ring
    Reject,   // drawn as a filled ring
};

struct TChartPoint {
    // Seconds since 1970-01-01 00:00 of the measurement's own clock, read as
    // UTC so that no time zone or summer time shifts a point; with
    // EChartXAxis::Sequence the running number.
    double Time = 0;
    // Empty for a value that is only a text ("<5", "FAIL"): such points sit
    // in a strip at the chart's upper edge, at their time, with their text.
    std::optional<double> Value;
    std::string Text;  // the value as measured
    std::int64_t MeasurementId = 0;
    std::string Label;     // what hovering names
    bool Invalid = false;  // drawn as a cross apart from the series' line
    EChartMark Mark = EChartMark::None;
    std::string MarkText;  // "1-3s, 2-2s": written beside a marked point
};

struct TChartSeries {
    std::string Name;  // the legend's text
    TChartColourKey Colour = 0;
    bool Connect = true;  // a line through the valid numeric points, in order
    std::vector<TChartPoint> Points;
};

// A horizontal band behind the points, for example a result's class from its
// lower to its upper limit; an open end is -/+ infinity.
struct TChartBand {
    double Low = -std::numeric_limits<double>::infinity();
    double High = std::numeric_limits<double>::infinity();
    std::string Label;
    TChartColourKey Colour = 0;
};

enum class EChartLineStyle : std::uint8_t { Solid, Dashed, Dotted };

// A horizontal line across the chart with its label at the right end (a
// mean, +2 SD).
struct TChartLine {
    double Value = 0;
    std::string Label;
    EChartLineStyle Style = EChartLineStyle::Solid;
    TChartColourKey Colour = 0;
};

struct TChartRange {
    double Min = 0;
    double Max = 0;
    bool Empty() const { return !(Max > Min); }
    double Span() const { return Max - Min; }
    bool operator==(const TChartRange&) const = default;
};

enum class EChartXAxis : std::uint8_t {
    DateTime,  // Time in seconds, labelled as dates and times
    Sequence,  // Time is a running number, labelled as such
};

struct TChartData {
    std::string Title;
    std::string ValueLabel;  // the value axis, for example the unit
    EChartXAxis XAxis = EChartXAxis::DateTime;
    std::vector<TChartSeries> Series;
    std::vector<TChartBand> Bands;
    std::vector<TChartLine> Lines;
    std::string TextEdgeLabel;  // names the strip of text-only values
};

// The part of the data a chart shows. Empty ranges: everything.
struct TChartViewport {
    TChartRange Time;
    TChartRange Value;
    bool operator==(const TChartViewport&) const = default;
};

// The extent of all points' times, and of the numeric values together with
// the reference lines and the finite band limits; ranges of one value or
// none are widened so that they never have zero width.
TChartRange ChartTimeExtent(const TChartData& data);
TChartRange ChartValueExtent(const TChartData& data);

// The viewport with its empty ranges filled from the data, with a margin
// around the values.
TChartViewport FittedViewport(const TChartData& data, const TChartViewport& view = {});

// Zooms by factor (> 1 shows less) around the fractions (0..1, from the left
// and from the bottom) of the present viewport that stay where they are.
// zoomTime / zoomValue choose the axes.
TChartViewport ZoomViewport(const TChartViewport& view, double factor, double atTime,
                            double atValue, bool zoomTime = true, bool zoomValue = true);
// Moves the viewport by fractions of its width and height.
TChartViewport PanViewport(const TChartViewport& view, double byTime, double byValue);

// Seconds since 1970 of an ISO local date and time ("2026-03-05T10:11:12",
// "2026-03-05 10:11", "2026-03-05"), read as UTC; empty when it is none.
std::optional<double> ChartTimeOfIso(const std::string& iso);

}  // namespace kyvo
