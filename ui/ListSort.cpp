#include "ui/ListSort.h"

#include <algorithm>
#include <optional>

#include "ui/QtPlatform.h"

namespace kyvo {

namespace {

// The text a text mode compares, case ignored; none for other modes.
const std::string* sortText(ESortType mode, const TMeasureSet& m) {
    switch (mode) {
        case TestIDUp:
        case TestIDDown:
            return &m.TestID;
        case TestNameUp:
        case TestNameDown:
            return &m.TestName;
        case LotNrUp:
        case LotNrDown:
            return &m.LotNr;
        case DistrManuUp:
        case DistrManuDown:
            return &m.Distr_Manu;
        case AddDataUp:
        case AddDataDown:
            return &m.UserComment;
        case PatIDUp:
        case PatIDDown:
            return &m.PatientID;
        default:
            return nullptr;
    }
}

// With the locale's collation each text is turned into its sort key once.
bool sortByTextKeys(ESortType mode, TMeasureList& list, const QtCollation& collation) {
    if (list.empty() || !list.front() || !sortText(mode, *list.front())) return false;
    struct Keyed {
        QCollatorSortKey key;
        std::unique_ptr<TMeasureSet> set;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(list.size());
    for (auto& m : list) {
        if (!m) return false;
        keyed.push_back({collation.sortKey(*sortText(mode, *m), true), nullptr});
    }
    for (std::size_t i = 0; i < list.size(); ++i) keyed[i].set = std::move(list[i]);
    if (isDescending(mode))
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const Keyed& a, const Keyed& b) { return b.key.compare(a.key) < 0; });
    else
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const Keyed& a, const Keyed& b) { return a.key.compare(b.key) < 0; });
    for (std::size_t i = 0; i < keyed.size(); ++i) list[i] = std::move(keyed[i].set);
    return true;
}

}  // namespace

void sortMeasureList(ESortType mode, TMeasureList& list, const ICollation& collation) {
    if (mode != DateTimeUp && mode != DateTimeDown) {
        if (const auto* qt = dynamic_cast<const QtCollation*>(&collation))
            if (sortByTextKeys(mode, list, *qt)) return;
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
