// Quality control in the window: the Levey-Jennings chart data as the view
// builds it, the failed control a QC flag names, and the window's QC parts
// over a real SQLite archive whose controls break a rule.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "archive/Archive.h"
#include "qc/LeveyJennings.h"
#include "ui/ArchiveView.h"
#include "ui/FormSelect.h"
#include "ui/InputQuery.h"
#include "ui/QcMaterials.h"
#include "ui/QcView.h"
#include "ui/QcViewModel.h"

namespace kyvo::test {

namespace {

qc::TControlMaterial material(std::int64_t id, const std::string& lot, double mean, double sd,
                              const std::string& opened) {
    qc::TControlMaterial m;
    m.Id = id;
    m.Name = "CRP-L1";
    m.Test = "CRP quantitative";
    m.Result = "CRP";
    m.Lot = lot;
    m.Level = 1;
    m.Mean = mean;
    m.Sd = sd;
    m.Opened = opened;
    return m;
}

qc::TControlPoint point(std::int64_t id, std::int64_t materialId, const std::string& day,
                        std::optional<double> value, const std::string& device = "1807 0042") {
    qc::TControlPoint p;
    p.MeasurementId = id;
    p.TestId = "T" + std::to_string(id);
    p.DateTime = day + "T08:00:00";
    p.Device = device;
    p.MaterialId = materialId;
    p.Value = value;
    p.ValueText = value ? QString::number(*value).toStdString() : "FAIL";
    return p;
}

// Lot A (mean 10, SD 1): a 1-2s warning on the 2nd, a 1-3s reject on the
// 4th value, a value without a number last. Lot B (mean 20, SD 2) from
// March: one value, then a 1-3s.
struct TTwoLots {
    std::vector<qc::TControlMaterial> Materials{material(1, "A", 10, 1, "2026-02-01"),
                                                material(2, "B", 20, 2, "2026-03-01")};
    std::vector<qc::TControlPoint> Points{
        point(11, 1, "2026-02-02", 10.2),         point(12, 1, "2026-02-03", 12.5),
        point(13, 1, "2026-02-04", 9.5),          point(14, 1, "2026-02-05", 13.5),
        point(15, 1, "2026-02-06", std::nullopt), point(21, 2, "2026-03-02", 21),
        point(22, 2, "2026-03-03", 26.5)};
    std::vector<qc::TQcViolation> Violations = qc::EvaluateWestgard(Materials, Points);
    std::vector<qc::TLjSeries> Lots =
        qc::BuildLeveyJennings(Materials, Points, Violations, "CRP-L1");
};

// A measurement of the archive: test CRP on reader 1807 0042 at day.
TMeasureSet measurement(int n, const std::string& day, const std::string& value,
                        const std::string& patientId = "") {
    TMeasureSet s;
    s.TestID = "12 3 1 7 1807 0042 " + std::to_string(34100000 + n);
    s.TestName = "CRP quantitative";
    s.LotNr = "L2026-11";
    s.Distr_Manu = "Kyvo Diagnostics";
    const QDate d = QDate::fromString(QString::fromStdString(day), Qt::ISODate);
    setDateData(s.DateTime, std::uint8_t(d.year() - 2000), std::uint8_t(d.month()),
                std::uint8_t(d.day()), 8, 0, 0);
    s.PatientID = patientId;
    s.ResultList.push_back({"Valid", "CRP", value, "mg/l", "normal"});
    return s;
}

// An archive where the control on day 4 breaks 1-3s: patient P1 on day 5
// is under it, the control on day 6 passes, patient P2 on day 7 is not.
// Controls 1..4 and 6 are marked; 8 is a measurement without a role.
void fillQcArchive(const std::string& location) {
    auto a = OpenArchive(location);
    const TArchiveActor actor = DefaultActor("ui-test", "0");
    std::vector<TMeasureSet> sets = {
        measurement(1, "2026-02-02", "10.2"),      measurement(2, "2026-02-03", "12.5"),
        measurement(3, "2026-02-04", "9.5"),       measurement(4, "2026-02-05", "13.5"),
        measurement(5, "2026-02-06", "7.0", "P1"), measurement(6, "2026-02-07", "10.1"),
        measurement(7, "2026-02-08", "3.0", "P2"), measurement(8, "2026-02-09", "10.0")};
    for (const TMeasureSet& s : sets)
        a->Store(s, {"1807 0042", "V1.5", "6"}, EArchiveSource::DeviceRead, actor);
    a->AddMaterial(material(0, "C-1", 10, 1, "2026-02-01"), actor);
    for (int n : {1, 2, 3, 4, 6})
        a->SetRole(*a->FindByTestId(sets[std::size_t(n - 1)].TestID), "control", "CRP-L1", actor);
}

std::string testIdOf(int n) {
    return measurement(n, "2026-02-02", "").TestID;
}

// The window, its archive window and its QC parts over one archive.
struct QcRig {
    explicit QcRig(const std::string& location) {
        rig.user.Values["Archive/Location"] = location;
        rig.Start();
        archive = installArchiveView(rig.window, *rig.main, rig.user, &rig.lang);
        qc =
            installQcView(*archive, rig.window, *rig.main, &rig.lang, DefaultActor("ui-test", "0"));
        archive->resize(1200, 600);
    }
    // Shows the archive window and waits for its rows and the QC overview.
    bool showArchive() {
        QSignalSpy reloaded(qc, &TQcWindow::reloaded);
        archive->show();
        return QTest::qWaitFor(
                   [&] {
                       QCoreApplication::processEvents();
                       return archive->model()->counted() &&
                              (archive->model()->rowCount() == 0 || archive->model()->rowAt(0));
                   },
                   10000) &&
               (reloaded.count() > 0 || reloaded.wait(10000));
    }
    int rowOf(const std::string& testId) const {
        for (int r = 0; r < archive->model()->rowCount(); ++r)
            if (const TArchiveRow* row = archive->model()->rowAt(r); row && row->TestId == testId)
                return r;
        return -1;
    }
    QString cell(const std::string& testId, EArchiveColumn c, int role = Qt::DisplayRole) const {
        const int r = rowOf(testId);
        return r < 0 ? QStringLiteral("<missing>")
                     : archive->model()->data(archive->model()->index(r, int(c)), role).toString();
    }
    WindowRig rig;
    TArchiveWindow* archive = nullptr;
    TQcWindow* qc = nullptr;
};

// Clicks OK in the first selection dialog that opens while it lives.
class SelectAnswerer : public QObject {
  public:
    SelectAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<TForm_Select*>(w); s && s->isVisible()) {
                    Shown << s->Label_Select->text();
                    s->Button_OK->click();
                }
        });
        timer_.start();
    }
    QStringList Shown;

  private:
    QTimer timer_;
};

}  // namespace

