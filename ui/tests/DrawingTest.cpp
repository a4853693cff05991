#include <QPainter>
#include <QTest>
#include <cmath>

#include "TestRegistry.h"
#include "ui/LineImage.h"
#include "ui/OwnerDraw.h"

using namespace kyvo;

class DrawingTest : public QObject {
    Q_OBJECT
  private slots:
    void profilePixelsSpreadOverTheWidthWithHalvesToEven();
    void profilePolygonIsClosedBelowTheImage();
    void tooFewValuesLeaveTheImageBlack();
    void lineBordersFollowWidthParity_data();
    void lineBordersFollowWidthParity();
    void lineAreaLiesBelowItsBaselineAndIsMarkedInYellow();
    void lineOutsideTheProfileIsNotMarked();
    void imageKeepsItsLogicalSizeOnDenseScreens();
    void menuCaptionSplitsAtTwoBlanks_data();
    void menuCaptionSplitsAtTwoBlanks();
    void shortcutIsDrawnRightAlignedAndCheckMarkInItsBox();
    void statusPanelsGrowWithTheirTextAndProgressPanelStays();
};

void DrawingTest::profilePixelsSpreadOverTheWidthWithHalvesToEven() {
    std::vector<std::uint8_t> values(256);
    for (int j = 0; j < 256; ++j) values[std::size_t(j)] = std::uint8_t(j);
    const QPolygon poly = profilePolygon(values, 520);
    QCOMPARE(poly.size(), 256 + 4);
    const float s = 519.0f / 255.0f;
    for (int j = 1; j <= 254; ++j) {
        const float exact = float(j) * s;
        QCOMPARE(poly[j + 1].x(), int(std::nearbyint(exact)));
        QCOMPARE(poly[j + 1].y(), 256 - j);
    }
    // Half-way values go to the even neighbour: 3 values over width 6 put
    // the middle one at 2.5 -> 2.
    const QPolygon halves = profilePolygon({10, 20, 30}, 6);
    QCOMPARE(halves[2].x(), 2);
    QCOMPARE(profileX(1, 2.5f), 2);
    QCOMPARE(profileX(3, 2.5f), 8);  // 7.5 -> 8
}

void DrawingTest::profilePolygonIsClosedBelowTheImage() {
    const QPolygon poly = profilePolygon({0, 255}, 100);
    const QPolygon expected({QPoint(-1, 256), QPoint(0, 256), QPoint(99, 1), QPoint(100, 1),
                             QPoint(100, 258), QPoint(-1, 258)});
    QCOMPARE(poly, expected);
    const QImage img = drawLineImage({0, 255}, {}, 100);
    QCOMPARE(img.size(), QSize(100, kLineImageHeight));
    // The top right lies inside the grey profile, the top left above it.
    QCOMPARE(img.pixelColor(90, 30), QColor(128, 128, 128));
    QCOMPARE(img.pixelColor(5, 30), QColor(Qt::black));
}

void DrawingTest::tooFewValuesLeaveTheImageBlack() {
    for (const auto& values : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{200}}) {
        QVERIFY(profilePolygon(values, 50).isEmpty());
        const QImage img = drawLineImage(values, {{0, 1}}, 50);
        QCOMPARE(img.size(), QSize(50, kLineImageHeight));
        for (int x = 0; x < 50; x += 7)
            for (int y = 0; y < kLineImageHeight; y += 11)
                QCOMPARE(img.pixelColor(x, y), QColor(Qt::black));
    }
}

void DrawingTest::lineBordersFollowWidthParity_data() {
    QTest::addColumn<int>("center");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::newRow("odd width") << 100 << 5 << 97 << 104;
    QTest::newRow("even width") << 100 << 4 << 97 << 103;
    QTest::newRow("width 0") << 10 << 0 << 9 << 11;
}

void DrawingTest::lineBordersFollowWidthParity() {
    QFETCH(int, center);
    QFETCH(int, width);
    QFETCH(int, left);
    QFETCH(int, right);
    const LineBorders b = lineBorders({center, width});
    QCOMPARE(b.left, left);
    QCOMPARE(b.right, right);
}

void DrawingTest::lineAreaLiesBelowItsBaselineAndIsMarkedInYellow() {
    // A flat profile at 200 with a dip of 50 around pixel 20.
    std::vector<std::uint8_t> values(41, 200);
    for (int j = 17; j <= 23; ++j) values[std::size_t(j)] = 50;
    const int width = 41;        // one pixel per value
    const LineMark line{20, 5};  // borders 17 and 24
    const QPolygon profile = profilePolygon(values, width);
    const QPolygon area = linePolygon(profile, values, width, line);
    QCOMPARE(area.first(), QPoint(17, 256 - 50));
    QCOMPARE(area.last(), QPoint(24, 256 - 200));
    QCOMPARE(area.size(), 8);
    // No point of the area lies above the straight baseline.
    for (const QPoint& p : area) {
        const double baseY = 206 + (56.0 - 206) * (p.x() - 17) / 7.0;
        QVERIFY(p.y() >= int(std::lround(baseY)));
    }

    const QImage img = drawLineImage(values, {line}, width);
    const QColor yellow(255, 255, 0);
    QCOMPARE(img.pixelColor(17, 5), yellow);    // left border, full height
    QCOMPARE(img.pixelColor(23, 250), yellow);  // right border at xR - 1
    // Blue between the baseline and the lower profile, grey below the profile.
    QCOMPARE(img.pixelColor(20, 170), QColor(0, 0, 255));
    QCOMPARE(img.pixelColor(20, 230), QColor(128, 128, 128));
    QCOMPARE(img.pixelColor(19, 120), QColor(Qt::black));  // above the baseline
    QCOMPARE(img.pixelColor(5, 30), QColor(Qt::black));    // above the profile
    QCOMPARE(img.pixelColor(5, 200), QColor(128, 128, 128));
}

