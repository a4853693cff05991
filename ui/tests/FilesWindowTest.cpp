// The window with its real result files: saving that fails, saving under a
// German locale, files from Linux editors, closing over unsaved edits, and
// the dialogs that must not lose what the user typed.
#include <unistd.h>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "app/AppFiles.h"
#include "files/AtomicFile.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"
#include "ui/InputQuery.h"

using namespace kyvo;
using namespace kyvo::test;

namespace {

// Answers every file dialog that opens while it lives with the next path in
// order (an empty one cancels) and keeps the folders they started in.
class FileDialogAnswerer : public QObject {
  public:
    explicit FileDialogAnswerer(QStringList answers) : answers_(std::move(answers)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    QStringList Folders;

  private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QFileDialog*>(w);
            if (!d || !d->isVisible()) continue;
            Folders << d->directory().absolutePath();
            const QString answer = next_ < answers_.size() ? answers_[next_++] : QString();
            if (answer.isEmpty()) {
                d->reject();
            } else {
                d->selectFile(answer);
                static_cast<QDialog*>(d)->done(QDialog::Accepted);
            }
        }
    }
    QStringList answers_;
    qsizetype next_ = 0;
    QTimer timer_;
};

// Chooses path in every file dialog as a user does, through the dialog's own
// accept (which is where a toolkit asks its own questions), and answers
// every toolkit message box with Yes, keeping its text.
class AcceptingFileDialogs : public QObject {
  public:
    explicit AcceptingFileDialogs(QString path) : path_(std::move(path)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    QStringList ToolkitQuestions;

  private:
    void poll() {
        // A toolkit box stands in front of its file dialog: it is answered
        // first, and the dialog is left alone until it is gone.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            ToolkitQuestions << box->text();
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else
                box->accept();
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible()) continue;
            auto* d = qobject_cast<QFileDialog*>(w);
            // A question asked inside accept runs this poll again meanwhile.
            if (!d || accepting_) continue;
            d->selectFile(path_);
            accepting_ = true;
            // What the Save button does (QFileDialog hides accept from
            // callers), outside this poll: a timer's slot is not run again
            // while it runs, and the poll must answer a question accept asks.
            QTimer::singleShot(0, d, [this, d] {
                static_cast<QDialog*>(d)->accept();
                accepting_ = false;
            });
        }
    }
    QString path_;
    bool accepting_ = false;
    QTimer timer_;
};

std::string readAll(const std::string& path) {
    std::string bytes;
    readFileBytes(path, bytes);
    return bytes;
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t tab = line.find('\t'); tab != std::string::npos;
         tab = line.find('\t', start)) {
        out.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    out.push_back(line.substr(start));
    return out;
}

// The window with the program's own result-file saving and loading, in the
// long layout, with every result file in a fresh folder.
using Settings = std::map<std::string, std::string>;

struct FilesRig {
    explicit FilesRig(const Settings& settings = {}, const QString& folderName = "results") {
        QDir(tmp.path()).mkdir(folderName);
        folder = (tmp.path() + "/" + folderName + "/").toStdString();
        w.user.Values["Setup/DefaultDir"] = folder;
        for (const auto& [k, v] : settings) w.user.Values[k] = v;
        dialogs = std::make_unique<ViewResultFileDialogs>(w.window, *w.main, w.user, w.lang);
        BindResultFileSaving(*w.main, *dialogs, TSVVLong, path("Measurements.tsv"));
        BindResultFileLoading(*w.main, *dialogs, TSVVLong, &w.collation);
    }
    ~FilesRig() { w.main->SaveMeasureList = nullptr; }
    std::string path(const std::string& name) const { return folder + name; }
    void ReadDemo() {
        w.Start();
        w.Connect();
        w.ReadStoredData();
    }

    QTemporaryDir tmp;
    std::string folder;
    WindowRig w;
    std::unique_ptr<ViewResultFileDialogs> dialogs;
};

bool runsAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace

class FilesWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void failedSavesNameFileAndReasonInEveryModeAndKeepTheOldFile();
    void failedSaveAtExitKeepsTheWindowOpen();
    void germanLocaleStillWritesPointsIntoResultFiles();
    void utf8ResultFileWithoutBomLoadsAndIsWrittenBackUnchanged();
    void closingAsksAboutCommentsAndDeletionsEvenWithoutSaveOnExit();
    void cancellingTheSaveBeforeLoadingCancelsTheLoad();
    void readThatOverwritesTheListDropsTheSelectedRows();
    void digitsTypedIntoTheClockPickersReachTheDeviceOnEnter();
    void commentDialogPausesTheClockPollAndTheStateCounter();
    void savingOverAnExistingFileAsksOnlyTheProgramsQuestion();
};

