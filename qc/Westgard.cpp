#include "qc/Westgard.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

namespace kyvo::qc {

namespace {

struct TRuleText {
    EQcRule Rule;
    const char* Name;
    EQcSeverity Severity;
};
constexpr TRuleText kRules[] = {
    {EQcRule::R12s, "1-2s", EQcSeverity::Warning}, {EQcRule::R13s, "1-3s", EQcSeverity::Reject},
    {EQcRule::R22s, "2-2s", EQcSeverity::Reject},  {EQcRule::RR4s, "R-4s", EQcSeverity::Reject},
    {EQcRule::R41s, "4-1s", EQcSeverity::Reject},  {EQcRule::R10x, "10x", EQcSeverity::Reject},
};

struct TSeen {
    const TControlPoint* Point;
    double Z;
};

// Whether the last n values of series all satisfy pred.
template <typename P>
bool LastAll(const std::vector<TSeen>& series, std::size_t n, P pred) {
    if (series.size() < n) return false;
    return std::all_of(series.end() - static_cast<std::ptrdiff_t>(n), series.end(),
                       [&](const TSeen& s) { return pred(s.Z); });
}

}  // namespace

std::string RuleName(EQcRule rule) {
    for (const auto& r : kRules) {
        if (r.Rule == rule) return r.Name;
    }
    return {};
}

std::optional<EQcRule> RuleFromName(const std::string& name) {
    for (const auto& r : kRules) {
        if (name == r.Name) return r.Rule;
    }
    return std::nullopt;
}

EQcSeverity RuleSeverity(EQcRule rule) {
    for (const auto& r : kRules) {
        if (r.Rule == rule) return r.Severity;
    }
    return EQcSeverity::Reject;
}

std::string SeverityName(EQcSeverity severity) {
    return severity == EQcSeverity::Warning ? "warning" : "reject";
}

std::optional<double> ZScore(const TControlMaterial& m, double value) {
    if (!(m.Sd > 0) || !std::isfinite(m.Sd) || !std::isfinite(value)) return std::nullopt;
    return (value - m.Mean) / m.Sd;
}

std::vector<TQcViolation> EvaluateWestgard(const std::vector<TControlMaterial>& materials,
                                           std::vector<TControlPoint> points) {
    std::unordered_map<std::int64_t, const TControlMaterial*> byId;
    for (const auto& m : materials) byId[m.Id] = &m;
    std::stable_sort(points.begin(), points.end(), [](const auto& a, const auto& b) {
        return std::tie(a.DateTime, a.MeasurementId) < std::tie(b.DateTime, b.MeasurementId);
    });

    std::vector<TQcViolation> out;
    std::unordered_map<std::int64_t, std::vector<TSeen>> series;  // per material lot
    // Per run (test, device, day): the values seen so far.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<TSeen>> runs;

    for (const TControlPoint& p : points) {
        const auto mit = byId.find(p.MaterialId);
        if (mit == byId.end() || !p.Value) continue;
        const TControlMaterial& m = *mit->second;
        const auto z = ZScore(m, *p.Value);
        if (!z) continue;
        auto& s = series[m.Id];
        s.push_back({&p, *z});
        auto& run = runs[{m.Test, p.Device, p.DateTime.substr(0, 10)}];
        run.push_back({&p, *z});

        auto fire = [&](EQcRule rule, std::vector<const TSeen*> made) {
            TQcViolation v;
            v.Rule = rule;
            v.Severity = RuleSeverity(rule);
            v.MaterialId = m.Id;
            v.Material = m.Name;
            v.Lot = m.Lot;
            for (const TSeen* x : made) {
                v.MeasurementIds.push_back(x->Point->MeasurementId);
                v.TestIds.push_back(x->Point->TestId);
            }
            out.push_back(std::move(v));
        };
        auto last = [](const std::vector<TSeen>& from, std::size_t n) {
            std::vector<const TSeen*> r;
            for (std::size_t i = from.size() - n; i < from.size(); ++i) r.push_back(&from[i]);
            return r;
        };

        if (std::fabs(*z) > 3) {
            fire(EQcRule::R13s, last(s, 1));
        } else if (std::fabs(*z) > 2) {
            fire(EQcRule::R12s, last(s, 1));
        }
        if (LastAll(s, 2, [](double v) { return v > 2; }) ||
            LastAll(s, 2, [](double v) { return v < -2; })) {
            fire(EQcRule::R22s, last(s, 2));
        }
        if (*z > 2 || *z < -2) {
            const bool high = *z > 2;
            for (std::size_t i = run.size() - 1; i-- > 0;) {
                if (high ? run[i].Z < -2 : run[i].Z > 2) {
                    fire(EQcRule::RR4s, {&run[i], &run.back()});
                    break;
                }
            }
        }
        if (LastAll(s, 4, [](double v) { return v > 1; }) ||
            LastAll(s, 4, [](double v) { return v < -1; })) {
            fire(EQcRule::R41s, last(s, 4));
        }
        if (LastAll(s, 10, [](double v) { return v > 0; }) ||
            LastAll(s, 10, [](double v) { return v < 0; })) {
            fire(EQcRule::R10x, last(s, 10));
        }
    }
    return out;
}

std::vector<std::int64_t> RejectedMeasurements(const std::vector<TQcViolation>& violations) {
    std::set<std::int64_t> ids;
    for (const auto& v : violations) {
        if (v.Severity == EQcSeverity::Reject && !v.MeasurementIds.empty())
            ids.insert(v.MeasurementIds.back());
    }
    return {ids.begin(), ids.end()};
}

}  // namespace kyvo::qc
