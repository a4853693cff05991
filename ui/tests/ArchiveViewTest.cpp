// The archive window over a real SQLite archive in a temporary folder: a
// recording wrapper around it sees which pages and sorts the window asks for.
#include <sqlite3.h>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <mutex>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "archive/Archive.h"
#include "ui/ArchiveView.h"
#include "ui/InputQuery.h"
#include "ui/ResultExportMenu.h"

namespace kyvo::test {

namespace {

// What the window asked of the archive, from the worker thread.
struct TCalls {
    std::mutex Mutex;
    // Held by a test to keep the archive busy, as a slow server is.
    std::mutex Gate;
    std::vector<TArchiveFilter> Lists;
    std::vector<TArchiveFilter> Counts;
    std::vector<std::int64_t> Loads;
    std::vector<TArchiveFilter> lists() {
        std::lock_guard lock(Mutex);
        return Lists;
    }
    std::size_t counts() {
        std::lock_guard lock(Mutex);
        return Counts.size();
    }
    void clear() {
        std::lock_guard lock(Mutex);
        Lists.clear();
        Counts.clear();
        Loads.clear();
    }
};

class RecordingArchive final : public IArchive {
  public:
    RecordingArchive(std::unique_ptr<IArchive> real, std::shared_ptr<TCalls> calls)
        : real_(std::move(real)), calls_(std::move(calls)) {}
    std::string Location() const override { return real_->Location(); }
    int SchemaVersion() const override { return real_->SchemaVersion(); }
    EStoreOutcome Store(const TMeasureSet& set, const TArchiveDevice& device, EArchiveSource source,
                        const TArchiveActor& actor) override {
        return real_->Store(set, device, source, actor);
    }
    std::vector<TArchiveRow> List(const TArchiveFilter& filter) override {
        { std::lock_guard gate(calls_->Gate); }
        {
            std::lock_guard lock(calls_->Mutex);
            calls_->Lists.push_back(filter);
        }
        return real_->List(filter);
    }
    std::int64_t Count(const TArchiveFilter& filter) override {
        {
            std::lock_guard lock(calls_->Mutex);
            calls_->Counts.push_back(filter);
        }
        return real_->Count(filter);
    }
    TMeasureSet Load(std::int64_t id) override {
        {
            std::lock_guard lock(calls_->Mutex);
            calls_->Loads.push_back(id);
        }
        return real_->Load(id);
    }
    std::optional<std::int64_t> FindByTestId(const std::string& testId) override {
        return real_->FindByTestId(testId);
    }
    void SetComment(std::int64_t id, const std::string& c, const TArchiveActor& a) override {
        real_->SetComment(id, c, a);
    }
    void SetPatient(std::int64_t id, const std::string& p, const std::string& b,
                    const TArchiveActor& a) override {
        real_->SetPatient(id, p, b, a);
    }
    void Remove(std::int64_t id, const std::string& r, const TArchiveActor& a) override {
        real_->Remove(id, r, a);
    }
    std::vector<TAuditEntry> History(std::int64_t id) override { return real_->History(id); }
    TArchiveCheck Check() override { return real_->Check(); }
    std::int64_t ChangeStamp() override { return real_->ChangeStamp(); }
    std::int64_t WaitForChange(std::int64_t since, int timeoutMs) override {
        return real_->WaitForChange(since, timeoutMs);
    }
    std::vector<EStoreOutcome> StoreMany(const std::vector<const TMeasureSet*>& sets,
                                         const TArchiveDevice& device, EArchiveSource source,
                                         const TArchiveActor& actor) override {
        return real_->StoreMany(sets, device, source, actor);
    }
    TArchiveRecord LoadRecord(std::int64_t id) override { return real_->LoadRecord(id); }
    std::vector<TAuditEntry> Audit(std::int64_t afterId, std::size_t limit) override {
        return real_->Audit(afterId, limit);
    }
    bool InsertCopy(const TArchiveRecord& r, const std::vector<TAuditEntry>& a) override {
        return real_->InsertCopy(r, a);
    }
    void SetLisQueueing(bool on) override { real_->SetLisQueueing(on); }
    TLisQueueOutcome QueueForLis(const std::vector<std::int64_t>& ids,
                                 const TArchiveActor& a) override {
        return real_->QueueForLis(ids, a);
    }
    TLisQueueOutcome QueueForLisSince(const std::string& day, const TArchiveActor& a) override {
        return real_->QueueForLisSince(day, a);
    }
    std::optional<TLisOutboxEntry> NextLisEntry() override { return real_->NextLisEntry(); }
    void MarkLisSending(std::int64_t e, const TArchiveActor& a) override {
        real_->MarkLisSending(e, a);
    }
    void MarkLisDelivered(std::int64_t e, const std::string& ack, const TArchiveActor& a) override {
        real_->MarkLisDelivered(e, ack, a);
    }
    void MarkLisHeld(std::int64_t e, const std::string& r, const TArchiveActor& a) override {
        real_->MarkLisHeld(e, r, a);
    }
    void MarkLisFailed(std::int64_t e, const std::string& r, const TArchiveActor& a) override {
        real_->MarkLisFailed(e, r, a);
    }
    TLisCounts LisCounts() override { return real_->LisCounts(); }
    std::vector<TLisOutboxEntry> LisEntries(ELisState s, std::size_t limit) override {
        return real_->LisEntries(s, limit);
    }
    std::vector<TLisOutboxEntry> LisHistory(std::int64_t id) override {
        return real_->LisHistory(id);
    }
    bool TryLockLisSender() override { return real_->TryLockLisSender(); }
    void UnlockLisSender() override { real_->UnlockLisSender(); }
    bool HoldsLisSender() override { return real_->HoldsLisSender(); }
    // The chart's questions, passed on unrecorded: these tests count the table's.
    std::vector<TArchiveResultPoint> ResultPoints(const TArchiveFilter& f,
                                                  const std::string& name) override {
        return real_->ResultPoints(f, name);
    }
    std::vector<TArchiveResultName> ResultNames(const TArchiveFilter& f) override {
        return real_->ResultNames(f);
    }

