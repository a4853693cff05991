#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "ui/FormTestCfgList.h"
#include "ui/InputQuery.h"

using namespace kyvo;
using namespace kyvo::test;

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    void connectsIdentifiesAndReadsTheDemoDeviceIntoTheList();
    void headerClickedTwiceSortsUpThenDown();
    void selectedRowShowsItsResultsAndProfile();
    void deletingAsksAndHonoursTheAnswer();
    void commentDialogStoresTheTextOnOkOnly();
    void listReplacedBehindTheSelectionDropsItsResults();
    void contextMenuOpensOnlyWithASelectedRow();
    void imagePositionMenuMovesAndHidesThePicture();
    void resizeStretchesThePictureUntilItIsRedrawn();
    void languageSwitchChangesWindowTexts();
    void enterInAClockPickerSetsTheDeviceClock();
    void measurementRunsThroughConfigListAndPromptIntoTheList();
    void closeAsksToSaveAndCancelKeepsTheWindow();
    void loadShortcutAndMenuAskAboutThePresentListFirst();
    void resultColumnsFollowTheLayoutWithoutUnit();
    void windowWithDemoDataIsRenderedToAFile();

  private:
    static QPoint headerPoint(QTableView* view, int column) {
        QHeaderView* h = view->horizontalHeader();
        return QPoint(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                      h->height() / 2);
    }
    static int firstRowWithImage(const WindowRig& rig) {
        for (std::size_t i = 0; i < rig.main->MeasureList.size(); ++i)
            if (!rig.main->MeasureList[i]->ImageData.empty()) return int(i);
        return -1;
    }
    static void readDemo(WindowRig& rig) {
        rig.Start();
        rig.Connect();
        rig.ReadStoredData();
    }
};

void WindowTest::connectsIdentifiesAndReadsTheDemoDeviceIntoTheList() {
    WindowRig rig;
    rig.Start();
    QCOMPARE(rig.window.ownStatusBar()->panelText(0), QString("disconnected"));
    rig.Connect();
    QCOMPARE(rig.State(), std::uint8_t(stReady));
    QVERIFY(rig.window.windowTitle().startsWith("Connected to  "));
    QVERIFY(rig.window.windowTitle().contains(" @ 38400 baud - V" KYVO_VERSION));
    auto* open = static_cast<QPushButton*>(rig.window.control(EControl::Button_Open));
    QCOMPARE(open->text(), QString("Disconnect"));
    const QString identity =
        static_cast<QLabel*>(rig.window.control(EControl::Label_FWDisplay))->text();
    QVERIFY2(identity.contains(" / "), qPrintable(identity));
    QVERIFY(rig.window.control(EControl::Button_ReadData)->isEnabled());
    QCOMPARE(rig.window.ownStatusBar()->panelText(0), QString("Ready"));

    rig.ReadStoredData();
    const int stored = int(rig.device->storedResultCount());
    QVERIFY(stored > 0);
    QCOMPARE(int(rig.main->MeasureList.size()), stored);
    QCOMPARE(rig.window.measurementModel()->rowCount(), stored);
    QCOMPARE(rig.window.measurementModel()->cellText(0, 0),
             QString::fromStdString(rig.main->MeasureList[0]->TestID));
    QVERIFY(!rig.window.measurementModel()->cellText(0, 4).isEmpty());
    QVERIFY(!rig.window.ownStatusBar()->progressBar()->isVisible());
}

