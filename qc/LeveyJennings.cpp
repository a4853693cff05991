#include "qc/LeveyJennings.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace kyvo::qc {

std::vector<std::pair<double, std::string>> TLjSeries::Lines() const {
    const double m = Material.Mean;
    const double s = Material.Sd;
    return {{m - 3 * s, "-3 SD"}, {m - 2 * s, "-2 SD"}, {m - s, "-1 SD"},    {m, "Mean"},
            {m + s, "+1 SD"},     {m + 2 * s, "+2 SD"}, {m + 3 * s, "+3 SD"}};
}

std::vector<TLjSeries> BuildLeveyJennings(const std::vector<TControlMaterial>& materials,
                                          const std::vector<TControlPoint>& points,
                                          const std::vector<TQcViolation>& violations,
                                          const std::string& name) {
    std::map<std::int64_t, std::vector<EQcRule>> fired;
    for (const auto& v : violations) {
        if (!v.MeasurementIds.empty()) fired[v.MeasurementIds.back()].push_back(v.Rule);
    }
    std::vector<TLjSeries> out;
    std::map<std::int64_t, std::size_t> index;
    for (const auto& m : materials) {
        if (m.Name != name) continue;
        index[m.Id] = out.size();
        out.push_back(TLjSeries{m, {}});
    }
    std::vector<const TControlPoint*> order;
    for (const auto& p : points) {
        if (index.count(p.MaterialId)) order.push_back(&p);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto* a, const auto* b) {
        return std::tie(a->DateTime, a->MeasurementId) < std::tie(b->DateTime, b->MeasurementId);
    });
    for (const TControlPoint* p : order) {
        TLjSeries& s = out[index[p->MaterialId]];
        TLjPoint q;
        q.MeasurementId = p->MeasurementId;
        q.TestId = p->TestId;
        q.DateTime = p->DateTime;
        q.Device = p->Device;
        q.Value = p->Value;
        q.ValueText = p->ValueText;
        if (p->Value) q.Z = ZScore(s.Material, *p->Value);
        if (const auto f = fired.find(p->MeasurementId); f != fired.end() && q.Z) {
            for (EQcRule r : f->second) {
                q.Rules.push_back(r);
                if (RuleSeverity(r) == EQcSeverity::Reject) q.Rejected = true;
            }
        }
        s.Points.push_back(std::move(q));
    }
    auto start = [](const TLjSeries& s) {
        if (!s.Points.empty()) return s.Points.front().DateTime;
        return s.Material.Opened.empty() ? s.Material.Added.substr(0, 19) : s.Material.Opened;
    };
    std::stable_sort(out.begin(), out.end(), [&](const TLjSeries& a, const TLjSeries& b) {
        return std::make_tuple(start(a), a.Material.Id) < std::make_tuple(start(b), b.Material.Id);
    });
    return out;
}

}  // namespace kyvo::qc
