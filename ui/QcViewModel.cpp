#include "ui/QcViewModel.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "files/ResultExport.h"

namespace kyvo {

namespace {

std::string replaceFirst(std::string text, const std::string& mark, const std::string& by) {
    const auto at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), by);
    return text;
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

std::string sdLabel(int k, const TLjChartTexts& texts) {
    return (k > 0 ? "+" : "−") + std::to_string(k < 0 ? -k : k) + " " + texts.Sd;
}

std::string ruleNames(const std::vector<qc::EQcRule>& rules) {
    std::string out;
    for (qc::EQcRule r : rules) out += (out.empty() ? "" : ", ") + qc::RuleName(r);
    return out;
}

// The reference lines at centre + k * step for k = -3..3, in the styles
// and colours of the command line's chart: the mean black, 1 SD grey and
// dotted, 2 SD orange and dashed, 3 SD vermilion. withValues: each label
// says its value.
void addLines(TChartData& data, double centre, double step, const TLjChartTexts& texts,
              bool withValues) {
    static constexpr TChartColourKey kColour[] = {6, 9, 1, 5};
    for (int k = -3; k <= 3; ++k) {
        TChartLine line;
        line.Value = centre + k * step;
        line.Label = k == 0 ? texts.Mean : sdLabel(k, texts);
        if (withValues) line.Label += " " + NumberText(line.Value);
        const int a = k < 0 ? -k : k;
        line.Style = a == 2   ? EChartLineStyle::Dashed
                     : a == 1 ? EChartLineStyle::Dotted
                              : EChartLineStyle::Solid;
        line.Colour = kColour[a];
        data.Lines.push_back(std::move(line));
    }
}

}  // namespace

TChartData LeveyJenningsViewData(const std::vector<qc::TLjSeries>& lots,
                                 std::optional<std::size_t> lotChoice, const TLjChartTexts& texts) {
    TChartData data;
    // One lot, or -1 for every lot.
    const long chosen = lotChoice && *lotChoice < lots.size() ? long(*lotChoice) : -1;
    const bool inSd = chosen < 0;
    // A value without a calendar time (a device's number text) leaves the
    // date axis: the chart counts the values instead.
    bool dated = true;
    for (std::size_t i = 0; i < lots.size(); ++i) {
        if (chosen >= 0 && long(i) != chosen) continue;
        for (const qc::TLjPoint& p : lots[i].Points)
            if (!ChartTimeOfIso(p.DateTime)) dated = false;
    }
    data.XAxis = dated ? EChartXAxis::DateTime : EChartXAxis::Sequence;
    int running = 0;
    for (std::size_t i = 0; i < lots.size(); ++i) {
        if (chosen >= 0 && long(i) != chosen) continue;
        const qc::TLjSeries& s = lots[i];
        if (data.Title.empty()) data.Title = s.Material.Name;
        if (data.ValueLabel.empty()) data.ValueLabel = inSd ? texts.Sd : s.Material.Result;
        TChartSeries series;
        series.Name = replaceFirst(texts.LotSeries, "%1", s.Material.Lot);
        // Apart from the colours of the lines.
        static constexpr TChartColourKey kSeriesColour[] = {0, 2, 3, 4, 7, 8};
        series.Colour = kSeriesColour[i % std::size(kSeriesColour)];
        for (const qc::TLjPoint& p : s.Points) {
            TChartPoint cp;
            cp.Time = dated ? *ChartTimeOfIso(p.DateTime) : double(++running);
            if (p.Value) {
                if (!inSd)
                    cp.Value = *p.Value;
                else if (p.Z)
                    cp.Value = *p.Z;
            }
            cp.Text = p.ValueText;
            cp.MeasurementId = p.MeasurementId;
            cp.Label = p.TestId + "  " + p.DateTime + "  " + p.ValueText;
            if (p.Z) cp.Label += "  (z = " + number(*p.Z) + ")";
            if (!p.Device.empty()) cp.Label += "  " + p.Device;
            if (!p.Rules.empty()) {
                cp.Mark = p.Rejected ? EChartMark::Reject : EChartMark::Warning;
                cp.MarkText = ruleNames(p.Rules);
                cp.Label += "  " + cp.MarkText;
            }
            series.Points.push_back(std::move(cp));
        }
        data.Series.push_back(std::move(series));
    }
    data.TextEdgeLabel = texts.NoNumber;
    if (inSd) {
        addLines(data, 0, 1, texts, false);
    } else {
        const qc::TControlMaterial& m = lots[std::size_t(chosen)].Material;
        data.Title += " — " + replaceFirst(texts.LotSeries, "%1", m.Lot);
        addLines(data, m.Mean, m.Sd, texts, true);
    }
    return data;
}

