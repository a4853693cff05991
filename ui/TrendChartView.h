// The archive window's trend chart beside its table: one result of the
// filtered measurements over time, coloured by device or lot. The wheel
// zooms (Shift: the values only, Ctrl: the time only), dragging moves, a
// double click fits the chart again; hovering names the measurement and a
// click selects its row in the table.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "report/ChartData.h"
#include "report/ChartPainter.h"
#include "report/SummaryReport.h"
#include "report/TrendChart.h"

namespace kyvo {

class TArchiveWindow;

// The drawing surface: paints a chart with report/ChartPainter and turns
// the mouse into zoom, pan, hover and click.
class TTrendCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit TTrendCanvas(QWidget* parent = nullptr);
    void setData(TChartData data);
    const TChartData& data() const { return data_; }
    const TChartViewport& viewport() const { return view_; }
    void setViewport(const TChartViewport& view);
    // Shows every point again.
    void fit();
    // Where the point is drawn now (for tests and screenshots).
    QPointF pointPosition(int series, int point) const;
    // The hover text at pos (empty when no point is near).
    QString hoverText(const QPointF& pos) const;

  signals:
    void measurementClicked(std::int64_t id);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    TChartHit hitAt(const QPointF& pos) const;
    TChartData data_;
    TChartViewport view_;
    QPointF pressAt_;
    TChartViewport pressView_;
    bool pressed_ = false;
    bool dragged_ = false;
};

class TTrendChartView : public QWidget {
    Q_OBJECT
  public:
    TTrendChartView(TArchiveWindow& window, ILanguage* language);

    // The window's filter changed (or the archive did): the result names
    // and the points are asked for again.
    void filterChanged();
    void applyTexts();

    // Which result of which test is shown; false when the picker does not
    // hold it.
    bool chooseResult(const std::string& test, const std::string& result);
    void setColourBy(ETrendColour by);

    QComboBox* resultPicker() const { return picker_; }
    QComboBox* colourPicker() const { return colour_; }
    TTrendCanvas* canvas() const { return canvas_; }
    QLabel* countsLine() const { return counts_; }
    // The last chart as the builder made it.
    const TTrendChart& chart() const { return chart_; }

    // The most points one chart shows: the newest ones of the filter.
    static constexpr std::size_t kMaxPoints = 20000;
    // The newest measurements whose result names the picker offers.
    static constexpr std::size_t kNamesOf = 5000;

    // The summary report of the selected measurements, or of the filter's
    // when none is selected (at most kMaxSummary), into a PDF file the
    // person chooses.
    void reportSummary();
    // Gathers that report in the background and hands it to then; false
    // (after a message) when there is nothing or too much to report.
    bool collectSummary(std::function<void(TSummaryReport)> then);
    // Writes it; false after a message naming the failure.
    bool writeSummary(const QString& path, const TSummaryReport& report);
    static constexpr std::int64_t kMaxSummary = 5000;

  signals:
    // A new chart is on screen (for tests and screenshots).
    void chartShown();

  private:
    std::string lang(const TLangEntry& e) const;
    void loadPoints();
    void rebuild();
    void selectMeasurement(std::int64_t id);
    TTrendOptions trendOptions() const;

    TArchiveWindow& window_;
    ILanguage* language_;
    QComboBox* picker_;
    QComboBox* colour_;
    QPushButton* fit_;
    QLabel* counts_;
    QLabel* hint_;
    TTrendCanvas* canvas_;
    std::vector<TArchiveResultName> names_;
    std::vector<TArchiveResultPoint> points_;
    TTrendChart chart_;
    // Answers of an older filter or result are dropped.
    unsigned generation_ = 0;
    bool filling_ = false;
};

}  // namespace kyvo
