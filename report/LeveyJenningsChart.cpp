#include "report/LeveyJenningsChart.h"

#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "files/ResultExport.h"
#include "report/ChartPainter.h"

namespace kyvo {

namespace {

std::string Rules(const std::vector<qc::EQcRule>& rules) {
    std::string out;
    for (qc::EQcRule r : rules) out += (out.empty() ? "" : ", ") + qc::RuleName(r);
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

QtMessageHandler previousHandler = nullptr;

// A program run from a script has no session runtime folder; Qt's remark
// about it is no concern of the chart's reader.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths:"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

std::unique_ptr<QGuiApplication> OffscreenApp() {
    if (QGuiApplication::instance()) return nullptr;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    previousHandler = qInstallMessageHandler(QuietHandler);
    static int argc = 1;
    static char name[] = "kyvo-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

TChartData LeveyJenningsChartData(const qc::TLjSeries& series) {
    const qc::TControlMaterial& m = series.Material;
    TChartData d;
    d.Title = m.Name + " lot " + m.Lot + " (level " + std::to_string(m.Level) + "): " + m.Result +
              " of " + m.Test;
    d.ValueLabel = m.Result;
    d.TextEdgeLabel = "no number";
    TChartSeries s;
    s.Name = "lot " + m.Lot;
    s.Colour = 0;
    for (const qc::TLjPoint& p : series.Points) {
        TChartPoint c;
        c.Time = ChartTimeOfIso(p.DateTime).value_or(0);
        c.Value = p.Value;
        c.Text = p.ValueText;
        c.MeasurementId = p.MeasurementId;
        c.Label = p.DateTime + "  " + p.ValueText + "  " + p.TestId + "  " + p.Device;
        if (!p.Rules.empty()) {
            c.Mark = p.Rejected ? EChartMark::Reject : EChartMark::Warning;
            c.MarkText = Rules(p.Rules);
        }
        s.Points.push_back(std::move(c));
    }
    d.Series.push_back(std::move(s));
    const auto lines = series.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int k = static_cast<int>(i) - 3;  // -3 .. +3 SD
        TChartLine l;
        l.Value = lines[i].first;
        l.Label = lines[i].second + " " + NumberText(lines[i].first);
        l.Style = std::abs(k) == 2   ? EChartLineStyle::Dashed
                  : std::abs(k) == 1 ? EChartLineStyle::Dotted
                                     : EChartLineStyle::Solid;
        // Mean black, 1 SD grey, 2 SD orange, 3 SD vermilion.
        static constexpr TChartColourKey kColour[] = {6, 9, 1, 5};
        l.Colour = kColour[std::abs(k)];
        d.Lines.push_back(std::move(l));
    }
    return d;
}

bool WriteChartsOffscreen(const std::vector<TChartData>& charts, const std::string& path,
                          const std::string& creator, std::string& error) {
    const std::string lower = Lower(path);
    const bool pdf = EndsWith(lower, ".pdf");
    if (!pdf && !EndsWith(lower, ".png")) {
        error = "the chart goes into a file ending in .pdf or .png";
        return false;
    }
    if (charts.empty()) {
        error = "there is no chart to write";
        return false;
    }
    const auto app = OffscreenApp();
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    bool drawn = false;
    if (pdf) {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setCreator(QString::fromStdString(creator));
        writer.setTitle(QString::fromStdString(charts.front().Title));
        QPainter p;
        drawn = p.begin(&writer);
        for (std::size_t i = 0; drawn && i < charts.size(); ++i) {
            if (i > 0 && !writer.newPage()) drawn = false;
            if (!drawn) break;
            QFont f = p.font();
            f.setPointSizeF(9);
            p.setFont(f);
            PaintChart(p, QRectF(0, 0, writer.width(), writer.height()), charts[i], {});
        }
        drawn = p.end() && drawn;
    } else {
        constexpr int kWidth = 1400;
        constexpr int kHeight = 600;
        QImage image(kWidth, kHeight * static_cast<int>(charts.size()), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        for (std::size_t i = 0; i < charts.size(); ++i) {
            PaintChart(p, QRectF(0, kHeight * static_cast<int>(i), kWidth, kHeight), charts[i], {});
        }
        drawn = p.end() && image.save(&file, "PNG");
    }
    if (!drawn) {
        file.cancelWriting();
        error = "the chart could not be drawn into " + path;
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace kyvo
