#include "testdata/TestResults.h"

#include <algorithm>

namespace kyvo {

namespace {

void readDate(const tByteBuffer& buf, tCursor& cursor, TDateData& date) {
    for (auto& b : date.Data) b = bufReadByte(buf, cursor);
}

std::size_t ringSize(const tByteBuffer& ring, const TRingArea& area) {
    if (area.Stop < area.Start) return ring.size();
    return std::size_t{area.Stop} - area.Start + 1;
}

void readCfgHeader(const tByteBuffer& buf, tCursor& c, std::uint8_t version,
                   TSaveInternalFlashTestCfgList& h) {
    h.ID = bufReadByte(buf, c);
    h.Size = bufReadWord(buf, c);
    ReadTestID(buf, c, h.TestID);
    h.PtrTestName = bufReadWord(buf, c);
    h.PtrLotNr = bufReadWord(buf, c);
    h.PtrDistrManu = bufReadWord(buf, c);
    h.ResultClassCnt.Data = bufReadWord(buf, c);
    if (version >= 6) h.CRC = bufReadDWord(buf, c);
}

void readResultHeader(const tByteBuffer& buf, tCursor& c, std::uint8_t version,
                      TSaveInternalFlashResultList& h) {
    h.ID = bufReadByte(buf, c);
    h.Size = bufReadWord(buf, c);
    readDate(buf, c, h.Date);
    h.Invalid.Data = bufReadByte(buf, c);
    h.Voltage = bufReadWord(buf, c);
    h.Temperature = bufReadSingle(buf, c);
    if (version >= 6) h.MeasureID = bufReadWord(buf, c);
}

}  // namespace

void ReadLineResult(const tByteBuffer& buf, tCursor& c, std::size_t storedSize, TLineResult& line) {
    line = TLineResult{};
    line.MeanValue = bufReadSingle(buf, c);
    line.MinValue = bufReadSingle(buf, c);
    line.MaxValue = bufReadSingle(buf, c);
    line.LeftMeanValue = bufReadSingle(buf, c);
    line.RightMeanValue = bufReadSingle(buf, c);
    if (storedSize == kLineResultCompact) {
        line.MaxPosAbs = bufReadByte(buf, c);
        line.UsedPixel = bufReadByte(buf, c);
        line.CenterPositionAbsolut = bufReadByte(buf, c);
        line.Width = bufReadByte(buf, c);
        return;
    }
    line.MaxPosAbs = bufReadSingle(buf, c);
    line.UsedPixel = bufReadByte(buf, c);
    line.CenterPositionAbsolut = static_cast<std::int16_t>(bufReadWord(buf, c));
    if (storedSize == kLineResultFull) line.Width = bufReadByte(buf, c);
}

bool IsTestInvalid(UTestInvalid flags) {
    return getBitField8(flags.Data, kBfInvalidLow) != 0 ||
           getBitField8(flags.Data, kBfInvalidHigh) != 0;
}

bool IsRecordInvalid(UTestInvalid flags, std::uint8_t EEPROMVersion) {
    if (EEPROMVersion <= 3) return flags.Data != 0;
    return IsTestInvalid(flags);
}

static std::size_t recordLineSize(std::uint8_t v) {
    if (v <= 4) return kLineResultNoWidth;
    if (v == 5) return kLineResultFull;
    return kLineResultCompact;
}

std::size_t MeasurementRecordSize(std::uint8_t EEPROMVersion) {
    return 76 + 10 * recordLineSize(EEPROMVersion);
}

void TResult::Reset() {
    TestEvenMeasuredValueCount = 0;
    SearchReference = 0;
    ResultValue.fill(0.0f);
    Line.fill(TLineResult{});
    PtrClass.fill(0);
    TestInvalid = {};
    Temperature = 0;
    Voltage = 0;
    clearDateData(MeasurementDate);
}

void TResult::FromByteBuffer(const tByteBuffer& Buffer, std::uint8_t EEPROMVersion) {
    Reset();
    tCursor c = 0;
    TestEvenMeasuredValueCount = bufReadByte(Buffer, c);
    SearchReference = static_cast<std::int16_t>(bufReadWord(Buffer, c));
    for (auto& v : ResultValue) v = bufReadSingle(Buffer, c);
    const std::size_t lineSize = recordLineSize(EEPROMVersion);
    for (auto& line : Line) ReadLineResult(Buffer, c, lineSize, line);
    for (auto& p : PtrClass) p = bufReadWord(Buffer, c);
    TestInvalid.Data = bufReadByte(Buffer, c);
    Temperature = bufReadSingle(Buffer, c);
    Voltage = bufReadWord(Buffer, c);
    readDate(Buffer, c, MeasurementDate);
}

std::size_t StoredResultCfgHeaderSize(std::uint8_t v) {
    return v >= 6 ? 23 : 19;
}
std::size_t StoredResultHeaderSize(std::uint8_t v) {
    return v >= 6 ? 18 : 16;
}
std::size_t StoredLineResultSize(std::uint8_t v) {
    return v >= 6 ? kLineResultCompact : kLineResultFull;
}

TRingArea ResultCfgRingArea(const TEEPROMVolatile& rec) {
    return {rec.StoredTestResultCfgStart, rec.StoredTestResultCfgStop,
            rec.StoredTestResultCfgReadPtr};
}

TRingArea ResultRingArea(const TEEPROMVolatile& rec) {
    return {rec.StoredTestResultStart, rec.StoredTestResultStop, rec.StoredTestResultReadPtr};
}

tByteBuffer RotateRing(const tByteBuffer& ring, const TRingArea& area) {
    const std::size_t n = ringSize(ring, area);
    tByteBuffer out(n, 0);
    if (n == 0) return out;
    const std::size_t p = static_cast<std::uint16_t>(area.ReadPtr - area.Start) % n;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = (p + i) % n;
        if (from < ring.size()) out[i] = ring[from];
    }
    return out;
}