void DrawingTest::lineOutsideTheProfileIsNotMarked() {
    std::vector<std::uint8_t> values(30, 100);
    const QPolygon profile = profilePolygon(values, 30);
    QVERIFY(linePolygon(profile, values, 30, {1, 4}).isEmpty());   // left border -2
    QVERIFY(linePolygon(profile, values, 30, {27, 4}).isEmpty());  // right border 30
    QVERIFY(!linePolygon(profile, values, 30, {3, 2}).isEmpty());  // borders 1 and 5
    const QImage img = drawLineImage(values, {{1, 4}}, 30);
    for (int x = 0; x < 30; ++x) QVERIFY(img.pixelColor(x, 20) != QColor(255, 255, 0));
}

void DrawingTest::imageKeepsItsLogicalSizeOnDenseScreens() {
    const QImage img = drawLineImage({0, 128, 255}, {}, 300, 2.0);
    QCOMPARE(img.size(), QSize(600, 2 * kLineImageHeight));
    QCOMPARE(img.deviceIndependentSize().toSize(), QSize(300, kLineImageHeight));
}

void DrawingTest::menuCaptionSplitsAtTwoBlanks_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::newRow("with shortcut") << "Save data to file  Ctrl+S"
                                   << "Save data to file"
                                   << "Ctrl+S";
    QTest::newRow("single blanks only") << "Load last used file on start"
                                        << "Load last used file on start"
                                        << "";
    QTest::newRow("accelerators removed") << "&Info && Help"
                                          << "Info & Help"
                                          << "";
    QTest::newRow("tab from Qt") << "Refresh\tF5"
                                 << "Refresh"
                                 << "F5";
}

void DrawingTest::menuCaptionSplitsAtTwoBlanks() {
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    const MenuCaption c = splitMenuCaption(caption);
    QCOMPARE(c.text, text);
    QCOMPARE(c.shortcut, shortcut);
}

namespace {
QImage drawItem(const MenuItemLook& look, QSize size) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    QPalette pal;
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    drawMenuItem(p, img.rect(), look, pal, QFont());
    return img;
}
int darkColumnsFrom(const QImage& img, int from, int to) {
    int count = 0;
    for (int x = from; x < to; ++x)
        for (int y = 0; y < img.height(); ++y)
            if (qGray(img.pixel(x, y)) < 100) {
                ++count;
                break;
            }
    return count;
}
}  // namespace

void DrawingTest::shortcutIsDrawnRightAlignedAndCheckMarkInItsBox() {
    MenuItemLook withShortcut{"Save data to file  Ctrl+S"};
    const QSize size(260, menuItemSize(withShortcut, QFont()).height());
    const QImage a = drawItem(withShortcut, size);
    MenuItemLook plain{"Save data to file"};
    const QImage b = drawItem(plain, size);
    // Only the item with the shortcut has text near its right edge.
    QVERIFY(darkColumnsFrom(a, 200, 255) > 0);
    QCOMPARE(darkColumnsFrom(b, 200, 260), 0);
    QVERIFY(darkColumnsFrom(a, 255, 260) == 0);  // 5 pixels kept free on the right

    MenuItemLook checked{"Auto connect"};
    checked.checked = true;
    const QImage c = drawItem(checked, size);
    const int h = size.height();
    QCOMPARE(c.pixelColor(3, h / 2), QColor(176, 202, 255));  // the box frame
    bool checkDrawn = false;
    for (int x = 3; x < h - 3; ++x)
        for (int y = 3; y < h - 3; ++y) checkDrawn |= c.pixelColor(x, y) == QColor(0, 0, 240);
    QVERIFY(checkDrawn);
    const QImage d = drawItem(MenuItemLook{"Auto connect"}, size);
    QCOMPARE(d.pixelColor(3, h / 2), QColor(Qt::white));

    MenuItemLook highlighted{"Auto connect"};
    highlighted.highlighted = true;
    QCOMPARE(drawItem(highlighted, size).pixelColor(100, h / 2 + 5), QColor(228, 234, 243));
}

void DrawingTest::statusPanelsGrowWithTheirTextAndProgressPanelStays() {
    TStatusBar bar;
    bar.resize(600, 20);
    bar.setPanelText(0, "Ready");
    const int before = bar.panelRect(0).width();
    bar.setPanelText(0, "Receiving data from the device");
    QVERIFY(bar.panelRect(0).width() > before);
    QCOMPARE(bar.panelRect(0).width(),
             QFontMetrics(bar.font()).horizontalAdvance("Receiving data from the device") + 20);
    QCOMPARE(bar.panelRect(TStatusBar::kProgressPanel).width(), 102);
    QCOMPARE(bar.progressBar()->geometry(),
             bar.panelRect(TStatusBar::kProgressPanel).adjusted(1, 1, -1, -1));
    QVERIFY(bar.panelRect(1).left() > bar.panelRect(0).right());
    QCOMPARE(bar.height(), 20);
}

KYVO_REGISTER_TEST(DrawingTest);
#include "DrawingTest.moc"
