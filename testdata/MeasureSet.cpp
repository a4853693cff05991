#include "testdata/MeasureSet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace kyvo {

namespace {

std::string plainText(const TTestConfig& cfg, std::uint16_t ptr) {
    return latin1ToUtf8(cfg.ReadStringData(ptr));
}

std::string trimmedText(const TTestConfig& cfg, std::uint16_t ptr) {
    return latin1ToUtf8(trimBlanks(cfg.ReadStringData(ptr)));
}

std::string temperatureText(float t) {
    // Locale-independent: the file format and the rows always use ".".
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, static_cast<double>(t), std::chars_format::fixed, 2);
    return std::string(buf, res.ec == std::errc() ? res.ptr : buf);
}

// A decimal number as sign, integer digits and fraction digits.
struct Decimal {
    bool negative = false;
    std::string integer;
    std::string fraction;
};

// The shortest decimal text that reads back as v. Working on it rather than
// on the binary value keeps a stored 0.7 (0.69999998...) from being cut to
// 0.6.
Decimal shortestDecimal(float v) {
    char buf[128];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    std::string s(buf, res.ptr);
    Decimal d;
    if (!s.empty() && s[0] == '-') {
        d.negative = true;
        s.erase(0, 1);
    }
    const auto dot = s.find('.');
    d.integer = s.substr(0, dot);
    if (dot != std::string::npos) d.fraction = s.substr(dot + 1);
    return d;
}

// Keeps `places` decimals, cutting or rounding half away from zero.
Decimal toPlaces(Decimal d, std::size_t places, bool round) {
    if (d.fraction.size() <= places) return d;
    const bool up = round && d.fraction[places] >= '5';
    d.fraction.resize(places);
    if (!up) return d;
    std::string digits = d.integer + d.fraction;
    std::size_t i = digits.size();
    while (i > 0) {
        --i;
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            break;
        }
        if (i == 0) digits.insert(digits.begin(), '1');
    }
    d.integer = digits.substr(0, digits.size() - places);
    d.fraction = digits.substr(digits.size() - places);
    return d;
}

// The pattern "0" or "#..#", ".", places times "#": every integer digit,
// no trailing zero decimals, no "." without decimals.
std::string patternText(float v, std::size_t places, bool round) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    Decimal d = toPlaces(shortestDecimal(v), places, round);
    while (!d.fraction.empty() && d.fraction.back() == '0') d.fraction.pop_back();
    const auto nz = d.integer.find_first_not_of('0');
    d.integer = nz == std::string::npos ? "0" : d.integer.substr(nz);
    std::string out;
    // No "-0" for a value that is cut to zero.
    if (d.negative && (d.integer != "0" || !d.fraction.empty())) out = "-";
    out += d.integer;
    if (!d.fraction.empty()) out += "." + d.fraction;
    return out;
}

}  // namespace

std::string EnglishText(const TLangEntry& entry) {
    return std::string(entry.Def);
}

const TResult& TMeasureResult::Results() const {
    static const TResult none;
    return results_ ? *results_ : none;
}

std::span<const TLineResult> TMeasureResult::Lines() const {
    const auto& line = Results().Line;
    return {line.data(), std::min<std::size_t>(LineCount, line.size())};
}

TMeasureSet::TMeasureSet() {
    clearDateData(DateTime);
}

TDeviceIdentity DeviceIdentityOf(const TEEPROMNonVolatile& rec) {
    return {rec.ProductionYear, rec.ProductionWeek, rec.SerialNumber};
}

std::string MeasureIdentityText(const UUniqueTestID& testID, const TDeviceIdentity& device,
                                const TDateData& date) {
    return TestIDToText(testID, true) + " " + intToStrPad(device.ProductionYear, 2, '0') +
           intToStrPad(device.ProductionWeek, 2, '0') + " " +
           intToStrPad(device.SerialNumber, 4, '0') + " " + dateDataToNumberText(date);
}

int FindMeasureSetByTestID(const TMeasureList& list, const TMeasureSet& set) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i]->TestID == set.TestID) return static_cast<int>(i);
    return -1;
}

std::string FormatResultNumber(float v, std::uint8_t DigitCfg, float LowerLimit, float UpperLimit) {
    int n = 0;
    // An infinity would never count down below 1.
    if (std::isfinite(v))
        for (double t = v; t >= 1; t /= 10) ++n;
    const int g = getBitField8(DigitCfg, kBfValidDigits);
    const int p = getBitField8(DigitCfg, kBfDecimalPlaces);
    const std::size_t d = n < g ? static_cast<std::size_t>(std::min(g - n, p)) : 0;
    if (v < LowerLimit) return "<" + patternText(LowerLimit, d, true);
    if (v > UpperLimit) return ">" + patternText(UpperLimit, d, true);
    return patternText(v, d, false);
}

