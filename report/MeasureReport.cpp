#include "report/MeasureReport.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <array>
#include <cstdlib>

#include "files/ResultFileWriter.h"
#include "report/ReportLayout.h"

namespace kyvo {

using namespace report_detail;

namespace {

// The device's voltage is in millivolts, its temperature in degrees Celsius;
// a value the measurement lacks stays empty.
QString withUnit(const std::string& value, const char* unit) {
    return value.empty() ? QString() : q(value) + QStringLiteral(" ") + QString::fromUtf8(unit);
}

QString deviceText(const TReportInfo& info) {
    if (info.DeviceSerial.empty() && info.DeviceFirmware.empty()) return {};
    return tr(info, LE_SNFirmware) + QStringLiteral(": ") + q(info.DeviceSerial) +
           QStringLiteral(" / ") + q(info.DeviceFirmware);
}

// One measurement from the top of a new page on; long content continues on
// the following pages, never into the foot.
void paintMeasurement(TPageFlow& flow, const TMeasureSet& m, const TReportInfo& info) {
    QPainter& p = flow.P();
    const TPageGeometry& g = flow.G();
    const qreal mm = g.mm;
    const bool draw = flow.Drawing();
    const QFont small = sizedFont(8);
    const QFont body = sizedFont(10);
    const QFont bodyBold = sizedFont(10, true);
    const QFont title = sizedFont(16, true);
    const QFont heading = sizedFont(11, true);
    const QPen thin(Qt::black, 0.2 * mm);
    QPaintDevice* dev = p.device();

    const TWrappedText titleText(tr(info, LE_MeasurementReport), title, g.width, dev);
    flow.Need(titleText.Height());
    flow.Flow(titleText, 0);
    flow.Y += 4 * mm;

    // Identity, texts and device values.
    const qreal labelW = 48 * mm;
    const std::pair<const TLangEntry*, QString> fields[] = {
        {&LE_TestID, q(m.TestID)},
        {&LE_TestName, q(m.TestName)},
        {&LE_LotNumber, q(m.LotNr)},
        {&LE_DistributorManufacturer, q(m.Distr_Manu)},
        {&LE_DateTime, q(FormatTsvDate(m.DateTime))},
        {&LE_Voltage, withUnit(m.Voltage, "mV")},
        {&LE_Temperature, withUnit(m.Temperature, "\u00b0C")},
    };
    for (const auto& [entry, value] : fields) {
        const TWrappedText label(tr(info, *entry), bodyBold, labelW - 2 * mm, dev);
        const TWrappedText text(value, body, g.width - labelW, dev);
        flow.Need(std::max(label.Height(), text.HeightOf(0, 1)));
        if (draw) label.Draw(p, 0, flow.Y);
        const qreal top = flow.Y;
        flow.Flow(text, labelW);
        flow.Y = std::max(flow.Y, top + label.Height()) + 1.2 * mm;
    }
    flow.Y += 3 * mm;

    // Result rows; a row never parts, and the column heads come again on a
    // new page.
    struct Column {
        const TLangEntry* title;
        qreal share;
    };
    const Column cols[] = {{&LE_Validity, 0.16},
                           {&LE_ResultName, 0.32},
                           {&LE_Result, 0.18},
                           {&LE_ResultUnit, 0.16},
                           {&LE_Class, 0.18}};
    const qreal pad = 1.5 * mm;
    auto rowHeight = [&](const QString(&cells)[5], const QFont& font) {
        qreal h = 0;
        for (int c = 0; c < 5; ++c)
            h = std::max(
                h, TWrappedText(cells[c], font, cols[c].share * g.width - 2 * pad, dev).Height());
        return h + 2 * pad;
    };
    auto row = [&](const QString(&cells)[5], const QFont& font, bool shaded) {
        const qreal h = rowHeight(cells, font);
        if (draw) {
            if (shaded) p.fillRect(QRectF(0, flow.Y, g.width, h), QColor(225, 225, 225));
            qreal x = 0;
            p.setPen(Qt::black);
            for (int c = 0; c < 5; ++c) {
                TWrappedText(cells[c], font, cols[c].share * g.width - 2 * pad, dev)
                    .Draw(p, x + pad, flow.Y + pad);
                x += cols[c].share * g.width;
            }
            p.setPen(thin);
            p.drawLine(QPointF(0, flow.Y + h), QPointF(g.width, flow.Y + h));
        }
        flow.Y += h;
    };
    QString head[5];
    for (int c = 0; c < 5; ++c) head[c] = tr(info, *cols[c].title);
    const qreal headH = rowHeight(head, bodyBold);
    auto cellsOf = [](const TResultSet& r) {
        return std::array<QString, 5>{q(r.Validity), q(r.ResultName), q(r.ResultValue),
                                      q(r.UnitName), q(r.ClassName)};
    };
    // The heads stay with the first row.
    {
        qreal first = 0;
        if (!m.ResultList.empty()) {
            const auto a = cellsOf(m.ResultList.front());
            const QString cells[5] = {a[0], a[1], a[2], a[3], a[4]};
            first = rowHeight(cells, body);
        }
        flow.Need(headH + first);
        row(head, bodyBold, true);
    }
    for (const TResultSet& r : m.ResultList) {
        const auto a = cellsOf(r);
        const QString cells[5] = {a[0], a[1], a[2], a[3], a[4]};
        const qreal h = rowHeight(cells, body);
        if (flow.Y + h > flow.Bottom() && !flow.AtTop()) {
            flow.NewPage();
            row(head, bodyBold, true);
        }
        row(cells, body, false);
    }
    flow.Y += 6 * mm;

    // Line profile, drawn as the window draws it, as vector graphics.
    if (m.ImageData.size() >= 2) {
        const TWrappedText headText(tr(info, LE_LineProfile), heading, g.width, dev);
        const QFontMetricsF fm(small, dev);
        const qreal lw =
            std::max(fm.horizontalAdvance(q(m.ImgMin)), fm.horizontalAdvance(q(m.ImgMax))) + 2 * mm;
        constexpr int kLogicalWidth = 520;
        const qreal boxW = g.width - lw;
        const qreal boxH = std::min(boxW * kLineImageHeight / kLogicalWidth, 70 * mm);
        flow.Need(headText.Height() + 2 * mm + boxH);
        if (draw) headText.Draw(p, 0, flow.Y);
        flow.Y += headText.Height() + 2 * mm;
        if (draw) {
            const qreal y = flow.Y;
            const qreal textH = fm.height();
            p.setFont(small);
            p.setPen(Qt::black);
            p.drawText(QRectF(0, y, lw - 1 * mm, textH), Qt::AlignRight | Qt::AlignTop,
                       q(m.ImgMax));
            p.drawText(QRectF(0, y + boxH - textH, lw - 1 * mm, textH),
                       Qt::AlignRight | Qt::AlignBottom, q(m.ImgMin));
            const std::vector<std::uint8_t> values(m.ImageData.begin(), m.ImageData.end());
            p.save();
            p.translate(lw, y);
            p.scale(boxW / kLogicalWidth, boxH / kLineImageHeight);
            paintLineProfile(p, values, lineMarksOf(m), kLogicalWidth);
            p.restore();
            p.setPen(thin);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(lw, y, boxW, boxH));
        }
        flow.Y += boxH + 6 * mm;
    }

