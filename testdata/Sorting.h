// Sort modes of the measurement list and the result list, the comparisons
// behind them and the mode changes of a column click.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "protocol/ByteBuffer.h"

namespace kyvo {

enum ESortType : std::uint8_t {
    TestIDUp = 0,
    TestIDDown = 1,
    TestNameUp = 2,
    TestNameDown = 3,
    LotNrUp = 4,
    LotNrDown = 5,
    DistrManuUp = 6,
    DistrManuDown = 7,
    DateTimeUp = 8,
    DateTimeDown = 9,
    AddDataUp = 10,
    AddDataDown = 11,
    PatIDUp = 12,
    PatIDDown = 13,
    ResValidUp = 14,
    ResValidDown = 15,
    ResNameUp = 16,
    ResNameDown = 17,
    ResValUp = 18,
    ResValDown = 19,
    ResUnitUp = 20,
    ResUnitDown = 21,
    ResClassUp = 22,
    ResClassDown = 23,
    Unsorted = 24,
};

// Locale-aware text comparison. The window supplies the user's locale; the
// std fallback below serves tests and headless use. Both texts are UTF-8.
// Returns <0, 0 or >0.
class ICollation {
  public:
    virtual ~ICollation() = default;
    virtual int compare(std::string_view a, std::string_view b, bool ignoreCase) const = 0;
};

// Code-point order after folding the case of ASCII and Latin-1 letters.
// With case respected, texts that differ only in case order lower case
// first, so "b" < "B" but both stay before "c".
class TStdCollation : public ICollation {
  public:
    int compare(std::string_view a, std::string_view b, bool ignoreCase) const override;
};

// The fallback, for callers that have no collation of their own.
const ICollation& defaultCollation();

// Ordering of result value texts: two texts that both start with a digit
// are compared as if the one with fewer leading digits were padded with
// blanks, so 5.1 sorts before 12. Other pairs compare as plain text.
int compareAlignedNumbers(std::string_view a, std::string_view b, const ICollation& coll);

// Date order. Dates that are no calendar date sort before every valid one
// (in ascending order) and compare equal among themselves.
int compareDates(const TDateData& a, const TDateData& b);

constexpr bool isDescending(ESortType mode) {
    return mode < Unsorted && (mode % 2) == 1;
}

// Header sort mark flags of a list view column: 0x0400 for descending,
// 0x0200 for ascending, 0 for Unsorted.
constexpr std::uint16_t SortMarkDescending = 0x0400;
constexpr std::uint16_t SortMarkAscending = 0x0200;
std::uint16_t sortHeaderMark(ESortType mode);

// The mode a click on a column header selects. A column without a sort
// mode leaves the mode as it is. In the four-column result list (no unit
// column) column 3 is the class.
ESortType measureColumnClick(ESortType current, int column);
ESortType resultColumnClick(ESortType current, int column, bool withoutUnitColumn);

namespace sorting_detail {

template <typename T>
const auto& deref(const T& item) {
    if constexpr (std::is_pointer_v<T>) {
        return *item;
    } else if constexpr (requires {
                             item.get();
                             *item;
                         }) {
        return *item;
    } else {
        return item;
    }
}

// Empty texts first whatever the collation makes of them.
inline int compareText(const ICollation& c, std::string_view a, std::string_view b,
                       bool ignoreCase) {
    if (a.empty() || b.empty()) return (a.empty() ? 0 : 1) - (b.empty() ? 0 : 1);
    return c.compare(a, b, ignoreCase);
}

template <typename Item>
int compareByMode(ESortType mode, const Item& a, const Item& b, const ICollation& c) {
    // Measure sets and result rows share one mode space; each only knows
    // the fields of its own list.
    if constexpr (requires {
                      a.TestID;
                      a.DateTime;
                  }) {
        switch (mode) {
            case TestIDUp:
            case TestIDDown:
                return compareText(c, a.TestID, b.TestID, true);
            case TestNameUp:
            case TestNameDown:
                return compareText(c, a.TestName, b.TestName, true);
            case LotNrUp:
            case LotNrDown:
                return compareText(c, a.LotNr, b.LotNr, true);
            case DistrManuUp:
            case DistrManuDown:
                return compareText(c, a.Distr_Manu, b.Distr_Manu, true);
            case DateTimeUp:
            case DateTimeDown:
                return compareDates(a.DateTime, b.DateTime);
            case AddDataUp:
            case AddDataDown:
                return compareText(c, a.UserComment, b.UserComment, true);
            case PatIDUp:
            case PatIDDown:
                return compareText(c, a.PatientID, b.PatientID, true);
            default:
                return 0;
        }
    } else {
        switch (mode) {
            case ResValidUp:
            case ResValidDown:
                return compareText(c, a.Validity, b.Validity, true);
            case ResNameUp:
            case ResNameDown:
                return compareText(c, a.ResultName, b.ResultName, true);
            case ResValUp:
            case ResValDown:
                return compareAlignedNumbers(a.ResultValue, b.ResultValue, c);
            case ResUnitUp:
            case ResUnitDown:
                return compareText(c, a.UnitName, b.UnitName, true);
            case ResClassUp:
                return compareText(c, a.ClassName, b.ClassName, false);
            case ResClassDown:
                return compareText(c, a.ClassName, b.ClassName, true);
            default:
                return 0;
        }
    }
}

}  // namespace sorting_detail

// Sorts a list of measure sets or result rows in place (values, raw or
// smart pointers). Items with equal keys keep their order; Unsorted and
// any value above 23 leave the list as it is, as do modes of the other list.
template <typename List>
void SortByMode(ESortType mode, List& list, const ICollation& coll = defaultCollation()) {
    if (mode >= Unsorted) return;
    const bool down = isDescending(mode);
    std::stable_sort(list.begin(), list.end(), [&](const auto& x, const auto& y) {
        const auto& a = sorting_detail::deref(x);
        const auto& b = sorting_detail::deref(y);
        return down ? sorting_detail::compareByMode(mode, b, a, coll) < 0
                    : sorting_detail::compareByMode(mode, a, b, coll) < 0;
    });
}

}  // namespace kyvo
