// The window's LIS parts over a real SQLite archive in a temporary folder:
// the marks and the panel follow the outbox, "Send to LIS" queues the
// selection of the main list and of the archive view, the settings go into
// and come out of the user settings file, and the window's sender delivers
// to a LIS made of python3-hl7's MLLP server.
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "archive/Archive.h"
#include "files/LanguageEntries.h"
#include "files/LanguageFile.h"
#include "files/Settings.h"
#include "ui/ArchiveView.h"
#include "ui/LisLook.h"
#include "ui/LisSettingsDialog.h"
#include "ui/LisWindow.h"

namespace kyvo::test {

namespace {

TMeasureSet lisSet(int n) {
    TMeasureSet s;
    s.TestID = "12 3 1 7 1807 0042 " + std::to_string(35000000 + n);
    s.TestName = "CRP quantitative";
    s.LotNr = "L1001";
    s.Distr_Manu = "Kyvo Diagnostics";
    setDateData(s.DateTime, 26, 12, std::uint8_t(1 + n % 28), 10, std::uint8_t(n % 60), 0);
    s.ResultList.push_back({"Valid", "CRP", std::to_string(n) + ".5", "mg/l", "normal"});
    s.UserComment = "Pat. Müller | re-test ^ 2 & more";
    return s;
}

void storeSets(IArchive& archive, int count) {
    std::vector<TMeasureSet> sets;
    for (int i = 0; i < count; ++i) sets.push_back(lisSet(i));
    std::vector<const TMeasureSet*> ptrs;
    for (const auto& s : sets) ptrs.push_back(&s);
    archive.StoreMany(ptrs, {"1807 0042", "V1.5", "6"}, EArchiveSource::DeviceRead,
                      DefaultActor("ui-test", "0"));
}

const TArchiveActor kActor = DefaultActor("ui-test", "0");

// The window with its LIS parts over an archive of count measurements, the
// first listed of them in the main list.
struct LisRig {
    LisRig(const QTemporaryDir& dir, const char* name, int count, int listed,
           bool runService = false, const std::function<void(TConfigFile&)>& settings = {})
        : location("sqlite:" + dir.filePath(name).toStdString()),
          userFile(dir.filePath(QString(name) + ".ini").toStdString()) {
        archive = OpenArchive(location);
        storeSets(*archive, count);
        if (settings) settings(userFile);
        rig.user.Values["Archive/Location"] = location;
        rig.Start();
        TMeasureList list;
        for (int i = 0; i < listed; ++i) list.push_back(std::make_unique<TMeasureSet>(lisSet(i)));
        rig.main->AppendMeasurements(std::move(list));
        archiveWindow = installArchiveView(rig.window, *rig.main, rig.user, &rig.lang);
        part = installLisParts(rig.window, *rig.main, userFile, &rig.lang, location, kActor, {},
                               runService);
    }
    ~LisRig() { delete part; }
    // Until a poll that began after this call has ended.
    bool polled() {
        QSignalSpy spy(part, &TLisWindowPart::polled);
        const int needed = part->polling() ? 2 : 1;
        part->poll();
        return QTest::qWaitFor([&] { return spy.size() >= needed; }, 10000);
    }
    void selectMainRows(const std::vector<int>& rows) {
        QItemSelectionModel* sel = rig.window.measurementView()->selectionModel();
        sel->clearSelection();
        for (int row : rows)
            sel->select(rig.window.measurementModel()->index(row, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    bool send() {
        QSignalSpy spy(part, &TLisWindowPart::sendHandled);
        part->sendMainSelection();
        return spy.wait(10000) || !spy.isEmpty();
    }
    std::string testId(int n) const { return lisSet(n).TestID; }
    std::int64_t idOf(int n) { return *archive->FindByTestId(testId(n)); }

    std::string location;
    TConfigFile userFile;
    std::unique_ptr<IArchive> archive;
    WindowRig rig;
    TArchiveWindow* archiveWindow = nullptr;
    TLisWindowPart* part = nullptr;
};

}  // namespace

class LisWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void thePanelSaysWhatWaitsAndWarnsOfWhatIsHeld_data();
    void thePanelSaysWhatWaitsAndWarnsOfWhatIsHeld();
    void eachStateHasItsWordMarkAndHoverText();
    void aMeasurementsMarkIsItsNewestVersion();
    void sendToLisQueuesTheMainListsSelectionAndMarksFollow();
    void sendToLisInTheArchiveViewQueuesItsSelection();
    void theSettingsGoThroughTheDialogIntoTheUserSettings();
    void theDialogRefusesWhatCannotConnect_data();
    void theDialogRefusesWhatCannotConnect();
    void theWindowsSenderDeliversToTheLis();

  private:
    QTemporaryDir dir_;
};

void LisWindowTest::thePanelSaysWhatWaitsAndWarnsOfWhatIsHeld_data() {
    QTest::addColumn<qint64>("waiting");
    QTest::addColumn<qint64>("held");
    QTest::addColumn<bool>("sending");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("german");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    const int off = int(ELisPanelLevel::Off), calm = int(ELisPanelLevel::Calm),
              busy = int(ELisPanelLevel::Busy), warning = int(ELisPanelLevel::Warning),
              failure = int(ELisPanelLevel::Failure);
    QTest::newRow("off") << 0LL << 0LL << false << "" << false << off << "LIS: off";
    QTest::newRow("calm") << 0LL << 0LL << true << "" << false << calm << "LIS: nothing waiting";
    QTest::newRow("waiting") << 3LL << 0LL << true << "" << false << busy << "LIS: 3 waiting";
    // Switched off, what waits is still said.
    QTest::newRow("waiting, off") << 2LL << 0LL << false << "" << false << busy << "LIS: 2 waiting";
    QTest::newRow("held") << 3LL << 1LL << true << "" << false << warning
                          << "LIS: 1 held, 3 waiting";
    QTest::newRow("held, nothing waits")
        << 0LL << 2LL << false << "" << false << warning << "LIS: 2 held, 0 waiting";
    QTest::newRow("no archive") << 3LL << 1LL << true << "disk I/O error" << false << failure
                                << "LIS: the archive cannot be read: disk I/O error";
    QTest::newRow("German") << 3LL << 0LL << true << "" << true << busy << "LIS: 3 warten";
    QTest::newRow("German held") << 4LL << 1LL << true << "" << true << warning
                                 << "LIS: 1 angehalten, 4 warten";
}

void LisWindowTest::thePanelSaysWhatWaitsAndWarnsOfWhatIsHeld() {
    QFETCH(qint64, waiting);
    QFETCH(qint64, held);
    QFETCH(bool, sending);
    QFETCH(QString, failure);
    QFETCH(bool, german);
    QFETCH(int, level);
    QFETCH(QString, text);
    const TLanguageFile file(KYVO_DEFAULT_LANGUAGE_FILE, true);
    TwoLanguages lang;
    lang.Second = german;
    for (const TLangEntry& e : kLanguageEntries)
        lang.Translated[e.ID] = file.GetVal("Deutsch", std::to_string(e.ID));
    TLisCounts counts;
    counts.Waiting = waiting;
    counts.Held = held;
    counts.Delivered = 7;
    const TLisPanelLook look = LisPanelLook(counts, sending, failure.toStdString(), &lang);
    QCOMPARE(int(look.Level), level);
    QCOMPARE(look.Text, text);
    // A warning stands out from the status bar: its own colours.
    const bool alarm =
        level == int(ELisPanelLevel::Warning) || level == int(ELisPanelLevel::Failure);
    QCOMPARE(look.Background.isValid(), alarm);
    if (alarm) QVERIFY(look.Background != look.Foreground);
    QCOMPARE(!look.Tip.isEmpty(), level == int(ELisPanelLevel::Warning));
}

void LisWindowTest::eachStateHasItsWordMarkAndHoverText() {
    QVERIFY(LisStateText(ELisState::None, nullptr).isEmpty());
    QVERIFY(LisStateIcon(ELisState::None).isNull());
    QVERIFY(LisStateTip(ELisState::None, "x", "y", nullptr).isEmpty());
    QCOMPARE(LisStateText(ELisState::Delivered, nullptr), QString("Sent"));
    QCOMPARE(LisStateText(ELisState::Waiting, nullptr), QString("Waiting"));
    QCOMPARE(LisStateText(ELisState::Held, nullptr), QString("Held"));
    // Three marks that differ in their pixels, not only in their names.
    QSet<QByteArray> looks;
    for (ELisState s : {ELisState::Delivered, ELisState::Waiting, ELisState::Held}) {
        const QImage image = LisStateIcon(s).pixmap(16, 16).toImage();
        QVERIFY(!image.isNull());
        looks.insert(
            QByteArray(reinterpret_cast<const char*>(image.constBits()), int(image.sizeInBytes())));
    }
    QCOMPARE(looks.size(), 3);

    const std::string reason = "AE: Patient \"Müller\" unknown | ^ &";
    const QString held = LisStateTip(ELisState::Held, reason, "2026-12-11T14:03:05+01:00", nullptr);
    QVERIFY2(held.contains(QString::fromStdString(reason)), qPrintable(held));
    QVERIFY(held.startsWith("Held"));
    // The time in the user's form, not the archive's ISO text.
    const QString sent =
        LisStateTip(ELisState::Delivered, "", "2026-12-11T14:03:05+01:00", nullptr);
    QVERIFY2(sent.contains(QLocale().toString(
                 QDateTime::fromString("2026-12-11T14:03:05+01:00", Qt::ISODate).toLocalTime(),
                 QLocale::ShortFormat)),
             qPrintable(sent));
    QVERIFY(!sent.contains("T14:03"));
    QCOMPARE(LisStateTip(ELisState::Waiting, "", "", nullptr),
             QString("Waiting to be sent to the LIS"));
    QCOMPARE(LisStateTip(ELisState::Waiting, "connection refused", "", nullptr),
             QString("Waiting to be sent to the LIS; the last try failed: connection refused"));
}

void LisWindowTest::aMeasurementsMarkIsItsNewestVersion() {
    QCOMPARE(LisMarkOf({}).State, ELisState::None);
    TLisOutboxEntry first;
    first.Version = 1;
    first.State = ELisState::Delivered;
    first.Queued = "2026-12-11T10:00:00+01:00";
    first.Changed = "2026-12-11T10:00:01+01:00";
    TLisOutboxEntry correction = first;
    correction.Version = 2;
    correction.Corrected = true;
    correction.State = ELisState::Held;
    correction.Reason = "AR: no such order";
    correction.Changed = "2026-12-11T11:00:00+01:00";
    const TLisMark mark = LisMarkOf({first, correction});
    QCOMPARE(mark.State, ELisState::Held);
    QCOMPARE(mark.Reason, std::string("AR: no such order"));
    QCOMPARE(mark.Time, correction.Changed);
    // Never tried: the time it was queued.
    TLisOutboxEntry fresh;
    fresh.Queued = "2026-12-11T12:00:00+01:00";
    QCOMPARE(LisMarkOf({fresh}).Time, fresh.Queued);
}

void LisWindowTest::sendToLisQueuesTheMainListsSelectionAndMarksFollow() {
    QTemporaryDir dir;
    LisRig r(dir, "main-list.sqlite", 6, 4);
    // One in the list that the archive does not hold.
    TMeasureList stranger;
    stranger.push_back(std::make_unique<TMeasureSet>(lisSet(99)));
    r.rig.main->AppendMeasurements(std::move(stranger));
    QVERIFY(r.polled());
    QCOMPARE(r.part->counts()->Waiting, 0);
    QCOMPARE(r.part->panel()->text(), QString("LIS: off"));

    // The rows of measurements 1 and 2 and the stranger.
    std::vector<int> rows;
    for (std::size_t i = 0; i < r.rig.main->MeasureList.size(); ++i) {
        const std::string& id = r.rig.main->MeasureList[i]->TestID;
        if (id == r.testId(1) || id == r.testId(2) || id == lisSet(99).TestID)
            rows.push_back(int(i));
    }
    QCOMPARE(rows.size(), std::size_t(3));
    r.selectMainRows(rows);
    QVERIFY(r.send());
    const QString said = r.rig.window.ownStatusBar()->panelText(2);
    QVERIFY2(said.startsWith("2 measurements queued for the LIS."), qPrintable(said));
    QVERIFY2(said.contains("1 of the selected measurements are not in the archive"),
             qPrintable(said));
    QVERIFY2(said.contains("switched off"), qPrintable(said));
    QCOMPARE(r.archive->LisCounts().Waiting, 2);
    const auto waiting = r.archive->LisEntries(ELisState::Waiting, 0);
    std::set<std::int64_t> queued;
    for (const auto& e : waiting) queued.insert(e.MeasurementId);
    QCOMPARE(queued, (std::set<std::int64_t>{r.idOf(1), r.idOf(2)}));

    QVERIFY(r.polled());
    QCOMPARE(r.part->panel()->text(), QString("LIS: 2 waiting"));
    QCOMPARE(r.part->markOf(r.testId(1)).State, ELisState::Waiting);
    QCOMPARE(r.part->markOf(r.testId(0)).State, ELisState::None);

    // The LIS refuses measurement 2: held, with its words on hover, and the
    // panel warns.
    auto next = r.archive->NextLisEntry();
    QVERIFY(next);
    const std::int64_t firstId = next->MeasurementId;
    r.archive->MarkLisSending(next->Id, kActor);
    r.archive->MarkLisDelivered(next->Id, "AA", kActor);
    next = r.archive->NextLisEntry();
    QVERIFY(next);
    r.archive->MarkLisSending(next->Id, kActor);
    r.archive->MarkLisHeld(next->Id, "AE: unknown patient", kActor);
    const int heldNo = next->MeasurementId == r.idOf(2) ? 2 : 1;
    QCOMPARE(firstId, r.idOf(3 - heldNo));
    QVERIFY(r.polled());
    QCOMPARE(r.part->panel()->text(), QString("LIS: 1 held, 0 waiting"));
    QCOMPARE(r.part->panelLook().Level, ELisPanelLevel::Warning);
    QVERIFY(r.part->panel()->font().bold());
    QCOMPARE(r.part->markOf(r.testId(heldNo)).State, ELisState::Held);
    QCOMPARE(r.part->markOf(r.testId(3 - heldNo)).State, ELisState::Delivered);

    MeasureListModel* model = r.rig.window.measurementModel();
    for (std::size_t i = 0; i < r.rig.main->MeasureList.size(); ++i) {
        const std::string& id = r.rig.main->MeasureList[i]->TestID;
        const QModelIndex cell = model->index(int(i), 0);
        const QString tip = model->data(cell, Qt::ToolTipRole).toString();
        const bool marked = id == r.testId(1) || id == r.testId(2);
        QCOMPARE(model->data(cell, Qt::DecorationRole).isValid(), marked);
        if (id == r.testId(heldNo)) QVERIFY2(tip.contains("AE: unknown patient"), qPrintable(tip));
        if (id == r.testId(3 - heldNo))
            QVERIFY2(tip.startsWith("Sent to the LIS"), qPrintable(tip));
        // The other columns carry no mark.
        QVERIFY(!model->data(model->index(int(i), 1), Qt::DecorationRole).isValid());
    }

    // Sent again after the cause was fixed: it waits once more, nothing held.
    for (std::size_t i = 0; i < r.rig.main->MeasureList.size(); ++i)
        if (r.rig.main->MeasureList[i]->TestID == r.testId(heldNo)) r.selectMainRows({int(i)});
    QVERIFY(r.send());
    const TLisCounts after = r.archive->LisCounts();
    QCOMPARE(after.Held, 0);
    QCOMPARE(after.Waiting, 1);
    QVERIFY(r.polled());
    QCOMPARE(r.part->markOf(r.testId(heldNo)).State, ELisState::Waiting);
    QCOMPARE(r.part->panel()->text(), QString("LIS: 1 waiting"));
}

void LisWindowTest::sendToLisInTheArchiveViewQueuesItsSelection() {
    QTemporaryDir dir;
    LisRig r(dir, "archive-view.sqlite", 8, 0);
    r.archiveWindow->resize(1000, 600);
    r.archiveWindow->show();
    QTRY_VERIFY(r.archiveWindow->model()->counted() && r.archiveWindow->model()->rowAt(0));
    auto* send = r.archiveWindow->findChild<QPushButton*>("lisSend");
    QVERIFY(send);
    QCOMPARE(send->text(), QString("Send to LIS"));
    ArchiveTableModel* model = r.archiveWindow->model();
    const int lis = int(EArchiveColumn::Lis);
    QCOMPARE(model->headerData(lis, Qt::Horizontal, Qt::DisplayRole).toString(), QString("LIS"));
    QVERIFY(model->data(model->index(0, lis), Qt::DisplayRole).toString().isEmpty());

    model->sort(int(EArchiveColumn::TestId), Qt::AscendingOrder);
    QTRY_VERIFY(model->rowAt(0) && model->rowAt(0)->TestId == r.testId(0));
    r.archiveWindow->table()->selectionModel()->select(
        QItemSelection(model->index(2, 0), model->index(4, 0)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QSignalSpy handled(r.part, &TLisWindowPart::sendHandled);
    send->click();
    QVERIFY(handled.wait(10000) || !handled.isEmpty());
    std::set<std::int64_t> queued;
    for (const auto& e : r.archive->LisEntries(ELisState::Waiting, 0))
        queued.insert(e.MeasurementId);
    QCOMPARE(queued, (std::set<std::int64_t>{r.idOf(2), r.idOf(3), r.idOf(4)}));
    // The table is read again: the column shows the new state, with its mark.
    QTRY_COMPARE(model->data(model->index(3, lis), Qt::DisplayRole).toString(), QString("Waiting"));
    QVERIFY(model->data(model->index(3, lis), Qt::DecorationRole).isValid());
    QVERIFY(model->data(model->index(1, lis), Qt::DisplayRole).toString().isEmpty());
    QCOMPARE(model->data(model->index(3, lis), Qt::ToolTipRole).toString(),
             QString("Waiting to be sent to the LIS"));
}

void LisWindowTest::theSettingsGoThroughTheDialogIntoTheUserSettings() {
    QTemporaryDir dir;
    TConfigFile file(dir.filePath("settings.ini").toStdString());
    TLisSendSettings v;
    v.Send = true;
    v.Automatic = false;
    v.Host = "lis.lab.example";
    v.Port = 6661;
    v.Tls = true;
    v.CaFile = "/etc/lab/ca.pem";
    v.CertFile = "/etc/lab/reader.pem";
    v.KeyFile = "/etc/lab/reader.key";
    v.ServerName = "lis.internal";
    v.SendingApplication = "Kyvo Labor Süd";
    v.SendingFacility = "Station 3";
    v.ReceivingApplication = "LIMS";
    v.ReceivingFacility = "Zentrallabor";
    v.ProcessingId = "T";
    v.AckTimeoutSeconds = 45;
    v.MappingFile = "/etc/lab/mapping.txt";
    v.SendControls = false;
    StoreLisSettings(file, v);

    // The dialog opened from the user settings shows them; OK stores what
    // was changed.
    bool seen = false;
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<TLisSettingsDialog*>(w); d && d->isVisible()) {
                seen = true;
                const TLisSendSettings shown = d->settings();
                QCOMPARE(shown.Host, v.Host);
                d->portField()->setValue(2575);
                d->processingBox()->setCurrentIndex(0);
                d->automaticBox()->setChecked(true);
                d->okButton()->click();
            }
    });
    QVERIFY(EditLisSettings(nullptr, file, nullptr));
    QVERIFY(seen);
    TLisSendSettings expected = v;
    expected.Port = 2575;
    expected.ProcessingId = "P";
    expected.Automatic = true;
    const TLisSendSettings back = ReadLisSettings(file);
    const auto fields = [](const TLisSendSettings& s) {
        return std::make_tuple(s.Send, s.Automatic, s.Host, s.Port, s.Tls, s.CaFile, s.CertFile,
                               s.KeyFile, s.ServerName, s.SendingApplication, s.SendingFacility,
                               s.ReceivingApplication, s.ReceivingFacility, s.ProcessingId,
                               s.AckTimeoutSeconds, s.MappingFile, s.SendControls);
    };
    QVERIFY(fields(back) == fields(expected));