void WindowTest::headerClickedTwiceSortsUpThenDown() {
    WindowRig rig;
    readDemo(rig);
    QTableView* view = rig.window.measurementView();
    view->selectRow(2);
    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      headerPoint(view, 4));
    QCOMPARE(rig.main->MeasureSortMode, DateTimeUp);
    QVERIFY(view->selectionModel()->selectedRows().isEmpty());
    QVERIFY(view->horizontalHeader()->isSortIndicatorShown());
    QCOMPARE(view->horizontalHeader()->sortIndicatorSection(), 4);
    QCOMPARE(view->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    const auto& list = rig.main->MeasureList;
    for (std::size_t i = 1; i < list.size(); ++i)
        QVERIFY(compareDates(list[i - 1]->DateTime, list[i]->DateTime) <= 0);

    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      headerPoint(view, 4));
    QCOMPARE(rig.main->MeasureSortMode, DateTimeDown);
    QCOMPARE(view->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    for (std::size_t i = 1; i < list.size(); ++i)
        QVERIFY(compareDates(list[i - 1]->DateTime, list[i]->DateTime) >= 0);
    // The rows show the new order.
    QCOMPARE(rig.window.measurementModel()->cellText(0, 0),
             QString::fromStdString(list[0]->TestID));

    // Another column starts again with its ascending mode.
    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      headerPoint(view, 1));
    QCOMPARE(rig.main->MeasureSortMode, TestNameUp);
}

void WindowTest::selectedRowShowsItsResultsAndProfile() {
    WindowRig rig;
    readDemo(rig);
    const int row = firstRowWithImage(rig);
    QVERIFY2(row >= 0, "the demo device stores line images");
    const TMeasureSet& set = *rig.main->MeasureList[std::size_t(row)];
    rig.window.measurementView()->selectRow(row);
    QCOMPARE(rig.window.resultModel()->rowCount(), int(set.ResultList.size()));
    QCOMPARE(rig.window.resultModel()->cellText(0, 1),
             QString::fromStdString(set.ResultList[0].ResultName));
    QVERIFY(rig.window.drawImage());
    QVERIFY(rig.window.lineImageView()->isVisible());
    QVERIFY(!rig.window.lineImageView()->picture().isNull());
    QCOMPARE(rig.window.lineImageView()->height(), 260);
    QCOMPARE(static_cast<QLabel*>(rig.window.control(EControl::Label_Min))->text(),
             QString::fromStdString(set.ImgMin));
    // Default position right: the picture stands under the results list.
    QVERIFY(rig.window.lineImageView()->x() > rig.window.measurementView()->geometry().right());
    QCOMPARE(rig.window.lineImageView()->y(), rig.window.resultView()->geometry().bottom() + 1 + 6);

    rig.window.measurementView()->clearSelection();
    QCOMPARE(rig.window.resultModel()->rowCount(), 0);
    QVERIFY(!rig.window.lineImageView()->isVisible());
}

void WindowTest::deletingAsksAndHonoursTheAnswer() {
    WindowRig rig;
    readDemo(rig);
    const std::size_t before = rig.main->MeasureList.size();
    const std::string second = rig.main->MeasureList[1]->TestID;
    rig.window.measurementView()->selectRow(1);
    {
        MessageAnswerer answer({MessageAnswerer::Second});  // No
        rig.window.action(EControl::DeleteEntries)->trigger();
        QCOMPARE(answer.Seen, QStringList{"Delete the selected entry?"});
    }
    QCOMPARE(rig.main->MeasureList.size(), before);
    {
        MessageAnswerer answer({MessageAnswerer::First});  // Yes
        rig.window.action(EControl::DeleteEntries)->trigger();
        QCOMPARE(answer.Seen.size(), 1);
    }
    QCOMPARE(rig.main->MeasureList.size(), before - 1);
    QCOMPARE(rig.window.measurementModel()->rowCount(), int(before - 1));
    for (const auto& m : rig.main->MeasureList) QVERIFY(m->TestID != second);
    QVERIFY(!rig.window.lineImageView()->isVisible());

    {
        MessageAnswerer answer({MessageAnswerer::First});
        rig.window.action(EControl::Menu_DeleteList)->trigger();
        QCOMPARE(answer.Seen, QStringList{"Delete all entries in the current list?"});
    }
    QVERIFY(rig.main->MeasureList.empty());
    QCOMPARE(rig.window.measurementModel()->rowCount(), 0);
    {
        // An empty list is not asked about.
        MessageAnswerer answer;
        rig.window.action(EControl::Menu_DeleteList)->trigger();
        QVERIFY(answer.Seen.isEmpty());
    }
}

