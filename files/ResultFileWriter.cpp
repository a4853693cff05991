#include "files/ResultFileWriter.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileLock.h"
#include "files/TextCodec.h"

namespace kyvo {

namespace {

void addField(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out.append(text);
    for (std::size_t i = out.find_first_of("\t\r\n", start); i != std::string::npos;
         i = out.find_first_of("\t\r\n", i + 1)) {
        out[i] = ' ';
    }
    out.push_back('\t');
}

void addInteger(std::string& out, std::int32_t value) {
    char buf[16];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
    out.push_back('\t');
}

void addEmpty(std::string& out, std::size_t count) {
    out.append(count, '\t');
}

void addNumber(std::string& out, const char* format, auto value) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, format, value);
    out.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    out.push_back('\t');
}

void addTitle(std::string& out, const TextLookup& text, const TLangEntry& entry, int number = 0) {
    std::string title = text(entry);
    if (number > 0) title += " " + std::to_string(number);
    addField(out, title);
}

bool isCalendarDate(const TDateData& d) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.Month < 1 || d.Month > 12 || d.MonthDay < 1) return false;
    const int year = 2000 + d.Year;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int limit = d.Month == 2 && leap ? 29 : days[d.Month - 1];
    return d.MonthDay <= limit && d.Hour < 24 && d.Minutes < 60 && d.Seconds < 60;
}

// The key under which a set's line is found again in a file: its TestID as
// the line carries it.
std::string fileTestID(const std::string& id) {
    std::string out;
    addField(out, id);
    out.pop_back();
    return out;
}

// Position of the comment among a line's fields.
constexpr std::size_t kCommentField = 5;

// The bounds of field `index` of a tab-separated line; npos when absent.
std::pair<std::size_t, std::size_t> fieldBounds(std::string_view line, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) return {std::string_view::npos, 0};
        start = tab + 1;
    }
    const std::size_t end = line.find('\t', start);
    return {start, (end == std::string_view::npos ? line.size() : end) - start};
}

// row with the comment field of fileLine, when the set has no comment of
// its own: a measurement read again from the device carries none, and
// saving must not throw away what the user wrote into the file.
std::string rowKeepingComment(const std::string& row, const TMeasureSet& set,
                              std::string_view fileLine) {
    if (set.CommentEdited || !set.UserComment.empty()) return row;
    const auto [from, size] = fieldBounds(fileLine, kCommentField);
    if (from == std::string_view::npos || size == 0) return row;
    const auto [at, old] = fieldBounds(row, kCommentField);
    if (at == std::string_view::npos) return row;
    std::string out = row;
    out.replace(at, old, fileLine.substr(from, size));
    return out;
}

}  // namespace

std::string FormatTsvDate(const TDateData& d) {
    if (!isCalendarDate(d)) return dateDataToNumberText(d);
    char buf[32];
    if (d.Hour == 0 && d.Minutes == 0 && d.Seconds == 0) {
        std::snprintf(buf, sizeof buf, "%02u/%02u/%04u", unsigned{d.Month}, unsigned{d.MonthDay},
                      2000u + d.Year);
    } else {
        std::snprintf(buf, sizeof buf, "%02u/%02u/%04u %02u:%02u:%02u", unsigned{d.Month},
                      unsigned{d.MonthDay}, 2000u + d.Year, unsigned{d.Hour}, unsigned{d.Minutes},
                      unsigned{d.Seconds});
    }
    return buf;
}

std::string FormatTsvFloat(float value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    // to_chars ignores the C library's locale, which Qt sets from the
    // user's environment: a German desktop would otherwise write "1,25".
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value),
                                   std::chars_format::fixed, 2);
    return std::string(buf, res.ec == std::errc() ? res.ptr : buf);
}

