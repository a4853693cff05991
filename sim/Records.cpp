#include "sim/Records.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kyvo::sim {

namespace {

std::uint16_t addString(tByteBuffer& strings, const std::string& text) {
    if (text.empty()) return 0;
    auto pos = static_cast<std::uint16_t>(strings.size());
    strings.insert(strings.end(), text.begin(), text.end());
    strings.push_back(0);
    return pos;
}

void addWordAt(tByteBuffer& buf, std::size_t at, std::uint16_t v) {
    tCursor c = static_cast<tCursor>(at);
    bufAddWord(buf, c, v);
}

}  // namespace

ConfigLayout layoutConfig(const SimTestConfig& config) {
    ConfigLayout l;
    // Offset 0 stays the "no text" byte; the invalid-test text lives at 1.
    l.strings.push_back(0);
    l.strings.insert(l.strings.end(), config.invalidText.begin(), config.invalidText.end());
    l.strings.push_back(0);
    l.ptrInvalidText = 1;
    l.ptrTestName = addString(l.strings, config.testName);
    l.ptrLotNr = addString(l.strings, config.lotNr);
    l.ptrDistributor = addString(l.strings, config.distributor);
    l.ptrProgram =
        addString(l.strings, config.program.empty() ? std::string("R0=0") : config.program);

    tCursor rc = 0;
    tCursor cc = 0;
    std::uint8_t classIndex = 0;
    for (const auto& r : config.results) {
        std::uint16_t namePtr = addString(l.strings, r.name);
        std::uint16_t unitPtr = addString(l.strings, r.unit);
        std::uint8_t first = classIndex;
        auto count = static_cast<std::uint8_t>(r.classes.size());
        for (const auto& c : r.classes) {
            std::uint16_t p = addString(l.strings, c.name);
            bufAddSingle(l.classEntries, cc, c.lowerThan);
            bufAddWord(l.classEntries, cc, p);
            l.classNamePtrs.push_back(p);
            l.classLimits.push_back(c.lowerThan);
            ++classIndex;
        }
        std::uint8_t flags = (r.showValue ? 0x01 : 0) | ((r.showClass || count > 0) ? 0x02 : 0);
        bufAddByte(l.resultEntries, rc, flags);
        bufAddSingle(l.resultEntries, rc, r.lowerLimit);
        bufAddSingle(l.resultEntries, rc, r.upperLimit);
        bufAddByte(l.resultEntries, rc, r.digitCfg);
        bufAddByte(l.resultEntries, rc,
                   static_cast<std::uint8_t>((count & 0x07) | (count ? first << 3 : 0)));
        bufAddWord(l.resultEntries, rc, namePtr);
        bufAddWord(l.resultEntries, rc, unitPtr);
        l.classFirst.push_back(first);
        l.classCount.push_back(count);
    }
    l.resultClassCnt =
        static_cast<std::uint16_t>((config.results.size() & 0x0F) | ((classIndex & 0x1F) << 8));
    return l;
}