  private:
    std::unique_ptr<IArchive> real_;
    std::shared_ptr<TCalls> calls_;
};

constexpr const char* kLots[] = {"L1001", "L1002", "L1003", "L1004"};
constexpr const char* kTests[] = {"CRP quantitative", "HbA1c", "D-Dimer"};

TMeasureSet archivedSet(int n) {
    TMeasureSet s;
    char id[64];
    std::snprintf(id, sizeof id, "12 3 1 7 1807 0042 %d", 34000000 + n);
    s.TestID = id;
    s.TestName = kTests[n % 3];
    s.LotNr = kLots[n % 4];
    s.Distr_Manu = "Kyvo Diagnostics";
    // One measurement a day from 2026-01-01 on, at a time of its own.
    const QDate day = QDate(2026, 1, 1).addDays(n % 300);
    setDateData(s.DateTime, std::uint8_t(day.year() - 2000), std::uint8_t(day.month()),
                std::uint8_t(day.day()), std::uint8_t(n % 24), std::uint8_t(n % 60), 0);
    s.UserComment = n % 10 == 0 ? "repeat sample" : "";
    s.Voltage = "3700";
    s.Temperature = "22.50";
    s.ResultList.push_back({"Valid", "CRP", std::to_string(n % 50) + ".25", "mg/l", "normal"});
    s.ResultList.push_back({"Valid", "Ratio", "<0.5", "", "negative"});
    std::vector<std::int32_t> image;
    for (int k = 0; k < 256; ++k) image.push_back(100 + ((k * 37 + n) % 3000));
    ScaleLineImage(s, image);
    return s;
}

void fillArchive(const std::string& location, int count, int first = 0) {
    auto archive = OpenArchive(location);
    std::vector<TMeasureSet> sets;
    for (int i = first; i < first + count; ++i) sets.push_back(archivedSet(i));
    std::vector<const TMeasureSet*> ptrs;
    for (const auto& s : sets) ptrs.push_back(&s);
    archive->StoreMany(ptrs, {"1807 0042", "V1.5", "6"}, EArchiveSource::DeviceRead,
                       DefaultActor("ui-test", "0"));
}

// The window, its archive window over the SQLite file, and the calls.
struct ArchiveRig {
    explicit ArchiveRig(const std::string& location, int count = 0) {
        if (count > 0) fillArchive(location, count);
        rig.user.Values["Archive/Location"] = location;
        rig.Start();
        archive = installArchiveView(
            rig.window, *rig.main, rig.user, &rig.lang, [calls = calls](const std::string& l) {
                { std::lock_guard gate(calls->Gate); }
                return std::make_unique<RecordingArchive>(OpenArchive(l), calls);
            });
        archive->resize(1000, 600);
        archive->show();
    }
    // Waits until the count of the present filter and the first page are in.
    bool waitShown() {
        QTest::qWait(0);
        return QTest::qWaitFor(
            [&] {
                if (!archive->model()->counted()) return false;
                QCoreApplication::processEvents();
                return archive->model()->rowCount() == 0 || archive->model()->rowAt(0);
            },
            10000);
    }
    int visibleRows() const {
        QTableView* t = archive->table();
        const int first = t->rowAt(0);
        int last = t->rowAt(t->viewport()->height() - 1);
        if (last < 0) last = archive->model()->rowCount() - 1;
        return first < 0 ? 0 : last - first + 1;
    }