std::string BuildTsvHeader(ETSVVersion layout, const TextLookup& text) {
    std::string out;
    addTitle(out, text, LE_TestID);
    addTitle(out, text, LE_TestName);
    addTitle(out, text, LE_LotNumber);
    addTitle(out, text, LE_DistributorManufacturer);
    addTitle(out, text, LE_DateTime);
    addTitle(out, text, LE_UserComments);
    if (layout == TSVVLong) {
        addTitle(out, text, LE_Voltage);
        addTitle(out, text, LE_Temperature);
    }
    for (int n = 1; n <= static_cast<int>(kMaxResults); ++n) {
        addTitle(out, text, LE_ResultName, n);
        addTitle(out, text, LE_Result, n);
        if (layout != TSVVTobrel) addTitle(out, text, LE_ResultUnit, n);
        addTitle(out, text, LE_Class, n);
    }
    if (layout == TSVVLong) {
        static constexpr const TLangEntry* lineTitles[] = {
            &LE_MeanValue,         &LE_MinValue,  &LE_MaxValue,       &LE_LeftMean,  &LE_RightMean,
            &LE_PositionOfMaximum, &LE_UsedPixel, &LE_CenterPosition, &LE_LineWidth,
        };
        for (int n = 1; n <= static_cast<int>(kMaxTestLines); ++n) {
            for (const TLangEntry* title : lineTitles) addTitle(out, text, *title, n);
        }
        addTitle(out, text, LE_ImageData);
    }
    return out;
}

std::string FormatMeasureRow(const TMeasureSet& set, ETSVVersion layout) {
    std::string out;
    out.reserve(layout == TSVVLong ? 2048 : 256);
    addField(out, set.TestID);
    addField(out, set.TestName);
    addField(out, set.LotNr);
    addField(out, set.Distr_Manu);
    addField(out, FormatTsvDate(set.DateTime));
    addField(out, set.UserComment);
    if (layout == TSVVLong) {
        addField(out, set.Voltage);
        addField(out, set.Temperature);
    }

    const bool withUnit = layout != TSVVTobrel;
    const std::size_t results = std::min(set.ResultList.size(), kMaxResults);
    for (std::size_t i = 0; i < results; ++i) {
        const TResultSet& r = set.ResultList[i];
        if (r.ResultName.empty()) {
            addEmpty(out, 1);
        } else {
            addField(out, r.Validity + " - " + r.ResultName);
        }
        addField(out, r.ResultValue);
        if (withUnit) addField(out, r.UnitName);
        addField(out, r.ClassName);
    }
    addEmpty(out, (kMaxResults - results) * (withUnit ? 4 : 3));
    if (layout != TSVVLong) return out;

    const TMeasureResult& m = set.MeasureResult;
    const std::size_t lines = std::min<std::size_t>(m.LineCount, kMaxTestLines);
    const bool withLineData = m.Results().Line[0].Width > 0;
    for (std::size_t i = 0; i < lines; ++i) {
        const TLineResult& l = m.Results().Line[i];
        if (!withLineData) {
            addEmpty(out, 9);
            continue;
        }
        for (float v : {l.MeanValue, l.MinValue, l.MaxValue, l.LeftMeanValue, l.RightMeanValue,
                        l.MaxPosAbs}) {
            addField(out, FormatTsvFloat(v));
        }
        addNumber(out, "%.3d", int{l.UsedPixel});
        addNumber(out, "%.3d", int{l.CenterPositionAbsolut});
        addNumber(out, "%.3d", int{l.Width});
    }
    addEmpty(out, (kMaxTestLines - lines) * 9);
    for (std::size_t k = 0; k < set.OrigImage.size() && k < kMaxImageValues; ++k) {
        if (set.OrigImage[k] < 0) break;
        addInteger(out, set.OrigImage[k]);
    }
    return out;
}