    // Cancel stores nothing.
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<TLisSettingsDialog*>(w); d && d->isVisible()) {
                d->hostField()->setText("elsewhere");
                d->reject();
            }
    });
    QVERIFY(!EditLisSettings(nullptr, file, nullptr));
    QCOMPARE(ReadLisSettings(file).Host, v.Host);
}

void LisWindowTest::theDialogRefusesWhatCannotConnect_data() {
    QTest::addColumn<bool>("send");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("ca");
    QTest::addColumn<QString>("cert");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("taken");
    QTest::newRow("complete") << true << "lis" << false << ""
                              << ""
                              << "" << true;
    QTest::newRow("no host") << true << "  " << false << ""
                             << ""
                             << "" << false;
    QTest::newRow("off, no host") << false << "" << false << ""
                                  << ""
                                  << "" << true;
    QTest::newRow("TLS with CA") << true << "lis" << true << "ca.pem"
                                 << ""
                                 << "" << true;
    QTest::newRow("TLS without CA") << true << "lis" << true << ""
                                    << ""
                                    << "" << false;
    QTest::newRow("certificate without key") << true << "lis" << true << "ca.pem"
                                             << "c.pem"
                                             << "" << false;
    QTest::newRow("certificate with key") << true << "lis" << true << "ca.pem"
                                          << "c.pem"
                                          << "k.pem" << true;
}