TResultSet MakeResultRow(const TTestConfig& cfg, const TTestResultEntry& r, float v, bool invalid,
                         UTestInvalid flags, const TextLookup& text) {
    const TextLookup& tr = text ? text : TextLookup(EnglishText);
    TResultSet row;
    row.ResultName = trimmedText(cfg, r.PtrResultName);
    row.UnitName = trimmedText(cfg, r.PtrResultUnit);
    if (invalid) {
        row.ResultValue = trimmedText(cfg, cfg.CaptureSection.PtrTestInvalidText);
        row.Validity = tr(LE_Invalid);
        return row;
    }
    row.Validity = flags.Expired() ? tr(LE_KyvoExpired) : tr(LE_Valid);

    const TTestClassEntry* winner = nullptr;
    if (r.ClassNumber() > 0 && !std::isnan(v)) {
        double best = 4294967296.0;
        // A first index near the end with a large count would reach past the
        // class array.
        const std::size_t end =
            std::min<std::size_t>(r.FirstClass() + r.ClassNumber(), kMaxClasses);
        for (std::size_t i = r.FirstClass(); i < end; ++i) {
            const auto& cls = cfg.ClassSection[i];
            if (cls.LowerThan > v && cls.LowerThan < best) {
                best = cls.LowerThan;
                winner = &cls;
            }
        }
    }
    if (r.ShowValue() || winner == nullptr) {
        if (std::isnan(v))
            row.ResultValue = tr(LE_NotANumber);
        else if (std::isinf(v))
            row.ResultValue = tr(LE_Infinite);
        else
            row.ResultValue = FormatResultNumber(v, r.DigitCfg, r.LowerLimit, r.UpperLimit);
    }
    if (winner) row.ClassName = trimmedText(cfg, winner->PtrClassName);
    return row;
}

void ScaleLineImage(TMeasureSet& set, std::span<const std::int32_t> values) {
    const std::size_t count = std::min(values.size(), kMaxImageValues);
    std::int64_t lo = 4095;
    std::int64_t hi = 0;
    for (std::size_t k = 0; k < count; ++k) {
        lo = std::min<std::int64_t>(lo, values[k]);
        hi = std::max<std::int64_t>(hi, values[k]);
    }
    set.OrigImage.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count));
    set.OrigImage.shrink_to_fit();
    set.ImageData.assign(count, 0);
    for (std::size_t k = 0; k < count; ++k) {
        set.ImageData[k] = static_cast<std::uint8_t>((values[k] - lo) * 256 / (hi - lo + 1));
    }
    set.ImgMin = std::to_string(lo);
    set.ImgMax = std::to_string(hi);
}

void LineImageFromPacked12(TMeasureSet& set, const tByteBuffer& packed, std::size_t count) {
    std::vector<std::int32_t> values(std::min(count, kMaxImageValues));
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = Unpack12Bit(packed.data(), packed.size(), k);
    ScaleLineImage(set, values);
}

void LineImageFromGray16(TMeasureSet& set, const tByteBuffer& data) {
    const std::size_t announced = set.ImageData.size();
    std::vector<std::int32_t> values(std::min(data.size() / 2, kMaxImageValues));
    for (std::size_t j = 0; j < values.size(); ++j)
        values[j] = data[2 * j] | (data[2 * j + 1] << 8);
    ScaleLineImage(set, values);
    if (announced > set.ImageData.size())
        set.ImageData.resize(std::min(announced, kMaxImageValues), 0);
}

std::unique_ptr<TMeasureSet> MeasureSetFromStored(const TKyvoResultData& data,
                                                  const TKyvoResults& result,
                                                  const TDeviceIdentity& device, bool withLineData,
                                                  bool withImage, const TextLookup& text,
                                                  bool* clampedLines) {
    const TTestConfig& cfg = data.TestCfg;
    const auto& head = result.KyvoResultList;
    auto set = std::make_unique<TMeasureSet>();
    set->TestID = MeasureIdentityText(data.ResultCfg.TestID, device, head.Date);
    set->TestName = plainText(cfg, cfg.OemSection.PtrTestName);
    set->LotNr = plainText(cfg, cfg.OemSection.PtrLotNr);
    set->Distr_Manu = plainText(cfg, cfg.OemSection.PtrDistributorManufacturer);
    set->DateTime = head.Date;
    set->Voltage = std::to_string(head.Voltage);
    set->Temperature = temperatureText(head.Temperature);

    TResult& res = set->MeasureResult.Results();
    res.TestInvalid = head.Invalid;
    res.Temperature = head.Temperature;
    res.Voltage = head.Voltage;
    res.MeasurementDate = head.Date;
    const bool invalid = IsTestInvalid(head.Invalid);
    const std::size_t values = std::min(result.ResultValues.size(), kMaxResults);
    for (std::size_t i = 0; i < values; ++i) {
        res.ResultValue[i] = result.ResultValues[i];
        set->ResultList.push_back(MakeResultRow(cfg, cfg.ResultSection[i], result.ResultValues[i],
                                                invalid, head.Invalid, text));
    }
    if (clampedLines) *clampedLines = false;
    if (withLineData) {
        const std::size_t lines = std::min(result.LineData.size(), kMaxTestLines);
        if (clampedLines) *clampedLines = result.LineData.size() > kMaxTestLines;
        set->MeasureResult.LineCount = static_cast<std::uint8_t>(lines);
        std::copy_n(result.LineData.begin(), lines, res.Line.begin());
    }
    if (withImage) LineImageFromPacked12(*set, result.ImageValues12, result.ImgLineInfo.ImageSize);
    return set;
}