TSaveOutcome SaveMeasureList(const TMeasureList& list, const TSaveRequest& request,
                             IResultFileDialogs& dialogs, const TextLookup& text) {
    const bool interactive = request.Mode == ESaveMode::Interactive;
    TSaveOutcome outcome;
    for (;;) {
        std::string path;
        if (interactive) {
            const auto chosen = dialogs.ChooseSaveFile();
            if (!chosen) {
                outcome.Result = ESaveResult::Cancelled;
                return outcome;
            }
            path = *chosen;
            dialogs.RememberResultFile(path);
        } else {
            path = request.Mode == ESaveMode::LastFile ? request.LastFile : request.TrackingFile;
        }
        outcome.Path = path;

        // Held until the new file is in place, so that two instances never
        // merge into the same file at once.
        TFileLock lock;
        const ELockResult locked = lock.TryLock(path, &outcome.Error);
        if (locked == ELockResult::InUse) {
            dialogs.ShowMessage(LE_FileInUse, nullptr, "");
            continue;
        }
        if (locked == ELockResult::Failed) {
            outcome.Result = ESaveResult::Failed;
            return outcome;
        }

        if (!IsWritableOrAbsent(path)) {
            outcome.Result = ESaveResult::Failed;
            outcome.Error = "Could not write " + path + ": " + std::strerror(EACCES);
            return outcome;
        }
        std::error_code ec;
        bool add = std::filesystem::exists(path, ec);
        if (add && interactive) {
            const EDialogAnswer answer = dialogs.AskYesNoCancel(LE_AskAddToSelectedFile);
            if (answer == EDialogAnswer::Cancel) {
                outcome.Result = ESaveResult::Cancelled;
                return outcome;
            }
            add = answer == EDialogAnswer::Yes;
        }

        // The file is held once, as its decoded text; its lines are views
        // into that text, and only lines that change get storage of their
        // own. A file of many short lines thus costs little more than its
        // size, and the bytes written are those of the whole-line merge.
        std::string fileText;
        std::vector<std::string_view> lines;
        if (add) {
            {
                std::string bytes;
                if (!readFileBytes(path, bytes)) {
                    // Writing now would throw away what the file holds.
                    outcome.Result = ESaveResult::Failed;
                    outcome.Error = "Could not read " + path + ": " + std::strerror(errno);
                    return outcome;
                }
                fileText = decodeText(bytes);
            }
            lines = splitLineViews(fileText);
            const ETSVVersion found = lines.empty() ? TSVEmpty : DetectTsvVersion(lines.front());
            if (found != request.Layout && found != TSVEmpty) {
                dialogs.ShowMessage(LE_IncompatibleSaveFormat, &LE_IncompatibleFile, "");
                if (interactive) continue;
                outcome.Result = ESaveResult::Incompatible;
                return outcome;
            }
            if (lines.empty()) lines.emplace_back();
        } else {
            lines.emplace_back();
        }
        const std::string header = BuildTsvHeader(request.Layout, text);
        lines.front() = header;

        // Every set is formatted at most once, and lines are found by hash,
        // so merging stays linear in the size of the file and the list.
        // rows has its final size from the start, so views into its strings
        // stay valid.
        std::vector<std::string> rows(list.size());
        std::vector<bool> formatted(list.size(), false);
        auto rowOf = [&](std::size_t i) -> const std::string& {
            if (!formatted[i]) {
                rows[i] = FormatMeasureRow(*list[i], request.Layout);
                formatted[i] = true;
            }
            return rows[i];
        };
        std::unordered_map<std::string, std::size_t> firstWithID;
        firstWithID.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i)
            firstWithID.emplace(fileTestID(list[i]->TestID), i);

        // Sets whose line was updated in place, with the file's comment kept.
        std::vector<bool> merged(list.size(), false);
        std::deque<std::string> keptComments;
        for (std::size_t k = 1; k < lines.size(); ++k) {
            const auto it = firstWithID.find(std::string(TsvFirstField(lines[k])));
            if (it == firstWithID.end()) continue;
            const TMeasureSet& set = *list[it->second];
            const std::string& own = rowOf(it->second);
            std::string_view row = own;
            if (!set.CommentEdited && set.UserComment.empty()) {
                std::string withComment = rowKeepingComment(own, set, lines[k]);
                if (withComment != own) row = keptComments.emplace_back(std::move(withComment));
            }
            if (lines[k] == row) {
                merged[it->second] = true;
                continue;
            }
            TMeasureSet parsed;
            if (ParseMeasureRow(lines[k], parsed, request.Layout)) {
                lines[k] = row;
                merged[it->second] = true;
            }
        }

        lines.reserve(lines.size() + list.size());
        std::unordered_set<std::string_view> present;
        present.reserve(lines.size() + list.size());
        for (std::size_t k = 1; k < lines.size(); ++k) present.insert(lines[k]);
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (merged[i]) continue;
            const std::string& row = rowOf(i);
            if (present.count(row)) continue;
            lines.push_back(row);
            present.insert(row);
        }
        present = {};

        if (!writeFileAtomically(path, encodeTextLineViews(lines), &outcome.Error)) {
            outcome.Result = ESaveResult::Failed;
            return outcome;
        }
        outcome.Result = ESaveResult::Saved;
        outcome.Error.clear();
        return outcome;
    }
}

}  // namespace kyvo