    WindowRig rig;
    std::shared_ptr<TCalls> calls = std::make_shared<TCalls>();
    TArchiveWindow* archive = nullptr;
};

}  // namespace

class ArchiveViewTest : public QObject {
    Q_OBJECT
  private slots:
    void theModelCountsOnceAndFetchesOnlyThePagesItShows();
    void pagesScrolledPastWhileTheArchiveIsBusyAreNotFetched();
    void sortingByAColumnAsksTheArchiveWithThatSort();
    void filtersNarrowTheRows_data();
    void filtersNarrowTheRows();
    void doubleClickShowsTheMeasurementWithItsResultsAndImage();
    void theSelectionGoesIntoThePresentersListWithoutDuplicates();
    void theSelectionIsExportedThroughTheWindowsExport();
    void measurementsOtherWritersAddAppearAndTheSelectionStays();
    void theTopRowStaysInPlaceWhenMeasurementsJoinAboveIt();
    void anArchiveThatCannotBeUsedIsALineInTheView();
    void theLocationIsReadFromAndWrittenToTheUserSettings();

  private:
    QTemporaryDir dir_;
    std::string location(const char* name) const {
        return "sqlite:" + dir_.filePath(name).toStdString();
    }
};

void ArchiveViewTest::theModelCountsOnceAndFetchesOnlyThePagesItShows() {
    ArchiveRig r(location("paging.sqlite"), 1000);
    QVERIFY(r.waitShown());
    ArchiveTableModel* model = r.archive->model();
    QCOMPARE(model->rowCount(), 1000);
    QCOMPARE(r.calls->counts(), std::size_t(1));
    const int shown = r.visibleRows();
    QVERIFY(shown > 0 && shown < ArchiveTableModel::kPageSize);
    auto asked = [&] {
        std::size_t rows = 0;
        for (const TArchiveFilter& f : r.calls->lists()) {
            // Never everything: every call names its page.
            if (f.Limit != std::size_t(ArchiveTableModel::kPageSize)) return std::size_t(1) << 30;
            if (f.Offset % ArchiveTableModel::kPageSize != 0) return std::size_t(1) << 30;
            rows += f.Limit;
        }
        return rows;
    };
    QVERIFY(asked() <= std::size_t(shown + ArchiveTableModel::kPageSize));

    // Newest first, as the archive sorted it.
    QCOMPARE(r.calls->lists().front().Sort, EArchiveSort::DateTime);
    QVERIFY(r.calls->lists().front().Descending);

    // The last rows: their page, nothing in between.
    r.calls->clear();
    r.archive->table()->scrollToBottom();
    QTRY_VERIFY(model->rowAt(999) != nullptr);
    QVERIFY(asked() <= std::size_t(shown + ArchiveTableModel::kPageSize));
    for (const TArchiveFilter& f : r.calls->lists()) QVERIFY(f.Offset >= 600);
    QCOMPARE(r.calls->counts(), std::size_t(0));
    // The oldest last; of two at the same time, the one stored first.
    QCOMPARE(model->rowAt(999)->TestId, archivedSet(0).TestID);
}

void ArchiveViewTest::pagesScrolledPastWhileTheArchiveIsBusyAreNotFetched() {
    ArchiveRig r(location("scrolling.sqlite"), 5000);
    QVERIFY(r.waitShown());
    QScrollBar* bar = r.archive->table()->verticalScrollBar();
    r.calls->clear();
    {
        std::unique_lock gate(r.calls->Gate);
        // Dragged through the whole list while the archive is busy: every
        // stop paints, and so asks for, its page.
        for (int step = 1; step <= 20; ++step) {
            bar->setValue(bar->maximum() * step / 20);
            r.archive->table()->viewport()->repaint();
            QCoreApplication::processEvents();
        }
        QTest::qWait(50);
    }
    QTRY_VERIFY(r.archive->model()->rowAt(4999) != nullptr);
    QTest::qWait(100);
    // The page being fetched when the archive got busy, the latest few
    // requests, and nothing of what was scrolled past (20 stops, 24 pages).
    const auto lists = r.calls->lists();
    QVERIFY2(lists.size() <= 6, qPrintable(QString::number(lists.size())));
    QCOMPARE(lists.back().Offset, std::size_t(4800));
}

void ArchiveViewTest::sortingByAColumnAsksTheArchiveWithThatSort() {
    ArchiveRig r(location("sorting.sqlite"), 300);
    QVERIFY(r.waitShown());
    QHeaderView* header = r.archive->table()->horizontalHeader();
    ArchiveTableModel* model = r.archive->model();
    const int lotColumn = int(EArchiveColumn::Lot);

    for (int click = 0; click < 2; ++click) {
        r.calls->clear();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(lotColumn) + 10, header->height() / 2));
        QTRY_VERIFY(!r.calls->lists().empty());
        const TArchiveFilter asked = r.calls->lists().back();
        QCOMPARE(asked.Sort, EArchiveSort::Lot);
        const bool descending = header->sortIndicatorOrder() == Qt::DescendingOrder;
        QCOMPARE(asked.Descending, descending);
        QTRY_VERIFY(model->rowAt(0) && model->rowAt(1));
        // The rows come in the archive's order: the extreme lot first.
        QCOMPARE(model->rowAt(0)->LotNr, std::string(descending ? "L1004" : "L1001"));
    }

    // The results column has no order: nothing is asked, the arrow stays.
    r.calls->clear();
    const int results = int(EArchiveColumn::Results);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(results) + 10, header->height() / 2));
    QTest::qWait(100);
    QCOMPARE(r.calls->counts(), std::size_t(0));
    QCOMPARE(header->sortIndicatorSection(), lotColumn);
}

