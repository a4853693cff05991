#include "ui/ListSort.h"

#include <algorithm>
#include <optional>

namespace kyvo {

void sortMeasureList(ESortType mode, TMeasureList& list, const ICollation& collation) {
    if (mode != DateTimeUp && mode != DateTimeDown) {
        SortByMode(mode, list, collation);
        return;
    }
    // Dates that form no calendar date sort before every valid one and are
    // equal among themselves, as compareDates has it.
    struct Keyed {
        bool valid;
        std::int64_t time;
        std::unique_ptr<TMeasureSet> set;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(list.size());
    for (auto& m : list) {
        const std::optional<std::int64_t> t = m ? dateDataToSortTime(m->DateTime) : std::nullopt;
        keyed.push_back({t.has_value(), t.value_or(0), std::move(m)});
    }
    auto less = [](const Keyed& a, const Keyed& b) {
        if (a.valid != b.valid) return !a.valid;
        return a.valid && a.time < b.time;
    };
    if (mode == DateTimeUp)
        std::stable_sort(keyed.begin(), keyed.end(), less);
    else
        std::stable_sort(keyed.begin(), keyed.end(),
                         [&](const Keyed& a, const Keyed& b) { return less(b, a); });
    for (std::size_t i = 0; i < keyed.size(); ++i) list[i] = std::move(keyed[i].set);
}

}  // namespace kyvo
