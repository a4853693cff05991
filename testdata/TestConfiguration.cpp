#include "testdata/TestConfiguration.h"

#include <algorithm>
#include <cstring>

namespace kyvo {

namespace {

constexpr tCursor kCartridgeImgSizePos = 31;  // inside the capture section

std::int16_t readInt16(const tByteBuffer& buf, tCursor& cursor) {
    return static_cast<std::int16_t>(bufReadWord(buf, cursor));
}

void readDate(const tByteBuffer& buf, tCursor& cursor, TDateData& date) {
    for (auto& b : date.Data) b = bufReadByte(buf, cursor);
}

void writeDate(tByteBuffer& buf, tCursor& cursor, const TDateData& date) {
    for (auto b : date.Data) bufAddByte(buf, cursor, b);
}

std::size_t whiteLength(const TTestConfig& cfg) {
    if (cfg.CaptureSection.CaptureConfig.ZeroWhite()) return kCartridgeWhiteSize;
    return cfg.CaptureSection.CartridgeImgSize * 3u / 2u;
}

// Keeps a model whose counts were set beyond its arrays from being written
// past them.
void clampCounts(TTestConfig& cfg) {
    auto& cap = cfg.CaptureSection;
    if (cap.LineCntFilterWidth.LineCount() > kMaxTestLines)
        cap.LineCntFilterWidth.SetLineCount(kMaxTestLines);
    if (cap.ResultClassCnt.ResultCount() > kMaxResults)
        cap.ResultClassCnt.SetResultCount(kMaxResults);
    if (cap.StringSize > kStringAreaSize) cap.StringSize = kStringAreaSize;
    if (cap.CartridgeImgSize > kMaxCartridgeImgSize) cap.CartridgeImgSize = kMaxCartridgeImgSize;
}

}  // namespace

void ReadResultEntry(const tByteBuffer& buf, tCursor& cursor, TTestResultEntry& e) {
    e.ResultFlags = bufReadByte(buf, cursor);
    e.LowerLimit = bufReadSingle(buf, cursor);
    e.UpperLimit = bufReadSingle(buf, cursor);
    e.DigitCfg = bufReadByte(buf, cursor);
    e.ClassRef = bufReadByte(buf, cursor);
    e.PtrResultName = bufReadWord(buf, cursor);
    e.PtrResultUnit = bufReadWord(buf, cursor);
}

void WriteResultEntry(tByteBuffer& buf, tCursor& cursor, const TTestResultEntry& e) {
    bufAddByte(buf, cursor, e.ResultFlags);
    bufAddSingle(buf, cursor, e.LowerLimit);
    bufAddSingle(buf, cursor, e.UpperLimit);
    bufAddByte(buf, cursor, e.DigitCfg);
    bufAddByte(buf, cursor, e.ClassRef);
    bufAddWord(buf, cursor, e.PtrResultName);
    bufAddWord(buf, cursor, e.PtrResultUnit);
}

void ReadClassEntry(const tByteBuffer& buf, tCursor& cursor, TTestClassEntry& e) {
    e.LowerThan = bufReadSingle(buf, cursor);
    e.PtrClassName = bufReadWord(buf, cursor);
}

void WriteClassEntry(tByteBuffer& buf, tCursor& cursor, const TTestClassEntry& e) {
    bufAddSingle(buf, cursor, e.LowerThan);
    bufAddWord(buf, cursor, e.PtrClassName);
}

void ReadTestID(const tByteBuffer& buf, tCursor& cursor, UUniqueTestID& id) {
    id.CustomerID = bufReadWord(buf, cursor);
    id.ProjectID = bufReadWord(buf, cursor);
    id.TestType = bufReadWord(buf, cursor);
    id.TestNu = bufReadWord(buf, cursor);
}

std::string TestIDToText(const UUniqueTestID& id, bool withSeparator) {
    const char* sep = withSeparator ? " " : "";
    return std::to_string(id.CustomerID) + sep + std::to_string(id.ProjectID) + sep +
           std::to_string(id.TestType) + sep + std::to_string(id.TestNu);
}

std::uint16_t Unpack12Bit(const std::uint8_t* data, std::size_t size, std::size_t k) {
    const std::size_t p = 3 * k / 2;
    const unsigned b0 = p < size ? data[p] : 0;
    const unsigned b1 = p + 1 < size ? data[p + 1] : 0;
    if (k % 2 == 0) return static_cast<std::uint16_t>(b0 * 16 + (b1 >> 4));
    return static_cast<std::uint16_t>((b0 & 0x0F) * 256 + b1);
}

void TTestConfig::Reset() {
    Version = 2;
    CfgSize = 0;
    TestID = {};
    OemSection = {};
    clearDateData(OemSection.ExpiryDate);
    CaptureSection = {};
    AutoMeasureSection = {};
    FilterCoefficient.fill(0.0f);
    LineSection.fill(TTestLineEntry{});
    ResultSection.fill(TTestResultEntry{});
    ClassSection.fill(TTestClassEntry{});
    CartridgeWhite.fill(0);
    StringData.fill(0);
    CheckSum = 0;
    CreditCount = 0xFFFF;
    AddStrPtrToCfg("FAIL", 1);
    CaptureSection.PtrTestInvalidText = 1;
}

bool TTestConfig::CompareTo(const TTestConfig& CompareConfig) const {
    TTestConfig a = *this;
    TTestConfig b = CompareConfig;
    tByteBuffer ba, bb;
    TestConfigToBytes(a, ba);
    TestConfigToBytes(b, bb);
    return ba == bb;
}

bool TTestConfig::IsValid() const {
    return LineCount() > 0 && ResultCount() > 0 && CaptureSection.PtrTouringProgram > 0;
}

std::string TTestConfig::ReadStringData(std::uint16_t Pos) const {
    const std::size_t end = std::min<std::size_t>(CaptureSection.StringSize, kStringAreaSize);
    if (Pos == 0 || Pos >= end) return {};
    std::size_t stop = Pos;
    while (stop < end && StringData[stop] != 0) ++stop;
    return std::string(reinterpret_cast<const char*>(StringData.data()) + Pos, stop - Pos);
}

std::uint16_t TTestConfig::AddStrPtrToCfg(std::string_view Str, std::uint16_t Pos) {
    const std::size_t need = std::size_t{Pos} + Str.size() + 1;
    if (need > kStringAreaSize) return static_cast<std::uint16_t>(kStringAreaSize);
    std::memcpy(StringData.data() + Pos, Str.data(), Str.size());
    // Written explicitly: a shorter text over a longer one must end here.
    StringData[Pos + Str.size()] = 0;
    CaptureSection.StringSize = static_cast<std::uint16_t>(need);
    return static_cast<std::uint16_t>(Pos + Str.size());
}

int TTestConfig::IsInStringData(std::string_view Str) const {
    if (Str.empty()) return -2;
    const std::string_view area(reinterpret_cast<const char*>(StringData.data()),
                                StringData.size());
    const std::size_t pos = area.find(Str);
    if (pos == std::string_view::npos) return -1;
    const std::size_t after = pos + Str.size();
    const bool zeroBefore = pos > 0 && StringData[pos - 1] == 0;
    const bool zeroAfter = after == StringData.size() || StringData[after] == 0;
    return zeroBefore && zeroAfter ? static_cast<int>(pos) : -1;
}

std::uint16_t TTestConfig::Get12BitWhite(std::uint16_t Idx) const {
    if (Idx >= CaptureSection.CartridgeImgSize || Idx >= kMaxCartridgeImgSize)
        return kWhiteValueMissing;
    return Unpack12Bit(CartridgeWhite.data(), CartridgeWhite.size(), Idx);
}

void TTestConfig::Set12BitWhite(std::uint16_t Idx, std::uint16_t Value) {
    if (Idx >= kMaxCartridgeImgSize) return;
    const std::size_t p = 3u * Idx / 2u;
    auto& w = CartridgeWhite;
    if (Idx % 2 == 0) {
        w[p] = static_cast<std::uint8_t>((Value >> 4) & 0xFF);
        w[p + 1] = static_cast<std::uint8_t>((w[p + 1] & 0x0F) | ((Value & 0x0F) << 4));
    } else {
        w[p] = static_cast<std::uint8_t>((w[p] & 0xF0) | ((Value >> 8) & 0x0F));
        w[p + 1] = static_cast<std::uint8_t>(Value & 0xFF);
    }
}

void TTestConfig::DeleteTestLine(std::size_t Idx) {
    const std::size_t n = std::min<std::size_t>(LineCount(), kMaxTestLines);
    if (Idx >= n) return;
    std::copy(LineSection.begin() + Idx + 1, LineSection.begin() + n, LineSection.begin() + Idx);
    LineSection[n - 1] = TTestLineEntry{};
    CaptureSection.LineCntFilterWidth.SetLineCount(static_cast<std::uint8_t>(n - 1));
}

void TTestConfig::DeleteFilter(std::size_t Idx) {
    const std::size_t n = std::min<std::size_t>(FilterWidth(), kMaxFilterValues);
    if (Idx >= n) return;
    std::copy(FilterCoefficient.begin() + Idx + 1, FilterCoefficient.begin() + n,
              FilterCoefficient.begin() + Idx);
    FilterCoefficient[n - 1] = 0.0f;
    CaptureSection.LineCntFilterWidth.SetFilterWidth(static_cast<std::uint8_t>(n - 1));
}

void TTestConfig::DeleteResult(std::size_t Idx) {
    const std::size_t n = std::min<std::size_t>(ResultCount(), kMaxResults);
    if (Idx >= n) return;
    const std::size_t first = ResultSection[Idx].FirstClass();
    for (std::size_t c = ResultSection[Idx].ClassNumber(); c > 0; --c) DeleteClass(first + c - 1);
    std::copy(ResultSection.begin() + Idx + 1, ResultSection.begin() + n,
              ResultSection.begin() + Idx);
    ResultSection[n - 1] = TTestResultEntry{};
    CaptureSection.ResultClassCnt.SetResultCount(static_cast<std::uint8_t>(n - 1));
}

void TTestConfig::DeleteClass(std::size_t Idx) {
    const std::size_t n = ClassCount();
    if (Idx >= n) return;
    std::copy(ClassSection.begin() + Idx + 1, ClassSection.begin() + n, ClassSection.begin() + Idx);
    ClassSection[n - 1] = TTestClassEntry{};
    const std::size_t newCount = n - 1;
    CaptureSection.ResultClassCnt.SetClassCount(static_cast<std::uint8_t>(newCount));
    const std::size_t results = std::min<std::size_t>(ResultCount(), kMaxResults);
    for (std::size_t i = 0; i < results; ++i) {
        auto& r = ResultSection[i];
        const std::size_t count = r.ClassNumber();
        const std::size_t first = r.FirstClass();
        if (count > 0 && Idx >= first && Idx < first + count) {
            if (count == 1) {
                r.ClassRef = 0;
                setBitField8(r.ResultFlags, kBfShowClass, 0);
            } else {
                setBitField8(r.ClassRef, kBfClassNumber, static_cast<std::uint8_t>(count - 1));
            }
        } else if (Idx < newCount && count > 0 && Idx < first) {
            setBitField8(r.ClassRef, kBfFirstClass, static_cast<std::uint8_t>(first - 1));
        }
    }
}

bool TTestConfig::InsertClass(std::size_t ResultIdx) {
    const std::size_t results = std::min<std::size_t>(ResultCount(), kMaxResults);
    if (ResultIdx >= results) return false;
    const std::size_t n = ClassCount();
    auto& r = ResultSection[ResultIdx];
    const std::size_t count = r.ClassNumber();
    // Both fields are full: another class would overrun the array or wrap the
    // result's 3-bit class count to 0.
    if (n >= kMaxClasses || count >= 7) return false;
    // Bytes from outside may point a result at classes beyond those in use;
    // shifting from there would run past the table.
    if (count > 0 && r.FirstClass() + count > n) return false;
    CaptureSection.ResultClassCnt.SetClassCount(static_cast<std::uint8_t>(n + 1));
    const std::size_t first = r.FirstClass();
    if (count > 0) {
        const std::size_t at = first + count;
        std::copy_backward(ClassSection.begin() + at, ClassSection.begin() + n,
                           ClassSection.begin() + n + 1);
        ClassSection[at] = TTestClassEntry{};
        for (std::size_t i = 0; i < results; ++i) {
            auto& other = ResultSection[i];
            if (i != ResultIdx && other.ClassNumber() > 0 && other.FirstClass() > first)
                setBitField8(other.ClassRef, kBfFirstClass,
                             static_cast<std::uint8_t>(other.FirstClass() + 1));
        }
    } else {
        ClassSection[n] = TTestClassEntry{};
        setBitField8(r.ClassRef, kBfFirstClass, static_cast<std::uint8_t>(n));
        setBitField8(r.ResultFlags, kBfShowClass, 1);
    }
    setBitField8(r.ClassRef, kBfClassNumber, static_cast<std::uint8_t>(count + 1));
    return true;
}

void TTestConfig::AdjustRelativeLinePos() {
    const std::size_t n = std::min<std::size_t>(LineCount(), kMaxTestLines);
    std::int32_t base = 0;
    for (std::size_t i = 0; i < n; ++i) {
        auto& line = LineSection[i];
        const std::int32_t abs = line.AbsolutePosition();
        line.RelativeBase = static_cast<std::int16_t>(base);
        line.NominalPosition = static_cast<std::int16_t>(abs - base);
        if (line.IsReference()) base = abs;
    }
}

void TestConfigToBytes(TTestConfig& cfg, tByteBuffer& out) {
    clampCounts(cfg);
    auto& cap = cfg.CaptureSection;
    const bool zeroWhite = cap.CaptureConfig.ZeroWhite();
    const auto savedWhite = cfg.CartridgeWhite;
    if (zeroWhite) {
        cap.CartridgeImgSize = 256;
        cfg.CartridgeWhite.fill(0);
    }

    out.clear();
    tCursor c = 0;
    bufAddByte(out, c, cfg.Version);
    bufAddWord(out, c, 0);
    bufAddWord(out, c, cfg.TestID.CustomerID);
    bufAddWord(out, c, cfg.TestID.ProjectID);
    bufAddWord(out, c, cfg.TestID.TestType);
    bufAddWord(out, c, cfg.TestID.TestNu);
    bufAddWord(out, c, cfg.OemSection.PtrTestName);
    bufAddWord(out, c, cfg.OemSection.PtrLotNr);
    bufAddWord(out, c, cfg.OemSection.PtrDistributorManufacturer);
    writeDate(out, c, cfg.OemSection.ExpiryDate);
    bufAddByte(out, c, cap.ImageCount);
    bufAddWord(out, c, cap.TimerCount);
    bufAddByte(out, c, cap.LineCntFilterWidth.Data);
    bufAddWord(out, c, cap.ResultClassCnt.Data);
    bufAddWord(out, c, cap.StringSize);
    bufAddWord(out, c, cap.CartridgeImgSize);
    bufAddWord(out, c, cap.PtrTestInvalidText);
    bufAddWord(out, c, cap.PtrTouringProgram);
    bufAddByte(out, c, cap.CaptureConfig.Data);
    const auto& am = cfg.AutoMeasureSection;
    bufAddWord(out, c, am.StartDelay);
    bufAddByte(out, c, am.MeasureInterval);
    bufAddByte(out, c, am.ImageCount);
    bufAddByte(out, c, am.ReferenceResult);
    bufAddByte(out, c, am.RepeatedConstResultCount);
    bufAddSingle(out, c, am.DeltaResult);
    bufAddSingle(out, c, am.LastResult);
    for (std::size_t i = 0; i < cfg.FilterWidth(); ++i)
        bufAddSingle(out, c, cfg.FilterCoefficient[i]);
    for (std::size_t i = 0; i < cfg.LineCount(); ++i) {
        auto& line = cfg.LineSection[i];
        line.Width &= 0xFE;
        line.SearchWidth &= 0xFE;
        bufAddByte(out, c, line.LineFlags);
        bufAddWord(out, c, static_cast<std::uint16_t>(line.NominalPosition));
        bufAddByte(out, c, line.Width);
        bufAddByte(out, c, line.SearchWidth);
        bufAddWord(out, c, line.SearchMinValue);
        bufAddWord(out, c, line.MinValue);
    }
    for (std::size_t i = 0; i < cfg.ResultCount(); ++i)
        WriteResultEntry(out, c, cfg.ResultSection[i]);
    for (std::size_t i = 0; i < cfg.ClassCount(); ++i) WriteClassEntry(out, c, cfg.ClassSection[i]);
    const std::size_t w = whiteLength(cfg);
    for (std::size_t i = 0; i < w; ++i) bufAddByte(out, c, cfg.CartridgeWhite[i]);
    for (std::size_t i = 0; i < cap.StringSize; ++i) bufAddByte(out, c, cfg.StringData[i]);
    const tCursor sumEnd = c;
    bufAddDWord(out, c, 0);
    bufAddWord(out, c, cfg.CreditCount);

    cfg.CfgSize = static_cast<std::uint16_t>(out.size());
    tCursor sizeAt = 1;
    bufAddWord(out, sizeAt, cfg.CfgSize);
    std::uint32_t sum = 0;
    for (tCursor i = 0; i < sumEnd; ++i) sum += out[i];
    cfg.CheckSum = sum;
    tCursor sumAt = sumEnd;
    bufAddDWord(out, sumAt, sum);

    if (zeroWhite) {
        cap.CartridgeImgSize = 0;
        cfg.CartridgeWhite = savedWhite;
    }
}

std::uint8_t TestConfigFromBytes(const tByteBuffer& bytes, TTestConfig& cfg) {
    cfg.Reset();
    tCursor c = 0;
    cfg.Version = bufReadByte(bytes, c);
    if (cfg.Version == 0) return kCfgNoConfig;
    if (cfg.Version < 2 || cfg.Version > 5) return kCfgWrongVersion;
    cfg.CfgSize = bufReadWord(bytes, c);
    ReadTestID(bytes, c, cfg.TestID);
    auto& oem = cfg.OemSection;
    oem.PtrTestName = bufReadWord(bytes, c);
    oem.PtrLotNr = bufReadWord(bytes, c);
    oem.PtrDistributorManufacturer = bufReadWord(bytes, c);
    readDate(bytes, c, oem.ExpiryDate);
    auto& cap = cfg.CaptureSection;
    cap.ImageCount = bufReadByte(bytes, c);
    cap.TimerCount = bufReadWord(bytes, c);
    cap.LineCntFilterWidth.Data = bufReadByte(bytes, c);
    cap.ResultClassCnt.Data = bufReadWord(bytes, c);
    cap.StringSize = bufReadWord(bytes, c);
    cap.CartridgeImgSize = bufReadWord(bytes, c);
    cap.PtrTestInvalidText = bufReadWord(bytes, c);
    cap.PtrTouringProgram = bufReadWord(bytes, c);
    cap.CaptureConfig.Data = bufReadByte(bytes, c);
    const bool zeroWhite = cap.CaptureConfig.ZeroWhite();
    if (zeroWhite) cap.CartridgeImgSize = 0;

    // Such counts cannot come from a sound configuration, and the fields after
    // them cannot be located; the model keeps counts that fit its arrays.
    if (cfg.LineCount() > kMaxTestLines || cfg.ResultCount() > kMaxResults ||
        cap.StringSize > kStringAreaSize || cap.CartridgeImgSize > kMaxCartridgeImgSize) {
        clampCounts(cfg);
        return kCfgCountsTooLarge;
    }

    auto& am = cfg.AutoMeasureSection;
    am.StartDelay = bufReadWord(bytes, c);
    am.MeasureInterval = bufReadByte(bytes, c);
    am.ImageCount = bufReadByte(bytes, c);
    am.ReferenceResult = bufReadByte(bytes, c);
    am.RepeatedConstResultCount = bufReadByte(bytes, c);
    am.DeltaResult = bufReadSingle(bytes, c);
    am.LastResult = bufReadSingle(bytes, c);
    for (std::size_t i = 0; i < cfg.FilterWidth(); ++i)
        cfg.FilterCoefficient[i] = bufReadSingle(bytes, c);
    std::int32_t base = 0;
    for (std::size_t i = 0; i < cfg.LineCount(); ++i) {
        auto& line = cfg.LineSection[i];
        line.RelativeBase = static_cast<std::int16_t>(base);
        line.LineFlags = bufReadByte(bytes, c);
        line.NominalPosition = readInt16(bytes, c);
        line.Width = bufReadByte(bytes, c) & 0xFE;
        line.SearchWidth = bufReadByte(bytes, c) & 0xFE;
        line.SearchMinValue = bufReadWord(bytes, c);
        line.MinValue = bufReadWord(bytes, c);
        if (line.IsReference()) base = static_cast<std::int16_t>(line.AbsolutePosition());
    }
    for (std::size_t i = 0; i < cfg.ResultCount(); ++i)
        ReadResultEntry(bytes, c, cfg.ResultSection[i]);
    for (std::size_t i = 0; i < cfg.ClassCount(); ++i)
        ReadClassEntry(bytes, c, cfg.ClassSection[i]);
    const tCursor whiteAt = c;
    const std::size_t w = whiteLength(cfg);
    for (std::size_t i = 0; i < w; ++i) {
        const std::uint8_t b = bufReadByte(bytes, c);
        if (!zeroWhite) cfg.CartridgeWhite[i] = b;
    }
    for (std::size_t i = 0; i < cap.StringSize; ++i) cfg.StringData[i] = bufReadByte(bytes, c);

    const tCursor sumEnd = c;
    // A buffer that ends before the checksum is incomplete; its missing
    // checksum must not pass as the 0 that switches the test off.
    const bool checksumPresent = std::size_t{sumEnd} + 4 <= bytes.size();
    cfg.CheckSum = bufReadDWord(bytes, c);
    cfg.CreditCount = bufReadWord(bytes, c);

    std::uint32_t sum = 0;
    for (tCursor i = 0; i < sumEnd; ++i) sum += bytes[i];
    if (zeroWhite) {
        // The size field counts as 256 and the white bytes as zero.
        sum -= bytes[kCartridgeImgSizePos] + bytes[kCartridgeImgSizePos + 1];
        sum += 0x00 + 0x01;
        for (tCursor i = whiteAt; i < whiteAt + kCartridgeWhiteSize && i < sumEnd; ++i)
            sum -= bytes[i];
    }
    if (!checksumPresent) return kCfgChecksum;
    if (cfg.CheckSum == 0) cfg.CheckSum = sum;
    return cfg.CheckSum == sum ? kCfgOk : kCfgChecksum;
}

TStoredConfigList ReadStoredConfigList(const tByteBuffer& list) {
    TStoredConfigList result;
    std::size_t offset = 0;
    while (offset < list.size()) {
        const std::uint8_t version = list[offset];
        if (version < 2 || version == 255) break;
        tCursor c = static_cast<tCursor>(offset + 1);
        const std::uint16_t size = bufReadWord(list, c);
        if (size < 3) {
            // The entry cannot say where the next one starts.
            result.Damaged = true;
            break;
        }
        if (offset + size > list.size()) result.Damaged = true;
        tByteBuffer bytes;
        bufCopy(bytes, list, size, static_cast<std::uint32_t>(offset), 0);
        TStoredConfigEntry entry;
        entry.Offset = offset;
        if (TestConfigFromBytes(bytes, entry.Config) == kCfgOk) {
            entry.Text =
                latin1ToUtf8(entry.Config.ReadStringData(entry.Config.OemSection.PtrTestName)) +
                " - " + latin1ToUtf8(entry.Config.ReadStringData(entry.Config.OemSection.PtrLotNr));
            result.Entries.push_back(std::move(entry));
        } else {
            ++result.Skipped;
        }
        offset += size;
    }
    return result;
}

}  // namespace kyvo