TStoredReadReport ReadStoredResultConfigs(const tByteBuffer& ring, const TRingArea& area,
                                          std::uint8_t EEPROMVersion,
                                          std::vector<TKyvoResultData>& list) {
    TStoredReadReport report;
    list.clear();
    const tByteBuffer buf = RotateRing(ring, area);
    const std::size_t n = buf.size();
    const std::size_t h = StoredResultCfgHeaderSize(EEPROMVersion);
    std::size_t pos = 0;
    // A full ring has no end mark after its newest entry: one pass is all.
    std::size_t walked = 0;
    while (walked < n) {
        // The ring is circular, so an entry may run on from its last byte to
        // its first.
        tByteBuffer header(h);
        for (std::size_t j = 0; j < h; ++j) header[j] = buf[(pos + j) % n];
        tCursor c = 0;
        TSaveInternalFlashTestCfgList head;
        readCfgHeader(header, c, EEPROMVersion, head);
        if (head.ID == 0 || head.ID == 255) break;
        if (head.Size < h) {
            report.Damaged = true;
            break;
        }
        const std::size_t size = std::min<std::size_t>(head.Size, n);
        if (head.ResultClassCnt.ResultCount() > kMaxResults) {
            ++report.RefusedConfigs;
        } else {
            tByteBuffer entry(size);
            for (std::size_t j = 0; j < size; ++j) entry[j] = buf[(pos + j) % n];
            TKyvoResultData data;
            data.ResultCfg = head;
            TTestConfig& cfg = data.TestCfg;
            cfg.TestID = head.TestID;
            cfg.OemSection.PtrTestName = head.PtrTestName;
            cfg.OemSection.PtrLotNr = head.PtrLotNr;
            cfg.OemSection.PtrDistributorManufacturer = head.PtrDistrManu;
            cfg.CaptureSection.ResultClassCnt = head.ResultClassCnt;
            c = static_cast<tCursor>(h);
            for (std::size_t i = 0; i < cfg.ResultCount(); ++i)
                ReadResultEntry(entry, c, cfg.ResultSection[i]);
            for (std::size_t i = 0; i < cfg.ClassCount(); ++i)
                ReadClassEntry(entry, c, cfg.ClassSection[i]);
            std::size_t strings = c < size ? size - c : 0;
            if (strings > kStringAreaSize) {
                strings = kStringAreaSize;
                ++report.TruncatedStrings;
            }
            std::copy_n(entry.begin() + c, strings, cfg.StringData.begin());
            cfg.CaptureSection.StringSize = static_cast<std::uint16_t>(
                std::min(cfg.CaptureSection.StringSize + strings, kStringAreaSize));
            list.push_back(std::move(data));
            ++report.Entries;
        }
        pos = (pos + size) % n;
        walked += size;
    }
    return report;
}

