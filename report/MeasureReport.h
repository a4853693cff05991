// The printable measurement report: one page per measurement with its
// identity, texts, device values, result rows, line profile and comment,
// for a PDF file or a printer.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QString>
#include <string>
#include <vector>

#include "report/LineImage.h"
#include "report/ReportInfo.h"
#include "testdata/MeasureSet.h"

namespace kyvo {

// A4, or Letter where the locale measures in the US system.
QPageSize reportPageSize(const QLocale& locale);

// Paints one page per set onto device (a QPdfWriter or a QPrinter whose
// page size is already set), starting on the device's present page.
// createdAt goes into every footer. False when painting cannot begin
// (the printer or file is not usable).
bool paintMeasureReport(QPagedPaintDevice& device, const std::vector<const TMeasureSet*>& sets,
                        const TReportInfo& info, const QDateTime& createdAt);

// Writes the report as a PDF file at path, replacing it in one step so that
// a failure never leaves half a file. error receives the reason of a failure.
bool writeMeasureReportPdf(const QString& path, const std::vector<const TMeasureSet*>& sets,
                           const TReportInfo& info, const QPageSize& pageSize, std::string& error);

// The line marks of a set, as the window draws them.
std::vector<LineMark> lineMarksOf(const TMeasureSet& set);

}  // namespace kyvo
