#include "report/SummaryReport.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <map>
#include <memory>

#include "files/ResultExport.h"
#include "report/ChartPainter.h"
#include "report/MeasureReport.h"
#include "report/ReportLayout.h"

namespace kyvo {

using namespace report_detail;

namespace {

constexpr std::size_t kColumns = 8;

struct TColumn {
    const TLangEntry* title;
    qreal share;
};
const std::array<TColumn, kColumns> kTable = {{{&LE_DateTime, 0.11},
                                               {&LE_TestName, 0.14},
                                               {&LE_ArchiveLot, 0.08},
                                               {&LE_ArchiveDevice, 0.08},
                                               {&LE_ArchiveResults, 0.26},
                                               {&LE_Validity, 0.08},
                                               {&LE_SummaryQc, 0.06},
                                               {&LE_UserComments, 0.19}}};

QString dateCell(const std::string& iso) {
    QString d = q(iso);
    if (d.size() >= 19 && d[10] == QLatin1Char('T')) d[10] = QLatin1Char(' ');
    return d;
}

QString resultsCell(const std::vector<TResultSet>& results) {
    QStringList lines;
    for (const TResultSet& r : results) {
        QString line = q(r.ResultName);
        if (!line.isEmpty()) line += QStringLiteral(": ");
        line += q(r.ResultValue);
        if (!r.UnitName.empty()) line += QStringLiteral(" ") + q(r.UnitName);
        if (!r.ClassName.empty())
            line += QStringLiteral(" (") + q(r.ClassName) + QStringLiteral(")");
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

// Each different validity once, in the order of the rows.
QString validityCell(const std::vector<TResultSet>& results) {
    QStringList seen;
    for (const TResultSet& r : results)
        if (!r.Validity.empty() && !seen.contains(q(r.Validity))) seen << q(r.Validity);
    return seen.join(QStringLiteral(", "));
}

std::array<QString, kColumns> cellsOf(const TSummaryMeasurement& m, const TReportInfo& info) {
    return {dateCell(m.DateTime),
            q(m.TestName),
            q(m.LotNr),
            q(m.DeviceSerial),
            resultsCell(m.Results),
            validityCell(m.Results),
            m.QcFailed                    ? tr(info, LE_QcFailed)
            : !m.ControlMaterial.empty() ? tr(info, LE_QcControl) + QStringLiteral(": ") +
                                               q(m.ControlMaterial)
                                         : QString(),
            q(m.Comment)};
}

class TTable {
  public:
    TTable(TPageFlow& flow, const TReportInfo& info) : flow_(flow), info_(info) {
        const TPageGeometry& g = flow.G();
        pad_ = 1.2 * g.mm;
        std::array<QString, kColumns> head;
        for (std::size_t c = 0; c < kColumns; ++c) head[c] = tr(info, *kTable[c].title);
        head_ = Lay(head, headFont_);
    }

    void Head() {
        QPainter& p = flow_.P();
        const TPageGeometry& g = flow_.G();
        const qreal h = Height(head_);
        if (flow_.Drawing()) {
            p.fillRect(QRectF(0, flow_.Y, g.width, h), QColor(225, 225, 225));
            DrawCells(head_, {}, {});
        }
        flow_.Y += h;
        Rule();
        headBottom_ = flow_.Y;
    }

    void Row(const TSummaryMeasurement& m) {
        const auto cells = Lay(cellsOf(m, info_), bodyFont_);
        const qreal h = Height(cells);
        if (flow_.Y + h > flow_.Bottom() && flow_.Y > headBottom_ + 0.01) NewPage();
        if (flow_.Y + h <= flow_.Bottom() || flow_.Y > headBottom_ + 0.01) {
            if (flow_.Drawing()) DrawCells(cells, {}, {});
            flow_.Y += h;
            Rule();
            return;
        }
        // Taller than a whole page (a very long comment): each cell goes on
        // where its last whole line ended.
        std::array<int, kColumns> from{};
        for (;;) {
            const qreal room = flow_.Bottom() - flow_.Y - 2 * pad_;
            std::array<int, kColumns> to{};
            qreal used = 0;
            bool more = false;
            for (std::size_t c = 0; c < kColumns; ++c) {
                to[c] = from[c] + cells[c]->LinesFitting(from[c], room);
                used = std::max(used, cells[c]->HeightOf(from[c], to[c]));
                more = more || to[c] < cells[c]->LineCount();
            }
            if (flow_.Drawing()) DrawCells(cells, from, to);
            flow_.Y += used + 2 * pad_;
            Rule();
            if (!more) return;
            from = to;
            NewPage();
        }
    }

  private:
    using TCells = std::array<std::unique_ptr<TWrappedText>, kColumns>;

    TCells Lay(const std::array<QString, kColumns>& texts, const QFont& font) const {
        TCells cells;
        for (std::size_t c = 0; c < kColumns; ++c)
            cells[c] = std::make_unique<TWrappedText>(
                texts[c], font, kTable[c].share * flow_.G().width - 2 * pad_, flow_.P().device());
        return cells;
    }
    qreal Height(const TCells& cells) const {
        qreal h = 0;
        for (const auto& c : cells) h = std::max(h, c->Height());
        return h + 2 * pad_;
    }
    // Lines [from, to) of each cell; both empty: all of them.
    void DrawCells(const TCells& cells, const std::array<int, kColumns>& from,
                   const std::array<int, kColumns>& to) {
        QPainter& p = flow_.P();
        const bool whole = std::all_of(to.begin(), to.end(), [](int n) { return n == 0; });
        p.setPen(Qt::black);
        qreal x = 0;
        for (std::size_t c = 0; c < kColumns; ++c) {
            if (whole)
                cells[c]->Draw(p, x + pad_, flow_.Y + pad_);
            else
                cells[c]->Draw(p, x + pad_, flow_.Y + pad_, from[c], to[c]);
            x += kTable[c].share * flow_.G().width;
        }
    }
    void Rule() {
        if (!flow_.Drawing()) return;
        QPainter& p = flow_.P();
        p.save();
        p.setPen(QPen(QColor(150, 150, 150), 0.15 * flow_.G().mm));
        p.drawLine(QPointF(0, flow_.Y), QPointF(flow_.G().width, flow_.Y));
        p.restore();
    }
    void NewPage() {
        flow_.NewPage();
        Head();
    }

    TPageFlow& flow_;
    const TReportInfo& info_;
    QFont headFont_ = sizedFont(8, true);
    QFont bodyFont_ = sizedFont(8);
    qreal pad_ = 1;
    TCells head_;
    qreal headBottom_ = 0;
};

int layOut(QPainter& p, QPagedPaintDevice& device, const TPageGeometry& g, const TSummaryReport& r,
           const TReportInfo& info, const QDateTime& createdAt, bool drawing, int pages,
           bool& failed) {
    TPageFlow flow(
        p, device, g, drawing, pages,
        [&](TPageFlow& f) { return paintReportHead(f, info, tr(info, LE_SummaryReport)); },
        [&](TPageFlow& f, int page, int count) {
            paintReportFoot(f, info, createdAt, page, count);
        },
        reportFootHeight(p));
    flow.Begin();
    QPaintDevice* dev = p.device();
    const TWrappedText title(tr(info, LE_SummaryReport), sizedFont(14, true), g.width, dev);
    if (drawing) {
        p.setPen(Qt::black);
        title.Draw(p, 0, flow.Y);
    }
    flow.Y += title.Height() + 1.5 * g.mm;
    QString scope = q(r.Scope);
    const QString count = tr(info, LE_SummaryCount).arg(r.Rows.size());
    scope = scope.isEmpty() ? count : scope + QStringLiteral(" · ") + count;
    const TWrappedText scopeText(scope, sizedFont(9), g.width, dev);
    flow.Flow(scopeText, 0);
    flow.Y += 3 * g.mm;

    TTable table(flow, info);
    table.Head();
    for (const TSummaryMeasurement& m : r.Rows) table.Row(m);

    QFont chartFont = sizedFont(9);
    for (const TChartData& chart : r.Charts) {
        flow.NewPage();
        if (drawing) {
            p.save();
            p.setFont(chartFont);
            PaintChart(p, QRectF(0, flow.Y, g.width, flow.Bottom() - flow.Y), chart, {});
            p.restore();
        }
        flow.Y = flow.Bottom();
    }
    flow.Finish();
    failed = flow.Failed();
    return flow.Page();
}

}  // namespace

TSummaryMeasurement SummaryMeasurementOf(const TArchiveRow& row, const TMeasureSet& set) {
    TSummaryMeasurement m;
    m.Id = row.Id;
    m.DateTime = row.DateTime;
    m.TestId = set.TestID;
    m.TestName = set.TestName;
    m.LotNr = set.LotNr;
    m.DeviceSerial = row.DeviceSerial;
    m.Comment = set.UserComment;
    m.Results = set.ResultList;
    m.QcFailed = row.QcFailed;
    if (row.Role == "control") m.ControlMaterial = row.ControlMaterial;
    return m;
}

std::vector<TChartData> SummaryTrendCharts(const std::vector<TSummaryMeasurement>& rows,
                                           const TTrendOptions& options) {
    // Test and result names in the order first met, each with its points.
    std::vector<std::pair<std::string, std::string>> order;
    std::map<std::pair<std::string, std::string>, std::vector<TArchiveResultPoint>> points;
    for (const TSummaryMeasurement& m : rows) {
        // Controls are judged on their own chart, not among the patients.
        if (!m.ControlMaterial.empty()) continue;
        std::vector<std::string> seen;
        for (const TResultSet& r : m.Results) {
            // A measurement holding a name twice counts with its first row.
            if (std::find(seen.begin(), seen.end(), r.ResultName) != seen.end()) continue;
            seen.push_back(r.ResultName);
            const auto key = std::make_pair(m.TestName, r.ResultName);
            auto [it, fresh] = points.try_emplace(key);
            if (fresh) order.push_back(key);
            TArchiveResultPoint p;
            p.Id = m.Id;
            p.TestId = m.TestId;
            p.TestName = m.TestName;
            p.LotNr = m.LotNr;
            p.DateTime = m.DateTime;
            p.DeviceSerial = m.DeviceSerial;
            p.Value = ResultValueNumber(r.ResultValue);
            p.ValueText = r.ResultValue;
            p.Unit = r.UnitName;
            p.Class = r.ClassName;
            p.Validity = r.Validity;
            it->second.push_back(std::move(p));
        }
    }
    std::vector<TChartData> charts;
    for (const auto& key : order) {
        auto& pts = points[key];
        std::stable_sort(pts.begin(), pts.end(),
                         [](const auto& a, const auto& b) { return a.DateTime < b.DateTime; });
        charts.push_back(BuildTrendChart(key.first, key.second, pts, options).Data);
    }
    return charts;
}

TSummaryReport SummaryFromArchive(IArchive& archive, const std::vector<TArchiveRow>& rows,
                                  const std::string& scope, const TTrendOptions& options) {
    TSummaryReport r;
    r.Scope = scope;
    r.Rows.reserve(rows.size());
    for (const TArchiveRow& row : rows)
        r.Rows.push_back(SummaryMeasurementOf(row, archive.Load(row.Id)));
    r.Charts = SummaryTrendCharts(r.Rows, options);
    return r;
}

std::string DescribeFilter(const TArchiveFilter& f, const TextLookup& text) {
    const TextLookup& t = text ? text : TextLookup(EnglishText);
    std::vector<std::string> terms;
    if (!f.Test.empty()) terms.push_back(t(LE_ArchiveTest) + " " + f.Test);
    if (!f.Lot.empty()) terms.push_back(t(LE_ArchiveLot) + " " + f.Lot);
    if (!f.Device.empty()) terms.push_back(t(LE_ArchiveDevice) + " " + f.Device);
    if (!f.From.empty() || !f.To.empty())
        terms.push_back((f.From.empty() ? "…" : f.From) + " – " + (f.To.empty() ? "…" : f.To));
    if (!f.Text.empty()) terms.push_back(t(LE_ArchiveSearch) + " \"" + f.Text + "\"");
    std::string out;
    for (const auto& s : terms) out += (out.empty() ? "" : ", ") + s;
    return out;
}

bool paintSummaryReport(QPagedPaintDevice& device, const TSummaryReport& report,
                        const TReportInfo& info, const QDateTime& createdAt) {
    QPainter p;
    if (!p.begin(&device)) return false;
    p.setRenderHint(QPainter::Antialiasing, true);
    const TPageGeometry g{device.logicalDpiX() / 25.4, qreal(device.width()),
                          qreal(device.height())};
    bool failed = false;
    const int pages = layOut(p, device, g, report, info, createdAt, false, 0, failed);
    layOut(p, device, g, report, info, createdAt, true, pages, failed);
    return p.end() && !failed;
}

bool writeSummaryReportPdf(const QString& path, const TSummaryReport& report,
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
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setPageMargins(QMarginsF(12, 12, 12, 10), QPageLayout::Millimeter);
        writer.setResolution(600);
        writer.setCreator(q(info.ProgramName + " " + info.ProgramVersion).trimmed());
        writer.setTitle(tr(info, LE_SummaryReport));
        painted = paintSummaryReport(writer, report, info, QDateTime::currentDateTime());
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
