#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "archive/ArchiveInternal.h"
#include "files/ResultExport.h"
#include "files/TextCodec.h"

namespace kyvo {

std::string ArchiveSourceName(EArchiveSource source) {
    switch (source) {
        case EArchiveSource::DeviceRead:
            return "device-read";
        case EArchiveSource::Measurement:
            return "measurement";
        case EArchiveSource::ImportedFile:
            return "import";
    }
    return "device-read";
}

std::vector<TArchiveResultPoint> IArchive::ResultPoints(const TArchiveFilter& filter,
                                                        const std::string& resultName) {
    TArchiveFilter all = filter;
    all.Sort = EArchiveSort::DateTime;
    all.Offset = 0;
    all.Limit = 0;
    std::vector<TArchiveResultPoint> out;
    std::size_t skipped = 0;
    for (const TArchiveRow& row : List(all)) {
        const TMeasureSet set = Load(row.Id);
        for (const TResultSet& r : set.ResultList) {
            if (r.ResultName != resultName) continue;
            if (skipped++ < filter.Offset) break;
            TArchiveResultPoint p;
            p.Id = row.Id;
            p.TestId = row.TestId;
            p.TestName = row.TestName;
            p.LotNr = row.LotNr;
            p.DateTime = row.DateTime;
            p.DeviceSerial = row.DeviceSerial;
            p.Value = ResultValueNumber(r.ResultValue);
            p.ValueText = r.ResultValue;
            p.Unit = r.UnitName;
            p.Class = r.ClassName;
            p.Validity = r.Validity;
            out.push_back(std::move(p));
            break;
        }
        if (filter.Limit && out.size() >= filter.Limit) break;
    }
    return out;
}

std::vector<TArchiveResultName> IArchive::ResultNames(const TArchiveFilter& filter) {
    TArchiveFilter all = filter;
    all.Sort = EArchiveSort::DateTime;
    all.Descending = true;
    all.Offset = 0;
    std::map<std::pair<std::string, std::string>, std::int64_t> seen;
    for (const TArchiveRow& row : List(all)) {
        std::set<std::string> names;
        for (const TResultSet& r : Load(row.Id).ResultList) names.insert(r.ResultName);
        for (const std::string& n : names) ++seen[{row.TestName, n}];
    }
    std::vector<TArchiveResultName> out;
    for (const auto& [key, count] : seen) out.push_back({key.first, key.second, count});
    return out;
}

std::string LisStateName(ELisState state) {
    switch (state) {
        case ELisState::None:
            return "";
        case ELisState::Waiting:
            return "waiting";
        case ELisState::Delivered:
            return "delivered";
        case ELisState::Held:
            return "held";
    }
    return "";
}

void IArchive::SetLisQueueControls(bool) {}

std::optional<TArchiveRow> IArchive::Row(std::int64_t) {
    throw TArchiveError(EArchiveErrorKind::Failed, "This archive lists no single measurement.");
}

TArchiveActor DefaultActor(const std::string& program, const std::string& version) {
    TArchiveActor a;
    a.Program = program;
    a.Version = version;
    if (const char* u = std::getenv("USER"); u && *u) a.User = u;
    if (a.User.empty()) {
        if (const char* l = ::getlogin(); l) a.User = l;
    }
    if (a.User.empty()) {
        // Services and root shells often have neither USER nor a login.
        if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) a.User = pw->pw_name;
    }
    if (a.User.empty()) a.User = std::to_string(::geteuid());
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0) a.Host = host;
    return a;
}

namespace {
std::string DataFolder() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
        return std::string(x) + "/kyvo-data-reader";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/kyvo-data-reader";
}
}  // namespace

std::string DefaultSpoolPath() {
    return DataFolder() + "/archive-spool.sqlite";
}
std::string DefaultArchiveLocation() {
    return "sqlite:" + DataFolder() + "/archive.sqlite";
}

std::unique_ptr<IArchive> OpenArchive(const std::string& location) {
    using namespace archive_detail;
    const std::string loc = location.empty() ? DefaultArchiveLocation() : location;
    if (loc.rfind("sqlite:", 0) == 0) {
        std::string path = loc.substr(7);
        if (path.empty()) {
            throw TArchiveError(EArchiveErrorKind::BadInput,
                                "The archive location \"" + loc + "\" names no file.");
        }
        return MakeSqlArchive(OpenSqliteDb(path));
    }
    if (loc.rfind("postgresql://", 0) == 0 || loc.rfind("postgres://", 0) == 0) {
        return MakeSqlArchive(OpenPostgresDb(loc));
    }
    throw TArchiveError(
        EArchiveErrorKind::BadInput,
        "The archive location \"" + loc + "\" is neither sqlite:PATH nor a postgresql:// address.");
}

