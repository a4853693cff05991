// Result files into the archive, read piece by piece: a file of many
// thousand measurements is never held whole, neither as text nor as sets.
#include <fstream>
#include <memory>

#include "archive/ArchiveInternal.h"
#include "files/ResultFileReader.h"
#include "files/TextCodec.h"

namespace kyvo {
namespace {

enum class EEncoding { Guess, Utf8, Utf16Le, Utf16Be };

// Splits the raw bytes into lines at CR LF, a lone CR or a lone LF of the
// file's encoding and gives each line as UTF-8.
class TLineSource {
  public:
    explicit TLineSource(const std::string& path) : in_(path, std::ios::binary) {}
    bool Open() const { return static_cast<bool>(in_); }
    bool Failed() const { return in_.bad(); }

    bool Next(std::string& line) {
        if (first_) {
            first_ = false;
            Fill();
            if (buf_.rfind("\xFF\xFE", 0) == 0) {
                enc_ = EEncoding::Utf16Le;
                pos_ = 2;
            } else if (buf_.rfind("\xFE\xFF", 0) == 0) {
                enc_ = EEncoding::Utf16Be;
                pos_ = 2;
            } else if (buf_.rfind("\xEF\xBB\xBF", 0) == 0) {
                enc_ = EEncoding::Utf8;
                pos_ = 3;
            }
        }
        const std::size_t unit = (enc_ == EEncoding::Utf16Le || enc_ == EEncoding::Utf16Be) ? 2 : 1;
        std::string raw;
        for (;;) {
            if (buf_.size() - pos_ < unit) {
                if (!Fill()) {
                    if (raw.empty() && pos_ >= buf_.size()) return false;
                    raw += buf_.substr(pos_);
                    pos_ = buf_.size();
                    break;
                }
                continue;
            }
            const int c = Unit(pos_);
            if (c == '\n') {
                pos_ += unit;
                break;
            }
            if (c == '\r') {
                pos_ += unit;
                if (buf_.size() - pos_ < unit) Fill();
                if (buf_.size() - pos_ >= unit && Unit(pos_) == '\n') pos_ += unit;
                break;
            }
            raw.append(buf_, pos_, unit);
            pos_ += unit;
        }
        switch (enc_) {
            case EEncoding::Utf16Le:
                line = decodeText("\xFF\xFE" + raw);
                break;
            case EEncoding::Utf16Be:
                line = decodeText("\xFE\xFF" + raw);
                break;
            case EEncoding::Utf8:
                line = decodeText("\xEF\xBB\xBF" + raw);
                break;
            case EEncoding::Guess:
                line = decodeText(raw);
                break;
        }
        return true;
    }

  private:
    int Unit(std::size_t at) const {
        const auto b = [&](std::size_t i) { return static_cast<unsigned char>(buf_[i]); };
        switch (enc_) {
            case EEncoding::Utf16Le:
                return b(at + 1) == 0 ? b(at) : 0x100;
            case EEncoding::Utf16Be:
                return b(at) == 0 ? b(at + 1) : 0x100;
            default:
                return b(at);
        }
    }
    bool Fill() {
        buf_.erase(0, pos_);
        pos_ = 0;
        char chunk[1 << 16];
        in_.read(chunk, sizeof chunk);
        const auto n = in_.gcount();
        buf_.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    }

    std::ifstream in_;
    std::string buf_;
    std::size_t pos_ = 0;
    bool first_ = true;
    EEncoding enc_ = EEncoding::Guess;
};

constexpr std::size_t kImportBatch = 500;

}  // namespace

TImportOutcome ImportResultFile(IArchive& archive, const std::string& path,
                                const TArchiveActor& actor) {
    TImportOutcome out;
    TLineSource src(path);
    if (!src.Open()) {
        throw TArchiveError(EArchiveErrorKind::BadInput, "The file " + path + " cannot be read.");
    }
    std::string line;
    if (!src.Next(line)) {
        throw TArchiveError(EArchiveErrorKind::BadInput, "The file " + path + " is empty.");
    }
    const ETSVVersion layout = DetectTsvVersion(line);
    if (layout != TSVVLong && layout != TSVVShort && layout != TSVVTobrel) {
        throw TArchiveError(
            EArchiveErrorKind::BadInput,
            "The file " + path + " is no result file: its first line is no known header.");
    }
    std::vector<std::unique_ptr<TMeasureSet>> batch;
    auto flush = [&] {
        if (batch.empty()) return;
        std::vector<const TMeasureSet*> ptrs;
        for (const auto& s : batch) ptrs.push_back(s.get());
        for (EStoreOutcome o :
             archive.StoreMany(ptrs, TArchiveDevice{}, EArchiveSource::ImportedFile, actor)) {
            if (o == EStoreOutcome::Added) ++out.Added;
            if (o == EStoreOutcome::Unchanged) ++out.Unchanged;
            if (o == EStoreOutcome::Updated) ++out.Updated;
        }
        batch.clear();
    };
    std::size_t lineNo = 1;
    while (src.Next(line)) {
        ++lineNo;
        // A blank line (left by a text editor) holds no measurement.
        if (line.empty()) continue;
        auto set = std::make_unique<TMeasureSet>();
        if (!ParseMeasureRow(line, *set, layout) || set->TestID.empty()) {
            out.Complete = false;
            out.StoppedAtLine = lineNo;
            out.Error = "Line " + std::to_string(lineNo) + " of " + path +
                        " is no valid measurement line; the lines before it were imported.";
            break;
        }
        batch.push_back(std::move(set));
        if (batch.size() >= kImportBatch) flush();
    }
    flush();
    if (out.Complete && src.Failed()) {
        out.Complete = false;
        out.StoppedAtLine = lineNo + 1;
        out.Error =
            "The file " + path + " could not be read past line " + std::to_string(lineNo) + ".";
    }
    return out;
}

}  // namespace kyvo