void WindowTest::commentDialogStoresTheTextOnOkOnly() {
    WindowRig rig;
    readDemo(rig);
    rig.window.measurementView()->selectRow(0);
    auto answerQuery = [](const QString& typed, bool ok) {
        QTimer::singleShot(0, [typed, ok] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* q = qobject_cast<TForm_InputQuery*>(w); q && q->isVisible()) {
                    q->Edit_Input->setText(typed);
                    (ok ? q->Button_OK : q->Button_Cancel)->click();
                }
        });
    };
    answerQuery("checked twice", true);
    rig.window.editComment();
    QCOMPARE(rig.main->MeasureList[0]->UserComment, std::string("checked twice"));
    QCOMPARE(rig.window.measurementModel()->cellText(0, 5), QString("checked twice"));
    answerQuery("ignored", false);
    rig.window.editComment();
    QCOMPARE(rig.main->MeasureList[0]->UserComment, std::string("checked twice"));
    answerQuery("", true);
    rig.window.editComment();
    QCOMPARE(rig.main->MeasureList[0]->UserComment, std::string());
}

void WindowTest::listReplacedBehindTheSelectionDropsItsResults() {
    WindowRig rig;
    readDemo(rig);
    const int row = firstRowWithImage(rig);
    QVERIFY(row >= 0);
    rig.window.measurementView()->selectRow(row);
    QVERIFY(rig.window.resultModel()->rowCount() > 0);
    // Same count, new sets: the rows shown so far are freed.
    TMeasureList fresh;
    for (std::size_t i = 0; i < rig.main->MeasureList.size(); ++i) {
        auto m = std::make_unique<TMeasureSet>();
        m->TestID = "new " + std::to_string(i);
        fresh.push_back(std::move(m));
    }
    rig.main->MeasureList = std::move(fresh);
    rig.window.SetListCount(EList::Measurements, int(rig.main->MeasureList.size()));
    rig.window.RepaintList(EList::Measurements);
    QCOMPARE(rig.window.resultModel()->rowCount(), 0);
    QVERIFY(!rig.window.lineImageView()->isVisible());
    QCOMPARE(rig.window.measurementModel()->cellText(0, 0), QString("new 0"));
    rig.window.grab();  // paints without touching the freed rows
}

void WindowTest::contextMenuOpensOnlyWithASelectedRow() {
    WindowRig rig;
    readDemo(rig);
    QTableView* view = rig.window.measurementView();
    view->clearSelection();
    emit view->customContextMenuRequested(QPoint(10, 10));
    QVERIFY(!rig.window.measurementPopup()->isVisible());
    view->selectRow(0);
    emit view->customContextMenuRequested(QPoint(10, 10));
    QVERIFY(rig.window.measurementPopup()->isVisible());
    rig.window.measurementPopup()->hide();
}

void WindowTest::imagePositionMenuMovesAndHidesThePicture() {
    WindowRig rig;
    readDemo(rig);
    const int row = firstRowWithImage(rig);
    QVERIFY(row >= 0);
    rig.window.measurementView()->selectRow(row);

    rig.window.action(EControl::Menu_ImgPosLeft)->trigger();
    QCOMPARE(rig.window.imagePosition(), SLeft);
    QVERIFY(rig.window.action(EControl::Menu_ImgPosLeft)->isChecked());
    QVERIFY(!rig.window.action(EControl::Menu_ImgPosRight)->isChecked());
    QCOMPARE(rig.user.Values["Setup/ImagePosition"], std::string("Left"));
    const QRect img = rig.window.lineImageView()->geometry();
    const QRect meas = rig.window.measurementView()->geometry();
    const QRect res = rig.window.resultView()->geometry();
    QVERIFY(rig.window.lineImageView()->isVisible());
    QVERIFY(img.right() <= meas.right());
    QCOMPARE(img.top(), meas.bottom() + 1 + 6);
    QVERIFY(res.height() > meas.height());  // the results list reaches down

    rig.window.action(EControl::Menu_ImgPosFull)->trigger();
    QVERIFY(rig.window.lineImageView()->geometry().right() > res.left());

    // Without minimum and maximum texts there is no label column: the
    // picture starts 8 pixels from the left border.
    QVERIFY(rig.window.lineImageView()->x() > 8);
    rig.main->MeasureList[std::size_t(row)]->ImgMin.clear();
    rig.main->MeasureList[std::size_t(row)]->ImgMax.clear();
    rig.window.measurementView()->clearSelection();
    rig.window.measurementView()->selectRow(row);
    QCOMPARE(rig.window.lineImageView()->x(), 8);

    rig.window.action(EControl::Menu_ImgPosNone)->trigger();
    QCOMPARE(rig.user.Values["Setup/ImagePosition"], std::string("None"));
    QVERIFY(!rig.window.lineImageView()->isVisible());
    QVERIFY(!rig.window.control(EControl::Label_Min)->isVisible());
    const int bottom = rig.window.centralWidget()->height() - 4;
    QCOMPARE(rig.window.measurementView()->geometry().bottom() + 1, bottom);
    QCOMPARE(rig.window.resultView()->geometry().bottom() + 1, bottom);
}

