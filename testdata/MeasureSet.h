// Measurements as the user sees them: a measure set per measurement with its
// result rows, line results and line image; the rule that turns a numeric
// result into a row; and the building of sets from the device's stored
// results and from its latest measurement, including combining two
// measurements of one configuration.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "protocol/ByteBuffer.h"
#include "testdata/ResultTexts.h"
#include "testdata/TestConfiguration.h"
#include "testdata/TestResults.h"

namespace kyvo {

// Translates a language entry; the application binds it to its language
// file. EnglishText gives the built-in text.
using TextLookup = std::function<std::string(const TLangEntry&)>;
std::string EnglishText(const TLangEntry& entry);

inline constexpr std::size_t kMaxImageValues = 256;

// One result row; every text is UTF-8.
class TResultSet {
  public:
    std::string Validity;
    std::string ResultName;
    std::string ResultValue;
    std::string UnitName;
    std::string ClassName;
    bool operator==(const TResultSet&) const = default;
};

// The line data of a measurement. Only the line results, the values and the
// flags of Results are used once the set is built. The record is created on
// the first write, so that a set without line data (a short line of a
// result file) does not carry ten empty line slots.
class TMeasureResult {
  public:
    TMeasureResult() = default;
    TMeasureResult(const TMeasureResult& other) { *this = other; }
    TMeasureResult& operator=(const TMeasureResult& other) {
        if (this != &other) {
            LineCount = other.LineCount;
            results_ = other.results_ ? std::make_unique<TResult>(*other.results_) : nullptr;
        }
        return *this;
    }
    TMeasureResult(TMeasureResult&&) noexcept = default;
    TMeasureResult& operator=(TMeasureResult&&) noexcept = default;

    std::uint8_t LineCount = 0;  // valid entries of Results().Line
    // The record, created (reset) when there is none yet.
    TResult& Results() {
        if (!results_) results_ = std::make_unique<TResult>();
        return *results_;
    }
    // The record, or a reset one when there is none.
    const TResult& Results() const;
    bool HasResults() const { return results_ != nullptr; }
    // The valid line results: the first LineCount, never past the record.
    std::span<const TLineResult> Lines() const;

  private:
    std::unique_ptr<TResult> results_;
};

class TMeasureSet {
  public:
    TMeasureSet();

