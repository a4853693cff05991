#include "files/ResultFileReader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unordered_set>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileLock.h"
#include "files/TextCodec.h"

namespace kyvo {

namespace {

// Walks a line field by field. A field runs to the next tab; with no tab
// left the field is empty and the walk is at its end.
class TFieldWalk {
  public:
    explicit TFieldWalk(std::string_view line) : line_(line) {}

    bool AtEnd() const { return pos_ >= line_.size(); }

    std::string_view Next() {
        const std::size_t tab = line_.find('\t', pos_);
        if (tab == std::string_view::npos) {
            pos_ = line_.size();
            return {};
        }
        const std::string_view field = line_.substr(pos_, tab - pos_);
        pos_ = tab + 1;
        return field;
    }

    // The next field without taking it, up to a tab or the end of the line.
    std::string_view Peek() const {
        const std::size_t tab = line_.find('\t', pos_);
        return line_.substr(pos_, tab == std::string_view::npos ? line_.size() - pos_ : tab - pos_);
    }

    std::string_view Rest() const { return line_.substr(std::min(pos_, line_.size())); }

  private:
    std::string_view line_;
    std::size_t pos_ = 0;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

template <typename Int>
bool parseInteger(std::string_view text, Int& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || !isDigit(text.front())) return false;
    }
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) return false;
    value = static_cast<Int>(v);
    return true;
}

// Reads 1 to maxDigits decimal digits at pos.
bool readNumber(std::string_view s, std::size_t& pos, int maxDigits, int& value) {
    int digits = 0;
    value = 0;
    while (pos < s.size() && isDigit(s[pos]) && digits < maxDigits) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    return digits > 0 && (pos >= s.size() || !isDigit(s[pos]));
}

bool expect(std::string_view s, std::size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool parseCalendarDate(std::string_view s, TDateData& date) {
    std::size_t pos = 0;
    int month = 0, day = 0, year = 0;
    if (!readNumber(s, pos, 2, month) || !expect(s, pos, '/') || !readNumber(s, pos, 2, day) ||
        !expect(s, pos, '/') || !readNumber(s, pos, 4, year)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
    int hour = 0, minute = 0, second = 0;
    if (pos < s.size()) {
        if (s[pos] != ' ') return false;
        while (pos < s.size() && s[pos] == ' ') ++pos;
        if (!readNumber(s, pos, 2, hour) || !expect(s, pos, ':') ||
            !readNumber(s, pos, 2, minute)) {
            return false;
        }
        if (pos < s.size() && s[pos] == ':' && !(++pos, readNumber(s, pos, 2, second)))
            return false;
        if (pos < s.size() && s[pos] == '.') {
            int ms = 0;
            ++pos;
            if (!readNumber(s, pos, 3, ms)) return false;
        }
        if (pos != s.size() || hour > 23 || minute > 59 || second > 59) return false;
    }
    setDateData(date, static_cast<std::uint8_t>(year % 100), static_cast<std::uint8_t>(month),
                static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(hour),
                static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second));
    return true;
}

// A plain decimal number: sign, digits with at most one separator, an
// optional exponent. Nothing else (no hexadecimal, no words).
bool parseDecimal(std::string_view text, char separator, float& value) {
    std::string s(text);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == separator) {
        s[i] = '.';
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;
    // from_chars takes no leading plus.
    const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
    float v = 0;
    const auto [end, ec] = std::from_chars(begin, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    value = v;
    return true;
}

bool anyNonEmpty(const TResultSet& r) {
    return !r.ResultName.empty() || !r.ResultValue.empty() || !r.UnitName.empty() ||
           !r.ClassName.empty();
}

template <typename Field>
bool readLineFloat(std::string_view text, Field& field) {
    if (text.empty()) return true;
    return ParseTsvFloat(text, field);
}

template <typename Field>
bool readLineInt(std::string_view text, Field& field) {
    if (text.empty()) return true;
    return parseInteger(text, field);
}

bool readLineData(TFieldWalk& walk, TMeasureResult& result) {
    result.LineCount = 0;
    for (std::size_t i = 0; i < kMaxTestLines; ++i) {
        TLineResult line;
        std::string_view f[9];
        bool any = false;
        for (auto& field : f) {
            field = walk.Next();
            any = any || !field.empty();
        }
        if (!readLineFloat(f[0], line.MeanValue) || !readLineFloat(f[1], line.MinValue) ||
            !readLineFloat(f[2], line.MaxValue) || !readLineFloat(f[3], line.LeftMeanValue) ||
            !readLineFloat(f[4], line.RightMeanValue) || !readLineFloat(f[5], line.MaxPosAbs) ||
            !readLineInt(f[6], line.UsedPixel) || !readLineInt(f[7], line.CenterPositionAbsolut) ||
            !readLineInt(f[8], line.Width)) {
            return false;
        }
        if (!any) continue;
        result.Results().Line[i] = line;
        ++result.LineCount;
    }
    return true;
}

// Every remaining field is one image value; the text after the last tab is
// the last field when there is any.
bool readImage(std::string_view rest, TMeasureSet& set) {
    std::vector<std::int32_t> values;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        const std::size_t tab = rest.find('\t', pos);
        const std::size_t end = tab == std::string_view::npos ? rest.size() : tab;
        std::int32_t v = 0;
        // More values than the image holds cannot come from a valid file.
        if (!parseInteger(rest.substr(pos, end - pos), v) || values.size() >= kMaxImageValues) {
            return false;
        }
        values.push_back(v);
        pos = end + 1;
    }
    if (!values.empty()) ScaleLineImage(set, values);
    return true;
}

}  // namespace

