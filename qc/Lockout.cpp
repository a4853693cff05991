#include "qc/Lockout.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace kyvo::qc {

TQcLockout::TQcLockout(const std::vector<TControlMaterial>& materials,
                       const std::vector<TControlPoint>& points,
                       const std::vector<TQcViolation>& violations) {
    std::unordered_map<std::int64_t, const TControlMaterial*> byId;
    for (const auto& m : materials) byId[m.Id] = &m;
    const auto rejectedIds = RejectedMeasurements(violations);
    const std::unordered_set<std::int64_t> rejected(rejectedIds.begin(), rejectedIds.end());
    std::vector<const TControlPoint*> order;
    for (const auto& p : points) {
        const auto it = byId.find(p.MaterialId);
        if (it == byId.end() || !p.Value || p.DateTime.empty()) continue;
        if (!ZScore(*it->second, *p.Value)) continue;
        order.push_back(&p);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto* a, const auto* b) {
        return std::tie(a->DateTime, a->MeasurementId) < std::tie(b->DateTime, b->MeasurementId);
    });
    for (const TControlPoint* p : order) {
        steps_[{byId[p->MaterialId]->Test, p->Device}].push_back(
            {p->DateTime, rejected.count(p->MeasurementId) != 0});
    }
}

bool TQcLockout::Failed(const std::string& test, const std::string& device,
                        const std::string& dateTime) const {
    if (dateTime.empty()) return false;
    const auto it = steps_.find({test, device});
    if (it == steps_.end()) return false;
    const auto& steps = it->second;
    // The newest control not after dateTime.
    const auto after =
        std::upper_bound(steps.begin(), steps.end(), dateTime,
                         [](const std::string& t, const TStep& s) { return t < s.DateTime; });
    if (after == steps.begin()) return false;
    return std::prev(after)->Rejected;
}

}  // namespace kyvo::qc