void FilesWindowTest::failedSavesNameFileAndReasonInEveryModeAndKeepTheOldFile() {
    FilesRig rig(Settings{{"Setup/AutoSaveToLastFile", "true"},
                          {"Setup/AutoSaveMeasurements", "true"},
                          {"Setup/AddDataBehaviour", "Add"}});
    const std::string results = rig.path("Results.tsv");
    const std::string tracking = rig.path("Measurements.tsv");
    const std::string old = "\xFF\xFE" + std::string("o\0l\0d\0\r\0\n\0", 10);
    writeAll(results, old);
    writeAll(tracking, old);
    // No lock file can be created beside either file (a folder holds its
    // name): the same failure a write-protected folder gives, even for root.
    std::filesystem::create_directory(results + ".lock");
    std::filesystem::create_directory(tracking + ".lock");

    {
        MessageAnswerer answer;
        rig.ReadDemo();  // last file, then tracking file
        QCOMPARE(answer.Seen.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(answer.Seen[i].startsWith("The measurements could not be saved."),
                     qPrintable(answer.Seen[i]));
            QVERIFY2(answer.Seen[i].contains("Is a directory"), qPrintable(answer.Seen[i]));
        }
        QVERIFY(answer.Seen[0].contains(QString::fromStdString(results)));
        QVERIFY(answer.Seen[1].contains(QString::fromStdString(tracking)));
    }
    QVERIFY(!rig.w.main->MeasureList.empty());
    {
        MessageAnswerer answer;
        FileDialogAnswerer choose({QString::fromStdString(results)});
        QApplication::setActiveWindow(&rig.w.window);
        QTest::keyClick(&rig.w.window, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(answer.Seen.size(), 1);
        QVERIFY(answer.Seen[0].contains(QString::fromStdString(results) + ".lock"));
    }
    QCOMPARE(readAll(results), old);
    QCOMPARE(readAll(tracking), old);

    if (runsAsRoot()) return;  // permissions bind everyone else
    std::filesystem::remove(results + ".lock");
    std::filesystem::permissions(results, std::filesystem::perms::owner_read);
    {
        MessageAnswerer answer;
        QVERIFY(!rig.w.main->SaveMeasureList(*rig.w.main, 1));
        QCOMPARE(answer.Seen.size(), 1);
        QVERIFY(answer.Seen[0].contains("Permission denied"));
    }
    QCOMPARE(readAll(results), old);
}

void FilesWindowTest::failedSaveAtExitKeepsTheWindowOpen() {
    FilesRig rig(Settings{{"Setup/SaveOnExit", "true"}, {"Setup/AddDataBehaviour", "Add"}});
    rig.ReadDemo();
    // No lock file can be created beside the chosen file.
    const std::string target = rig.path("Results.tsv");
    std::filesystem::create_directory(target + ".lock");
    {
        MessageAnswerer answer;  // Yes to the question, OK to the failure
        FileDialogAnswerer choose({QString::fromStdString(target)});
        QVERIFY(!rig.w.window.close());
        QCOMPARE(answer.Seen.size(), 2);
        QCOMPARE(answer.Seen[0],
                 QString("Do you want to save the data before closing the program?"));
        QVERIFY(answer.Seen[1].startsWith("The measurements could not be saved."));
        QVERIFY(answer.Seen[1].contains(QString::fromStdString(target)));
    }
    QVERIFY(rig.w.window.isVisible());
    QVERIFY(!rig.w.main->MeasureList.empty());
    {
        MessageAnswerer answer({MessageAnswerer::Second});  // No: close without saving
        QVERIFY(rig.w.window.close());
    }
}

void FilesWindowTest::germanLocaleStillWritesPointsIntoResultFiles() {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"),
             "the de_DE.UTF-8 locale is missing: scripts/deps generates it");
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 1.25);
    const bool comma = std::string(probe) == "1,25";
    FilesRig rig(Settings{{"Setup/AutoSaveToLastFile", "true"}, {"Setup/AddDataBehaviour", "Add"}});
    rig.ReadDemo();
    const auto lines = decodeTextLines(readAll(rig.path("Results.tsv")));
    std::setlocale(LC_ALL, before.c_str());
    QVERIFY(comma);  // the locale really uses a decimal comma
    QVERIFY(lines.size() > 1);
    bool sawDecimal = false;
    for (std::size_t k = 1; k < lines.size(); ++k) {
        const auto f = fieldsOf(lines[k]);
        QVERIFY(f.size() > 7);
        QVERIFY2(f[7].find('.') != std::string::npos, f[7].c_str());  // temperature
        for (const std::string& v : f) {
            QVERIFY2(v.find(',') == std::string::npos ||
                         v.find_first_not_of("-0123456789,") != std::string::npos,
                     v.c_str());
            sawDecimal = sawDecimal || v.find('.') != std::string::npos;
        }
    }
    QVERIFY(sawDecimal);
}