    std::string TestID;  // identity text, unique within a measurement list
    std::string TestName;
    std::string LotNr;
    std::string Distr_Manu;
    TDateData DateTime;
    std::string UserComment;
    // The user edited (or cleared) UserComment in the list: saving then
    // writes it over a comment the file holds for this measurement.
    bool CommentEdited = false;
    std::string Voltage;      // decimal integer
    std::string Temperature;  // two decimals, "." as separator
    std::vector<TResultSet> ResultList;
    TMeasureResult MeasureResult;
    tByteBuffer ImageData;  // line image scaled to 0..255, one byte per pixel
    // Raw 12-bit values of the line image, at most kMaxImageValues; empty
    // without an image, so that a set costs memory only for what it holds.
    std::vector<std::int32_t> OrigImage;
    std::string ImgMin;
    std::string ImgMax;
    std::string PatientID;
    std::string PatientBDate;
};

// The measurement list owns its sets, in display order.
using TMeasureList = std::vector<std::unique_ptr<TMeasureSet>>;

enum class ECombineMeasurements : std::uint8_t {
    SingleOnly = 0,
    Combine = 1,
    SecondMeasure = 2,
    HandleSingle = 3,
};

// The device's identity as it enters every measurement's identity text
// (ProductionYear, ProductionWeek, SerialNumber of the non-volatile EEPROM
// record).
struct TDeviceIdentity {
    std::uint8_t ProductionYear = 0;
    std::uint8_t ProductionWeek = 0;
    std::uint16_t SerialNumber = 0;
};

TDeviceIdentity DeviceIdentityOf(const TEEPROMNonVolatile& rec);

// "1 2 3 4 1807 0042 33752069": test ID with blanks, year and week as two
// digits each, serial as four, and the number text of the date.
std::string MeasureIdentityText(const UUniqueTestID& testID, const TDeviceIdentity& device,
                                const TDateData& date);

// Index in list of the first set whose TestID equals set's exactly, or -1.
int FindMeasureSetByTestID(const TMeasureList& list, const TMeasureSet& set);

// The value text of the row rule: the number cut (not rounded) to the
// decimals the digit configuration allows, or "<" / ">" and the limit when v
// lies outside. Infinities and NaN (values or limits) read "INF", "-INF" and
// "NAN", as in result files; result rows show their own texts for them.
std::string FormatResultNumber(float v, std::uint8_t DigitCfg, float LowerLimit, float UpperLimit);

// The result row for definition r of cfg and value v. invalid is the
// measurement's validity by the rule that applies to its source; flags give
// the expired bit.
TResultSet MakeResultRow(const TTestConfig& cfg, const TTestResultEntry& r, float v, bool invalid,
                         UTestInvalid flags, const TextLookup& text);

// Line image from raw values: OrigImage gets the first 256 values, ImgMin/ImgMax the smallest (from
// 4095) and largest (from 0) value, ImageData one scaled byte per value, (value - min) * 256 div
// (max - min + 1). Values beyond 256 do not fit the set and are dropped.
void ScaleLineImage(TMeasureSet& set, std::span<const std::int32_t> values);
// From count packed 12-bit values.
void LineImageFromPacked12(TMeasureSet& set, const tByteBuffer& packed, std::size_t count);
// From the little-endian 16-bit samples of an image transfer. ImageData keeps
// the size the transfer announced (up to 256) when that is larger than the
// sample count.
void LineImageFromGray16(TMeasureSet& set, const tByteBuffer& data);

// A set from one stored result of one stored configuration. Line results
// beyond ten do not fit the set; *clampedLines (when given) is set when some
// were dropped.
std::unique_ptr<TMeasureSet> MeasureSetFromStored(const TKyvoResultData& cfg,
                                                  const TKyvoResults& result,
                                                  const TDeviceIdentity& device, bool withLineData,
                                                  bool withImage, const TextLookup& text,
                                                  bool* clampedLines = nullptr);

// Whether new sets join the list or replace it, or nothing happens.
enum class EAddDecision : std::uint8_t { Add, Overwrite, Cancel };

struct TStorageBuildResult {
    bool Cancelled = false;        // the decision was Cancel: list untouched
    std::size_t Created = 0;       // sets made, duplicates included
    std::size_t Added = 0;         // sets appended (not already in the list)
    std::size_t ClampedLines = 0;  // sets whose stored lines exceeded ten
};

// Turns every stored result of every stored configuration, in ring order,
// into a set and appends those whose TestID is not yet in list. decide is
// asked only when list is not empty (the application maps its AddDataBehaviour
// setting and, for AlwaysAsk, its question onto it; without decide the sets
// are added); Overwrite empties the list first. Sorting, refreshing and
// saving stay with the caller.
TStorageBuildResult BuildMeasureSetsFromStorage(const std::vector<TKyvoResultData>& results,
                                                const TDeviceIdentity& device, bool withLineData,
                                                bool withImage, const TextLookup& text,
                                                const std::function<EAddDecision()>& decide,
                                                TMeasureList& list);

// Fills set (a new set) from the latest measurement record, read with
// EEPROMVersion, under cfg: line results with cfg's line widths, identity,
// texts and one row per result of cfg.
void BuildMeasureSetFromResult(const tByteBuffer& record, std::uint8_t EEPROMVersion,
                               const TTestConfig& cfg, const TDeviceIdentity& device,
                               const TextLookup& text, TMeasureSet& set);

// Merges the second measurement record of a combined measurement into set,
// which was built from the first with the same cfg: flags or-ed, the second
// values after the first, its date taken, 2R rows. Returns false and changes
// nothing when cfg has more than 5 results (the values would not fit).
bool CombineSecondMeasurement(const tByteBuffer& record, std::uint8_t EEPROMVersion,
                              const TTestConfig& cfg, const TextLookup& text, TMeasureSet& set);

}  // namespace kyvo