tByteBuffer configToBytes(const SimTestConfig& config) {
    ConfigLayout l = layoutConfig(config);
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, config.version);
    bufAddWord(b, c, 0);  // size, set below
    bufAddWord(b, c, config.customerID);
    bufAddWord(b, c, config.projectID);
    bufAddWord(b, c, config.testType);
    bufAddWord(b, c, config.testNu);
    bufAddWord(b, c, l.ptrTestName);
    bufAddWord(b, c, l.ptrLotNr);
    bufAddWord(b, c, l.ptrDistributor);
    for (std::uint8_t v : config.expiry.Data) bufAddByte(b, c, v);
    // Capture section.
    bufAddByte(b, c, config.imageCount);
    bufAddWord(b, c, config.timerSeconds);
    bufAddByte(b, c,
               static_cast<std::uint8_t>((config.lines.size() & 0x0F) |
                                         ((config.filter.size() & 0x0F) << 4)));
    bufAddWord(b, c, l.resultClassCnt);
    bufAddWord(b, c, static_cast<std::uint16_t>(l.strings.size()));
    bufAddWord(b, c, 0);  // no cartridge white profile
    bufAddWord(b, c, l.ptrInvalidText);
    bufAddWord(b, c, l.ptrProgram);
    bufAddByte(b, c, 0);
    // Automatic measurement section.
    bufAddWord(b, c, 0);
    bufAddByte(b, c, 10);
    bufAddByte(b, c, 2);
    bufAddByte(b, c, 0);
    bufAddByte(b, c, 1);
    bufAddSingle(b, c, 0.0f);
    bufAddSingle(b, c, 0.0f);
    for (float f : config.filter) bufAddSingle(b, c, f);
    for (const auto& line : config.lines) {
        bufAddByte(b, c, line.reference ? 1 : 0);
        bufAddWord(b, c, static_cast<std::uint16_t>(line.position));
        bufAddByte(b, c, line.width & 0xFE);
        bufAddByte(b, c, line.searchWidth & 0xFE);
        bufAddWord(b, c, line.searchMinValue);
        bufAddWord(b, c, line.minValue);
    }
    b.insert(b.end(), l.resultEntries.begin(), l.resultEntries.end());
    b.insert(b.end(), l.classEntries.begin(), l.classEntries.end());
    b.insert(b.end(), l.strings.begin(), l.strings.end());
    std::size_t total = b.size() + 6;
    addWordAt(b, 1, static_cast<std::uint16_t>(total));
    std::uint32_t sum = 0;
    for (std::uint8_t v : b) sum += v;
    c = static_cast<tCursor>(b.size());
    bufAddDWord(b, c, sum);
    bufAddWord(b, c, config.creditCount);
    return b;
}

ActiveConfig parseActiveConfig(const tByteBuffer& bytes) {
    ActiveConfig a;
    tCursor c = 0;
    std::uint8_t version = bufReadByte(bytes, c);
    if (version == 0) return a;
    if (version < 2 || version > 5) {
        a.status = ActiveConfig::Status::WrongVersion;
        return a;
    }
    c = 23;
    std::uint32_t sum = 0;
    // Expiry date and counts.
    tCursor e = 17;
    for (auto& v : a.expiry.Data) v = bufReadByte(bytes, e);
    bufReadByte(bytes, c);
    a.timerSeconds = bufReadWord(bytes, c);
    std::uint8_t lf = bufReadByte(bytes, c);
    std::uint16_t rc = bufReadWord(bytes, c);
    std::uint16_t stringSize = bufReadWord(bytes, c);
    tCursor imgSizeAt = c;
    std::uint16_t imgSize = bufReadWord(bytes, c);
    c += 4;
    std::uint8_t captureConfig = bufReadByte(bytes, c);
    bool noWhite = (captureConfig & 0x10) != 0;
    std::uint8_t lines = lf & 0x0F, filters = lf >> 4;
    std::uint8_t results = rc & 0x0F, classes = (rc >> 8) & 0x1F;
    // Counts beyond the device's tables make the configuration unusable.
    if (lines > 10 || results > 10 || classes > 31 || stringSize > 4000 ||
        (!noWhite && imgSize > 256)) {
        a.status = ActiveConfig::Status::BadChecksum;
        return a;
    }
    a.lineCount = lines;
    a.resultCount = results;
    a.classCount = classes;
    c = 52 + 4u * filters;
    std::int16_t base = 0;
    for (int i = 0; i < lines; ++i) {
        std::uint8_t flags = bufReadByte(bytes, c);
        auto pos = static_cast<std::int16_t>(bufReadWord(bytes, c));
        a.lineWidth[i] = bufReadByte(bytes, c) & 0xFE;
        c += 5;
        a.linePos[i] = static_cast<std::int16_t>(pos + base);
        if (flags & 1) base = a.linePos[i];
    }
    for (int i = 0; i < results; ++i) {
        bufReadByte(bytes, c);
        a.lower[i] = bufReadSingle(bytes, c);
        a.upper[i] = bufReadSingle(bytes, c);
        bufReadByte(bytes, c);
        std::uint8_t ref = bufReadByte(bytes, c);
        a.classNum[i] = ref & 0x07;
        a.classFirst[i] = ref >> 3;
        c += 4;
    }
    for (int i = 0; i < classes; ++i) {
        a.classLimit[i] = bufReadSingle(bytes, c);
        a.classPtr[i] = bufReadWord(bytes, c);
    }
    std::uint32_t white = noWhite ? 384 : imgSize * 3u / 2u;
    tCursor whiteAt = c;
    c += white + stringSize;
    std::uint32_t end = c;
    for (std::uint32_t i = 0; i < end; ++i) {
        std::uint8_t v = i < bytes.size() ? bytes[i] : 0;
        if (noWhite && (i >= whiteAt && i < whiteAt + 384)) v = 0;
        if (noWhite && i == imgSizeAt) v = 0x00;
        if (noWhite && i == imgSizeAt + 1) v = 0x01;
        sum += v;
    }
    if (end + 6 > bytes.size()) {
        a.status = ActiveConfig::Status::BadChecksum;  // cut short
        return a;
    }
    std::uint32_t stored = bufReadDWord(bytes, c);
    if (stored != 0 && stored != sum) {
        a.status = ActiveConfig::Status::BadChecksum;
        return a;
    }
    bufReadWord(bytes, c);
    a.bytes.assign(bytes.begin(), bytes.begin() + std::min<std::size_t>(c, bytes.size()));
    a.status = ActiveConfig::Status::Good;
    return a;
}

