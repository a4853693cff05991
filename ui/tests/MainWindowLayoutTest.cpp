// Where the main window puts its controls, checked on the arithmetic alone,
// and how the window's controls are addressed.
#include <QAction>
#include <QSet>
#include <QTest>

#include "TestRegistry.h"
#include "WindowRig.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowLayout.h"

using namespace kyvo;
using namespace kyvo::layout;

Q_DECLARE_METATYPE(kyvo::EImagePos)

class MainWindowLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void everyControlIsEitherOneWidgetOrOneMenuItem();
    void aFreshWindowHasTheDefaultGeometrysSize();
    void storedImagePositionWordIsShownByTheWiredWindow_data();
    void storedImagePositionWordIsShownByTheWiredWindow();
    void minimumWindowSizeRoundsHalvesToEven_data();
    void minimumWindowSizeRoundsHalvesToEven();
    void topRowsKeepClassicSizesAndGrowForLongerTexts_data();
    void topRowsKeepClassicSizesAndGrowForLongerTexts();
    void pictureStandsUnderItsListsAndEndsAboveTheStatusBar_data();
    void pictureStandsUnderItsListsAndEndsAboveTheStatusBar();
    void columnsFitTheirContentAndShareTheRest();
};

void MainWindowLayoutTest::everyControlIsEitherOneWidgetOrOneMenuItem() {
    TMainWindow window;
    QSet<QObject*> seen;
    for (int i = 0; i < int(EControl::Count_); ++i) {
        const auto c = EControl(i);
        QWidget* widget = window.control(c);
        QAction* action = window.action(c);
        QVERIFY2((widget != nullptr) != (action != nullptr), qPrintable(QString::number(i)));
        QObject* target = widget ? static_cast<QObject*>(widget) : action;
        QVERIFY2(!seen.contains(target), qPrintable(QString::number(i)));
        seen.insert(target);
    }
}

void MainWindowLayoutTest::aFreshWindowHasTheDefaultGeometrysSize() {
    const TMainWindow window;
    const TWindowGeometry normal;
    QCOMPARE(window.size(), QSize(normal.Width, normal.Height));
}

void MainWindowLayoutTest::storedImagePositionWordIsShownByTheWiredWindow_data() {
    QTest::addColumn<QString>("word");  // empty: not in the file
    QTest::addColumn<EImagePos>("expected");
    QTest::addColumn<EControl>("ticked");
    QTest::newRow("missing") << QString() << SRight << EControl::Menu_ImgPosRight;
    QTest::newRow("lower case") << "full" << SFull << EControl::Menu_ImgPosFull;
    QTest::newRow("upper case") << "LEFT" << SLeft << EControl::Menu_ImgPosLeft;
    QTest::newRow("unknown word") << "Middle" << SNone << EControl::Menu_ImgPosNone;
}

void MainWindowLayoutTest::storedImagePositionWordIsShownByTheWiredWindow() {
    QFETCH(QString, word);
    QFETCH(EImagePos, expected);
    QFETCH(EControl, ticked);
    std::map<std::string, std::string> user;
    if (!word.isEmpty()) user["Setup/ImagePosition"] = word.toStdString();
    kyvo::test::WindowRig rig(user);
    QCOMPARE(rig.window.imagePosition(), expected);
    for (EControl c : {EControl::Menu_ImgPosLeft, EControl::Menu_ImgPosRight,
                       EControl::Menu_ImgPosFull, EControl::Menu_ImgPosNone})
        QCOMPARE(rig.window.action(c)->isChecked(), c == ticked);
}

void MainWindowLayoutTest::minimumWindowSizeRoundsHalvesToEven_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("96 dpi") << 1.0 << QSize(716, 512);
    QTest::newRow("120 dpi") << 1.25 << QSize(879, 640);
    QTest::newRow("144 dpi") << 1.5 << QSize(1042, 768);
}

void MainWindowLayoutTest::minimumWindowSizeRoundsHalvesToEven() {
    QFETCH(double, scale);
    QFETCH(QSize, expected);
    QCOMPARE(minimumWindowSize(scale), expected);
}