class QcViewTest : public QObject {
    Q_OBJECT
  private slots:
    void aLotsChartHasItsValuesItsLinesAndTheRulesMarkedWhereTheyFired();
    void everyLotIsASeriesOfItsOwnInSdUnits();
    void theFailedControlIsTheNewestRejectedControlOfTheTestOnTheDevice_data();
    void theFailedControlIsTheNewestRejectedControlOfTheTestOnTheDevice();
    void theMainListKnowsControlsAndPatientsUnderARejectedControl();
    void theArchiveWindowShowsRolesAndTheQcFlagNamingTheFailedControl();
    void theQcWindowChartsTheMaterialAndAnAcknowledgementKeepsTheViolation();
    void theSelectionIsMarkedAsControlOrPatientFromBothLists();
    void materialsAreAddedGivenANewLotAndRetired();

  private:
    QTemporaryDir dir_;
    std::string location(const char* name) const {
        return "sqlite:" + dir_.filePath(name).toStdString();
    }
};

void QcViewTest::aLotsChartHasItsValuesItsLinesAndTheRulesMarkedWhereTheyFired() {
    const TTwoLots two;
    QCOMPARE(int(two.Lots.size()), 2);
    TLjChartTexts texts;
    texts.LotSeries = "Charge %1";
    const TChartData d = LeveyJenningsViewData(two.Lots, 0, texts);

    QCOMPARE(d.Title, std::string("CRP-L1 — Charge A"));
    QCOMPARE(int(d.Series.size()), 1);
    QCOMPARE(d.Series[0].Name, std::string("Charge A"));
    QCOMPARE(d.XAxis, EChartXAxis::DateTime);
    // Mean 10, SD 1: the lines from -3 to +3 SD, the mean named.
    QCOMPARE(int(d.Lines.size()), 7);
    for (int k = -3; k <= 3; ++k) QCOMPARE(d.Lines[std::size_t(k + 3)].Value, 10.0 + k);
    QCOMPARE(d.Lines[3].Label, std::string("Mean 10"));
    QCOMPARE(d.Lines[5].Label, std::string("+2 SD 12"));
    QCOMPARE(d.Lines[0].Label, std::string("−3 SD 7"));

    // Every value at its time, the one without a number in the text strip.
    const auto& pts = d.Series[0].Points;
    QCOMPARE(int(pts.size()), 5);
    const std::optional<double> values[] = {10.2, 12.5, 9.5, 13.5, std::nullopt};
    const EChartMark marks[] = {EChartMark::None, EChartMark::Warning, EChartMark::None,
                                EChartMark::Reject, EChartMark::None};
    const char* markTexts[] = {"", "1-2s", "", "1-3s", ""};
    for (std::size_t i = 0; i < pts.size(); ++i) {
        QCOMPARE(pts[i].Value, values[i]);
        QCOMPARE(pts[i].Mark, marks[i]);
        QCOMPARE(pts[i].MarkText, std::string(markTexts[i]));
        QCOMPARE(pts[i].MeasurementId, std::int64_t(11 + i));
        QCOMPARE(pts[i].Time, *ChartTimeOfIso(two.Points[i].DateTime));
    }
    QCOMPARE(pts[4].Text, std::string("FAIL"));
    QVERIFY(pts[3].Label.find("T14") != std::string::npos);

    // The chart opens on the newest lot with values.
    QCOMPARE(DefaultLjLot(two.Lots), std::optional<std::size_t>(1));
    auto withEmptyLot = two.Lots;
    withEmptyLot.push_back(qc::TLjSeries{material(3, "C", 30, 3, "2026-04-01"), {}});
    QCOMPARE(DefaultLjLot(withEmptyLot), std::optional<std::size_t>(1));
    QCOMPARE(DefaultLjLot({}), std::optional<std::size_t>());
}