    // The user's comment, on as many pages as it takes.
    const TWrappedText commentHead(tr(info, LE_UserComments), bodyBold, g.width, dev);
    const TWrappedText comment(q(m.UserComment), body, g.width, dev);
    flow.Need(commentHead.Height() + 1 * mm + comment.HeightOf(0, 1));
    if (draw) {
        p.setPen(Qt::black);
        commentHead.Draw(p, 0, flow.Y);
    }
    flow.Y += commentHead.Height() + 1 * mm;
    if (draw) p.setPen(Qt::black);
    flow.Flow(comment, 0);
}

// Lays the sets out once; draws when drawing. Returns the pages used.
int layOut(QPainter& p, QPagedPaintDevice& device, const TPageGeometry& g,
           const std::vector<const TMeasureSet*>& sets, const TReportInfo& info,
           const QDateTime& createdAt, bool drawing, int pages, bool& failed) {
    const QString device_ = deviceText(info);
    TPageFlow flow(
        p, device, g, drawing, pages,
        [&](TPageFlow& f) { return paintReportHead(f, info, device_); },
        [&](TPageFlow& f, int page, int count) {
            paintReportFoot(f, info, createdAt, page, count);
        },
        reportFootHeight(p));
    flow.Begin();
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (i > 0) flow.NewPage();
        paintMeasurement(flow, *sets[i], info);
    }
    flow.Finish();
    failed = flow.Failed();
    return flow.Page();
}

}  // namespace

std::vector<LineMark> lineMarksOf(const TMeasureSet& set) {
    std::vector<LineMark> lines;
    for (const TLineResult& l : set.MeasureResult.Lines())
        lines.push_back({int(l.CenterPositionAbsolut), int(l.Width)});
    return lines;
}

QPageSize reportPageSize(const QLocale& locale) {
    return QPageSize(locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                             : QPageSize::A4);
}

bool paintMeasureReport(QPagedPaintDevice& device, const std::vector<const TMeasureSet*>& sets,
                        const TReportInfo& info, const QDateTime& createdAt) {
    std::vector<const TMeasureSet*> present;
    for (const TMeasureSet* s : sets)
        if (s) present.push_back(s);
    QPainter p;
    if (!p.begin(&device)) return false;
    p.setRenderHint(QPainter::Antialiasing, true);
    const TPageGeometry g{device.logicalDpiX() / 25.4, qreal(device.width()),
                          qreal(device.height())};
    bool failed = false;
    const int pages = layOut(p, device, g, present, info, createdAt, false, 0, failed);
    layOut(p, device, g, present, info, createdAt, true, pages, failed);
    return p.end() && !failed;
}

bool writeMeasureReportPdf(const QString& path, const std::vector<const TMeasureSet*>& sets,
                           const TReportInfo& info, const QPageSize& pageSize, std::string& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setPageSize(pageSize);
        writer.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
        writer.setResolution(600);
        writer.setCreator(q(info.ProgramName + " " + info.ProgramVersion).trimmed());
        writer.setTitle(tr(info, LE_MeasurementReport));
        painted = paintMeasureReport(writer, sets, info, QDateTime::currentDateTime());
    }
    if (!painted) {
        file.cancelWriting();
        error = "the report could not be drawn";
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace kyvo
