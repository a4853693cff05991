// The archive window's trend chart over a real SQLite archive: what it
// shows for the filter, the mouse on it, and the summary report it writes.
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "archive/Archive.h"
#include "report/tests/PdfText.h"
#include "ui/ArchiveView.h"
#include "ui/TrendChartView.h"

namespace kyvo::test {

namespace {

// 120 measurements a day apart of two tests on three devices and two lots;
// every tenth CRP is only a text, every 25th invalid.
void fillTrendArchive(const std::string& location) {
    auto archive = OpenArchive(location);
    for (int device = 0; device < 3; ++device) {
        std::vector<TMeasureSet> sets;
        for (int n = device; n < 120; n += 3) {
            TMeasureSet s;
            char id[64];
            std::snprintf(id, sizeof id, "12 3 1 7 1807 %04d %d", 40 + device, 34000000 + n);
            s.TestID = id;
            s.TestName = n % 4 == 0 ? "HbA1c" : "CRP quantitative";
            s.LotNr = n % 2 ? "L1" : "L2";
            const QDate day = QDate(2026, 1, 1).addDays(n);
            setDateData(s.DateTime, std::uint8_t(day.year() - 2000), std::uint8_t(day.month()),
                        std::uint8_t(day.day()), 9, 0, 0);
            const bool invalid = n % 25 == 0;
            const std::string value = n % 10 == 0 ? "<5" : std::to_string(5 + n % 13) + ".5";
            s.ResultList.push_back({invalid ? "Invalid" : "Valid",
                                    s.TestName == "HbA1c" ? "HbA1c" : "CRP", value, "mg/l", ""});
            sets.push_back(std::move(s));
        }
        std::vector<const TMeasureSet*> ptrs;
        for (const auto& s : sets) ptrs.push_back(&s);
        char serial[16];
        std::snprintf(serial, sizeof serial, "1807 %04d", 40 + device);
        archive->StoreMany(ptrs, {serial, "V1", "6"}, EArchiveSource::DeviceRead,
                           DefaultActor("ui-test", "0"));
    }
}

struct TrendRig {
    explicit TrendRig(const std::string& location) {
        fillTrendArchive(location);
        rig.user.Values["Archive/Location"] = location;
        rig.Start();
        archive = installArchiveView(rig.window, *rig.main, rig.user, &rig.lang);
        archive->resize(1400, 650);
        archive->show();
        trend = archive->trendChart();
    }
    // Waits for a chart with points on screen.
    bool waitChart() {
        return QTest::qWaitFor(
            [&] {
                QCoreApplication::processEvents();
                return trend->chart().Points > 0 && !trend->canvas()->data().Series.empty();
            },
            10000);
    }
    WindowRig rig;
    TArchiveWindow* archive = nullptr;
    TTrendChartView* trend = nullptr;
};

std::set<std::int64_t> selectedIds(TArchiveWindow* archive) {
    std::set<std::int64_t> ids;
    for (const QModelIndex& i : archive->table()->selectionModel()->selectedRows())
        if (const TArchiveRow* r = archive->model()->rowAt(i.row())) ids.insert(r->Id);
    return ids;
}

}  // namespace

class TrendChartViewTest : public QObject {
    Q_OBJECT
  private slots:
    void theChartShowsTheFilteredResultAndFollowsTheFilter();
    void hoverNamesAClickSelectsTheWheelZoomsAndDraggingMoves();
    void theSummaryReportOfTheFilterHasItsLinesAndCharts();