void QcViewTest::everyLotIsASeriesOfItsOwnInSdUnits() {
    const TTwoLots two;
    const TChartData d = LeveyJenningsViewData(two.Lots, std::nullopt, TLjChartTexts{});
    QCOMPARE(int(d.Series.size()), 2);
    QVERIFY(d.Series[0].Colour != d.Series[1].Colour);
    for (int k = -3; k <= 3; ++k) QCOMPARE(d.Lines[std::size_t(k + 3)].Value, double(k));
    QCOMPARE(d.Lines[4].Label, std::string("+1 SD"));
    // Each value against its own lot: 12.5 of lot A and 26.5 of lot B.
    QCOMPARE(*d.Series[0].Points[1].Value, 2.5);
    QCOMPARE(*d.Series[1].Points[0].Value, 0.5);
    QCOMPARE(*d.Series[1].Points[1].Value, 3.25);
    QCOMPARE(d.Series[1].Points[1].Mark, EChartMark::Reject);
    QVERIFY(!d.Series[0].Points[4].Value);
    // A lot chosen beyond the list shows every lot.
    QCOMPARE(int(LeveyJenningsViewData(two.Lots, 7, {}).Series.size()), 2);
}

void QcViewTest::theFailedControlIsTheNewestRejectedControlOfTheTestOnTheDevice_data() {
    QTest::addColumn<QString>("test");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("failed");  // the control's identity text, empty for none
    // Lot A's 1-3s at T14 (Feb 5); the text-only T15 (Feb 6) lifts nothing.
    QTest::newRow("after the reject") << "CRP quantitative"
                                      << "1807 0042"
                                      << "2026-02-07T10:00:00"
                                      << "T14";
    QTest::newRow("at the same time") << "CRP quantitative"
                                      << "1807 0042"
                                      << "2026-02-05T08:00:00"
                                      << "T14";
    QTest::newRow("before it") << "CRP quantitative"
                               << "1807 0042"
                               << "2026-02-05T07:59:59"
                               << "";
    QTest::newRow("after a warning only") << "CRP quantitative"
                                          << "1807 0042"
                                          << "2026-02-03T09:00:00"
                                          << "";
    QTest::newRow("another device") << "CRP quantitative"
                                    << "1807 0043"
                                    << "2026-02-07T10:00:00"
                                    << "";
    QTest::newRow("another test") << "HbA1c"
                                  << "1807 0042"
                                  << "2026-02-07T10:00:00"
                                  << "";
    // Lot B's first value passes, its second rejects.
    QTest::newRow("a passing control of the next lot") << "CRP quantitative"
                                                       << "1807 0042"
                                                       << "2026-03-02T12:00:00"
                                                       << "";
    QTest::newRow("the next lot's reject") << "CRP quantitative"
                                           << "1807 0042"
                                           << "2026-03-04T00:00:00"
                                           << "T22";
    QTest::newRow("no date") << "CRP quantitative"
                             << "1807 0042"
                             << ""
                             << "";
}