void ArchiveViewTest::filtersNarrowTheRows_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expected");
    // 240 measurements: lot by n % 4, test by n % 3, a comment on every tenth.
    QTest::newRow("lot") << "lot"
                         << "L1003" << 60;
    QTest::newRow("test") << "test"
                          << "HbA1c" << 80;
    QTest::newRow("words") << "search"
                           << "repeat sample" << 24;
    QTest::newRow("from") << "from"
                          << "2026-08-01" << 28;  // days 212..239
    QTest::newRow("to") << "to"
                        << "2026-01-10" << 10;
    QTest::newRow("nothing") << "lot"
                             << "no such lot" << 0;
}

void ArchiveViewTest::filtersNarrowTheRows() {
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(int, expected);
    ArchiveRig r(location(("filter-" + field.toStdString() + ".sqlite").c_str()), 240);
    QVERIFY(r.waitShown());
    QCOMPARE(r.archive->model()->rowCount(), 240);
    r.calls->clear();
    if (field == "lot") r.archive->lotField()->setText(value);
    if (field == "test") r.archive->testField()->setText(value);
    if (field == "search") r.archive->searchField()->setText(value);
    if (field == "from") r.archive->fromField()->setDate(QDate::fromString(value, Qt::ISODate));
    if (field == "to") r.archive->toField()->setDate(QDate::fromString(value, Qt::ISODate));
    QTRY_COMPARE(r.calls->counts(), std::size_t(1));
    QVERIFY(r.waitShown());
    QTRY_COMPARE(r.archive->model()->rowCount(), expected);
    QVERIFY(r.archive->statusLine()->text().startsWith(QString("%1 measurements").arg(expected)));
    if (expected == 0) return;
    QTRY_VERIFY(r.archive->model()->rowAt(expected - 1) || r.visibleRows() < expected);
    for (int row = 0; row < std::min(expected, r.visibleRows()); ++row) {
        const TArchiveRow* a = r.archive->model()->rowAt(row);
        QVERIFY(a);
        if (field == "lot") QCOMPARE(QString::fromStdString(a->LotNr), value);
        if (field == "test") QCOMPARE(QString::fromStdString(a->TestName), value);
        if (field == "search") QCOMPARE(QString::fromStdString(a->Comment), value);
    }
    // Clearing the filter shows everything again.
    r.archive->lotField()->clear();
    r.archive->testField()->clear();
    r.archive->searchField()->clear();
    r.archive->fromField()->setDate(r.archive->fromField()->minimumDate());
    r.archive->toField()->setDate(r.archive->toField()->minimumDate());
    QTRY_COMPARE(r.archive->model()->rowCount(), 240);
}

