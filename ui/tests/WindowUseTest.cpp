// The window as a user meets it: column widths, cut cells, the Delete key,
// stopping a measurement from its prompt, messages in front of the prompt,
// the language switch of rows already listed, and the shipped German texts.
#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QWindow>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "files/LanguageFile.h"
#include "ui/FormTestCfgList.h"

using namespace kyvo;
using namespace kyvo::test;

namespace {

// Runs the timer measurement of the demo's panel configuration (a 12 s
// countdown) until its prompt shows the countdown.
TForm_EvaluationInfo* startCountdown(WindowRig& rig) {
    rig.main->UseTestSource(TSKyvo);
    rig.main->UseAddDataBehaviour(AlwaysAdd);
    QTimer chooser;
    chooser.setInterval(5);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* list = qobject_cast<TForm_TestCfgList*>(w); list && list->isVisible()) {
                const QRect third = list->ListBox_Cfg->visualItemRect(list->ListBox_Cfg->item(2));
                QTest::mouseClick(list->ListBox_Cfg->viewport(), Qt::LeftButton, {},
                                  third.center());
                list->Button_OK->click();
            }
    });
    chooser.start();
    rig.main->Button_TimerMeasureClick();
    for (int i = 0; i < 40; ++i) {
        rig.sched.Advance(250);
        for (auto* p : rig.window.findChildren<TForm_EvaluationInfo*>())
            if (p->isVisible() && p->Label_InfoText->text().contains("starts in")) return p;
    }
    return nullptr;
}

}  // namespace

class WindowUseTest : public QObject {
    Q_OBJECT
  private slots:
    void columnsKeepTheWidthTheUserDraggedThroughResizesAndReads();
    void testIdAndDateAreWholeAtTheDefaultSizeInEnglishAndGerman();
    void doubleClickOnAHeaderBorderFitsTheColumnToItsContent();
    void aCutCellShowsItsWholeTextAsTooltipAWholeOneNone();
    void deleteKeyDeletesTheSelectedEntriesAfterAsking();
    void cancelOrEscapeInThePromptStopsTheMeasurement_data();
    void cancelOrEscapeInThePromptStopsTheMeasurement();
    void aMessageOpenedDuringThePromptStandsInFrontOfIt();
    void languageSwitchRetranslatesTheRowsAlreadyListed();
    void enterInTheFormatQuestionAnswersNo();
    void theShippedGermanHasEveryEntry();
    void everyButtonAndLabelFitsItsTextInEnglishAndGerman();

  private:
    static void readDemo(WindowRig& rig) {
        rig.Start();
        rig.Connect();
        rig.ReadStoredData();
    }
    static QList<int> widths(QTableView* view) {
        QList<int> w;
        for (int c = 0; c < view->model()->columnCount(); ++c) w << view->columnWidth(c);
        return w;
    }
};

void WindowUseTest::columnsKeepTheWidthTheUserDraggedThroughResizesAndReads() {
    WindowRig rig(std::map<std::string, std::string>{{"Setup/AddDataBehaviour", "Overwrite"}});
    readDemo(rig);
    QTableView* view = rig.window.measurementView();
    view->horizontalHeader()->resizeSection(1, 150);  // as a drag on the border does
    view->selectRow(1);
    view->selectRow(0);
    rig.window.measurementView()->clearSelection();
    QCOMPARE(view->columnWidth(1), 150);
    rig.window.resize(rig.window.width() + 400, rig.window.height());
    QCOMPARE(view->columnWidth(1), 150);
    // The others fill the new room.
    int sum = 0;
    for (int w : widths(view)) sum += w;
    QCOMPARE(sum, view->width() - 2 * view->frameWidth() -
                      view->verticalScrollBar()->sizeHint().width());
    rig.ReadStoredData();
    rig.main->ApplyLanguageTexts();
    QCOMPARE(view->columnWidth(1), 150);
}

// The two columns that tell one measurement from another must be readable
// without dragging, with the rest of the room shared out.
void WindowUseTest::testIdAndDateAreWholeAtTheDefaultSizeInEnglishAndGerman() {
    for (const bool german : {false, true}) {
        WindowRig rig;
        rig.lang.Second = german;
        rig.lang.Translated[107] = "Datum / Uhrzeit";
        rig.lang.Translated[27] = "Vertrieb/Hersteller";
        rig.window.resize(kDefaultWindowWidth, kDefaultWindowHeight);
        readDemo(rig);
        QVERIFY(!rig.main->MeasureList.empty());
        QTableView* view = rig.window.measurementView();
        for (int c : {0, 4}) {
            const int whole = std::max(static_cast<QAbstractItemView*>(view)->sizeHintForColumn(c),
                                       view->horizontalHeader()->sectionSizeHint(c));
            QVERIFY2(view->columnWidth(c) >= whole,
                     qPrintable(QString("column %1: %2 of %3 (%4)")
                                    .arg(c)
                                    .arg(view->columnWidth(c))
                                    .arg(whole)
                                    .arg(german ? "German" : "English")));
        }
        int sum = 0;
        for (int w : widths(view)) sum += w;
        QCOMPARE(sum, view->width() - 2 * view->frameWidth() -
                          view->verticalScrollBar()->sizeHint().width());
    }
}