void QcViewTest::theFailedControlIsTheNewestRejectedControlOfTheTestOnTheDevice() {
    QFETCH(QString, test);
    QFETCH(QString, device);
    QFETCH(QString, when);
    QFETCH(QString, failed);
    const TTwoLots two;
    const auto c = FailedControlFor(two.Materials, two.Points, two.Violations, test.toStdString(),
                                    device.toStdString(), when.toStdString());
    QCOMPARE(QString::fromStdString(c ? c->TestId : ""), failed);
    if (c) {
        QCOMPARE(c->Material, std::string("CRP-L1"));
        QCOMPARE(c->Rules, std::vector<std::string>{"1-3s"});
        const std::string text = FailedControlText(*c);
        QVERIFY(text.find("CRP-L1") == 0);
        QVERIFY(text.find("1-3s") != std::string::npos);
    }
}

void QcViewTest::theMainListKnowsControlsAndPatientsUnderARejectedControl() {
    const TTwoLots two;
    TQcOverview o;
    o.Materials = two.Materials;
    o.Points = two.Points;
    o.Violations = two.Violations;
    auto set = [](const std::string& id, const std::string& test, int day) {
        TMeasureSet s;
        s.TestID = id;
        s.TestName = test;
        setDateData(s.DateTime, 26, 2, std::uint8_t(day), 9, 0, 0);
        return s;
    };
    const TQcListMark control = QcListMarkOf(o, set("T13", "CRP quantitative", 4));
    QVERIFY(control.Control);
    QCOMPARE(control.Material, std::string("CRP-L1"));
    QVERIFY(!control.Failed);
    // The reader's serial from the identity text: 1807 0042 has the reject.
    const TQcListMark under = QcListMarkOf(o, set("12 3 1 7 1807 0042 555", "CRP quantitative", 7));
    QVERIFY(!under.Control);
    QVERIFY(under.Failed);
    QCOMPARE(under.Failed->TestId, std::string("T14"));
    QVERIFY(!QcListMarkOf(o, set("12 3 1 7 1807 0043 555", "CRP quantitative", 7)).Failed);
    QVERIFY(!QcListMarkOf(o, set("12 3 1 7 1807 0042 555", "CRP quantitative", 4)).Failed);
    QVERIFY(!QcListMarkOf(o, set("not an identity", "CRP quantitative", 7)).Failed);
}