TStoredReadReport ReadStoredResults(const tByteBuffer& ring, const TRingArea& area,
                                    std::uint8_t EEPROMVersion, bool withLineData, bool withImage,
                                    std::vector<TKyvoResultData>& list) {
    TStoredReadReport report;
    const tByteBuffer buf = RotateRing(ring, area);
    const std::size_t n = buf.size();
    const std::size_t h = StoredResultHeaderSize(EEPROMVersion);
    const std::size_t lineSize = StoredLineResultSize(EEPROMVersion);
    std::size_t pos = 0;
    while (pos < n && n - pos >= h + 1) {
        tCursor c = static_cast<tCursor>(pos);
        TSaveInternalFlashResultList head;
        readResultHeader(buf, c, EEPROMVersion, head);
        if (head.ID == 255) break;
        if (head.Size == 0) {
            // Would read the same entry for ever.
            report.Damaged = true;
            break;
        }
        if (head.ID != 0) {
            auto cfg = std::find_if(list.begin(), list.end(), [&](const TKyvoResultData& d) {
                return d.ResultCfg.ID == head.ID;
            });
            if (cfg == list.end()) {
                ++report.Unmatched;
            } else {
                TKyvoResults r;
                r.KyvoResultList = head;
                r.ResultValues.resize(cfg->TestCfg.ResultCount());
                for (auto& v : r.ResultValues) v = bufReadSingle(buf, c);
                if (withLineData) {
                    r.ImgLineInfo.LineCount = bufReadByte(buf, c);
                    r.LineData.resize(r.ImgLineInfo.LineCount);
                    for (auto& line : r.LineData) ReadLineResult(buf, c, lineSize, line);
                }
                if (withImage) {
                    r.ImgLineInfo.ImageSize = bufReadByte(buf, c);
                    r.ImageValues12.resize(r.ImgLineInfo.ImageSize * 3u / 2u);
                    for (auto& b : r.ImageValues12) b = bufReadByte(buf, c);
                }
                cfg->Results.push_back(std::move(r));
                ++report.Entries;
            }
        }
        pos += head.Size;
    }
    return report;
}

TStoredReadReport ReadStoredResultConfigs(const tByteBuffer& ring, const TEEPROMMap& map,
                                          std::vector<TKyvoResultData>& list) {
    return ReadStoredResultConfigs(ring, ResultCfgRingArea(map.VolatileData), map.EEPROMVersion(),
                                   list);
}

TStoredReadReport ReadStoredResults(const tByteBuffer& ring, const TEEPROMMap& map,
                                    std::vector<TKyvoResultData>& list) {
    const auto& bits = map.NonVolatileData.KyvoCfgBits_0;
    return ReadStoredResults(ring, ResultRingArea(map.VolatileData), map.EEPROMVersion(),
                             bits.ResultsWithLineData(), bits.ResultsWithImage(), list);
}

}  // namespace kyvo