void MainWindowLayoutTest::topRowsKeepClassicSizesAndGrowForLongerTexts_data() {
    QTest::addColumn<int>("centralWidth");
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<int>("hint");  // every text's width
    QTest::addColumn<int>("buttonWidth");
    QTest::addColumn<int>("openWidth");
    QTest::addColumn<int>("labelWidth");
    QTest::newRow("short texts") << 874 << 1920 << 40 << 120 << 100 << 104;
    QTest::newRow("long texts") << 874 << 1920 << 150 << 150 << 150 << 150;
    QTest::newRow("narrow screen") << 716 << 400 << 40 << 100 << 100 << 104;
}

void MainWindowLayoutTest::topRowsKeepClassicSizesAndGrowForLongerTexts() {
    QFETCH(int, centralWidth);
    QFETCH(int, screenWidth);
    QFETCH(int, hint);
    QFETCH(int, buttonWidth);
    QFETCH(int, openWidth);
    QFETCH(int, labelWidth);
    TTopRowHints h;
    h.centralWidth = centralWidth;
    h.screenWidth = screenWidth;
    h.open = h.combine = h.readData = h.instantMeasure = h.timerMeasure = h.kyvoTime = h.fw = hint;
    h.combineHeight = 17;
    const TTopRows r = topRows(h);

    QCOMPARE(r.open.width(), openWidth);
    QCOMPARE(r.combine.left(), r.open.right() + 1 + 6);
    QCOMPARE(r.combine.center().y(), r.open.center().y());
    QCOMPARE(r.readData.left(), kMargin);
    QCOMPARE(r.readData.width(), buttonWidth);
    QCOMPARE(r.instantMeasure.width(), buttonWidth);
    QCOMPARE(r.timerMeasure.width(), buttonWidth);
    QCOMPARE(r.instantMeasure.left(), r.readData.right() + 1 + 3);
    QCOMPARE(r.timerMeasure.left(), r.instantMeasure.right() + 1 + 3);
    for (const QRect& b : {r.readData, r.instantMeasure, r.timerMeasure})
        QCOMPARE(b.top(), kSecondRowY);

    // The device block stands at the right edge: the identity above the clock.
    QCOMPARE(r.panelTime.right() + 1, centralWidth - kMargin);
    QCOMPARE(r.panelDate.right() + 1 + 2, r.panelTime.left());
    QCOMPARE(r.fwDisplay.left(), r.panelDate.left());
    QCOMPARE(r.fwDisplay.right(), r.panelTime.right());
    for (const QRect& label : {r.fw, r.kyvoTime}) {
        QCOMPARE(label.width(), labelWidth);
        QCOMPARE(label.right() + 1 + 6, r.panelDate.left());
    }
    QVERIFY(QRect(QPoint(), r.panelDate.size()).contains(r.picker));
}

void MainWindowLayoutTest::pictureStandsUnderItsListsAndEndsAboveTheStatusBar_data() {
    QTest::addColumn<EImagePos>("pos");
    QTest::addColumn<int>("centralHeight");
    QTest::addColumn<int>("labelColumn");
    for (EImagePos pos : {SLeft, SRight, SFull}) {
        const char* name = pos == SLeft ? "left" : pos == SRight ? "right" : "full";
        QTest::addRow("%s", name) << pos << 655 << 41;
        QTest::addRow("%s, no labels", name) << pos << 655 << 0;
        QTest::addRow("%s, low window", name) << pos << 300 << 41;
    }
}