void QcViewTest::theArchiveWindowShowsRolesAndTheQcFlagNamingTheFailedControl() {
    const std::string where = location("flags.sqlite");
    fillQcArchive(where);
    QcRig r(where);
    QVERIFY(r.showArchive());
    QCOMPARE(r.archive->model()->rowCount(), 8);

    QCOMPARE(r.cell(testIdOf(5), EArchiveColumn::Qc), QString("QC failed"));
    QCOMPARE(r.cell(testIdOf(7), EArchiveColumn::Qc), QString());
    QCOMPARE(r.cell(testIdOf(4), EArchiveColumn::Qc), QString());
    QCOMPARE(r.cell(testIdOf(4), EArchiveColumn::Role), QString("control: CRP-L1"));
    QCOMPARE(r.cell(testIdOf(5), EArchiveColumn::Role), QString());
    const QString tip = r.cell(testIdOf(5), EArchiveColumn::Qc, Qt::ToolTipRole);
    QVERIFY2(tip.contains("CRP-L1") && tip.contains("1-3s") && tip.contains("2026-02-05"),
             qPrintable(tip));

    // In the second language the columns speak it too.
    r.rig.lang.Translated[LE_QcFailed.ID] = "QK fehlgeschlagen";
    r.rig.lang.Translated[LE_QcControl.ID] = "Kontrolle";
    r.rig.lang.Second = true;
    applyLanguageTexts(r.rig.window, *r.rig.main);
    QCOMPARE(r.cell(testIdOf(5), EArchiveColumn::Qc), QString("QK fehlgeschlagen"));
    QCOMPARE(r.cell(testIdOf(4), EArchiveColumn::Role), QString("Kontrolle: CRP-L1"));

    // Controls apart: the role filter.
    const std::pair<int, int> shown[] = {{2, 5}, {1, 3}, {0, 8}};
    for (const auto& [index, rows] : shown) {
        r.archive->roleField()->setCurrentIndex(index);
        QTRY_VERIFY(r.archive->model()->counted());
        QCOMPARE(r.archive->model()->rowCount(), rows);
    }
}

void QcViewTest::theQcWindowChartsTheMaterialAndAnAcknowledgementKeepsTheViolation() {
    const std::string where = location("ljview.sqlite");
    fillQcArchive(where);
    QcRig r(where);
    QSignalSpy reloaded(r.qc, &TQcWindow::reloaded);
    r.qc->show();
    QVERIFY(reloaded.wait(10000));
    QCOMPARE(r.qc->materialField()->currentText(), QString("CRP-L1"));
    const TChartData& d = r.qc->chart()->data();
    QCOMPARE(int(d.Series.size()), 1);
    QCOMPARE(int(d.Series[0].Points.size()), 5);
    QCOMPARE(d.Series[0].Points[3].Mark, EChartMark::Reject);
    QCOMPARE(d.Lines[3].Value, 10.0);

    TQcViolationModel* m = r.qc->violationModel();
    QCOMPARE(m->rowCount(), 2);
    // Newest first.
    QCOMPARE(m->cellText(0, int(EQcViolationColumn::Rule)), QString("1-3s"));
    QCOMPARE(m->cellText(0, int(EQcViolationColumn::Severity)), QString("reject"));
    QCOMPARE(m->cellText(0, int(EQcViolationColumn::Measurements)),
             QString::fromStdString(testIdOf(4)));
    QCOMPARE(m->cellText(1, int(EQcViolationColumn::Severity)), QString("warning"));
    QCOMPARE(m->cellText(0, int(EQcViolationColumn::Acknowledged)), QString());

    reloaded.clear();
    r.qc->acknowledge(*m->violationAt(0), "recalibrated, control repeated");
    QVERIFY(reloaded.wait(10000));
    QCOMPARE(m->rowCount(), 2);
    QVERIFY(m->cellText(0, int(EQcViolationColumn::Acknowledged))
                .startsWith("recalibrated, control repeated ("));
    QCOMPARE(m->cellText(1, int(EQcViolationColumn::Acknowledged)), QString());
    // Acknowledging does not lift the flag: only a passing control does.
    QVERIFY(r.showArchive());
    QCOMPARE(r.cell(testIdOf(5), EArchiveColumn::Qc), QString("QC failed"));

    // Through the dialog: an empty note is refused with a message.
    MessageAnswerer answers;
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* query = qobject_cast<TForm_InputQuery*>(w); query && query->isVisible())
                query->Button_OK->click();
    });
    r.qc->acknowledgeRow(1);
    QTRY_COMPARE(answers.Seen.size(), 1);
    QCOMPARE(answers.Seen.front(),
             QString::fromUtf8(LE_QcNoteNeeded.Def.data(), qsizetype(LE_QcNoteNeeded.Def.size())));
}