void synthesiseLinesAndImage(Measurement& m, const ActiveConfig& config, std::uint16_t imageWidth,
                             std::uint64_t seed) {
    Random rnd(seed);
    int w = std::max<int>(imageWidth, 2);
    m.image.assign(w, 0);
    for (int x = 0; x < w; ++x) {
        double base = 3300.0 - 300.0 * x / w + rnd.uniform(-12.0, 12.0);
        m.image[x] = static_cast<std::uint16_t>(base);
    }
    double firstValue = m.values.empty() ? 1.0 : std::fabs(m.values[0]);
    // A value that is no number would make every sample NaN, which has no
    // 12-bit form; such a measurement gets the image of the value 1.
    if (!std::isfinite(firstValue)) firstValue = 1.0;
    m.lines.clear();
    for (int i = 0; i < config.lineCount; ++i) {
        int pos = std::clamp<int>(config.linePos[i], 0, w - 1);
        int half = std::max(config.lineWidth[i] / 2, 1) + 2;
        double depth = i == 0 ? 1400.0 : 200.0 + std::fmod(firstValue * 97.0 + i * 131.0, 900.0);
        for (int x = std::max(0, pos - 3 * half); x < std::min(w, pos + 3 * half + 1); ++x) {
            double d = (x - pos) / static_cast<double>(half);
            double v = m.image[x] - depth * std::exp(-d * d);
            m.image[x] = static_cast<std::uint16_t>(std::clamp(v, 0.0, 4095.0));
        }
        LineResult lr;
        int lw = std::max<int>(config.lineWidth[i], 2);
        int from = std::max(0, pos - lw / 2), to = std::min(w - 1, pos + lw / 2);
        double sum = 0;
        lr.min = 4095;
        lr.max = 0;
        int minAt = pos;
        for (int x = from; x <= to; ++x) {
            sum += m.image[x];
            if (m.image[x] < lr.min) {
                lr.min = m.image[x];
                minAt = x;
            }
            lr.max = std::max<float>(lr.max, m.image[x]);
        }
        lr.mean = static_cast<float>(sum / (to - from + 1));
        auto sideMean = [&](int a, int b) {
            a = std::clamp(a, 0, w - 1);
            b = std::clamp(b, 0, w - 1);
            double s = 0;
            for (int x = a; x <= b; ++x) s += m.image[x];
            return static_cast<float>(s / (b - a + 1));
        };
        lr.leftMean = sideMean(from - lw, from - 1);
        lr.rightMean = sideMean(to + 1, to + lw);
        lr.maxPosAbs = static_cast<float>(std::min(minAt, 255));
        lr.usedPixel = static_cast<std::uint8_t>(to - from + 1);
        lr.center = static_cast<std::int16_t>(pos);
        lr.width = config.lineWidth[i];
        m.lines.push_back(lr);
    }
}