void WindowUseTest::doubleClickOnAHeaderBorderFitsTheColumnToItsContent() {
    WindowRig rig;
    readDemo(rig);
    QTableView* view = rig.window.measurementView();
    QHeaderView* header = view->horizontalHeader();
    const int want = std::max(static_cast<QAbstractItemView*>(view)->sizeHintForColumn(0),
                              header->sectionSizeHint(0));
    header->resizeSection(0, want / 2);  // dragged too narrow
    QVERIFY(want > view->columnWidth(0));
    const int border = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                       QPoint(border, header->height() / 2));
    QCOMPARE(view->columnWidth(0), want);
    QCOMPARE(view->model()->headerData(3, Qt::Horizontal, Qt::ToolTipRole).toString(),
             QString("Distributor/Manufacturer"));
}

void WindowUseTest::aCutCellShowsItsWholeTextAsTooltipAWholeOneNone() {
    WindowRig rig;
    readDemo(rig);
    QTableView* view = rig.window.measurementView();
    const QString id = rig.window.measurementModel()->cellText(0, 0);
    auto tipAt = [&](int column) {
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000)) return QString("(stuck)");
        const QRect cell = view->visualRect(view->model()->index(0, column));
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        view->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    view->setColumnWidth(0, 40);
    QCOMPARE(tipAt(0), id);
    view->setColumnWidth(0, view->fontMetrics().horizontalAdvance(id) + 60);
    QCOMPARE(tipAt(0), QString());
}

void WindowUseTest::deleteKeyDeletesTheSelectedEntriesAfterAsking() {
    WindowRig rig;
    readDemo(rig);
    const std::size_t before = rig.main->MeasureList.size();
    QTableView* view = rig.window.measurementView();
    view->selectRow(0);
    {
        MessageAnswerer answer({MessageAnswerer::Second});  // No
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(answer.Seen, QStringList{"Delete the selected entry?"});
    }
    QCOMPARE(rig.main->MeasureList.size(), before);
    view->selectRow(0);
    {
        MessageAnswerer answer({MessageAnswerer::First});  // Yes
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(answer.Seen.size(), 1);
    }
    QCOMPARE(rig.main->MeasureList.size(), before - 1);
    QVERIFY(rig.window.windowTitle().contains(" - *") || rig.main->ListFile.empty());
    QVERIFY(rig.main->ListModified);
    {
        // Nothing selected: nothing asked.
        MessageAnswerer answer;
        view->clearSelection();
        QTest::keyClick(view, Qt::Key_Delete);
        QVERIFY(answer.Seen.isEmpty());
    }
}

void WindowUseTest::cancelOrEscapeInThePromptStopsTheMeasurement_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape key") << true;
}

void WindowUseTest::cancelOrEscapeInThePromptStopsTheMeasurement() {
    QFETCH(bool, escape);
    WindowRig rig;
    readDemo(rig);
    const std::size_t before = rig.main->MeasureList.size();
    TForm_EvaluationInfo* prompt = startCountdown(rig);
    QVERIFY(prompt);
    QVERIFY(prompt->Button_Cancel->isVisible());
    QCOMPARE(prompt->Button_Cancel->text(), QString("Cancel"));
    QVERIFY(prompt->Button_Cancel->geometry().top() > prompt->Label_InfoText->geometry().bottom());
    MessageAnswerer answer;
    if (escape)
        QTest::keyClick(prompt, Qt::Key_Escape);
    else
        prompt->Button_Cancel->click();
    rig.sched.Advance(1000);
    QCOMPARE(rig.State(), std::uint8_t(stReady));
    QCOMPARE(answer.Seen, QStringList{"(Kyvo) Error Code: 0x1D\r\nAborted by user."});
    QVERIFY(!prompt->isVisible());
    rig.sched.Advance(20000);
    QCOMPARE(rig.main->MeasureList.size(), before);
}

void WindowUseTest::aMessageOpenedDuringThePromptStandsInFrontOfIt() {
    WindowRig rig;
    readDemo(rig);
    TForm_EvaluationInfo* prompt = startCountdown(rig);
    QVERIFY(prompt);
    QWidget* parent = nullptr;
    QWindow* transientParent = nullptr;
    QString text;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<TForm_OwnMessageBox*>(w); box && box->isVisible()) {
                parent = box->parentWidget();
                transientParent =
                    box->windowHandle() ? box->windowHandle()->transientParent() : nullptr;
                text = box->Label_Message->text();
                box->Button_OK->click();
            }
    });
    watcher.start();
    // Read while the measurement runs: the busy message.
    rig.main->Button_ReadDataClick();
    rig.sched.Advance(400);  // a clock request under way delays the click
    watcher.stop();
    QCOMPARE(text, QString("The kyvo is busy. Please wait until it is in Ready-state."));
    QCOMPARE(parent, static_cast<QWidget*>(prompt));
    QVERIFY(transientParent && transientParent == prompt->windowHandle());
    QVERIFY(prompt->isVisible());
    // Once the prompt is gone, messages belong to the main window again.
    MessageAnswerer answer;
    prompt->Button_Cancel->click();
    rig.sched.Advance(1000);
    QVERIFY(!prompt->isVisible());
}