void QcViewTest::theSelectionIsMarkedAsControlOrPatientFromBothLists() {
    const std::string where = location("marking.sqlite");
    fillQcArchive(where);
    QcRig r(where);
    QVERIFY(r.showArchive());
    auto roleOf = [&](int n) {
        auto a = OpenArchive(where);
        for (const TArchiveRow& row : a->List({}))
            if (row.TestId == testIdOf(n)) return row.Role + "/" + row.ControlMaterial;
        return std::string("<missing>");
    };
    QCOMPARE(roleOf(8), std::string("/"));

    // The archive window: measurement 8 as a control of the one material.
    const int row = r.rowOf(testIdOf(8));
    QVERIFY(row >= 0);
    r.archive->table()->selectRow(row);
    {
        SelectAnswerer select;
        MessageAnswerer answers;
        QAction* control = nullptr;
        for (QAction* a : r.archive->findChildren<QAction*>())
            if (a->text() == "Mark as control…") control = a;
        QVERIFY(control);
        control->trigger();
        QTRY_COMPARE(answers.Seen.size(), 1);
        QCOMPARE(answers.Seen.front(), QString("1 measurements marked."));
        QCOMPARE(select.Shown.size(), 1);
    }
    QCOMPARE(roleOf(8), std::string("control/CRP-L1"));
    // The table follows.
    QTRY_COMPARE(r.cell(testIdOf(8), EArchiveColumn::Role), QString("control: CRP-L1"));

    // The main list: one archived measurement and one the archive never saw.
    TMeasureList list;
    list.push_back(std::make_unique<TMeasureSet>(measurement(6, "2026-02-07", "10.1")));
    list.push_back(std::make_unique<TMeasureSet>(measurement(99, "2026-02-10", "1.0")));
    list.push_back(std::make_unique<TMeasureSet>(measurement(5, "2026-02-06", "7.0", "P1")));
    r.rig.main->AppendMeasurements(std::move(list));
    // The list marks the patient's result under the rejected control.
    MeasureListModel* listModel = r.rig.window.measurementModel();
    auto listRow = [&](int n) {
        for (int row = 0; row < listModel->rowCount(); ++row)
            if (listModel->cellText(row, 0) == QString::fromStdString(testIdOf(n))) return row;
        return -1;
    };
    QTRY_VERIFY(listModel->data(listModel->index(listRow(5), 0), Qt::ToolTipRole)
                    .toString()
                    .contains("1-3s"));
    QCOMPARE(listModel->data(listModel->index(listRow(5), 0), Qt::ForegroundRole).value<QColor>(),
             QColor(0xb0, 0, 0));
    QVERIFY(listModel->data(listModel->index(listRow(99), 0), Qt::ToolTipRole).isNull());
    QCOMPARE(listModel->data(listModel->index(listRow(6), 0), Qt::ToolTipRole).toString(),
             QString("control: CRP-L1"));
    r.rig.window.measurementView()->clearSelection();
    for (int n : {6, 99})
        r.rig.window.measurementView()->selectionModel()->select(
            listModel->index(listRow(n), 0),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QAction* patient = nullptr;
    for (QAction* a : r.rig.window.measurementPopup()->actions())
        if (a->text() == "Mark as patient") patient = a;
    QVERIFY(patient);
    {
        MessageAnswerer answers;
        patient->trigger();
        QTRY_COMPARE(answers.Seen.size(), 1);
        QVERIFY2(answers.Seen.front().startsWith("1 measurements marked.") &&
                     answers.Seen.front().contains("1 of the selected measurements are not in"),
                 qPrintable(answers.Seen.front()));
    }
    QCOMPARE(roleOf(6), std::string("patient/"));
}

void QcViewTest::materialsAreAddedGivenANewLotAndRetired() {
    const std::string where = location("materials.sqlite");
    fillQcArchive(where);
    QcRig r(where);
    r.archive->openIfNeeded();
    TQcMaterialsDialog dialog(r.archive->access(), *r.rig.main, &r.rig.lang,
                              DefaultActor("ui-test", "0"));
    QSignalSpy reloaded(&dialog, &TQcMaterialsDialog::reloaded);
    QVERIFY(reloaded.wait(10000));
    QCOMPARE(int(dialog.materials().size()), 1);
    QCOMPARE(dialog.table()->item(0, 0)->text(), QString("CRP-L1"));

    // A form the archive could not take stays open and says why.
    TQcMaterialForm form(qc::TControlMaterial{}, false, &r.rig.lang);
    const std::pair<int, const char*> fields[] = {
        {TQcMaterialForm::Name, "CRP-L2"}, {TQcMaterialForm::Test, "CRP quantitative"},
        {TQcMaterialForm::Result, "CRP"},  {TQcMaterialForm::Lot, "C-9"},
        {TQcMaterialForm::Level, "2"},     {TQcMaterialForm::Mean, "40.5"},
        {TQcMaterialForm::Sd, "0"},        {TQcMaterialForm::Prefix, "QC-L2"}};
    for (const auto& [field, text] : fields) form.field(field)->setText(text);
    form.show();
    form.okButton()->click();
    QVERIFY(form.isVisible());
    QVERIFY(!form.problemLine()->text().isEmpty());
    form.field(TQcMaterialForm::Sd)->setText("2.5");
    form.okButton()->click();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Accepted));
    const qc::TControlMaterial added = form.material();
    QCOMPARE(added.Mean, 40.5);
    QCOMPARE(added.Level, 2);

    reloaded.clear();
    dialog.add(added);
    QVERIFY(reloaded.wait(10000));
    QCOMPARE(int(dialog.materials().size()), 2);

    // A new lot keeps the name and test, asks for lot and targets anew.
    dialog.table()->selectRow(0);
    const qc::TControlMaterial first = dialog.materials()[0];
    TQcMaterialForm lotForm(first, true, &r.rig.lang);
    QCOMPARE(lotForm.field(TQcMaterialForm::Name)->text(), QString::fromStdString(first.Name));
    QVERIFY(lotForm.field(TQcMaterialForm::Name)->isReadOnly());
    QCOMPARE(lotForm.field(TQcMaterialForm::Test)->text(), QString::fromStdString(first.Test));
    QVERIFY(lotForm.field(TQcMaterialForm::Lot)->text().isEmpty());
    QVERIFY(lotForm.field(TQcMaterialForm::Mean)->text().isEmpty());

    // The same name and lot again: the archive's refusal is shown.
    reloaded.clear();
    dialog.add(added);
    QVERIFY(reloaded.wait(10000));
    QCOMPARE(int(dialog.materials().size()), 2);
    QVERIFY(dialog.statusLine()->text().startsWith("Archive error: "));

    reloaded.clear();
    dialog.retire("CRP-L2");
    QVERIFY(reloaded.wait(10000));
    for (const qc::TControlMaterial& m : dialog.materials())
        QCOMPARE(m.Retired.empty(), m.Name != "CRP-L2");
    for (int row = 0; row < dialog.table()->rowCount(); ++row) {
        if (dialog.table()->item(row, 0)->text() != "CRP-L2") continue;
        dialog.table()->selectRow(row);
        QVERIFY(!dialog.retireButton()->isEnabled());
        QVERIFY(dialog.newLotButton()->isEnabled());
    }
}

KYVO_REGISTER_TEST(QcViewTest);

}  // namespace kyvo::test

#include "QcViewTest.moc"