namespace archive_detail {

namespace {
class TWriter {
  public:
    std::string Out;
    void U8(std::uint8_t v) { Out.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void F32(float f) {
        std::uint32_t b;
        std::memcpy(&b, &f, 4);
        U32(b);
    }
    void Str(const std::string& s) {
        U32(static_cast<std::uint32_t>(s.size()));
        Out += s;
    }
    void Date(const TDateData& d) {
        for (auto b : d.Data) U8(b);
    }
};

class TReader {
  public:
    explicit TReader(std::string_view in) : in_(in) {}
    void Need(std::size_t n) {
        if (in_.size() - pos_ < n) Bad();
    }
    [[noreturn]] static void Bad() {
        throw TArchiveError(EArchiveErrorKind::Failed,
                            "A measurement in the archive is damaged and cannot be read.");
    }
    std::uint8_t U8() {
        Need(1);
        return static_cast<std::uint8_t>(in_[pos_++]);
    }
    std::uint16_t U16() {
        const std::uint16_t lo = U8();
        return static_cast<std::uint16_t>(lo | (U8() << 8));
    }
    std::uint32_t U32() {
        const std::uint32_t lo = U16();
        return lo | (static_cast<std::uint32_t>(U16()) << 16);
    }
    float F32() {
        const std::uint32_t b = U32();
        float f;
        std::memcpy(&f, &b, 4);
        return f;
    }
    std::string Str() {
        const std::uint32_t n = U32();
        Need(n);
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    void Date(TDateData& d) {
        for (auto& b : d.Data) b = U8();
    }
    bool AtEnd() const { return pos_ == in_.size(); }

  private:
    std::string_view in_;
    std::size_t pos_ = 0;
};

constexpr std::string_view kMagic = "KYS1";
}  // namespace

std::string EncodeSet(const TMeasureSet& s) {
    TWriter w;
    w.Out = kMagic;
    for (const std::string* t :
         {&s.TestID, &s.TestName, &s.LotNr, &s.Distr_Manu, &s.UserComment, &s.Voltage,
          &s.Temperature, &s.ImgMin, &s.ImgMax, &s.PatientID, &s.PatientBDate}) {
        w.Str(*t);
    }
    w.Date(s.DateTime);
    w.U32(static_cast<std::uint32_t>(s.ResultList.size()));
    for (const auto& r : s.ResultList) {
        w.Str(r.Validity);
        w.Str(r.ResultName);
        w.Str(r.ResultValue);
        w.Str(r.UnitName);
        w.Str(r.ClassName);
    }
    w.U8(s.MeasureResult.LineCount);
    w.U8(s.MeasureResult.HasResults() ? 1 : 0);
    if (s.MeasureResult.HasResults()) {
        const TResult& r = s.MeasureResult.Results();
        w.U8(r.TestEvenMeasuredValueCount);
        w.U16(static_cast<std::uint16_t>(r.SearchReference));
        for (float v : r.ResultValue) w.F32(v);
        for (const TLineResult& l : r.Line) {
            for (float v : {l.MeanValue, l.MinValue, l.MaxValue, l.LeftMeanValue, l.RightMeanValue,
                            l.MaxPosAbs}) {
                w.F32(v);
            }
            w.U8(l.UsedPixel);
            w.U16(static_cast<std::uint16_t>(l.CenterPositionAbsolut));
            w.U8(l.Width);
        }
        for (auto p : r.PtrClass) w.U16(p);
        w.U8(r.TestInvalid.Data);
        w.F32(r.Temperature);
        w.U16(r.Voltage);
        w.Date(r.MeasurementDate);
    }
    w.U32(static_cast<std::uint32_t>(s.ImageData.size()));
    for (auto b : s.ImageData) w.U8(b);
    w.U32(static_cast<std::uint32_t>(s.OrigImage.size()));
    for (auto v : s.OrigImage) w.U32(static_cast<std::uint32_t>(v));
    return w.Out;
}

TMeasureSet DecodeSet(std::string_view bytes) {
    if (bytes.substr(0, kMagic.size()) != kMagic) TReader::Bad();
    TReader r(bytes.substr(kMagic.size()));
    TMeasureSet s;
    for (std::string* t :
         {&s.TestID, &s.TestName, &s.LotNr, &s.Distr_Manu, &s.UserComment, &s.Voltage,
          &s.Temperature, &s.ImgMin, &s.ImgMax, &s.PatientID, &s.PatientBDate}) {
        *t = r.Str();
    }
    r.Date(s.DateTime);
    const std::uint32_t n = r.U32();
    r.Need(std::size_t{n} * 20);
    for (std::uint32_t i = 0; i < n; ++i) {
        TResultSet row;
        row.Validity = r.Str();
        row.ResultName = r.Str();
        row.ResultValue = r.Str();
        row.UnitName = r.Str();
        row.ClassName = r.Str();
        s.ResultList.push_back(std::move(row));
    }
    s.MeasureResult.LineCount = r.U8();
    if (r.U8() != 0) {
        TResult& res = s.MeasureResult.Results();
        res.TestEvenMeasuredValueCount = r.U8();
        res.SearchReference = static_cast<std::int16_t>(r.U16());
        for (float& v : res.ResultValue) v = r.F32();
        for (TLineResult& l : res.Line) {
            for (float* v : {&l.MeanValue, &l.MinValue, &l.MaxValue, &l.LeftMeanValue,
                             &l.RightMeanValue, &l.MaxPosAbs}) {
                *v = r.F32();
            }
            l.UsedPixel = r.U8();
            l.CenterPositionAbsolut = static_cast<std::int16_t>(r.U16());
            l.Width = r.U8();
        }
        for (auto& p : res.PtrClass) p = r.U16();
        res.TestInvalid.Data = r.U8();
        res.Temperature = r.F32();
        res.Voltage = r.U16();
        r.Date(res.MeasurementDate);
    }
    const std::uint32_t ni = r.U32();
    r.Need(ni);
    s.ImageData.resize(ni);
    for (auto& b : s.ImageData) b = r.U8();
    const std::uint32_t no = r.U32();
    r.Need(std::size_t{no} * 4);
    s.OrigImage.resize(no);
    for (auto& v : s.OrigImage) v = static_cast<std::int32_t>(r.U32());
    if (!r.AtEnd()) TReader::Bad();
    return s;
}

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char32_t c : utf8ToCodePoints(utf8)) {
        if (c >= U'A' && c <= U'Z') {
            c += 32;
        } else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
            c += 32;
        } else if (c == 0x178) {
            c = 0xFF;  // Ÿ's small letter lives in Latin-1
        } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 &&
                   c != 0x149 && c != 0x17F) {
            // Latin Extended-A pairs capital/small, but the pairing shifts
            // from even/odd to odd/even between U+0139 and U+0148 and from
            // U+0179 on.
            const bool oddCapitals = (c >= 0x139 && c <= 0x148) || c >= 0x179;
            if ((c % 2 == 1) == oddCapitals) c += 1;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string SearchText(const TMeasureSet& s) {
    std::string t =
        s.TestID + "\n" + s.TestName + "\n" + s.LotNr + "\n" + s.UserComment + "\n" + s.PatientID;
    for (const auto& r : s.ResultList) t += "\n" + r.ResultName;
    return FoldCase(t);
}

std::string ResultsSummary(const TMeasureSet& s) {
    std::string out;
    for (const auto& r : s.ResultList) {
        std::string one;
        for (const std::string* p : {&r.ResultName, &r.ResultValue, &r.UnitName}) {
            if (p->empty()) continue;
            if (!one.empty()) one += ' ';
            one += *p;
        }
        if (r.ResultValue.empty() && !r.ClassName.empty())
            one += (one.empty() ? "" : " ") + r.ClassName;
        if (one.empty()) continue;
        if (!out.empty()) out += "; ";
        out += one;
    }
    return out;
}

std::string NowIso() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &tm);
    std::string s = buf;  // ...+0100 -> ...+01:00
    if (s.size() >= 5) s.insert(s.size() - 2, ":");
    return s;
}

std::int64_t ToInt(const std::optional<std::string>& v) {
    return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}
std::string ToText(const std::optional<std::string>& v) {
    return v ? *v : std::string();
}

bool MakePrivateFolders(const std::string& folder, std::string& reason) {
    if (folder.empty()) return true;
    std::filesystem::path p(folder);
    std::filesystem::path cur;
    for (const auto& part : p) {
        cur /= part;
        struct stat st {};
        if (::stat(cur.c_str(), &st) == 0) continue;
        if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace archive_detail
}  // namespace kyvo
