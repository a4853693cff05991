#include "testdata/Sorting.h"

namespace kyvo {
namespace {

// Next code point of a UTF-8 text; a malformed byte stands for itself so
// that arbitrary bytes still order deterministically.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = 1;
    char32_t cp = b0;
    if (b0 >= 0xC0 && b0 < 0xE0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 < 0xF8) {
        len = 4;
        cp = b0 & 0x07;
    }
    if (len > 1) {
        if (i + len > s.size()) {
            ++i;
            return b0;
        }
        for (int k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                ++i;
                return b0;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
    }
    i += len;
    return cp;
}

char32_t foldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t leadingDigits(std::string_view s) {
    std::size_t n = 0;
    while (n < s.size() && isDigit(s[n])) ++n;
    return n;
}

}  // namespace

int TStdCollation::compare(std::string_view a, std::string_view b, bool ignoreCase) const {
    int caseTie = 0;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ca = nextCodePoint(a, i);
        const char32_t cb = nextCodePoint(b, j);
        const char32_t fa = foldCase(ca), fb = foldCase(cb);
        if (fa != fb) return fa < fb ? -1 : 1;
        // The first difference in case decides only when the texts are
        // otherwise equal; lower case first, as the usual collations do.
        if (caseTie == 0 && ca != cb) caseTie = ca == fa ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return ignoreCase ? 0 : caseTie;
}

const ICollation& defaultCollation() {
    static const TStdCollation coll;
    return coll;
}

int compareAlignedNumbers(std::string_view a, std::string_view b, const ICollation& coll) {
    if (a.empty() || b.empty()) return (a.empty() ? 0 : 1) - (b.empty() ? 0 : 1);
    if (!isDigit(a.front()) || !isDigit(b.front())) return coll.compare(a, b, true);
    const std::size_t da = leadingDigits(a), db = leadingDigits(b);
    if (da == db) return coll.compare(a, b, true);
    if (da < db) return coll.compare(std::string(db - da, ' ').append(a), b, true);
    return coll.compare(a, std::string(da - db, ' ').append(b), true);
}

int compareDates(const TDateData& a, const TDateData& b) {
    const auto ta = dateDataToSortTime(a);
    const auto tb = dateDataToSortTime(b);
    if (!ta || !tb) return (ta ? 1 : 0) - (tb ? 1 : 0);
    return *ta < *tb ? -1 : (*ta > *tb ? 1 : 0);
}

std::uint16_t sortHeaderMark(ESortType mode) {
    if (mode >= Unsorted) return 0;
    return isDescending(mode) ? SortMarkDescending : SortMarkAscending;
}

namespace {

ESortType toggle(ESortType current, ESortType up) {
    return current == up ? static_cast<ESortType>(up + 1) : up;
}

}  // namespace

ESortType measureColumnClick(ESortType current, int column) {
    static constexpr ESortType columns[] = {TestIDUp,    TestNameUp, LotNrUp,
                                            DistrManuUp, DateTimeUp, AddDataUp};
    if (column < 0 || column >= static_cast<int>(std::size(columns))) return current;
    return toggle(current, columns[column]);
}

ESortType resultColumnClick(ESortType current, int column, bool withoutUnitColumn) {
    static constexpr ESortType full[] = {ResValidUp, ResNameUp, ResValUp, ResUnitUp, ResClassUp};
    static constexpr ESortType noUnit[] = {ResValidUp, ResNameUp, ResValUp, ResClassUp};
    const ESortType* columns = withoutUnitColumn ? noUnit : full;
    const int count = withoutUnitColumn ? 4 : 5;
    if (column < 0 || column >= count) return current;
    return toggle(current, columns[column]);
}

}  // namespace kyvo
