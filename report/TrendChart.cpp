#include "report/TrendChart.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace kyvo {

namespace {

std::string trimmed(std::string s) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

std::string pointLabel(const TArchiveResultPoint& p) {
    std::string date = p.DateTime;
    std::replace(date.begin(), date.end(), 'T', ' ');
    std::string value = p.ValueText;
    if (!p.Unit.empty()) value += " " + p.Unit;
    if (!p.Class.empty()) value += " " + p.Class;
    std::string label = date + "  " + p.DeviceSerial;
    if (!p.LotNr.empty()) label += "  " + p.LotNr;
    label += ": " + value;
    if (!p.Validity.empty()) label += " (" + p.Validity + ")";
    return label + "\n" + p.TestId;
}

}  // namespace

std::vector<TTrendClass> TrendClassesOf(const TTestConfig& cfg, const std::string& resultName) {
    const std::size_t results = std::min<std::size_t>(cfg.ResultCount(), kMaxResults);
    for (std::size_t i = 0; i < results; ++i) {
        const TTestResultEntry& r = cfg.ResultSection[i];
        if (trimmed(cfg.ReadStringData(r.PtrResultName)) != resultName) continue;
        std::vector<std::pair<double, std::string>> limits;
        const std::size_t end =
            std::min<std::size_t>(r.FirstClass() + r.ClassNumber(), kMaxClasses);
        for (std::size_t k = r.FirstClass(); k < end; ++k) {
            const TTestClassEntry& c = cfg.ClassSection[k];
            // The device's search starts below 2^32: a limit there never wins.
            if (!std::isfinite(c.LowerThan) || c.LowerThan >= 4294967296.0) continue;
            limits.emplace_back(c.LowerThan, trimmed(cfg.ReadStringData(c.PtrClassName)));
        }
        // Equal limits: the first in index order wins, so the later ones
        // never show.
        std::stable_sort(limits.begin(), limits.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<TTrendClass> out;
        double low = -INFINITY;
        for (const auto& [limit, name] : limits) {
            if (!out.empty() && limit == out.back().High) continue;
            out.push_back({name, low, limit});
            low = limit;
        }
        return out;
    }
    return {};
}

TTrendChart BuildTrendChart(const std::string& testName, const std::string& resultName,
                            const std::vector<TArchiveResultPoint>& points,
                            const TTrendOptions& options) {
    TTrendChart out;
    TChartData& d = out.Data;
    d.Title = testName.empty() ? resultName : testName + " - " + resultName;
    d.XAxis = EChartXAxis::DateTime;
    d.TextEdgeLabel = options.TextEdgeLabel;

    // Series in the order of their names, so that a colour stays with its
    // device or lot whatever the order of the points.
    std::map<std::string, std::vector<TChartPoint>> groups;
    for (const TArchiveResultPoint& p : points) {
        if (options.Keep && !options.Keep(p)) {
            ++out.KeptOut;
            continue;
        }
        const auto time = ChartTimeOfIso(p.DateTime);
        if (!time) {
            ++out.WithoutDate;
            continue;
        }
        if (d.ValueLabel.empty()) d.ValueLabel = p.Unit;
        TChartPoint c;
        c.Time = *time;
        if (p.Value && std::isfinite(*p.Value)) c.Value = p.Value;
        c.Text = p.ValueText;
        c.MeasurementId = p.Id;
        c.Label = pointLabel(p);
        c.Invalid = std::find(options.InvalidTexts.begin(), options.InvalidTexts.end(),
                              p.Validity) != options.InvalidTexts.end();
        ++out.Points;
        if (!c.Value) ++out.TextOnly;
        if (c.Invalid) ++out.Invalid;
        const std::string& key =
            options.ColourBy == ETrendColour::Device ? p.DeviceSerial : p.LotNr;
        groups[key].push_back(std::move(c));
    }
    TChartColourKey colour = 0;
    for (auto& [name, pts] : groups) {
        std::stable_sort(pts.begin(), pts.end(), [](const TChartPoint& a, const TChartPoint& b) {
            return a.Time < b.Time;
        });
        d.Series.push_back({name.empty() ? "-" : name, colour++, true, std::move(pts)});
    }
    for (std::size_t i = 0; i < options.Classes.size(); ++i) {
        const TTrendClass& c = options.Classes[i];
        // Alternating tints, so that neighbouring classes stay apart.
        d.Bands.push_back({c.Low, c.High, c.Name, i % 2 == 0 ? 2 : 4});
    }
    return out;
}

}  // namespace kyvo