void FilesWindowTest::utf8ResultFileWithoutBomLoadsAndIsWrittenBackUnchanged() {
    // A folder with an umlaut, a file as a Linux editor saves it: UTF-8, no
    // byte-order mark, LF.
    const std::string comment =
        "Schlie\xC3\x9F"
        "en, 5 \xC2\xB5g/ml";
    TMeasureSet set;
    set.TestID = "1 2 3 4 2601 0007 33752069";
    set.TestName =
        "Pr\xC3\xBC"
        "fung";
    set.UserComment = comment;
    set.Voltage = "3300";
    set.Temperature = "21.50";
    const std::string file =
        BuildTsvHeader(TSVVLong) + "\n" + FormatMeasureRow(set, TSVVLong) + "\n";
    FilesRig rig(
        Settings{{"Setup/LastUsedFile", "utf8.tsv"}, {"Setup/LoadLastSavedOnStart", "true"}},
        QString::fromUtf8("Messungen-\xC3\xA4"));
    writeAll(rig.path("utf8.tsv"), file);

    rig.w.Start();
    QCOMPARE(rig.w.main->MeasureList.size(), std::size_t(1));
    QCOMPARE(rig.w.main->MeasureList[0]->UserComment, comment);
    QCOMPARE(rig.w.window.measurementModel()->cellText(0, 5), QString::fromUtf8(comment));
    QVERIFY(rig.w.main->SaveMeasureList(*rig.w.main, 1));
    const auto lines = decodeTextLines(readAll(rig.path("utf8.tsv")));
    QCOMPARE(lines.size(), std::size_t(2));
    QCOMPARE(fieldsOf(lines[1])[1], set.TestName);
    QCOMPARE(fieldsOf(lines[1])[5], comment);
}

void FilesWindowTest::closingAsksAboutCommentsAndDeletionsEvenWithoutSaveOnExit() {
    const QStringList question{"Do you want to save the data before closing the program?"};
    {
        FilesRig rig(Settings{{"Setup/AddDataBehaviour", "Add"}});
        rig.ReadDemo();
        MessageAnswerer answer;
        QVERIFY(rig.w.window.close());  // the list is still on the device
        QVERIFY(answer.Seen.isEmpty());
    }
    {
        FilesRig rig(Settings{{"Setup/AddDataBehaviour", "Add"}});
        rig.ReadDemo();
        rig.w.window.measurementView()->selectRow(0);
        QTimer::singleShot(0, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* q = qobject_cast<TForm_InputQuery*>(w); q && q->isVisible()) {
                    q->Edit_Input->setText("checked twice");
                    q->Button_OK->click();
                }
        });
        rig.w.window.editComment();
        {
            MessageAnswerer answer({MessageAnswerer::Third});  // Cancel
            QVERIFY(!rig.w.window.close());
            QCOMPARE(answer.Seen, question);
        }
        {
            MessageAnswerer answer({MessageAnswerer::First});  // Yes: the save dialog
            FileDialogAnswerer choose({QString::fromStdString(rig.path("kept.tsv"))});
            QVERIFY(rig.w.window.close());
            QCOMPARE(answer.Seen, question);
        }
        const auto lines = decodeTextLines(readAll(rig.path("kept.tsv")));
        QCOMPARE(lines.size(), rig.w.main->MeasureList.size() + 1);
    }
    {
        FilesRig rig(Settings{{"Setup/AddDataBehaviour", "Add"}});
        rig.ReadDemo();
        rig.w.window.measurementView()->selectRow(1);
        {
            MessageAnswerer answer;  // Yes, delete
            rig.w.window.action(EControl::DeleteEntries)->trigger();
        }
        MessageAnswerer answer({MessageAnswerer::Second});  // No: close without saving
        QVERIFY(rig.w.window.close());
        QCOMPARE(answer.Seen, question);
    }
}

void FilesWindowTest::cancellingTheSaveBeforeLoadingCancelsTheLoad() {
    FilesRig rig(Settings{{"Setup/AddDataBehaviour", "Add"}});
    rig.ReadDemo();
    const std::size_t count = rig.w.main->MeasureList.size();
    QVERIFY(count > 0);
    MessageAnswerer answer;                  // Yes, save first
    FileDialogAnswerer choose({QString()});  // then cancel the save dialog
    rig.w.window.action(EControl::Menu_LoadFile)->trigger();
    QCOMPARE(answer.Seen,
             QStringList{"Opening a file will overwrite the current list. Save it before?"});
    QCOMPARE(choose.Folders.size(), 1);  // no open dialog after the cancelled save
    QCOMPARE(rig.w.main->MeasureList.size(), count);
}

