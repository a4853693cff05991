#include "testdata/Sorting.h"

#include <gtest/gtest.h>

#include "testdata/MeasureSet.h"

namespace kyvo {
namespace {

std::vector<std::string> names(const TMeasureList& list) {
    std::vector<std::string> out;
    for (const auto& s : list) out.push_back(s->TestName);
    return out;
}

std::vector<std::string> values(const std::vector<TResultSet*>& rows) {
    std::vector<std::string> out;
    for (const auto* r : rows) out.push_back(r->ResultValue);
    return out;
}

TMeasureList setsNamed(std::initializer_list<const char*> testNames) {
    TMeasureList list;
    for (const char* n : testNames) {
        list.push_back(std::make_unique<TMeasureSet>());
        list.back()->TestName = n;
    }
    return list;
}

TEST(Sorting, unsortedAndModesOfTheOtherListKeepTheOrderOfAddition) {
    for (ESortType mode : {Unsorted, static_cast<ESortType>(25), static_cast<ESortType>(255),
                           ResNameUp, ResClassDown}) {
        auto list = setsNamed({"c", "a", "b"});
        SortByMode(mode, list);
        EXPECT_EQ(names(list), (std::vector<std::string>{"c", "a", "b"})) << int{mode};
    }
}

TEST(Sorting, textsCompareIgnoringCaseWithEmptyFirstAndDescendingReversed) {
    auto list = setsNamed({"beta", "", "Alpha", "alpha2", "Gamma"});
    SortByMode(TestNameUp, list);
    EXPECT_EQ(names(list), (std::vector<std::string>{"", "Alpha", "alpha2", "beta", "Gamma"}));
    SortByMode(TestNameDown, list);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Gamma", "beta", "alpha2", "Alpha", ""}));
}

// Orders every non-empty text backwards and empty texts last, unlike any
// real locale: shows that sorting asks the given collation, and that empty
// texts still come first.
class TBackwardCollation : public ICollation {
  public:
    int compare(std::string_view a, std::string_view b, bool ignoreCase) const override {
        if (a.empty() != b.empty()) return a.empty() ? 1 : -1;
        return -TStdCollation().compare(a, b, ignoreCase);
    }
};

TEST(Sorting, theGivenCollationDecidesButEmptyTextsComeFirst) {
    const TBackwardCollation backward;
    auto list = setsNamed({"a", "", "c", "b"});
    SortByMode(TestNameUp, list, backward);
    EXPECT_EQ(names(list), (std::vector<std::string>{"", "c", "b", "a"}));
    std::vector<TResultSet> rows(3);
    rows[0].ResultValue = "5";
    rows[2].ResultValue = "12";
    SortByMode(ResValUp, rows, backward);
    EXPECT_EQ(rows[0].ResultValue, "");
    EXPECT_EQ(rows[1].ResultValue, "12");
}

TEST(Sorting, everyMeasurementModeComparesItsOwnField) {
    struct Case {
        ESortType mode;
        std::string TMeasureSet::*field;
    } cases[] = {
        {TestIDUp, &TMeasureSet::TestID},        {LotNrUp, &TMeasureSet::LotNr},
        {DistrManuUp, &TMeasureSet::Distr_Manu}, {AddDataUp, &TMeasureSet::UserComment},
        {PatIDUp, &TMeasureSet::PatientID},
    };
    for (const auto& c : cases) {
        auto list = setsNamed({"first", "second"});
        list[0].get()->*c.field = "z";
        list[1].get()->*c.field = "a";
        SortByMode(c.mode, list);
        EXPECT_EQ(names(list), (std::vector<std::string>{"second", "first"})) << int{c.mode};
        SortByMode(static_cast<ESortType>(c.mode + 1), list);
        EXPECT_EQ(names(list), (std::vector<std::string>{"first", "second"})) << int{c.mode};
    }
}

TEST(Sorting, equalKeysKeepTheirListOrderInBothDirections) {
    auto list = setsNamed({"1", "2", "3"});
    for (auto& s : list) s->LotNr = "same";
    SortByMode(LotNrUp, list);
    EXPECT_EQ(names(list), (std::vector<std::string>{"1", "2", "3"}));
    SortByMode(LotNrDown, list);
    EXPECT_EQ(names(list), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(Sorting, datesFollowTheCalendarAndInvalidDatesComeFirstAscending) {
    auto list = setsNamed({"feb1", "bad-month", "jan31", "year0", "dec2017"});
    setDateData(list[0]->DateTime, 18, 2, 1, 0, 0, 0);
    setDateData(list[1]->DateTime, 18, 0, 13, 11, 0, 9);
    setDateData(list[2]->DateTime, 18, 1, 31, 23, 59, 59);
    setDateData(list[3]->DateTime, 0, 5, 5, 5, 5, 5);
    setDateData(list[4]->DateTime, 17, 12, 31, 0, 0, 0);
    SortByMode(DateTimeUp, list);
    EXPECT_EQ(names(list),
              (std::vector<std::string>{"bad-month", "year0", "dec2017", "jan31", "feb1"}));
    SortByMode(DateTimeDown, list);
    EXPECT_EQ(names(list),
              (std::vector<std::string>{"feb1", "jan31", "dec2017", "bad-month", "year0"}));
}

TEST(Sorting, resultValuesAlignLeadingDigitsOnlyWhenBothStartWithADigit) {
    std::vector<TResultSet> rows(5);
    const char* texts[] = {"12", "5.1", "100", "<0.5", ""};
    std::vector<TResultSet*> view;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].ResultValue = texts[i];
        view.push_back(&rows[i]);
    }
    SortByMode(ResValUp, view);
    // Digits order before "<" by code point in the fallback collation.
    EXPECT_EQ(values(view), (std::vector<std::string>{"", "5.1", "12", "100", "<0.5"}));
    SortByMode(ResValDown, view);
    EXPECT_EQ(values(view), (std::vector<std::string>{"<0.5", "100", "12", "5.1", ""}));

    const ICollation& c = defaultCollation();
    EXPECT_LT(compareAlignedNumbers("5.1", "12", c), 0);
    EXPECT_GT(compareAlignedNumbers("12", "5.1", c), 0);
    EXPECT_LT(compareAlignedNumbers("1.5", "1.75", c), 0);
    // Padded, "<0.5" would become "  <0.5" and sort first.
    EXPECT_GT(compareAlignedNumbers("<0.5", "12", c), 0);
    EXPECT_EQ(compareAlignedNumbers("007", "7", c), compareAlignedNumbers("007", "  7", c));
}

TEST(Sorting, classNamesRespectCaseOnlyWhenAscending) {
    std::vector<TResultSet> rows(3);
    rows[0].ClassName = "B";
    rows[1].ClassName = "c";
    rows[2].ClassName = "b";
    std::vector<TResultSet*> view{&rows[0], &rows[1], &rows[2]};
    auto classes = [&] {
        std::vector<std::string> out;
        for (const auto* r : view) out.push_back(r->ClassName);
        return out;
    };
    SortByMode(ResClassUp, view);
    EXPECT_EQ(classes(), (std::vector<std::string>{"b", "B", "c"}));
    // Descending ignores case: "b" and "B" are equal and keep their order.
    SortByMode(ResClassDown, view);
    EXPECT_EQ(classes(), (std::vector<std::string>{"c", "b", "B"}));
    view = {&rows[0], &rows[1], &rows[2]};
    SortByMode(ResClassDown, view);
    EXPECT_EQ(classes(), (std::vector<std::string>{"c", "B", "b"}));
}

TEST(Sorting, resultRowModesSortValuesAsWellAsPointers) {
    std::vector<TResultSet> rows(2);
    rows[0].UnitName = "ng/ml";
    rows[0].Validity = "Valid";
    rows[0].ResultName = "b";
    rows[1].UnitName = "mg/l";
    rows[1].Validity = "Invalid";
    rows[1].ResultName = "a";
    for (ESortType mode : {ResUnitUp, ResValidUp, ResNameUp}) {
        auto copy = rows;
        SortByMode(mode, copy);
        EXPECT_EQ(copy[0].UnitName, "mg/l") << int{mode};
    }
}

TEST(Sorting, stdCollationFoldsLatinOneLettersAndOrdersLowerCaseFirst) {
    const ICollation& c = defaultCollation();
    EXPECT_EQ(c.compare("\xC3\x84rger", "\xC3\xA4rger", true), 0);  // Ärger / ärger
    EXPECT_LT(c.compare("\xC3\xA4rger", "\xC3\x84rger", false), 0);
    EXPECT_LT(c.compare("abc", "ABD", true), 0);
    EXPECT_LT(c.compare("abc", "ABD", false), 0);  // the letters decide before the case
    EXPECT_LT(c.compare("ab", "abc", true), 0);
    EXPECT_EQ(c.compare("", "", false), 0);
    EXPECT_LT(c.compare("", "a", true), 0);
    // Broken UTF-8 still orders, byte by byte.
    EXPECT_NE(c.compare("\xC3", "\xC3\x28", true), 0);
}

TEST(Sorting, columnClicksToggleTheirColumnAndStartAscendingElsewhere) {
    ESortType mode = Unsorted;
    mode = measureColumnClick(mode, 1);
    EXPECT_EQ(mode, TestNameUp);
    mode = measureColumnClick(mode, 1);
    EXPECT_EQ(mode, TestNameDown);
    mode = measureColumnClick(mode, 1);
    EXPECT_EQ(mode, TestNameUp);
    EXPECT_EQ(measureColumnClick(LotNrDown, 1), TestNameUp);

    struct Case {
        int column;
        ESortType up;
    } measure[] = {{0, TestIDUp},    {1, TestNameUp}, {2, LotNrUp},
                   {3, DistrManuUp}, {4, DateTimeUp}, {5, AddDataUp}};
    for (const auto& k : measure) {
        EXPECT_EQ(measureColumnClick(Unsorted, k.column), k.up);
        EXPECT_EQ(measureColumnClick(k.up, k.column), k.up + 1);
        EXPECT_EQ(measureColumnClick(static_cast<ESortType>(k.up + 1), k.column), k.up);
    }
    EXPECT_EQ(measureColumnClick(LotNrUp, 6), LotNrUp);
    EXPECT_EQ(measureColumnClick(LotNrUp, -1), LotNrUp);

    Case full[] = {{0, ResValidUp}, {1, ResNameUp}, {2, ResValUp}, {3, ResUnitUp}, {4, ResClassUp}};
    for (const auto& k : full) {
        EXPECT_EQ(resultColumnClick(Unsorted, k.column, false), k.up);
        EXPECT_EQ(resultColumnClick(k.up, k.column, false), k.up + 1);
    }
    EXPECT_EQ(resultColumnClick(ResNameUp, 5, false), ResNameUp);
    EXPECT_EQ(resultColumnClick(ResClassUp, 3, true), ResClassDown);
    EXPECT_EQ(resultColumnClick(ResNameUp, 4, true), ResNameUp);
}

TEST(Sorting, headerMarksFollowTheDirection) {
    EXPECT_EQ(sortHeaderMark(TestIDUp), SortMarkAscending);
    EXPECT_EQ(sortHeaderMark(TestIDDown), SortMarkDescending);
    EXPECT_EQ(sortHeaderMark(ResClassDown), 0x0400);
    EXPECT_EQ(sortHeaderMark(ResClassUp), 0x0200);
    EXPECT_EQ(sortHeaderMark(Unsorted), 0);
}

}  // namespace
}  // namespace kyvo