void WindowTest::resizeStretchesThePictureUntilItIsRedrawn() {
    WindowRig rig;
    readDemo(rig);
    const int row = firstRowWithImage(rig);
    QVERIFY(row >= 0);
    rig.window.measurementView()->selectRow(row);
    const QSize before = rig.window.lineImageView()->picture().deviceIndependentSize().toSize();
    rig.window.resize(rig.window.width() + 150, rig.window.height());
    QCoreApplication::processEvents();
    QVERIFY(rig.window.lineImageView()->stretched());
    QVERIFY(rig.window.resizePending());
    QCOMPARE(rig.window.lineImageView()->picture().deviceIndependentSize().toSize(), before);
    rig.window.finishResize();
    QVERIFY(!rig.window.lineImageView()->stretched());
    const QSize after = rig.window.lineImageView()->picture().deviceIndependentSize().toSize();
    QVERIFY(after.width() > before.width());
    QCOMPARE(after.width(), rig.window.lineImageView()->width() - 2);
}

void WindowTest::languageSwitchChangesWindowTexts() {
    WindowRig rig;
    rig.Start();
    rig.Connect();
    rig.window.SetLanguageMenu({"English", "Deutsch"}, 0);
    QCOMPARE(
        rig.window.measurementModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
        QString("Test ID"));
    rig.window.setLanguageHandler([&](int index) {
        rig.lang.Second = index == 1;
        rig.window.SetLanguageMenu({"English", "Deutsch"}, index);
        applyLanguageTexts(rig.window, *rig.main);
    });
    QList<QAction*> items = rig.window.menuLanguage()->actions();
    QCOMPARE(items.size(), 2);
    QVERIFY(items[0]->isChecked());
    items[1]->trigger();
    items = rig.window.menuLanguage()->actions();
    QVERIFY(items[1]->isChecked());
    QVERIFY(!items[0]->isChecked());
    QCOMPARE(
        rig.window.measurementModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
        QString("Test-Nr."));
    QCOMPARE(rig.window.resultModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Gültigkeit"));
    // Still connected: the disconnect caption and the device in the title.
    auto* open = static_cast<QPushButton*>(rig.window.control(EControl::Button_Open));
    QCOMPARE(open->text(), QString("Trennen"));
    QVERIFY(rig.window.windowTitle().startsWith("Verbunden mit  "));
    QVERIFY(rig.window.windowTitle().contains(" @ 38400 baud - V" KYVO_VERSION));
    QCOMPARE(static_cast<QPushButton*>(rig.window.control(EControl::Button_ReadData))->text(),
             QString("Daten lesen"));
}

void WindowTest::enterInAClockPickerSetsTheDeviceClock() {
    WindowRig rig;
    rig.Start();
    rig.Connect();
    rig.sched.Advance(1500);  // a clock poll paints the panels
    auto* date = static_cast<QDateEdit*>(rig.window.control(EControl::DTP_SetDate));
    QCOMPARE(rig.window.control(EControl::Panel_Date)->palette().color(QPalette::Window),
             QColor(0, 128, 0));
    QApplication::setActiveWindow(&rig.window);
    date->setFocus();
    QVERIFY(rig.window.PickerHasFocus());
    date->setDate(QDate(2031, 3, 4));
    QTest::keyClick(date, Qt::Key_Return);
    QVERIFY(!rig.window.PickerHasFocus());
    rig.sched.Advance(500);
    const auto clock = rig.device->deviceClock();
    QVERIFY(clock.has_value());
    QCOMPARE(int(clock->Year), 31);
    QCOMPARE(int(clock->Month), 3);
    QCOMPARE(int(clock->MonthDay), 4);
    // The next poll shows the date panel red: another day than the computer's.
    rig.sched.Advance(1500);
    QCOMPARE(rig.window.control(EControl::Panel_Date)->palette().color(QPalette::Window),
             QColor(255, 0, 0));

    // Escape only gives the focus back; nothing is sent.
    date->setFocus();
    date->setDate(QDate(2040, 1, 1));
    QTest::keyClick(date, Qt::Key_Escape);
    QVERIFY(!rig.window.PickerHasFocus());
    rig.sched.Advance(500);
    QCOMPARE(int(rig.device->deviceClock()->Year), 31);
}

void WindowTest::measurementRunsThroughConfigListAndPromptIntoTheList() {
    WindowRig rig;
    readDemo(rig);
    const std::size_t before = rig.main->MeasureList.size();
    rig.main->UseTestSource(TSKyvo);
    rig.main->UseAddDataBehaviour(AlwaysAdd);
    QStringList offered;
    bool promptSeen = false;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* list = qobject_cast<TForm_TestCfgList*>(w); list && list->isVisible()) {
                for (int i = 0; i < list->ListBox_Cfg->count(); ++i)
                    offered << list->ListBox_Cfg->item(i)->text();
                const QRect first = list->ListBox_Cfg->visualItemRect(list->ListBox_Cfg->item(0));
                QTest::mouseClick(list->ListBox_Cfg->viewport(), Qt::LeftButton, {},
                                  first.center());
                list->Button_OK->click();
            }
        }
    });
    watcher.start();
    static_cast<QPushButton*>(rig.window.control(EControl::Button_InstantMeasure))->click();
    for (int i = 0; i < 120 && rig.main->MeasureList.size() == before; ++i) {
        rig.sched.Advance(500);
        const auto prompts = rig.window.findChildren<TForm_EvaluationInfo*>();
        for (auto* p : prompts)
            if (p->isVisible() && !p->Label_InfoText->text().isEmpty()) promptSeen = true;
    }
    watcher.stop();
    QVERIFY(!offered.isEmpty());
    QVERIFY(offered.first().contains(" - "));
    QVERIFY(promptSeen);
    QCOMPARE(rig.main->MeasureList.size(), before + 1);
    QCOMPARE(rig.State(), std::uint8_t(stReady));
    // The new measurement is selected, its results and line image shown.
    QCOMPARE(rig.window.SelectedCount(EList::Measurements), 1);
    QVERIFY(rig.window.resultModel()->rowCount() > 0);
    QVERIFY(rig.window.lineImageView()->isVisible());
}