TStorageBuildResult BuildMeasureSetsFromStorage(const std::vector<TKyvoResultData>& results,
                                                const TDeviceIdentity& device, bool withLineData,
                                                bool withImage, const TextLookup& text,
                                                const std::function<EAddDecision()>& decide,
                                                TMeasureList& list) {
    TStorageBuildResult out;
    if (!list.empty() && decide) {
        const EAddDecision d = decide();
        if (d == EAddDecision::Cancel) {
            out.Cancelled = true;
            return out;
        }
        if (d == EAddDecision::Overwrite) list.clear();
    }
    // The same answer as looking each set up in the list, without the
    // quadratic cost on a large list.
    std::unordered_set<std::string> known;
    for (const auto& s : list) known.insert(s->TestID);
    for (const auto& data : results) {
        for (const auto& result : data.Results) {
            bool clamped = false;
            auto set =
                MeasureSetFromStored(data, result, device, withLineData, withImage, text, &clamped);
            ++out.Created;
            if (clamped) ++out.ClampedLines;
            if (!known.insert(set->TestID).second) continue;
            list.push_back(std::move(set));
            ++out.Added;
        }
    }
    return out;
}

void BuildMeasureSetFromResult(const tByteBuffer& record, std::uint8_t EEPROMVersion,
                               const TTestConfig& cfg, const TDeviceIdentity& device,
                               const TextLookup& text, TMeasureSet& set) {
    set = TMeasureSet();
    TResult& res = set.MeasureResult.Results();
    res.FromByteBuffer(record, EEPROMVersion);
    const std::size_t lines = std::min<std::size_t>(cfg.LineCount(), kMaxTestLines);
    set.MeasureResult.LineCount = static_cast<std::uint8_t>(lines);
    for (std::size_t i = 0; i < lines; ++i) res.Line[i].Width = cfg.LineSection[i].Width;
    set.TestID = MeasureIdentityText(cfg.TestID, device, res.MeasurementDate);
    set.TestName = plainText(cfg, cfg.OemSection.PtrTestName);
    set.LotNr = plainText(cfg, cfg.OemSection.PtrLotNr);
    set.Distr_Manu = plainText(cfg, cfg.OemSection.PtrDistributorManufacturer);
    set.DateTime = res.MeasurementDate;
    set.Voltage = std::to_string(res.Voltage);
    set.Temperature = temperatureText(res.Temperature);
    const bool invalid = IsRecordInvalid(res.TestInvalid, EEPROMVersion);
    const std::size_t r = std::min<std::size_t>(cfg.ResultCount(), kMaxResults);
    for (std::size_t i = 0; i < r; ++i)
        set.ResultList.push_back(MakeResultRow(cfg, cfg.ResultSection[i], res.ResultValue[i],
                                               invalid, res.TestInvalid, text));
}

bool CombineSecondMeasurement(const tByteBuffer& record, std::uint8_t EEPROMVersion,
                              const TTestConfig& cfg, const TextLookup& text, TMeasureSet& set) {
    const std::size_t r = cfg.ResultCount();
    if (r > kMaxResults / 2) return false;
    TResult second;
    second.FromByteBuffer(record, EEPROMVersion);
    TResult& res = set.MeasureResult.Results();
    res.TestInvalid.Data |= second.TestInvalid.Data;
    for (std::size_t i = 0; i < r; ++i) res.ResultValue[r + i] = second.ResultValue[i];
    res.MeasurementDate = second.MeasurementDate;
    const bool invalid = IsRecordInvalid(res.TestInvalid, EEPROMVersion);
    set.ResultList.clear();
    for (std::size_t i = 0; i < 2 * r; ++i)
        set.ResultList.push_back(MakeResultRow(cfg, cfg.ResultSection[i % r], res.ResultValue[i],
                                               invalid, res.TestInvalid, text));
    return true;
}

}  // namespace kyvo
