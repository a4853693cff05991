// The Levey-Jennings chart of a control material as chart data, one chart
// per lot (each lot has its own targets): the control values in time order
// against the lot's mean and +-1, 2, 3 SD lines, the values where a rule
// fired marked with the rules' names, text-only values at the upper edge.
// And, for kyvo-cli, the charts written into a PDF (a page per lot) or a PNG
// (the lots one below the other) without a display.
#pragma once

#include <string>
#include <vector>

#include "qc/LeveyJennings.h"
#include "report/ChartData.h"

namespace kyvo {

TChartData LeveyJenningsChartData(const qc::TLjSeries& series);

// path ending in .pdf or .png (any case); false with error on another ending
// or when the file cannot be written (nothing is left behind then). Starts
// an offscreen Qt application when none runs.
bool WriteChartsOffscreen(const std::vector<TChartData>& charts, const std::string& path,
                          const std::string& creator, std::string& error);

}  // namespace kyvo