void ArchiveViewTest::doubleClickShowsTheMeasurementWithItsResultsAndImage() {
    ArchiveRig r(location("dialog.sqlite"), 50);
    QVERIFY(r.waitShown());
    QSignalSpy shown(r.archive, &TArchiveWindow::measurementShown);
    QTableView* table = r.archive->table();
    const TArchiveRow* first = r.archive->model()->rowAt(1);
    QVERIFY(first);
    const std::string testId = first->TestId;
    const QRect cell = table->visualRect(r.archive->model()->index(1, 1));
    // A double click, as a person makes it: a click, then the second one.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTRY_COMPARE(shown.size(), 1);
    auto* dialog = shown.at(0).at(0).value<TArchiveMeasureDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->measurement().TestID, testId);
    const int n = std::stoi(testId.substr(testId.rfind(' ') + 1)) - 34000000;
    const TMeasureSet expected = archivedSet(n);
    ResultListModel* results = dialog->resultModel();
    QCOMPARE(results->rowCount(), int(expected.ResultList.size()));
    QCOMPARE(results->cellText(0, 2), QString::fromStdString(expected.ResultList[0].ResultValue));
    QCOMPARE(results->cellText(1, 2), QString("<0.5"));
    QTRY_VERIFY(!dialog->lineImageView()->picture().isNull());
    QVERIFY(dialog->lineImageView()->isVisible());

    // From the dialog into the main list.
    dialog->openInListButton()->click();
    QCOMPARE(r.rig.main->MeasureList.size(), std::size_t(1));
    QCOMPARE(r.rig.main->MeasureList[0]->TestID, testId);
    QCOMPARE(r.rig.main->MeasureList[0]->ResultList, expected.ResultList);
}

