#include "report/ChartData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kyvo {

namespace {

TChartRange widened(double lo, double hi, bool any, double unit) {
    if (!any) return {0, 1};
    if (hi > lo) return {lo, hi};
    return {lo - unit, hi + unit};
}

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

TChartRange ChartTimeExtent(const TChartData& data) {
    double lo = 0, hi = 0;
    bool any = false;
    for (const TChartSeries& s : data.Series) {
        for (const TChartPoint& p : s.Points) {
            if (!std::isfinite(p.Time)) continue;
            lo = any ? std::min(lo, p.Time) : p.Time;
            hi = any ? std::max(hi, p.Time) : p.Time;
            any = true;
        }
    }
    // One measurement: an hour either side; one number: one either side.
    return widened(lo, hi, any, data.XAxis == EChartXAxis::DateTime ? 3600.0 : 1.0);
}

TChartRange ChartValueExtent(const TChartData& data) {
    double lo = 0, hi = 0;
    bool any = false;
    auto take = [&](double v) {
        if (!std::isfinite(v)) return;
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
    };
    for (const TChartSeries& s : data.Series)
        for (const TChartPoint& p : s.Points)
            if (p.Value) take(*p.Value);
    for (const TChartLine& l : data.Lines) take(l.Value);
    for (const TChartBand& b : data.Bands) {
        take(b.Low);
        take(b.High);
    }
    return widened(lo, hi, any, std::max(1.0, std::fabs(lo) * 0.1));
}

TChartViewport FittedViewport(const TChartData& data, const TChartViewport& view) {
    TChartViewport out = view;
    if (out.Time.Empty()) {
        const TChartRange t = ChartTimeExtent(data);
        const double margin = t.Span() * 0.03;
        out.Time = {t.Min - margin, t.Max + margin};
    }
    if (out.Value.Empty()) {
        const TChartRange v = ChartValueExtent(data);
        const double margin = v.Span() * 0.08;
        out.Value = {v.Min - margin, v.Max + margin};
    }
    return out;
}

TChartViewport ZoomViewport(const TChartViewport& view, double factor, double atTime,
                            double atValue, bool zoomTime, bool zoomValue) {
    if (!(factor > 0) || !std::isfinite(factor)) return view;
    auto zoom = [factor](const TChartRange& r, double at) {
        at = std::clamp(at, 0.0, 1.0);
        const double pivot = r.Min + r.Span() * at;
        const double span = r.Span() / factor;
        // Keep a span the doubles can still tell apart from its ends.
        if (!(span > std::max(std::fabs(pivot), 1.0) * 1e-9)) return r;
        return TChartRange{pivot - span * at, pivot + span * (1 - at)};
    };
    TChartViewport out = view;
    if (zoomTime) out.Time = zoom(view.Time, atTime);
    if (zoomValue) out.Value = zoom(view.Value, atValue);
    return out;
}

TChartViewport PanViewport(const TChartViewport& view, double byTime, double byValue) {
    TChartViewport out = view;
    const double dt = view.Time.Span() * byTime;
    const double dv = view.Value.Span() * byValue;
    out.Time = {view.Time.Min + dt, view.Time.Max + dt};
    out.Value = {view.Value.Min + dv, view.Value.Max + dv};
    return out;
}

std::optional<double> ChartTimeOfIso(const std::string& iso) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int n = std::sscanf(iso.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (n < 3 || y < 1900 || mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
    if (n >= 4 && sep != 'T' && sep != ' ') return std::nullopt;
    if (n < 5) h = mi = s = 0;
    if (n < 6) mi = s = 0;
    if (n < 7) s = 0;
    if (h > 23 || mi > 59 || s > 60) return std::nullopt;
    return static_cast<double>(daysFromCivil(y, unsigned(mo), unsigned(d))) * 86400.0 + h * 3600.0 +
           mi * 60.0 + s;
}

}  // namespace kyvo
