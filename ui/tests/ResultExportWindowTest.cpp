// The window's report and export menu items on the demo device's data.
#include <QFile>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "ui/ResultExportMenu.h"

namespace kyvo::test {

class ResultExportWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void menuItemsFollowTheLanguageAndNeedMeasurements();
    void selectedMeasurementsOrAllAreExported();
};

void ResultExportWindowTest::menuItemsFollowTheLanguageAndNeedMeasurements() {
    WindowRig rig;
    rig.Start();
    auto* exporter = rig.window.findChild<TResultExport*>();
    QVERIFY(exporter);
    QMenu* menu = rig.window.action(EControl::Menu_Main)->menu();
    QVERIFY(menu->actions().contains(exporter->reportAction()));
    QVERIFY(menu->actions().contains(exporter->printAction()));
    QVERIFY(menu->actions().contains(exporter->exportAction()));
    emit menu->aboutToShow();
    QCOMPARE(exporter->reportAction()->text(), QString("Export report (PDF)…"));
    QVERIFY(!exporter->exportAction()->isEnabled());

    rig.Connect();
    rig.ReadStoredData();
    rig.lang.Second = true;
    rig.lang.Translated[902] = "Exportieren…";
    emit menu->aboutToShow();
    QCOMPARE(exporter->exportAction()->text(), QString("Exportieren…"));
    QVERIFY(exporter->exportAction()->isEnabled());
    QVERIFY(exporter->printAction()->isEnabled());
}

void ResultExportWindowTest::selectedMeasurementsOrAllAreExported() {
    WindowRig rig;
    rig.Start();
    rig.Connect();
    rig.ReadStoredData();
    auto* exporter = rig.window.findChild<TResultExport*>();
    QVERIFY(exporter);
    const auto& list = rig.main->MeasureList;
    QVERIFY(list.size() >= 3);
    QCOMPARE(exporter->targets().size(), list.size());

    // Selected out of order: exported in list order.
    QTableView* view = rig.window.measurementView();
    view->selectionModel()->select(view->model()->index(2, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const auto sets = exporter->targets();
    QCOMPARE(sets.size(), std::size_t(2));
    QCOMPARE(sets[0], list[0].get());
    QCOMPARE(sets[1], list[2].get());

    QTemporaryDir dir;
    const QString json = dir.filePath("m.json");
    QVERIFY(exporter->exportFile(json, EExportKind::Json));
    QFile f(json);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray doc = f.readAll();
    QCOMPARE(doc.count("\"testId\""), 2);
    QVERIFY(doc.contains(QByteArray::fromStdString(list[2]->TestID)));

    const QString pdf = dir.filePath("r.pdf");
    QVERIFY(exporter->writeReport(pdf));
    QFile p(pdf);
    QVERIFY(p.open(QIODevice::ReadOnly));
    const QByteArray bytes = p.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QCOMPARE(bytes.count("/Type /Page\n"), 2);

    // A folder that does not exist: a message, and no file.
    MessageAnswerer answers;
    QVERIFY(!exporter->exportFile(dir.filePath("no/such/folder.csv"), EExportKind::CsvResults));
    QTRY_COMPARE(answers.Seen.size(), 1);
    QVERIFY(answers.Seen[0].startsWith("The file could not be written: "));
}

KYVO_REGISTER_TEST(ResultExportWindowTest);

}  // namespace kyvo::test

#include "ResultExportWindowTest.moc"