void LisWindowTest::theDialogRefusesWhatCannotConnect() {
    QFETCH(bool, send);
    QFETCH(QString, host);
    QFETCH(bool, tls);
    QFETCH(QString, ca);
    QFETCH(QString, cert);
    QFETCH(QString, key);
    QFETCH(bool, taken);
    TLisSettingsDialog d(nullptr);
    d.sendBox()->setChecked(send);
    d.hostField()->setText(host);
    d.tlsBox()->setChecked(tls);
    d.caField()->setText(ca);
    d.certField()->setText(cert);
    d.keyField()->setText(key);
    d.show();
    QSignalSpy accepted(&d, &QDialog::accepted);
    d.okButton()->click();
    QCOMPARE(accepted.size(), taken ? 1 : 0);
    // A refusal says why, in the dialog.
    QCOMPARE(d.problemLine()->isVisibleTo(&d), !taken);
    QCOMPARE(d.hostField()->isEnabled(), send);
    QCOMPARE(d.caField()->isEnabled(), send && tls);
}

void LisWindowTest::theWindowsSenderDeliversToTheLis() {
    // python3-hl7's MLLP server answers one message with AA.
    QProcess peer;
    peer.start(QStringLiteral(KYVO_PYTHON3),
               {QStringLiteral(KYVO_LIS_SOURCE_DIR "/tests/mllp_peer.py")});
    QVERIFY(peer.waitForStarted());
    QVERIFY(peer.waitForReadyRead(20000));
    const QByteArray first = peer.readLine().trimmed();
    bool ok = false;
    const int port = first.toInt(&ok);
    if (!ok) QSKIP(first.constData());
    QTemporaryDir dir;
    {
        LisRig r(dir, "deliver.sqlite", 2, 2, true, [port](TConfigFile& f) {
            TLisSendSettings s;
            s.Send = true;
            s.Host = "127.0.0.1";
            s.Port = port;
            s.AckTimeoutSeconds = 10;
            StoreLisSettings(f, s);
        });
        QVERIFY(r.part->serviceRunning());
        QCOMPARE(r.part->panel()->text(), QString("LIS: nothing waiting"));
        for (std::size_t i = 0; i < r.rig.main->MeasureList.size(); ++i)
            if (r.rig.main->MeasureList[i]->TestID == r.testId(1)) r.selectMainRows({int(i)});
        QVERIFY(r.send());
        QTRY_COMPARE_WITH_TIMEOUT(r.part->markOf(r.testId(1)).State, ELisState::Delivered, 20000);
        QCOMPARE(r.part->markOf(r.testId(0)).State, ELisState::None);
        QCOMPARE(r.archive->LisCounts().Delivered, 1);
        // The window's close ends the sender.
        r.part->stop();
        QVERIFY(!r.part->serviceRunning());
    }
    if (peer.state() != QProcess::NotRunning) QVERIFY(peer.waitForFinished(20000));
    const QByteArray received = peer.readAll();
    QVERIFY2(received.contains("\"type\": \"ORU^R01^ORU_R01\""), received.constData());
    QVERIFY2(received.contains("\"value\": \"1.5\""), received.constData());
    // The comment as the LIS reads it after unescaping.
    QVERIFY2(received.contains("\"comment\": \"Pat. Müller | re-test ^ 2 & more\""),
             received.constData());
}

KYVO_REGISTER_TEST(LisWindowTest);

}  // namespace kyvo::test

#include "LisWindowTest.moc"