void appendLine(tByteBuffer& buf, const LineResult& line, int size) {
    tCursor c = static_cast<tCursor>(buf.size());
    bufAddSingle(buf, c, line.mean);
    bufAddSingle(buf, c, line.min);
    bufAddSingle(buf, c, line.max);
    bufAddSingle(buf, c, line.leftMean);
    bufAddSingle(buf, c, line.rightMean);
    if (size == 24) {
        bufAddByte(buf, c, static_cast<std::uint8_t>(std::clamp(line.maxPosAbs, 0.0f, 255.0f)));
        bufAddByte(buf, c, line.usedPixel);
        bufAddByte(buf, c, static_cast<std::uint8_t>(std::clamp<int>(line.center, 0, 255)));
        bufAddByte(buf, c, line.width);
        return;
    }
    bufAddSingle(buf, c, line.maxPosAbs);
    bufAddByte(buf, c, line.usedPixel);
    bufAddWord(buf, c, static_cast<std::uint16_t>(line.center));
    if (size == 28) bufAddByte(buf, c, line.width);
}

std::uint32_t measurementRecordSize(std::uint8_t v) {
    return v <= 4 ? 346 : v == 5 ? 356 : 316;
}

namespace {
std::uint16_t classPtrFor(const ActiveConfig& config, int result, float value) {
    if (std::isnan(value)) return 0;
    std::uint16_t ptr = 0;
    float best = 4294967296.0f;
    for (int k = config.classFirst[result];
         k < config.classFirst[result] + config.classNum[result] && k < 31; ++k) {
        if (config.classLimit[k] > value && config.classLimit[k] < best) {
            best = config.classLimit[k];
            ptr = config.classPtr[k];
        }
    }
    return ptr;
}
}  // namespace

tByteBuffer measurementRecord(const Measurement& m, const ActiveConfig& config,
                              std::uint8_t eepromVersion) {
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, static_cast<std::uint8_t>(config.resultCount));
    bufAddWord(b, c, static_cast<std::uint16_t>(config.lineCount ? config.linePos[0] : 0));
    for (int i = 0; i < 10; ++i)
        bufAddSingle(b, c, i < static_cast<int>(m.values.size()) ? m.values[i] : 0.0f);
    int lineSize = eepromVersion <= 4 ? 27 : eepromVersion == 5 ? 28 : 24;
    for (int i = 0; i < 10; ++i)
        appendLine(b, i < static_cast<int>(m.lines.size()) ? m.lines[i] : LineResult{}, lineSize);
    c = static_cast<tCursor>(b.size());
    for (int i = 0; i < 10; ++i) {
        float v = i < static_cast<int>(m.values.size()) ? m.values[i] : 0.0f;
        bufAddWord(b, c, i < config.resultCount ? classPtrFor(config, i, v) : 0);
    }
    bufAddByte(b, c, m.invalid);
    bufAddSingle(b, c, m.temperature);
    bufAddWord(b, c, m.voltage);
    for (std::uint8_t v : m.date.Data) bufAddByte(b, c, v);
    return b;
}

tByteBuffer resultConfigEntry(std::uint8_t id, const tByteBuffer& cfg, std::uint8_t eepromVersion) {
    ActiveConfig a = parseActiveConfig(cfg);
    if (a.status != ActiveConfig::Status::Good) return {};
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, id);
    bufAddWord(b, c, 0);
    // Test ID, the three OEM text pointers and the counts, as in the configuration.
    b.insert(b.end(), cfg.begin() + 3, cfg.begin() + 17);
    b.push_back(cfg[27]);
    b.push_back(cfg[28]);
    c = static_cast<tCursor>(b.size());
    if (eepromVersion >= 6) {
        tCursor s = static_cast<tCursor>(cfg.size() - 6);
        bufAddDWord(b, c, bufReadDWord(cfg, s));
    }
    tCursor fc = 26;
    std::uint8_t filters = bufReadByte(cfg, fc) >> 4;
    std::size_t results = 52 + 4u * filters + 9u * a.lineCount;
    std::size_t classes = results + 15u * a.resultCount;
    std::size_t strings = classes + 6u * a.classCount;
    tCursor sc = 29;
    std::uint16_t stringSize = bufReadWord(cfg, sc);
    b.insert(b.end(), cfg.begin() + results, cfg.begin() + strings);
    b.insert(b.end(), cfg.begin() + strings, cfg.begin() + strings + stringSize);
    addWordAt(b, 1, static_cast<std::uint16_t>(b.size()));
    return b;
}