void MainWindowLayoutTest::pictureStandsUnderItsListsAndEndsAboveTheStatusBar() {
    QFETCH(EImagePos, pos);
    QFETCH(int, centralHeight);
    QFETCH(int, labelColumn);
    const int listsTop = kSecondRowY + kListGap;
    const TListRects lists = listRects(1000, centralHeight, listsTop);
    QCOMPARE(lists.measurements.left(), kMargin);
    QCOMPARE(lists.results.left(), lists.measurements.right() + 1 + 8);
    for (const QRect& l : {lists.measurements, lists.results}) {
        QCOMPARE(l.top(), listsTop);
        QCOMPARE(l.bottom() + 1, centralHeight - kStatusGap);
    }

    const int labelMinHeight = 13;
    const TImagePlacement p = placeImage(pos, lists, centralHeight, labelColumn, labelMinHeight);
    const bool underMeasurements = pos != SRight;
    const bool underResults = pos != SLeft;
    const int shortened = std::max(centralHeight - listsTop - kStatusGap - kImageHeight - 6, 20);
    QCOMPARE(p.measurementsHeight, underMeasurements ? shortened : lists.measurements.height());
    QCOMPARE(p.resultsHeight, underResults ? shortened : lists.results.height());
    QCOMPARE(p.frame.top(), listsTop + shortened + 6);
    QCOMPARE(p.frame.height(), kImageHeight);
    if (centralHeight - listsTop - kStatusGap - kImageHeight - 6 >= 20)
        QCOMPARE(p.frame.bottom() + 1, centralHeight - kStatusGap);

    // Right of the label column, under the chosen list or both.
    const int left = underMeasurements ? kMargin : lists.measurements.width() + kMargin;
    QCOMPARE(p.frame.left(), left + labelColumn);
    QCOMPARE(p.frame.width(),
             imageFrameWidth(pos, lists.measurements.width(), lists.results.width(), labelColumn));
    if (!underResults) QVERIFY(p.frame.right() < lists.results.left());
    if (!underMeasurements) QVERIFY(p.frame.left() > lists.measurements.right());
    if (underMeasurements && underResults) {
        QVERIFY(p.frame.left() < lists.measurements.right());
        QVERIFY(p.frame.right() > lists.results.left());
    }

    // Maximum at the picture's top, minimum at its bottom, left of it.
    QCOMPARE(p.labelMax.y(), p.frame.top());
    QCOMPARE(p.labelMin.y() + labelMinHeight, p.frame.bottom() + 1);
    QCOMPARE(p.labelMin.x(), p.labelMax.x());
    QCOMPARE(p.labelMax.x(), left + 7);
}

void MainWindowLayoutTest::columnsFitTheirContentAndShareTheRest() {
    const auto need = [](int content, bool whole = false, int dragged = -1) {
        TColumnNeed n;
        n.content = content;
        n.whole = whole;
        n.dragged = dragged;
        return n;
    };
    // The measurement list: Test ID and Date / Time are to be whole.
    const std::vector<TColumnNeed> measurements = {need(190, true), need(120),       need(80),
                                                   need(160),       need(140, true), need(90)};
    struct Case {
        const char* name;
        int inner;
        std::vector<TColumnNeed> columns;
        std::vector<int> widths;
    } cases[] = {
        {"all fit: the rest shared out evenly, leftmost first",
         600,
         {need(100), need(50), need(50)},
         {234, 183, 183}},
        {"wide list: every column whole", 800, measurements, {194, 124, 83, 163, 143, 93}},
        {"default size: Test ID and date whole, the others share the rest",
         500,
         measurements,
         {190, 43, 43, 42, 140, 42}},
        {"too narrow even for those two: everyone gets a share",
         300,
         measurements,
         {50, 50, 50, 50, 50, 50}},
        {"a column needing less than its share gets what it needs, not below the minimum",
         400,
         {need(30), need(300), need(300)},
         {40, 180, 180}},
        {"a short column whole, the others split the rest",
         400,
         {need(60), need(300), need(300)},
         {60, 170, 170}},
        {"a dragged width stays, the others take the room",
         600,
         {need(100, false, 250), need(50), need(50)},
         {250, 175, 175}},
        {"a dragged width stays even when the list is too narrow for it",
         200,
         {need(100, true), need(50, false, 300)},
         {40, 300}},
    };
    for (const Case& c : cases) {
        const std::vector<int> got = fitColumnWidths(c.inner, c.columns);
        QVERIFY2(got == c.widths, c.name);
    }
}

KYVO_REGISTER_TEST(MainWindowLayoutTest);
#include "MainWindowLayoutTest.moc"