void FilesWindowTest::readThatOverwritesTheListDropsTheSelectedRows() {
    FilesRig rig(Settings{{"Setup/AddDataBehaviour", "Overwrite"}});
    rig.ReadDemo();
    const int count = int(rig.w.main->MeasureList.size());
    QVERIFY(count >= 2);
    rig.w.window.measurementView()->selectRow(0);
    rig.w.window.measurementView()->selectionModel()->select(
        rig.w.window.measurementModel()->index(1, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(rig.w.window.SelectedCount(EList::Measurements), 2);
    rig.w.ReadStoredData();
    QCOMPARE(int(rig.w.main->MeasureList.size()), count);
    // The rows selected belonged to sets that are gone.
    QCOMPARE(rig.w.window.SelectedCount(EList::Measurements), 0);
    QCOMPARE(rig.w.window.resultModel()->rowCount(), 0);
    rig.w.window.grab();
}

void FilesWindowTest::digitsTypedIntoTheClockPickersReachTheDeviceOnEnter() {
    WindowRig rig;
    rig.Start();
    rig.Connect();
    rig.sched.Advance(1500);
    QApplication::setActiveWindow(&rig.window);
    auto* date = static_cast<QDateEdit*>(rig.window.control(EControl::DTP_SetDate));
    date->setFocus();
    date->setSelectedSection(QDateTimeEdit::YearSection);
    QTest::keyClicks(date, "31");  // the short year of "M/d/yy"
    QTest::keyClick(date, Qt::Key_Return);
    rig.sched.Advance(500);
    QVERIFY(rig.device->deviceClock().has_value());
    QCOMPARE(int(rig.device->deviceClock()->Year), 31);

    auto* time = static_cast<QTimeEdit*>(rig.window.control(EControl::DTP_SetTime));
    time->setFocus();
    time->setSelectedSection(QDateTimeEdit::HourSection);
    QTest::keyClicks(time, "7");
    QTest::keyClick(time, Qt::Key_Enter);
    rig.sched.Advance(500);
    QCOMPARE(int(rig.device->deviceClock()->Hour), 7);
}

void FilesWindowTest::commentDialogPausesTheClockPollAndTheStateCounter() {
    WindowRig rig;
    rig.Start();
    rig.Connect();
    rig.ReadStoredData();
    rig.window.measurementView()->selectRow(0);
    std::vector<std::uint8_t> states;
    rig.main->OnStateEntered = [&](TForm_Main&, std::uint8_t s) { states.push_back(s); };
    const auto countBefore = rig.main->State().ActiveCount;
    std::int32_t countDuring = -1;
    std::vector<std::uint8_t> statesDuring;
    QTimer::singleShot(0, [&] {
        // Time passes while the user types: no clock request, no counting.
        rig.sched.Advance(5000);
        countDuring = rig.main->State().ActiveCount;
        statesDuring = states;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* q = qobject_cast<TForm_InputQuery*>(w); q && q->isVisible())
                q->Button_Cancel->click();
    });
    rig.window.editComment();
    QCOMPARE(countDuring, countBefore);
    QVERIFY(statesDuring.empty());
    // The clock poll runs again afterwards.
    rig.sched.Advance(2000);
    QVERIFY(std::find(states.begin(), states.end(), std::uint8_t(stWaitClock)) != states.end());
    rig.main->OnStateEntered = nullptr;
}

// Qt's save dialog would ask "replace?" before the program asks whether to
// add to the file or overwrite it: one question about one file is enough.
void FilesWindowTest::savingOverAnExistingFileAsksOnlyTheProgramsQuestion() {
    FilesRig rig;
    rig.ReadDemo();
    QVERIFY(!rig.w.main->MeasureList.empty());
    const std::string path = rig.path("Results.tsv");
    {
        AcceptingFileDialogs choose(QString::fromStdString(path));
        rig.w.main->Menu_SaveFileClick();
        QVERIFY(choose.ToolkitQuestions.isEmpty());
    }
    QVERIFY(std::filesystem::exists(path));
    const std::string first = readAll(path);

    AcceptingFileDialogs choose(QString::fromStdString(path));
    MessageAnswerer answer({MessageAnswerer::Second});  // No: overwrite
    rig.w.main->Menu_SaveFileClick();
    QCOMPARE(choose.ToolkitQuestions, QStringList());
    QCOMPARE(answer.Seen.size(), 1);
    QVERIFY(answer.Seen.front().startsWith("Do you want to add the data to the selected file?"));
    QCOMPARE(readAll(path), first);  // overwritten with the same list
}

KYVO_REGISTER_TEST(FilesWindowTest);
#include "FilesWindowTest.moc"