std::size_t TsvHeaderTabCount(ETSVVersion layout) {
    switch (layout) {
        case TSVVLong:
            return 8 + 4 * kMaxResults + 9 * kMaxTestLines + 1;
        case TSVVShort:
            return 6 + 4 * kMaxResults;
        case TSVVTobrel:
            return 6 + 3 * kMaxResults;
        default:
            return 0;
    }
}

ETSVVersion DetectTsvVersion(std::string_view headerLine) {
    if (headerLine.empty()) return TSVEmpty;
    const auto tabs =
        static_cast<std::size_t>(std::count(headerLine.begin(), headerLine.end(), '\t'));
    for (ETSVVersion v : {TSVVLong, TSVVShort, TSVVTobrel}) {
        if (tabs == TsvHeaderTabCount(v)) return v;
    }
    return TSVVUnknown;
}

bool ParseTsvFloat(std::string_view text, float& value) {
    if (parseDecimal(text, '.', value) || parseDecimal(text, ',', value)) return true;
    if (text == "INF") {
        value = std::numeric_limits<float>::infinity();
        return true;
    }
    // Written by the writer for a negative infinite line value.
    if (text == "-INF") {
        value = -std::numeric_limits<float>::infinity();
        return true;
    }
    if (text == "NAN") {
        value = std::bit_cast<float>(std::uint32_t{0xFFC00000u});
        return true;
    }
    return false;
}

bool ParseTsvDate(std::string_view text, TDateData& date) {
    if (parseCalendarDate(text, date)) return true;
    std::uint32_t number = 0;
    if (!strToCardinal(text, number)) return false;
    setDateData(date, 0, 0, static_cast<std::uint8_t>(number >> 24),
                static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 8),
                static_cast<std::uint8_t>(number));
    return true;
}

std::string_view TsvFirstField(std::string_view line) {
    return TFieldWalk(line).Next();
}

bool ParseMeasureRow(std::string_view line, TMeasureSet& set, ETSVVersion layout) {
    if (layout != TSVVLong && layout != TSVVShort && layout != TSVVTobrel) return false;
    TFieldWalk walk(line);
    set.TestID = walk.Next();
    set.TestName = walk.Next();
    set.LotNr = walk.Next();
    set.Distr_Manu = walk.Next();
    if (!ParseTsvDate(walk.Next(), set.DateTime)) return false;
    set.UserComment = walk.Next();
    if (layout == TSVVLong) {
        set.Voltage = walk.Next();
        set.Temperature = walk.Next();
    }

    const bool withUnit = layout != TSVVTobrel;
    for (std::size_t n = 0; n < kMaxResults && !walk.AtEnd(); ++n) {
        TResultSet row;
        const std::string_view first = walk.Next();
        const std::size_t sep = first.find(" - ");
        if (sep == std::string_view::npos) {
            row.ResultName = first;
        } else {
            row.Validity = first.substr(0, sep);
            row.ResultName = first.substr(sep + 3);
        }
        row.ResultValue = walk.Next();
        if (withUnit) row.UnitName = walk.Next();
        row.ClassName = walk.Next();
        if (anyNonEmpty(row)) set.ResultList.push_back(std::move(row));
    }
    if (layout != TSVVLong || walk.AtEnd()) return true;

    std::int32_t firstImageValue = 0;
    if (!parseInteger(walk.Peek(), firstImageValue) && !readLineData(walk, set.MeasureResult)) {
        return false;
    }
    return readImage(walk.Rest(), set);
}