void ArchiveViewTest::theSelectionGoesIntoThePresentersListWithoutDuplicates() {
    ArchiveRig r(location("into-list.sqlite"), 30);
    QVERIFY(r.waitShown());
    QTableView* table = r.archive->table();
    QItemSelectionModel* sel = table->selectionModel();
    auto selectRows = [&](int first, int last) {
        sel->select(
            QItemSelection(r.archive->model()->index(first, 0), r.archive->model()->index(last, 0)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };
    QSignalSpy handled(r.archive, &TArchiveWindow::selectionHandled);
    selectRows(0, 2);
    r.archive->openSelectedIntoList();
    QTRY_COMPARE(handled.size(), 1);
    const auto& list = r.rig.main->MeasureList;
    QCOMPARE(list.size(), std::size_t(3));
    std::set<std::string> ids;
    for (int row = 0; row < 4; ++row) ids.insert(r.archive->model()->rowAt(row)->TestId);
    for (const auto& m : list) QVERIFY(ids.count(m->TestID));
    QCOMPARE(r.rig.window.measurementModel()->rowCount(), 3);

    // Rows 1..3: two of them are there already, as a file load would skip them.
    selectRows(1, 3);
    r.archive->openSelectedIntoList();
    QTRY_COMPARE(handled.size(), 2);
    QCOMPARE(list.size(), std::size_t(4));
    for (const auto& m : list) QVERIFY(ids.count(m->TestID));
    QCOMPARE(r.rig.window.measurementModel()->rowCount(), 4);
    QCOMPARE(r.rig.window.ownStatusBar()->panelText(2),
             QString("3 measurements taken from the archive, 2 of them already in the list."));
}

void ArchiveViewTest::theSelectionIsExportedThroughTheWindowsExport() {
    ArchiveRig r(location("export.sqlite"), 30);
    QVERIFY(r.waitShown());
    QItemSelectionModel* sel = r.archive->table()->selectionModel();
    sel->select(QItemSelection(r.archive->model()->index(4, 0), r.archive->model()->index(6, 0)),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    std::vector<std::string> ids;
    for (int row = 4; row <= 6; ++row) ids.push_back(r.archive->model()->rowAt(row)->TestId);
    // What "Export…" hands to the window's export once the file is chosen.
    auto* exporter = r.rig.window.findChild<TResultExport*>();
    QVERIFY(exporter);
    const QString path = dir_.filePath("selection.json");
    bool written = false;
    QSignalSpy handled(r.archive, &TArchiveWindow::selectionHandled);
    r.archive->loadSelected([&](TMeasureList sets) {
        std::vector<const TMeasureSet*> ptrs;
        for (const auto& m : sets) ptrs.push_back(m.get());
        written = exporter->exportFile(path, EExportKind::Json, ptrs);
    });
    QTRY_COMPARE(handled.size(), 1);
    QVERIFY(written);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray json = f.readAll();
    QCOMPARE(json.count("\"testId\""), 3);
    for (const std::string& id : ids) QVERIFY(json.contains(QByteArray::fromStdString(id)));
    // With their results and line image, not only the listing's columns.
    QVERIFY(json.contains("\"image\""));
    QCOMPARE(json.count("\"name\": \"Ratio\""), 3);
    // The main list is not touched.
    QVERIFY(r.rig.main->MeasureList.empty());
}

void ArchiveViewTest::measurementsOtherWritersAddAppearAndTheSelectionStays() {
    const std::string where = location("live.sqlite");
    ArchiveRig r(where, 20);
    QVERIFY(r.waitShown());
    QTableView* table = r.archive->table();
    table->selectRow(3);
    const std::int64_t selected = r.archive->model()->rowAt(3)->Id;
    r.archive->poll();
    QTest::qWait(50);

    // Another PC stores a newer measurement: it sorts first, the selected
    // one moves down a row and stays selected.
    auto other = OpenArchive(where);
    TMeasureSet newest = archivedSet(500);
    setDateData(newest.DateTime, 26, 12, 31, 23, 0, 0);
    other->Store(newest, {"1807 0042", "", ""}, EArchiveSource::Measurement,
                 DefaultActor("other-pc", "0"));
    r.archive->poll();
    QTRY_COMPARE(r.archive->model()->rowCount(), 21);
    QTRY_COMPARE(r.archive->model()->rowAt(0)->TestId, newest.TestID);
    QTRY_VERIFY(table->selectionModel()->isRowSelected(4, {}));
    QCOMPARE(r.archive->model()->rowAt(4)->Id, selected);
    QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
}

void ArchiveViewTest::theTopRowStaysInPlaceWhenMeasurementsJoinAboveIt() {
    const std::string where = location("live-scrolled.sqlite");
    ArchiveRig r(where, 600);
    QVERIFY(r.waitShown());
    QTableView* table = r.archive->table();
    r.archive->poll();
    QTest::qWait(50);
    table->scrollTo(r.archive->model()->index(300, 0), QAbstractItemView::PositionAtTop);
    QTRY_VERIFY(r.archive->model()->rowAt(table->rowAt(0)) != nullptr);
    const int top = table->rowAt(0);
    const std::int64_t id = r.archive->model()->rowAt(top)->Id;

    auto other = OpenArchive(where);
    for (int n = 0; n < 3; ++n) {
        TMeasureSet newest = archivedSet(900 + n);
        setDateData(newest.DateTime, 26, 12, 31, 23, std::uint8_t(n), 0);
        other->Store(newest, {"1807 0042", "", ""}, EArchiveSource::Measurement,
                     DefaultActor("other-pc", "0"));
    }
    r.archive->poll();
    QTRY_COMPARE(r.archive->model()->rowCount(), 603);
    QTRY_COMPARE(table->rowAt(0), top + 3);
    QTRY_VERIFY(r.archive->model()->rowAt(top + 3) != nullptr);
    QCOMPARE(r.archive->model()->rowAt(top + 3)->Id, id);

    // At the very top the table stays there and shows what joined.
    table->scrollToTop();
    TMeasureSet latest = archivedSet(950);
    setDateData(latest.DateTime, 26, 12, 31, 23, 59, 0);
    other->Store(latest, {"1807 0042", "", ""}, EArchiveSource::Measurement,
                 DefaultActor("other-pc", "0"));
    r.archive->poll();
    QTRY_COMPARE(r.archive->model()->rowCount(), 604);
    QTRY_VERIFY(r.archive->model()->rowAt(0) &&
                r.archive->model()->rowAt(0)->TestId == latest.TestID);
    QCOMPARE(table->rowAt(0), 0);
}

void ArchiveViewTest::anArchiveThatCannotBeUsedIsALineInTheView() {
    // A folder that cannot be made, and an archive of a newer program.
    {
        ArchiveRig r("sqlite:/proc/no-such-folder/archive.sqlite");
        QTRY_VERIFY(r.archive->statusLine()->text().startsWith("The archive cannot be reached"));
        QVERIFY(!r.archive->archiveOpen());
        QCOMPARE(r.archive->model()->rowCount(), 0);
    }
    const QString file = dir_.filePath("newer.sqlite");
    fillArchive("sqlite:" + file.toStdString(), 3);
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 9999", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ArchiveRig r("sqlite:" + file.toStdString());
    QTRY_VERIFY(r.archive->statusLine()->text().startsWith(
        "The archive was made by a newer program version"));
    QCOMPARE(r.archive->model()->rowCount(), 0);
}

void ArchiveViewTest::theLocationIsReadFromAndWrittenToTheUserSettings() {
    testing::MemKeyStore user;
    QCOMPARE(WindowArchiveLocation(user), DefaultArchiveLocation());
    ArchiveRig r(location("first.sqlite"), 5);
    QVERIFY(r.waitShown());
    QCOMPARE(r.archive->model()->rowCount(), 5);
    const std::string second = location("second.sqlite");
    fillArchive(second, 7, 100);
    // The dialog is modal: answered once it is open.
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* query = qobject_cast<TForm_InputQuery*>(w)) {
                query->Edit_Input->setText(QString::fromStdString(second));
                query->Button_OK->click();
            }
    });
    {
        // While the archive opens, the line names the one being opened.
        std::unique_lock gate(r.calls->Gate);
        r.archive->chooseLocation();
        QCOMPARE(r.archive->statusLine()->text(),
                 QString::fromStdString("Opening the archive " + second + " …"));
    }
    QCOMPARE(r.rig.user.Values["Archive/Location"], second);
    QVERIFY(r.waitShown());
    QTRY_COMPARE(r.archive->model()->rowCount(), 7);
    QVERIFY(r.archive->statusLine()->text().contains(QString::fromStdString(second.substr(7))));
}

KYVO_REGISTER_TEST(ArchiveViewTest);

}  // namespace kyvo::test

#include "ArchiveViewTest.moc"
