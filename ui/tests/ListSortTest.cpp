#include <QTest>
#include <random>

#include "TestRegistry.h"
#include "ui/ListModels.h"
#include "ui/ListSort.h"
#include "ui/QtPlatform.h"

using namespace kyvo;

class ListSortTest : public QObject {
    Q_OBJECT
  private slots:
    void dateSortOrdersLikeTheSortRuleInBothDirections();
    void textSortWithTheLocaleOrdersLikeTheSortRule();
    void dateCellFollowsTheCalendarRule_data();
    void dateCellFollowsTheCalendarRule();
};

void ListSortTest::dateSortOrdersLikeTheSortRuleInBothDirections() {
    std::mt19937 rng(7);
    auto make = [&] {
        TMeasureList list;
        for (int i = 0; i < 500; ++i) {
            auto m = std::make_unique<TMeasureSet>();
            m->TestID = std::to_string(i);
            // Few distinct values, so that ties and invalid dates (month 0,
            // day 30 of February, hour 24) are common.
            setDateData(m->DateTime, std::uint8_t(rng() % 3), std::uint8_t(rng() % 4),
                        std::uint8_t(28 + rng() % 3), std::uint8_t(22 + rng() % 3),
                        std::uint8_t(rng() % 2), 0);
            list.push_back(std::move(m));
        }
        return list;
    };
    for (ESortType mode : {DateTimeUp, DateTimeDown}) {
        TMeasureList fast = make();
        rng.seed(7);
        TMeasureList reference = make();
        rng.seed(7);
        sortMeasureList(mode, fast, defaultCollation());
        SortByMode(mode, reference, defaultCollation());
        QCOMPARE(fast.size(), reference.size());
        for (std::size_t i = 0; i < fast.size(); ++i)
            QCOMPARE(fast[i]->TestID, reference[i]->TestID);
    }
}

void ListSortTest::textSortWithTheLocaleOrdersLikeTheSortRule() {
    const char* names[] = {"beta", "Alpha", "alpha", "Ärger", "zeta", "", "Beta", "10", "9"};
    auto make = [&] {
        TMeasureList list;
        for (int i = 0; i < 60; ++i) {
            auto m = std::make_unique<TMeasureSet>();
            m->TestID = std::to_string(i);
            m->TestName = names[(i * 7) % 9];
            m->LotNr = names[(i * 5) % 9];
            list.push_back(std::move(m));
        }
        return list;
    };
    QtCollation collation;
    for (ESortType mode : {TestNameUp, TestNameDown, LotNrUp, LotNrDown}) {
        TMeasureList fast = make();
        TMeasureList reference = make();
        sortMeasureList(mode, fast, collation);
        SortByMode(mode, reference, collation);
        for (std::size_t i = 0; i < fast.size(); ++i)
            QCOMPARE(fast[i]->TestID, reference[i]->TestID);
    }
}

void ListSortTest::dateCellFollowsTheCalendarRule_data() {
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<QString>("text");
    QTest::newRow("month 0 is empty") << 26 << 0 << 9 << 14 << 3 << "";
    QTest::newRow("month 13 is empty") << 26 << 13 << 9 << 14 << 3 << "";
    QTest::newRow("valid date and time") << 26 << 12 << 9 << 14 << 3 << "12/9/26 2:03:00 PM";
    QTest::newRow("midnight shows the date only") << 26 << 12 << 9 << 0 << 0 << "12/9/26";
    // Bytes 0..3 (seconds, minutes, hour, day) as one little-endian number.
    QTest::newRow("30 February shows the number")
        << 24 << 2 << 30 << 10 << 0 << QString::number(30u << 24 | 10u << 16);
    QTest::newRow("29 February of a leap year")
        << 24 << 2 << 29 << 10 << 0 << "2/29/24 10:00:00 AM";
    QTest::newRow("hour 24 shows the number")
        << 26 << 5 << 1 << 24 << 0 << QString::number(1u << 24 | 24u << 16);
}

void ListSortTest::dateCellFollowsTheCalendarRule() {
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(QString, text);
    TDateData d;
    setDateData(d, std::uint8_t(year), std::uint8_t(month), std::uint8_t(day), std::uint8_t(hour),
                std::uint8_t(minute), 0);
    QCOMPARE(measureDateText(d), text);
}

KYVO_REGISTER_TEST(ListSortTest);
#include "ListSortTest.moc"