tByteBuffer resultEntry(std::uint8_t id, const Measurement& m, std::uint8_t eepromVersion,
                        StoredBits bits) {
    tByteBuffer b;
    tCursor c = 0;
    bufAddByte(b, c, id);
    bufAddWord(b, c, 0);
    for (std::uint8_t v : m.date.Data) bufAddByte(b, c, v);
    bufAddByte(b, c, m.invalid);
    bufAddWord(b, c, m.voltage);
    bufAddSingle(b, c, m.temperature);
    if (eepromVersion >= 6) bufAddWord(b, c, m.measureID);
    for (float v : m.values) bufAddSingle(b, c, v);
    if (bits.lineData) {
        auto n = static_cast<std::uint8_t>(std::min<std::size_t>(m.lines.size(), 10));
        bufAddByte(b, c, n);
        for (std::size_t i = 0; i < n; ++i) appendLine(b, m.lines[i], eepromVersion >= 6 ? 24 : 28);
        c = static_cast<tCursor>(b.size());
    }
    if (bits.image) {
        // The size is one byte; an even count keeps the packing whole.
        std::size_t n = std::min<std::size_t>(m.image.size(), 254) & ~std::size_t{1};
        bufAddByte(b, c, static_cast<std::uint8_t>(n));
        tByteBuffer packed = pack12({m.image.begin(), m.image.begin() + n});
        b.insert(b.end(), packed.begin(), packed.end());
    }
    addWordAt(b, 1, static_cast<std::uint16_t>(b.size()));
    return b;
}

tByteBuffer pack12(const std::vector<std::uint16_t>& values) {
    tByteBuffer b(values.size() * 3 / 2, 0);
    for (std::size_t k = 0; k < values.size(); ++k) {
        std::size_t p = 3 * k / 2;
        std::uint16_t v = values[k] & 0x0FFF;
        if (p + 1 >= b.size() + 1) break;
        if (k % 2 == 0) {
            b[p] = static_cast<std::uint8_t>(v >> 4);
            if (p + 1 < b.size())
                b[p + 1] = static_cast<std::uint8_t>((b[p + 1] & 0x0F) | ((v & 0x0F) << 4));
        } else {
            b[p] = static_cast<std::uint8_t>((b[p] & 0xF0) | (v >> 8));
            if (p + 1 < b.size()) b[p + 1] = static_cast<std::uint8_t>(v & 0xFF);
        }
    }
    return b;
}

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::uniform(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(next() >> 11) / 9007199254740992.0);
}

std::uint32_t Random::below(std::uint32_t n) {
    return n == 0 ? 0 : static_cast<std::uint32_t>(next() % n);
}

TDateData secondsToDate(std::int64_t seconds) {
    using namespace std::chrono;
    auto tp = sys_seconds{std::chrono::seconds{seconds}};
    auto day = floor<days>(tp);
    year_month_day ymd{day};
    hh_mm_ss<std::chrono::seconds> hms{tp - day};
    TDateData d;
    setDateData(d, static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - 2000),
                static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month())),
                static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day())),
                static_cast<std::uint8_t>(hms.hours().count()),
                static_cast<std::uint8_t>(hms.minutes().count()),
                static_cast<std::uint8_t>(hms.seconds().count()));
    return d;
}