bool ReadResultFileTestIDs(const std::string& path, std::unordered_set<std::string>& ids) {
    ids.clear();
    std::string text;
    {
        std::string bytes;
        if (!readFileBytes(path, bytes)) return false;
        text = decodeText(bytes);
    }
    const std::vector<std::string_view> lines = splitLineViews(text);
    for (std::size_t k = 1; k < lines.size(); ++k) ids.emplace(TsvFirstField(lines[k]));
    return true;
}

TLoadOutcome LoadMeasureFile(const std::string& path, ETSVVersion layout, TMeasureList& list,
                             IResultFileDialogs& dialogs, ESortType sortMode,
                             const ICollation& collation) {
    TLoadOutcome outcome;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        dialogs.ShowMessage(LE_FileNotFound, nullptr, path);
        outcome.Result = ELoadResult::NotFound;
        return outcome;
    }
    // Held while reading so that no other instance replaces the file under
    // us. A folder we cannot write to has no lock file and no writer either.
    TFileLock lock;
    if (lock.TryLock(path) == ELockResult::InUse) {
        dialogs.ShowMessage(LE_FileInUse, nullptr, "");
        outcome.Result = ELoadResult::InUse;
        return outcome;
    }

    if (const auto size = std::filesystem::file_size(path, ec); !ec && size > kMaxResultFileBytes) {
        dialogs.ShowMessage(LE_ResultFileTooLarge, &LE_IncompatibleFile, path);
        outcome.Result = ELoadResult::TooLarge;
        return outcome;
    }

    std::string text;
    {
        std::string bytes;
        if (!readFileBytes(path, bytes)) {
            // Nothing was read, so the present list stays.
            outcome.Result = ELoadResult::ReadFailed;
            outcome.Error = "Could not read " + path + ": " + std::strerror(errno);
            dialogs.ShowMessage(LE_FileReadError, &LE_IncompatibleFile, "\n" + outcome.Error);
            return outcome;
        }
        lock.Unlock();
        list.clear();
        text = decodeText(bytes);
    }

    // Lines end in CR LF, a lone CR or a lone LF; they are visited in place
    // so that a large file is held only once.
    std::size_t pos = 0, lineNo = 0;
    auto nextLine = [&](std::string_view& line) {
        if (pos >= text.size()) return false;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        line = std::string_view(text).substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
        ++lineNo;
        return true;
    };

    std::string_view line;
    const ETSVVersion found = nextLine(line) ? DetectTsvVersion(line) : TSVEmpty;
    if (found != layout) {
        dialogs.ShowMessage(LE_FileReadError, &LE_IncompatibleFile, "");
        outcome.Result = ELoadResult::Incompatible;
        return outcome;
    }

    while (nextLine(line)) {
        // A blank line (left by a text editor) holds no measurement.
        if (line.empty()) continue;
        auto set = std::make_unique<TMeasureSet>();
        if (!ParseMeasureRow(line, *set, layout)) {
            outcome.Result = ELoadResult::DamagedLine;
            outcome.DamagedLine = lineNo;
            dialogs.ShowMessage(LE_FileReadError, &LE_IncompatibleFile, "");
            break;
        }
        list.push_back(std::move(set));
    }
    text = {};

    // A repeated TestID keeps its first line. The repeats are found by
    // sorting positions, not through a hash set of every ID: for a file of
    // many short lines that set would cost a fifth of what the sets do.
    std::vector<std::size_t> order(list.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&list](std::size_t a, std::size_t b) {
        return list[a]->TestID < list[b]->TestID;
    });
    std::vector<bool> repeat(list.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i)
        repeat[order[i]] = list[order[i]]->TestID == list[order[i - 1]]->TestID;
    order = {};
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (!repeat[i]) list[kept++] = std::move(list[i]);
    outcome.Duplicates = list.size() - kept;
    list.resize(kept);
    outcome.Added = kept;

    SortByMode(sortMode, list, collation);
    dialogs.RememberResultFile(path);
    return outcome;
}

}  // namespace kyvo