void WindowTest::closeAsksToSaveAndCancelKeepsTheWindow() {
    WindowRig rig;
    rig.user.Values["Setup/SaveOnExit"] = "true";
    readDemo(rig);
    int saves = 0;
    rig.main->SaveMeasureList = [&](TForm_Main&, int mode) {
        if (mode == 0) ++saves;
        return true;
    };
    // Ctrl+S saves through the same hook.
    QApplication::setActiveWindow(&rig.window);
    QTest::keyClick(&rig.window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(saves, 1);
    {
        MessageAnswerer answer({MessageAnswerer::Third});  // Cancel
        QVERIFY(!rig.window.close());
        QCOMPARE(answer.Seen,
                 QStringList{"Do you want to save the data before closing the program?"});
    }
    QVERIFY(rig.window.isVisible());
    QCOMPARE(saves, 1);
    {
        MessageAnswerer answer({MessageAnswerer::First});  // Yes
        QVERIFY(rig.window.close());
    }
    QCOMPARE(saves, 2);
}

void WindowTest::loadShortcutAndMenuAskAboutThePresentListFirst() {
    WindowRig rig;
    rig.Start();
    auto m = std::make_unique<TMeasureSet>();
    m->TestID = "present";
    rig.main->MeasureList.push_back(std::move(m));
    rig.window.SetListCount(EList::Measurements, 1);
    int saves = 0;
    rig.main->SaveMeasureList = [&](TForm_Main&, int) { return ++saves > 0; };
    const QStringList question{"Opening a file will overwrite the current list. Save it before?"};
    QApplication::setActiveWindow(&rig.window);
    {
        MessageAnswerer answer({MessageAnswerer::Third});  // Cancel
        QTest::keyClick(&rig.window, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(answer.Seen, question);
    }
    {
        MessageAnswerer answer({MessageAnswerer::Third});
        rig.window.action(EControl::Menu_LoadFile)->trigger();
        QCOMPARE(answer.Seen, question);
    }
    QCOMPARE(saves, 0);
    QCOMPARE(rig.main->MeasureList.size(), std::size_t(1));
    QCOMPARE(rig.main->MeasureList[0]->TestID, std::string("present"));
}

void WindowTest::resultColumnsFollowTheLayoutWithoutUnit() {
    WindowRig rig;
    readDemo(rig);
    rig.window.setResultLayoutWithoutUnit(true);
    rig.window.measurementView()->selectRow(0);
    ResultListModel* model = rig.window.resultModel();
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Class"));
    QCOMPARE(model->cellText(0, 3),
             QString::fromStdString(rig.main->MeasureList[0]->ResultList[0].ClassName));
    QTableView* view = rig.window.resultView();
    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      headerPoint(view, 3));
    QCOMPARE(rig.window.resultSortMode(), ResClassUp);
    // The four columns fill the list; none is left over for a fifth.
    int sum = 0;
    for (int c = 0; c < 4; ++c) sum += view->columnWidth(c);
    QCOMPARE(sum, view->width() - 2 * view->frameWidth() -
                      view->verticalScrollBar()->sizeHint().width());
    // 96 pixels per inch: 716 by 512.
    if (rig.window.scaleFactor() == 1.0) QCOMPARE(rig.window.minimumSize(), QSize(716, 512));
}

void WindowTest::windowWithDemoDataIsRenderedToAFile() {
    WindowRig rig;
    readDemo(rig);
    const int row = firstRowWithImage(rig);
    QVERIFY(row >= 0);
    rig.window.measurementView()->selectRow(row);
    rig.window.finishResize();
    const QImage shot = rig.window.grab().toImage();
    const QString path = QDir::current().filePath("kyvo-window.png");
    QVERIFY(shot.save(path));
    QVERIFY(QFileInfo(path).size() > 0);

    // The owner-drawn menu with its check marks and a shortcut text.
    QMenu* setup = rig.window.action(EControl::Menu_AutoConnect)->associatedObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QMenu*>(
                             rig.window.action(EControl::Menu_AutoConnect)->associatedObjects()[0]);
    QMenu* main = qobject_cast<QMenu*>(
        rig.window.action(EControl::Menu_SaveFile)->associatedObjects().value(0));
    QVERIFY(setup && main);
    for (QMenu* m : {setup, main}) {
        m->popup(QPoint(0, 0));
        m->setActiveAction(m->actions().value(1));
    }
    QVERIFY(setup->grab().save(QDir::current().filePath("kyvo-menu-setup.png")));
    QVERIFY(main->grab().save(QDir::current().filePath("kyvo-menu-main.png")));
    setup->hide();
    main->hide();
}

KYVO_REGISTER_TEST(WindowTest);
#include "WindowTest.moc"