std::optional<std::int64_t> dateToSeconds(const TDateData& d) {
    using namespace std::chrono;
    if (d.Hour > 23 || d.Minutes > 59 || d.Seconds > 59) return std::nullopt;
    year_month_day ymd{year{2000 + d.Year}, month{d.Month}, day{d.MonthDay}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days{ymd}.time_since_epoch().count() * 86400LL + d.Hour * 3600LL + d.Minutes * 60LL +
           d.Seconds;
}

}  // namespace kyvo::sim

namespace kyvo::sim {

std::optional<ResolvedLayout> resolveLayout(const Scenario& s, std::string& error) {
    ResolvedLayout l;
    const auto& m = s.memory;
    l.separate = s.bits.SeparateResultMemory;
    l.configStart = m.configStart.value_or(0x0000);
    l.configStop = m.configStop.value_or(0x1FFF);
    if (l.separate) {
        l.resultStart = m.resultStart.value_or(0x0000);
        l.resultStop = m.resultStop.value_or(0xBFFF);
        l.resultCfgStart = m.resultCfgStart.value_or(0xC000);
        l.resultCfgStop = m.resultCfgStop.value_or(0xFFFE);
    } else {
        l.resultCfgStart = m.resultCfgStart.value_or(0x2000);
        l.resultCfgStop = m.resultCfgStop.value_or(0x3FFF);
        l.resultStart = m.resultStart.value_or(0x4000);
        l.resultStop = m.resultStop.value_or(0xEFFF);
    }
    l.configMemorySize =
        m.configMemorySize.value_or(s.eepromVersion >= 5 && l.separate ? 4096 : 1248);
    l.ringRegion = l.separate ? 0x80000 : 0x30000;
    if (l.configStop <= l.configStart) {
        error = "memory: config-stop must lie above config-start";
        return std::nullopt;
    }
    l.configListSize = l.configStop - l.configStart;
    if (l.resultCfgStop <= l.resultCfgStart || l.resultStop <= l.resultStart) {
        error = "memory: each ring's stop must lie above its start";
        return std::nullopt;
    }
    l.resultCfgSize = l.resultCfgStop - l.resultCfgStart + 1u;
    l.resultSize = l.resultStop - l.resultStart + 1u;
    // The reader's ring rule: with separate result memory of a version 3 or
    // later device the result pointers count from resultStart, otherwise
    // every pointer counts from configStart.
    std::int64_t base = (l.separate && s.eepromVersion >= 3) ? l.resultStart : l.configStart;
    std::int64_t rc = static_cast<std::int64_t>(l.resultCfgStart) - base;
    std::int64_t r = static_cast<std::int64_t>(l.resultStart) - base;
    if (rc < 0 || r < 0 || rc + l.resultCfgSize > kRingMemorySize ||
        r + l.resultSize > kRingMemorySize) {
        error = "memory: the rings do not fit the memory that holds them";
        return std::nullopt;
    }
    l.resultCfgOffset = static_cast<std::uint32_t>(rc);
    l.resultOffset = static_cast<std::uint32_t>(r);
    auto overlaps = [](std::uint32_t a, std::uint32_t an, std::uint32_t b, std::uint32_t bn) {
        return a < b + bn && b < a + an;
    };
    if (overlaps(l.resultCfgOffset, l.resultCfgSize, l.resultOffset, l.resultSize) ||
        (!l.separate && (overlaps(0, l.configListSize, l.resultCfgOffset, l.resultCfgSize) ||
                         overlaps(0, l.configListSize, l.resultOffset, l.resultSize)))) {
        error = "memory: the stored configurations and the two rings overlap";
        return std::nullopt;
    }
    if (m.resultCfgReadOffset >= l.resultCfgSize || m.resultReadOffset >= l.resultSize) {
        error = "memory: a read offset lies outside its ring";
        return std::nullopt;
    }
    if (l.resultCfgSize < 64 || l.resultSize < 64) {
        error = "memory: a ring needs at least 64 bytes";
        return std::nullopt;
    }
    if (l.configMemorySize < 64) {
        error = "memory: config-memory-size is at least 64";
        return std::nullopt;
    }
    return l;
}

}  // namespace kyvo::sim