std::optional<std::size_t> DefaultLjLot(const std::vector<qc::TLjSeries>& lots) {
    if (lots.empty()) return std::nullopt;
    for (std::size_t i = lots.size(); i-- > 0;)
        if (!lots[i].Points.empty()) return i;
    return lots.size() - 1;
}

std::vector<const TQcAcknowledgement*> AcknowledgementsOf(
    const std::vector<TQcAcknowledgement>& acks, const qc::TQcViolation& v) {
    std::vector<const TQcAcknowledgement*> out;
    if (v.MeasurementIds.empty()) return out;
    const std::string rule = qc::RuleName(v.Rule);
    for (const TQcAcknowledgement& a : acks)
        if (a.Rule == rule && a.MaterialId == v.MaterialId &&
            a.MeasurementId == v.MeasurementIds.back())
            out.push_back(&a);
    return out;
}

std::string AcknowledgementText(const std::vector<const TQcAcknowledgement*>& acks) {
    std::string out;
    for (const TQcAcknowledgement* a : acks) {
        std::string when = a->Time.substr(0, 16);
        if (when.size() > 10 && when[10] == 'T') when[10] = ' ';
        if (!out.empty()) out += "\n";
        out += a->Note + " (" + a->User + (when.empty() ? "" : ", " + when) + ")";
    }
    return out;
}

std::optional<TFailedControl> FailedControlFor(const std::vector<qc::TControlMaterial>& materials,
                                               const std::vector<qc::TControlPoint>& points,
                                               const std::vector<qc::TQcViolation>& violations,
                                               const std::string& test, const std::string& device,
                                               const std::string& dateTime) {
    if (dateTime.empty()) return std::nullopt;
    auto materialOf = [&](std::int64_t id) -> const qc::TControlMaterial* {
        for (const qc::TControlMaterial& m : materials)
            if (m.Id == id) return &m;
        return nullptr;
    };
    const qc::TControlPoint* newest = nullptr;
    const qc::TControlMaterial* newestMaterial = nullptr;
    for (const qc::TControlPoint& p : points) {
        if (!p.Value || p.Device != device || p.DateTime.empty() || p.DateTime > dateTime) continue;
        const qc::TControlMaterial* m = materialOf(p.MaterialId);
        if (!m || m->Test != test) continue;
        if (!newest || p.DateTime > newest->DateTime ||
            (p.DateTime == newest->DateTime && p.MeasurementId > newest->MeasurementId)) {
            newest = &p;
            newestMaterial = m;
        }
    }
    if (!newest) return std::nullopt;
    TFailedControl out;
    std::set<qc::EQcRule> rules;
    for (const qc::TQcViolation& v : violations)
        if (v.Severity == qc::EQcSeverity::Reject && !v.MeasurementIds.empty() &&
            v.MeasurementIds.back() == newest->MeasurementId)
            rules.insert(v.Rule);
    if (rules.empty()) return std::nullopt;
    out.Material = newestMaterial->Name;
    out.Lot = newestMaterial->Lot;
    out.TestId = newest->TestId;
    out.DateTime = newest->DateTime;
    for (qc::EQcRule r : rules) out.Rules.push_back(qc::RuleName(r));
    return out;
}

std::string FailedControlText(const TFailedControl& c) {
    std::string when = c.DateTime;
    if (when.size() > 10 && when[10] == 'T') when[10] = ' ';
    std::string text = c.Material + " " + c.Lot + ", " + when;
    for (std::size_t i = 0; i < c.Rules.size(); ++i) text += (i == 0 ? ", " : " ") + c.Rules[i];
    return text;
}

}  // namespace kyvo

namespace kyvo {

std::string QcRoleCellText(const std::string& role, const std::string& material,
                           const TQcFlagTexts& texts) {
    if (role == "control")
        return material.empty() ? texts.Control : texts.Control + ": " + material;
    if (role == "patient") return texts.Patient;
    return {};
}

std::string QcFlagCellText(bool failed, const TQcFlagTexts& texts) {
    return failed ? texts.Failed : std::string();
}

}  // namespace kyvo

namespace kyvo {

TQcListMark QcListMarkOf(const TQcOverview& overview, const TMeasureSet& set) {
    TQcListMark mark;
    for (const qc::TControlPoint& p : overview.Points) {
        if (p.TestId != set.TestID) continue;
        mark.Control = true;
        for (const qc::TControlMaterial& m : overview.Materials)
            if (m.Id == p.MaterialId) mark.Material = m.Name;
        return mark;
    }
    // "12 3 1 7 1807 0042 34082560": the reader's year-week and serial are
    // the fifth and sixth words.
    std::istringstream in(set.TestID);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.size() != 7) return mark;
    mark.Failed =
        FailedControlFor(overview.Materials, overview.Points, overview.Violations, set.TestName,
                         words[4] + " " + words[5], IsoDateTime(set.DateTime));
    return mark;
}

}  // namespace kyvo