  private:
    QTemporaryDir dir_;
    std::string location(const char* name) const {
        return "sqlite:" + dir_.filePath(name).toStdString();
    }
};

void TrendChartViewTest::theChartShowsTheFilteredResultAndFollowsTheFilter() {
    const std::string where = location("trend-filter.sqlite");
    TrendRig r(where);
    QVERIFY(r.waitChart());
    QCOMPARE(r.trend->resultPicker()->count(), 2);
    QCOMPARE(r.trend->resultPicker()->itemText(0), QStringLiteral("CRP quantitative - CRP"));
    QCOMPARE(r.trend->resultPicker()->itemText(1), QStringLiteral("HbA1c - HbA1c"));

    // What the chart holds is what the builder makes of the archive's points.
    auto expected = [&](const TArchiveFilter& f, ETrendColour by) {
        TTrendOptions o;
        o.ColourBy = by;
        o.InvalidTexts = {"Invalid"};
        return BuildTrendChart("CRP quantitative", "CRP",
                               OpenArchive(where)->ResultPoints(f, "CRP"), o);
    };
    TArchiveFilter crp;
    crp.Test = "CRP quantitative";
    const TTrendChart all = expected(crp, ETrendColour::Device);
    QCOMPARE(all.Points, std::size_t(90));
    QCOMPARE(r.trend->chart().Points, all.Points);
    QCOMPARE(r.trend->chart().TextOnly, all.TextOnly);
    QVERIFY(all.TextOnly > 0);
    QCOMPARE(r.trend->chart().Invalid, all.Invalid);
    QVERIFY(all.Invalid > 0);
    QCOMPARE(r.trend->canvas()->data().Series.size(), std::size_t(3));
    QCOMPARE(r.trend->canvas()->data().Series[0].Name, std::string("1807 0040"));

    QSignalSpy shown(r.trend, &TTrendChartView::chartShown);
    r.trend->setColourBy(ETrendColour::Lot);
    QTRY_VERIFY(!shown.isEmpty());
    const auto& lots = r.trend->canvas()->data().Series;
    QCOMPARE(lots.size(), std::size_t(2));
    QCOMPARE(lots[0].Name, std::string("L1"));
    QCOMPARE(lots[0].Points.size() + lots[1].Points.size(), all.Points);

    // A lot in the filter: that lot's points only, the result stays chosen.
    shown.clear();
    r.archive->lotField()->setText(QStringLiteral("L2"));
    r.archive->applyFilter();
    QTRY_VERIFY(r.trend->chart().Points > 0 && r.trend->chart().Points < all.Points);
    crp.Lot = "L2";
    QCOMPARE(r.trend->chart().Points, expected(crp, ETrendColour::Lot).Points);
    QCOMPARE(r.trend->resultPicker()->currentText(), QStringLiteral("CRP quantitative - CRP"));
    QCOMPARE(r.trend->canvas()->data().Series.size(), std::size_t(1));

    // The other result.
    QVERIFY(r.trend->chooseResult("HbA1c", "HbA1c"));
    QTRY_COMPARE(r.trend->canvas()->data().Title, std::string("HbA1c - HbA1c"));
}

void TrendChartViewTest::hoverNamesAClickSelectsTheWheelZoomsAndDraggingMoves() {
    TrendRig r(location("trend-mouse.sqlite"));
    QVERIFY(r.waitChart());
    TTrendCanvas* canvas = r.trend->canvas();
    const TChartData& data = canvas->data();
    // A numeric point of the second device.
    int index = 5;
    while (!data.Series[1].Points.at(std::size_t(index)).Value) ++index;
    const TChartPoint& target = data.Series[1].Points[std::size_t(index)];
    const QPoint at = canvas->pointPosition(1, index).toPoint();
    QVERIFY(canvas->hoverText(at).contains(QString::fromStdString(target.Label)));
    QVERIFY(canvas->hoverText(at).contains(QStringLiteral("1807 0041")));

    QTest::mouseClick(canvas, Qt::LeftButton, {}, at);
    QTRY_COMPARE(selectedIds(r.archive), std::set<std::int64_t>{target.MeasurementId});

    // The wheel zooms in around the mouse: the point under it stays there.
    const TChartViewport before = ChartGeometry(QRectF(canvas->rect()), data, canvas->viewport(),
                                                QFontMetricsF(canvas->font(), canvas))
                                      .View;
    QWheelEvent wheel(QPointF(at), canvas->mapToGlobal(QPointF(at)), {}, QPoint(0, 240),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    const TChartViewport zoomed = canvas->viewport();
    QVERIFY(zoomed.Time.Span() < before.Time.Span() * 0.7);
    QVERIFY(zoomed.Value.Span() < before.Value.Span() * 0.7);
    const QPointF still = canvas->pointPosition(1, index);
    QVERIFY(std::abs(still.x() - at.x()) < 1.5 && std::abs(still.y() - at.y()) < 1.5);

    // Dragging moves the chart with the mouse and selects nothing.
    r.archive->table()->clearSelection();
    QTest::mousePress(canvas, Qt::LeftButton, {}, at);
    QTest::mouseMove(canvas, at + QPoint(30, 0));
    QTest::mouseMove(canvas, at + QPoint(60, 20));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, at + QPoint(60, 20));
    const QPointF moved = canvas->pointPosition(1, index);
    QVERIFY(std::abs(moved.x() - (at.x() + 60)) < 1.5 && std::abs(moved.y() - (at.y() + 20)) < 1.5);
    QTest::qWait(50);
    QVERIFY(selectedIds(r.archive).empty());

    r.trend->canvas()->fit();
    QCOMPARE(canvas->viewport(), TChartViewport{});
}

void TrendChartViewTest::theSummaryReportOfTheFilterHasItsLinesAndCharts() {
    TrendRig r(location("trend-summary.sqlite"));
    QVERIFY(r.waitChart());
    r.archive->deviceField()->setText(QStringLiteral("1807 0042"));
    r.archive->applyFilter();
    QTRY_COMPARE(r.archive->model()->totalCount(), std::int64_t(40));
    std::optional<TSummaryReport> got;
    QVERIFY(r.trend->collectSummary([&](TSummaryReport report) { got = std::move(report); }));
    QTRY_VERIFY(got.has_value());
    QCOMPARE(got->Rows.size(), std::size_t(40));
    QCOMPARE(got->Charts.size(), std::size_t(2));
    QVERIFY(got->Scope.find("1807 0042") != std::string::npos);
    for (std::size_t i = 1; i < got->Rows.size(); ++i)
        QVERIFY(got->Rows[i - 1].DateTime <= got->Rows[i].DateTime);

    const QString path = dir_.filePath(QStringLiteral("summary.pdf"));
    QVERIFY(r.trend->writeSummary(path, *got));
    std::string pdfError;
    const auto pages = kyvo::testing::ReadPdfWords(path.toStdString(), &pdfError);
    QVERIFY2(pdfError.empty(), pdfError.c_str());
    QVERIFY(pages.size() >= 3);
    std::string all;
    for (const auto& p : pages) all += p.Text();
    QVERIFY(all.find("CRP quantitative - CRP") != std::string::npos);
    QVERIFY(all.find("HbA1c - HbA1c") != std::string::npos);
    QVERIFY(all.find("1807 0040") == std::string::npos);

    // A selection reports just that.
    r.archive->table()->selectRow(0);
    r.archive->table()->selectRow(1);
    got.reset();
    QVERIFY(r.trend->collectSummary([&](TSummaryReport report) { got = std::move(report); }));
    QTRY_VERIFY(got.has_value());
    QCOMPARE(got->Rows.size(), std::size_t(1));
    QCOMPARE(got->Rows[0].DeviceSerial, std::string("1807 0042"));
}

KYVO_REGISTER_TEST(TrendChartViewTest);

}  // namespace kyvo::test

#include "TrendChartViewTest.moc"