void WindowUseTest::languageSwitchRetranslatesTheRowsAlreadyListed() {
    WindowRig rig;
    rig.lang.Translated[863] = "%1 Messungen gelesen, davon %2 neu.";
    readDemo(rig);
    const QString n = QString::number(rig.main->MeasureList.size());
    QCOMPARE(rig.window.ownStatusBar()->panelText(2),
             n + " measurements read, " + n + " of them new.");
    rig.window.SetLanguageMenu({"English", "Deutsch"}, 0);
    rig.window.setLanguageHandler([&](int index) {
        rig.lang.Second = index == 1;
        rig.window.SetLanguageMenu({"English", "Deutsch"}, index);
        applyLanguageTexts(rig.window, *rig.main);
    });
    auto validities = [&] {
        QSet<QString> seen;
        for (const auto& m : rig.main->MeasureList)
            for (const auto& r : m->ResultList) seen << QString::fromStdString(r.Validity);
        return seen;
    };
    const QSet<QString> english = validities();
    QVERIFY(english.contains("Valid") || english.contains("Invalid"));
    rig.window.measurementView()->selectRow(0);
    const QString shownBefore = rig.window.resultModel()->cellText(0, 0);

    rig.window.menuLanguage()->actions()[1]->trigger();
    QSet<QString> german;
    for (const QString& v : english)
        german << (v == "Valid"          ? "Gültig"
                   : v == "Invalid"      ? "Ungültig"
                   : v == "Kyvo expired" ? "Kyvo abgelaufen"
                                         : v);
    QCOMPARE(validities(), german);
    const QString shown = rig.window.resultModel()->cellText(0, 0);
    QCOMPARE(shown, shownBefore == "Valid" ? QString("Gültig") : QString("Ungültig"));
    QCOMPARE(rig.window.ownStatusBar()->panelText(2),
             n + " Messungen gelesen, davon " + n + " neu.");

    rig.window.menuLanguage()->actions()[0]->trigger();
    QCOMPARE(validities(), english);
    QCOMPARE(rig.window.resultModel()->cellText(0, 0), shownBefore);
}

void WindowUseTest::enterInTheFormatQuestionAnswersNo() {
    WindowRig rig;
    for (bool defaultNo : {true, false}) {
        QTimer::singleShot(20, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                QTest::keyClick(box, Qt::Key_Return);
        });
        const EModalResult r =
            rig.window.ShowMessageBox("Do you really want to format the database?", "",
                                      EMsgStyle::YesNo, {"Yes", "No", "", defaultNo});
        QCOMPARE(r, defaultNo ? EModalResult::No : EModalResult::Yes);
    }
}

void WindowUseTest::theShippedGermanHasEveryEntry() {
    const TLanguageFile file(KYVO_DEFAULT_LANGUAGE_FILE, true);
    QVERIFY(file.IsValid());
    QCOMPARE(QString::fromStdString(file.GetHeadName(1)), QString("Deutsch"));
    QStringList missing;
    for (const TLangEntry& e : kLanguageEntries) {
        const std::string de = file.GetVal("Deutsch", std::to_string(e.ID));
        const std::string en(e.Def);
        if (de.empty()) {
            missing << QString::number(e.ID);
            continue;
        }
        // What the program puts into or after a text must survive the translation.
        auto count = [](const std::string& s, const std::string& what) {
            int n = 0;
            for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
            return n;
        };
        for (const char* mark : {"\r\n", "%1", "%2", "|*."})
            QVERIFY2(count(de, mark) == count(en, mark), qPrintable(QString::number(e.ID)));
        QVERIFY2((en.back() == ' ') == (de.back() == ' '), qPrintable(QString::number(e.ID)));
    }
    QVERIFY2(missing.isEmpty(), qPrintable("no German text for " + missing.join(", ")));
}

void WindowUseTest::everyButtonAndLabelFitsItsTextInEnglishAndGerman() {
    const TLanguageFile file(KYVO_DEFAULT_LANGUAGE_FILE, true);
    WindowRig rig;
    for (const TLangEntry& e : kLanguageEntries)
        rig.lang.Translated[e.ID] = file.GetVal("Deutsch", std::to_string(e.ID));
    rig.Start();
    rig.Connect();
    rig.window.resize(rig.window.minimumSize());
    for (bool german : {false, true}) {
        rig.lang.Second = german;
        applyLanguageTexts(rig.window, *rig.main);
        QStringList cut;
        for (QWidget* w : rig.window.centralWidget()->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            if (auto* b = qobject_cast<QAbstractButton*>(w)) {
                if (b->sizeHint().width() > b->width()) cut << b->text();
            } else if (auto* l = qobject_cast<QLabel*>(w)) {
                if (l->fontMetrics().horizontalAdvance(l->text()) > l->contentsRect().width())
                    cut << l->text();
            }
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(" | ")));
    }
}

KYVO_REGISTER_TEST(WindowUseTest);
#include "WindowUseTest.moc"
