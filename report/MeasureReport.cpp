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
#include <cstdlib>

#include "files/ResultFileWriter.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QString tr(const TReportInfo& info, const TLangEntry& e) {
    return q(info.Text ? info.Text(e) : EnglishText(e));
}

// Lays text out into width at the painter's position (x, y) and returns the
// height used. Words longer than the width are broken anywhere, so that a
// long device text never runs over the page. Draws nothing when draw is off,
// which measures the height.
qreal drawWrapped(QPainter& p, const QFont& font, const QString& text, qreal x, qreal y,
                  qreal width, Qt::Alignment align = Qt::AlignLeft, bool draw = true) {
    QTextLayout layout(text, font, p.device());
    QTextOption option(align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    qreal height = 0;
    const qreal leading = QFontMetricsF(font, p.device()).leading();
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += leading;
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    if (draw) {
        p.save();
        p.setFont(font);
        layout.draw(&p, QPointF(x, y));
        p.restore();
    }
    return std::max(height, QFontMetricsF(font, p.device()).height());
}

QFont sizedFont(qreal points, bool bold = false) {
    QFont f = QGuiApplication::font();
    f.setPointSizeF(points);
    f.setBold(bold);
    // No ligatures, so that "fi" stays two letters for text search and for
    // copying out of the PDF.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

QString fixedDateTime(const QDateTime& t) {
    // The program's fixed date format, whatever the user's regional settings.
    return t.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss"));
}

struct PageGeometry {
    qreal mm;      // device units per millimetre
    qreal width;   // of the paintable area
    qreal height;  // of the paintable area
};

void paintPage(QPainter& p, const PageGeometry& g, const TMeasureSet& m, const TReportInfo& info,
               const QDateTime& createdAt, int page, int pages) {
    const qreal mm = g.mm;
    const QFont small = sizedFont(8);
    const QFont body = sizedFont(10);
    const QFont bodyBold = sizedFont(10, true);
    const QFont title = sizedFont(16, true);
    const QFont heading = sizedFont(11, true);
    const QPen thin(Qt::black, 0.2 * mm);
    qreal y = 0;

    // Head: program and device.
    QString program = q(info.ProgramName);
    if (!info.ProgramVersion.empty()) program += QStringLiteral(" ") + q(info.ProgramVersion);
    const qreal headW = g.width / 2;
    qreal used = drawWrapped(p, small, program, 0, y, headW);
    if (!info.DeviceSerial.empty() || !info.DeviceFirmware.empty()) {
        const QString device = tr(info, LE_SNFirmware) + QStringLiteral(": ") +
                               q(info.DeviceSerial) + QStringLiteral(" / ") +
                               q(info.DeviceFirmware);
        used = std::max(used, drawWrapped(p, small, device, headW, y, headW, Qt::AlignRight));
    }
    y += used + 1 * mm;
    p.setPen(thin);
    p.drawLine(QPointF(0, y), QPointF(g.width, y));
    y += 4 * mm;

    y += drawWrapped(p, title, tr(info, LE_MeasurementReport), 0, y, g.width) + 4 * mm;

    // Identity, texts and device values.
    const qreal labelW = 48 * mm;
    const QString dateText = q(FormatTsvDate(m.DateTime));
    const std::pair<const TLangEntry*, QString> fields[] = {
        {&LE_TestID, q(m.TestID)},
        {&LE_TestName, q(m.TestName)},
        {&LE_LotNumber, q(m.LotNr)},
        {&LE_DistributorManufacturer, q(m.Distr_Manu)},
        {&LE_DateTime, dateText},
        {&LE_Voltage, q(m.Voltage)},
        {&LE_Temperature, q(m.Temperature)},
    };
    for (const auto& [entry, value] : fields) {
        const qreal h1 = drawWrapped(p, bodyBold, tr(info, *entry), 0, y, labelW - 2 * mm);
        const qreal h2 = drawWrapped(p, body, value, labelW, y, g.width - labelW);
        y += std::max(h1, h2) + 1.2 * mm;
    }
    y += 3 * mm;

    // Result rows.
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
    auto row = [&](const QString(&cells)[5], const QFont& font, bool shaded) {
        qreal h = 0;
        for (int c = 0; c < 5; ++c)
            h = std::max(h, drawWrapped(p, font, cells[c], 0, 0, cols[c].share * g.width - 2 * pad,
                                        Qt::AlignLeft, false));
        h += 2 * pad;
        if (shaded) p.fillRect(QRectF(0, y, g.width, h), QColor(225, 225, 225));
        qreal x = 0;
        for (int c = 0; c < 5; ++c) {
            drawWrapped(p, font, cells[c], x + pad, y + pad, cols[c].share * g.width - 2 * pad);
            x += cols[c].share * g.width;
        }
        y += h;
        p.setPen(thin);
        p.drawLine(QPointF(0, y), QPointF(g.width, y));
    };
    QString head[5];
    for (int c = 0; c < 5; ++c) head[c] = tr(info, *cols[c].title);
    row(head, bodyBold, true);
    for (const TResultSet& r : m.ResultList) {
        const QString cells[5] = {q(r.Validity), q(r.ResultName), q(r.ResultValue), q(r.UnitName),
                                  q(r.ClassName)};
        row(cells, body, false);
    }
    y += 6 * mm;

    // Footer first, so that the comment knows how far it may go.
    const qreal footH = QFontMetricsF(small, p.device()).height();
    const qreal footY = g.height - footH;

    // Line profile, drawn as the window draws it, as vector graphics.
    if (m.ImageData.size() >= 2) {
        y += drawWrapped(p, heading, tr(info, LE_LineProfile), 0, y, g.width) + 2 * mm;
        const QFontMetricsF fm(small, p.device());
        const qreal lw =
            std::max(fm.horizontalAdvance(q(m.ImgMin)), fm.horizontalAdvance(q(m.ImgMax))) + 2 * mm;
        constexpr int kLogicalWidth = 520;
        const qreal boxW = g.width - lw;
        const qreal boxH = std::min(boxW * kLineImageHeight / kLogicalWidth, 70 * mm);
        p.setFont(small);
        p.setPen(Qt::black);
        p.drawText(QRectF(0, y, lw - 1 * mm, footH), Qt::AlignRight | Qt::AlignTop, q(m.ImgMax));
        p.drawText(QRectF(0, y + boxH - footH, lw - 1 * mm, footH),
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
        y += boxH + 6 * mm;
    }

    // The user's comment, cut off where the footer begins.
    const qreal commentTop = y;
    used = drawWrapped(p, bodyBold, tr(info, LE_UserComments), 0, y, g.width);
    y += used + 1 * mm;
    p.save();
    p.setClipRect(QRectF(0, commentTop, g.width, std::max<qreal>(0, footY - 3 * mm - commentTop)));
    drawWrapped(p, body, q(m.UserComment), 0, y, g.width);
    p.restore();

    // Footer: creation time and page count.
    p.setPen(thin);
    p.drawLine(QPointF(0, footY - 1.5 * mm), QPointF(g.width, footY - 1.5 * mm));
    p.setFont(small);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, footY, g.width / 2, footH), Qt::AlignLeft | Qt::AlignVCenter,
               tr(info, LE_ReportCreated) + QStringLiteral(": ") + fixedDateTime(createdAt));
    p.drawText(QRectF(g.width / 2, footY, g.width / 2, footH), Qt::AlignRight | Qt::AlignVCenter,
               tr(info, LE_PageNofM).arg(page).arg(pages));
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
    std::vector<const TMeasureSet*> pages;
    for (const TMeasureSet* s : sets)
        if (s) pages.push_back(s);
    QPainter p;
    if (!p.begin(&device)) return false;
    p.setRenderHint(QPainter::Antialiasing, true);
    const PageGeometry g{device.logicalDpiX() / 25.4, qreal(device.width()),
                         qreal(device.height())};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0 && !device.newPage()) return false;
        paintPage(p, g, *pages[i], info, createdAt, int(i + 1), int(pages.size()));
    }
    return p.end();
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
