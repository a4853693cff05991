// The archive's rules, written once in SQL that both engines understand.
#include <unistd.h>
#include <algorithm>
#include <cctype>

#include <charconv>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "archive/ArchiveInternal.h"
#include "archive/QcStore.h"
#include "files/ResultExport.h"
#include "protocol/ByteBuffer.h"

namespace kyvo::archive_detail {
namespace {

const char* SortColumn(EArchiveSort s) {
    switch (s) {
        case EArchiveSort::DateTime:
            return "date_iso";
        case EArchiveSort::TestId:
            return "test_id";
        case EArchiveSort::TestName:
            return "test_name";
        case EArchiveSort::Lot:
            return "lot";
        case EArchiveSort::Device:
            return "device_serial";
        case EArchiveSort::Comment:
            return "comment";
        case EArchiveSort::PatientId:
            return "patient_id";
        case EArchiveSort::Added:
            return "id";
    }
    return "date_iso";
}

bool IsIsoDay(const std::string& d) {
    if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (!std::isdigit(static_cast<unsigned char>(d[i]))) return false;
    }
    // A day that does not exist would silently select nothing or everything.
    const int year = std::stoi(d.substr(0, 4));
    const int month = std::stoi(d.substr(5, 2));
    const int day = std::stoi(d.substr(8, 2));
    if (month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string GlobEscape(const std::string& w) {
    std::string out;
    for (char c : w) {
        if (c == '*' || c == '?' || c == '[') {
            out += '[';
            out += c;
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

std::string LikeEscape(const std::string& w) {
    std::string out;
    for (char c : w) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// "12 3 1 7 1807 0042 34082560": the device's year-week and serial are the
// fifth and sixth words of the identity text.
std::string SerialFromTestId(const std::string& testId) {
    std::istringstream in(testId);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    if (w.size() != 7) return {};
    return w[4] + " " + w[5];
}

std::string PatientText(const std::string& id, const std::string& birth) {
    return birth.empty() ? id : id + " / " + birth;
}

std::optional<EArchiveSource> SourceFromName(const std::string& n) {
    for (auto s :
         {EArchiveSource::DeviceRead, EArchiveSource::Measurement, EArchiveSource::ImportedFile}) {
        if (ArchiveSourceName(s) == n) return s;
    }
    return std::nullopt;
}

// A REAL column as the engine writes it ("7.25", "1e+20").
std::optional<double> EngineNumber(const std::string& text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

constexpr std::int64_t kNoLimit = std::int64_t{1} << 62;

class TSqlArchive : public IArchive {
  public:
    explicit TSqlArchive(std::unique_ptr<ISqlDb> db) : db_(std::move(db)), qc_(*db_) {}

    std::string Location() const override { return db_->Location(); }
    int SchemaVersion() const override { return kSchemaVersion; }

    EStoreOutcome Store(const TMeasureSet& set, const TArchiveDevice& device, EArchiveSource source,
                        const TArchiveActor& actor) override {
        std::vector<const TMeasureSet*> one{&set};
        return StoreMany(one, device, source, actor).at(0);
    }

    std::vector<EStoreOutcome> StoreMany(const std::vector<const TMeasureSet*>& sets,
                                         const TArchiveDevice& device, EArchiveSource source,
                                         const TArchiveActor& actor) override {
        for (const TMeasureSet* s : sets) {
            if (!s || s->TestID.empty()) {
                throw TArchiveError(EArchiveErrorKind::BadInput,
                                    "A measurement without identity text cannot be archived.");
            }
        }
        std::vector<EStoreOutcome> out;
        out.reserve(sets.size());
        Transaction([&] {
            out.assign(sets.size(), EStoreOutcome::Unchanged);
            const std::string now = NowIso();
            // Which are known already, a few hundred per look-up.
            std::unordered_set<std::string> known;
            std::unordered_map<std::string, std::size_t> first;
            for (std::size_t i = 0; i < sets.size(); ++i) first.emplace(sets[i]->TestID, i);
            if (sets.size() > 1) {
                std::vector<std::string> keys;
                for (const auto& [id, i] : first) keys.push_back(id);
                std::sort(keys.begin(), keys.end());
                for (std::size_t from = 0; from < keys.size(); from += 500) {
                    const std::size_t to = std::min(keys.size(), from + 500);
                    std::string sql = "SELECT test_id FROM measurements WHERE test_id IN (";
                    std::vector<TSqlValue> v;
                    for (std::size_t k = from; k < to; ++k) {
                        sql += k > from ? ", ?" : "?";
                        v.emplace_back(keys[k]);
                    }
                    for (const auto& r : Query(sql + ")", v)) known.insert(ToText(r[0]));
                }
            }
            // The new ones go in together; the known ones, repeats within
            // the batch and any another writer inserted meanwhile go one
            // by one.
            std::vector<TNew> fresh;
            std::vector<std::size_t> single;
            for (std::size_t i = 0; i < sets.size(); ++i) {
                if (sets.size() > 1 && first[sets[i]->TestID] == i &&
                    !known.count(sets[i]->TestID)) {
                    fresh.push_back(TNew{sets[i], device, source, now, false, ""});
                } else {
                    single.push_back(i);
                }
            }
            const auto ids = InsertBatch(std::move(fresh), &actor);
            bool changed = !ids.empty();
            for (std::size_t i = 0; i < sets.size(); ++i) {
                if (ids.count(sets[i]->TestID) && first[sets[i]->TestID] == i) {
                    out[i] = EStoreOutcome::Added;
                } else if (sets.size() > 1 && first[sets[i]->TestID] == i &&
                           !known.count(sets[i]->TestID)) {
                    single.push_back(i);  // lost the race for it: stored as a known one
                }
            }
            std::sort(single.begin(), single.end());
            for (std::size_t i : single) {
                out[i] = StoreIn(*sets[i], device, source, actor, now);
                changed = changed || out[i] != EStoreOutcome::Unchanged;
            }
            if (lisQueueing_ && source != EArchiveSource::ImportedFile) {
                std::vector<std::int64_t> added;
                for (std::size_t i = 0; i < sets.size(); ++i) {
                    if (out[i] != EStoreOutcome::Added) continue;
                    if (const auto it = ids.find(sets[i]->TestID); it != ids.end())
                        added.push_back(it->second);
                    else if (const auto id = FindByTestId(sets[i]->TestID))
                        added.push_back(*id);
                }
                std::sort(added.begin(), added.end());
                for (std::int64_t id : added)
                    if (lisQueueControls_ || !IsControl(id)) QueueVersion(id, 1, false, actor, now);
            }
            if (changed) db_->Announce();
        });
        return out;
    }

    static std::string RowColumns() {
        return "SELECT id, test_id, test_name, lot, date_iso, date_text, device_serial, comment, "
               "patient_id, summary, source, removed, removed_reason, " +
               LisColumn("state") + ", " + LisColumn("reason") + ", " + LisColumn("changed") +
               " FROM measurements";
    }

    std::vector<TArchiveRow> Rows(const std::string& sql, const std::vector<TSqlValue>& params) {
        std::vector<TArchiveRow> rows;
        for (const auto& r : Query(sql, params)) {
            TArchiveRow a;
            a.Id = ToInt(r[0]);
            a.TestId = ToText(r[1]);
            a.TestName = ToText(r[2]);
            a.LotNr = ToText(r[3]);
            a.DateTime = ToText(r[4]).empty() ? ToText(r[5]) : ToText(r[4]);
            a.DeviceSerial = ToText(r[6]);
            a.Comment = ToText(r[7]);
            a.PatientId = ToText(r[8]);
            a.Results = ToText(r[9]);
            a.Source = ToText(r[10]);
            a.Removed = ToInt(r[11]) != 0;
            a.RemovedReason = ToText(r[12]);
            a.Lis = LisStateOf(ToText(r[13]));
            a.LisReason = ToText(r[14]);
            a.LisTime = ToText(r[15]);
            rows.push_back(std::move(a));
        }
        qc_.Annotate(rows);
        return rows;
    }

    std::optional<TArchiveRow> Row(std::int64_t id) override {
        auto rows = Rows(RowColumns() + " WHERE id = ?", {id});
        if (rows.empty()) return std::nullopt;
        return std::move(rows[0]);
    }

    void SetLisQueueControls(bool on) override { lisQueueControls_ = on; }

    std::vector<TArchiveRow> List(const TArchiveFilter& f) override {
        std::vector<TSqlValue> params;
        std::string sql = RowColumns() + Where(f, params);
        const std::string col = SortColumn(f.Sort);
        const char* dir = f.Descending ? " DESC" : "";
        sql += " ORDER BY " + col + dir;
        // Within one test, lot or device the newest (or oldest) first: the
        // indexes hold that order.
        const bool byDate = f.Sort == EArchiveSort::TestName || f.Sort == EArchiveSort::Lot ||
                            f.Sort == EArchiveSort::Device;
        if (byDate) sql += std::string(", date_iso") + dir;
        if (col != "id") sql += std::string(", id") + dir;
        sql += " LIMIT ? OFFSET ?";
        params.emplace_back(f.Limit ? static_cast<std::int64_t>(f.Limit) : kNoLimit);
        params.emplace_back(static_cast<std::int64_t>(f.Offset));
        return Rows(sql, params);
    }

    std::int64_t Count(const TArchiveFilter& f) override {
        std::vector<TSqlValue> params;
        const std::string sql = "SELECT COUNT(*) FROM measurements" + Where(f, params, true);
        return ToInt(Query(sql, params).at(0).at(0));
    }

    std::vector<TArchiveResultPoint> ResultPoints(const TArchiveFilter& f,
                                                  const std::string& resultName) override {
        std::vector<TSqlValue> params;
        // The filter over measurements alone, where its unqualified columns
        // mean what they mean in a listing; the rows then by their name's
        // index.
        const std::string sql =
            "SELECT m.id, m.test_id, m.test_name, m.lot, m.date_iso, m.date_text, "
            "m.device_serial, r.value, r.value_text, r.unit, r.class, r.validity "
            "FROM (SELECT id, test_id, test_name, lot, date_iso, date_text, device_serial "
            "FROM measurements" +
            Where(f, params) +
            ") m JOIN results r ON r.measurement_id = m.id "
            "WHERE r.name = ? AND r.no = (SELECT MIN(x.no) FROM results x "
            "WHERE x.measurement_id = m.id AND x.name = r.name) "
            "ORDER BY m.date_iso" +
            std::string(f.Descending ? " DESC, m.id DESC" : ", m.id") + " LIMIT ? OFFSET ?";
        params.emplace_back(resultName);
        params.emplace_back(f.Limit ? static_cast<std::int64_t>(f.Limit) : kNoLimit);
        params.emplace_back(static_cast<std::int64_t>(f.Offset));
        std::vector<TArchiveResultPoint> out;
        for (const auto& r : Query(sql, params)) {
            TArchiveResultPoint p;
            p.Id = ToInt(r[0]);
            p.TestId = ToText(r[1]);
            p.TestName = ToText(r[2]);
            p.LotNr = ToText(r[3]);
            p.DateTime = ToText(r[4]).empty() ? ToText(r[5]) : ToText(r[4]);
            p.DeviceSerial = ToText(r[6]);
            if (r[7]) p.Value = EngineNumber(*r[7]);
            p.ValueText = ToText(r[8]);
            p.Unit = ToText(r[9]);
            p.Class = ToText(r[10]);
            p.Validity = ToText(r[11]);
            out.push_back(std::move(p));
        }
        return out;
    }

    std::vector<TArchiveResultName> ResultNames(const TArchiveFilter& f) override {
        std::vector<TSqlValue> params;
        const std::string sql =
            "SELECT m.test_name, r.name, COUNT(DISTINCT m.id) FROM (SELECT id, test_name FROM "
            "measurements" +
            Where(f, params) + (f.Limit ? " ORDER BY date_iso DESC, id DESC LIMIT ?" : "") +
            ") m JOIN results r ON r.measurement_id = m.id GROUP BY m.test_name, r.name "
            "ORDER BY m.test_name, r.name";
        if (f.Limit) params.emplace_back(static_cast<std::int64_t>(f.Limit));
        std::vector<TArchiveResultName> out;
        for (const auto& r : Query(sql, params))
            out.push_back({ToText(r[0]), ToText(r[1]), ToInt(r[2])});
        return out;
    }

    TMeasureSet Load(std::int64_t id) override { return LoadRecord(id).Set; }

    TArchiveRecord LoadRecord(std::int64_t id) override {
        const auto rows = Query(
            "SELECT x.data, m.comment, m.patient_id, m.patient_birth, m.device_serial, "
            "d.firmware, d.eeprom_version, m.source, m.added, m.removed, m.removed_reason "
            "FROM measurements m LEFT JOIN devices d ON d.id = m.device_id "
            "LEFT JOIN measurement_data x ON x.measurement_id = m.id WHERE m.id = ?",
            {id});
        if (rows.empty()) NotFound(id);
        const auto& r = rows[0];
        TArchiveRecord rec;
        rec.Id = id;
        rec.Set = DecodeSet(ToText(r[0]));
        rec.Set.UserComment = ToText(r[1]);
        rec.Set.PatientID = ToText(r[2]);
        rec.Set.PatientBDate = ToText(r[3]);
        rec.Device.Serial = ToText(r[4]);
        rec.Device.Firmware = ToText(r[5]);
        rec.Device.EepromVersion = ToText(r[6]);
        rec.Source = SourceFromName(ToText(r[7])).value_or(EArchiveSource::DeviceRead);
        rec.Added = ToText(r[8]);
        rec.Removed = ToInt(r[9]) != 0;
        rec.RemovedReason = ToText(r[10]);
        return rec;
    }

    std::optional<std::int64_t> FindByTestId(const std::string& testId) override {
        const auto rows = Query("SELECT id FROM measurements WHERE test_id = ?", {testId});
        if (rows.empty()) return std::nullopt;
        return ToInt(rows[0][0]);
    }

    void SetComment(std::int64_t id, const std::string& comment,
                    const TArchiveActor& actor) override {
        Transaction([&] {
            const auto rows =
                Query("SELECT comment, test_id FROM measurements WHERE id = ?" + Lock(), {id});
            if (rows.empty()) NotFound(id);
            const std::string old = ToText(rows[0][0]);
            if (old == comment) return;
            const std::string now = NowIso();
            ChangeComment(id, ToText(rows[0][1]), old, comment, actor, now);
            QueueCorrection(id, actor, now);
            db_->Announce();
        });
    }

    void SetPatient(std::int64_t id, const std::string& patientId, const std::string& birthDate,
                    const TArchiveActor& actor) override {
        Transaction([&] {
            const auto rows = Query(
                "SELECT patient_id, patient_birth, test_id FROM measurements WHERE id = ?" + Lock(),
                {id});
            if (rows.empty()) NotFound(id);
            const std::string oldId = ToText(rows[0][0]);
            const std::string oldBirth = ToText(rows[0][1]);
            if (oldId == patientId && oldBirth == birthDate) return;
            const std::string now = NowIso();
            ChangePatient(id, ToText(rows[0][2]), oldId, oldBirth, patientId, birthDate, actor,
                          now);
            QueueCorrection(id, actor, now);
            db_->Announce();
        });
    }

    void Remove(std::int64_t id, const std::string& reason, const TArchiveActor& actor) override {
        if (std::all_of(reason.begin(), reason.end(),
                        [](unsigned char c) { return std::isspace(c) != 0; })) {
            throw TArchiveError(EArchiveErrorKind::BadInput,
                                "A measurement is removed from the archive only with a reason.");
        }
        Transaction([&] {
            const auto rows =
                Query("SELECT removed, test_id FROM measurements WHERE id = ?" + Lock(), {id});
            if (rows.empty()) NotFound(id);
            if (ToInt(rows[0][0]) != 0) return;  // removed before: the first reason stands
            Query("UPDATE measurements SET removed = 1, removed_reason = ? WHERE id = ?",
                  {reason, id});
            const std::string now = NowIso();
            WriteAudit(actor, now, "remove", id, ToText(rows[0][1]), "", reason);
            // A removed measurement never leaves for the LIS by itself.
            for (const auto& w :
                 Query("SELECT id FROM lis_outbox WHERE measurement_id = ? AND state = 'waiting'",
                       {id})) {
                SetLisState(ToInt(w[0]), "held", "removed from the archive: " + reason, actor,
                            "lis-held", now);
            }
            db_->Announce();
        });
    }

    std::vector<TAuditEntry> History(std::int64_t id) override {
        if (Query("SELECT 1 FROM measurements WHERE id = ?", {id}).empty()) NotFound(id);
        return AuditRows(
            "SELECT id, time, user_name, host, program, version, action, measurement_id, test_id, "
            "old_value, new_value FROM audit WHERE measurement_id = ? ORDER BY id",
            {id});
    }

    std::vector<TAuditEntry> Audit(std::int64_t afterId, std::size_t limit) override {
        return AuditRows(
            "SELECT id, time, user_name, host, program, version, action, measurement_id, test_id, "
            "old_value, new_value FROM audit WHERE id > ? ORDER BY id LIMIT ?",
            {afterId, limit ? static_cast<std::int64_t>(limit) : kNoLimit});
    }

    bool InsertCopy(const TArchiveRecord& rec, const std::vector<TAuditEntry>& audit) override {
        if (rec.Set.TestID.empty()) {
            throw TArchiveError(EArchiveErrorKind::BadInput,
                                "A measurement without identity text cannot be archived.");
        }
        bool added = false;
        Transaction([&] {
            added = false;
            if (!Query("SELECT id FROM measurements WHERE test_id = ?", {rec.Set.TestID}).empty())
                return;
            const auto id = InsertMeasurement(rec.Set, rec.Device, rec.Source, rec.Added,
                                              rec.Removed, rec.RemovedReason);
            if (!id) return;
            for (const auto& a : audit) {
                TArchiveActor who{a.User, a.Host, a.Program, a.Version};
                WriteAudit(who, a.Time, a.Action, *id, a.TestId, a.OldValue, a.NewValue);
            }
            db_->Announce();
            added = true;
        });
        return added;
    }

    void SetLisQueueing(bool on) override { lisQueueing_ = on; }

    TLisQueueOutcome QueueForLis(const std::vector<std::int64_t>& ids,
                                 const TArchiveActor& actor) override {
        TLisQueueOutcome out;
        Transaction([&] {
            out = {};
            const std::string now = NowIso();
            for (std::int64_t id : ids) {
                const auto rows =
                    Query("SELECT removed FROM measurements WHERE id = ?" + Lock(), {id});
                if (rows.empty()) NotFound(id);
                if (ToInt(rows[0][0]) != 0) {
                    ++out.Skipped;
                    continue;
                }
                const auto newest = Query(
                    "SELECT id, version, state FROM lis_outbox WHERE measurement_id = ? ORDER BY "
                    "id DESC LIMIT 1",
                    {id});
                if (newest.empty()) {
                    QueueVersion(id, 1, false, actor, now);
                } else if (ToText(newest[0][2]) == "waiting") {
                    ++out.AlreadyWaiting;
                    continue;
                } else if (ToText(newest[0][2]) == "held") {
                    SetLisState(ToInt(newest[0][0]), "waiting", "", actor, "lis-queue", now);
                } else {
                    QueueVersion(id, static_cast<int>(ToInt(newest[0][1])) + 1, true, actor, now);
                }
                ++out.Queued;
            }
            if (out.Queued) db_->Announce();
        });
        return out;
    }

    TLisQueueOutcome QueueForLisSince(const std::string& day, const TArchiveActor& actor) override {
        if (!IsIsoDay(day)) BadDate(day);
        TLisQueueOutcome out;
        Transaction([&] {
            out = {};
            const std::string now = NowIso();
            const auto rows = Query(
                "SELECT m.id FROM measurements m WHERE m.date_iso >= ? AND m.removed = 0 AND NOT "
                "EXISTS (SELECT 1 FROM lis_outbox o WHERE o.measurement_id = m.id) ORDER BY "
                "m.date_iso, m.id",
                {day});
            for (const auto& r : rows) {
                QueueVersion(ToInt(r[0]), 1, false, actor, now);
                ++out.Queued;
            }
            if (out.Queued) db_->Announce();
        });
        return out;
    }

    std::optional<TLisOutboxEntry> NextLisEntry() override {
        auto e = LisRows("WHERE o.state = 'waiting' ORDER BY o.id LIMIT 1", {});
        if (e.empty()) return std::nullopt;
        return e[0];
    }

    void MarkLisSending(std::int64_t entryId, const TArchiveActor& actor) override {
        Transaction([&] {
            const std::string now = NowIso();
            if (Query("UPDATE lis_outbox SET attempts = attempts + 1, changed = ? WHERE id = ? "
                      "RETURNING id",
                      {now, entryId})
                    .empty())
                NoEntry(entryId);
            LisAudit(actor, now, "lis-send", entryId, "",
                     "o.control_id || ' (attempt ' || o.attempts || ')'", {});
            db_->Announce();
        });
    }

    void MarkLisDelivered(std::int64_t entryId, const std::string& ack,
                          const TArchiveActor& actor) override {
        RelaxedTransaction([&] {
            SetLisState(entryId, "delivered", "", actor, "lis-delivered", NowIso(), ack);
            db_->Announce();
        });
    }

    void MarkLisHeld(std::int64_t entryId, const std::string& reason,
                     const TArchiveActor& actor) override {
        RelaxedTransaction([&] {
            SetLisState(entryId, "held", reason, actor, "lis-held", NowIso());
            db_->Announce();
        });
    }

    void MarkLisFailed(std::int64_t entryId, const std::string& reason,
                       const TArchiveActor& actor) override {
        RelaxedTransaction([&] {
            const std::string now = NowIso();
            if (Query("UPDATE lis_outbox SET reason = ?, changed = ? WHERE id = ? RETURNING id",
                      {reason, now, entryId})
                    .empty())
                NoEntry(entryId);
            LisAudit(actor, now, "lis-failed", entryId, "o.control_id", "?", {reason});
            db_->Announce();
        });
    }

    TLisCounts LisCounts() override {
        // The newest version of each measurement tells where it stands.
        TLisCounts c;
        for (const auto& r :
             Query("SELECT o.state, COUNT(*) FROM lis_outbox o WHERE o.id = (SELECT MAX(p.id) FROM "
                   "lis_outbox p WHERE p.measurement_id = o.measurement_id) GROUP BY o.state",
                   {})) {
            const ELisState s = LisStateOf(ToText(r[0]));
            const std::int64_t n = ToInt(r[1]);
            if (s == ELisState::Waiting) c.Waiting = n;
            if (s == ELisState::Delivered) c.Delivered = n;
            if (s == ELisState::Held) c.Held = n;
        }
        return c;
    }

    std::vector<TLisOutboxEntry> LisEntries(ELisState state, std::size_t limit) override {
        const std::int64_t n = limit ? static_cast<std::int64_t>(limit) : kNoLimit;
        if (state == ELisState::None) return LisRows("ORDER BY o.id LIMIT ?", {n});
        return LisRows("WHERE o.state = ? ORDER BY o.id LIMIT ?", {LisStateName(state), n});
    }

    std::vector<TLisOutboxEntry> LisHistory(std::int64_t measurementId) override {
        return LisRows("WHERE o.measurement_id = ? ORDER BY o.id", {measurementId});
    }

    bool TryLockLisSender() override { return db_->TryLockSender(); }
    void UnlockLisSender() override { db_->UnlockSender(); }
    bool HoldsLisSender() override { return db_->HoldsSender(); }

    TArchiveCheck Check() override {
        TArchiveCheck c;
        c.SchemaVersion = kSchemaVersion;
        auto count = [&](const std::string& sql) { return ToInt(Query(sql, {}).at(0).at(0)); };
        c.Measurements = count("SELECT COUNT(*) FROM measurements");
        c.Removed = count("SELECT COUNT(*) FROM measurements WHERE removed <> 0");
        c.ResultRows = count("SELECT COUNT(*) FROM results");
        c.Devices = count("SELECT COUNT(*) FROM devices");
        c.AuditRows = count("SELECT COUNT(*) FROM audit");
        db_->EngineCheck(c.Problems);
        if (auto n =
                count("SELECT COUNT(*) FROM measurements m WHERE NOT EXISTS (SELECT 1 FROM audit a "
                      "WHERE a.measurement_id = m.id AND a.action = 'insert')")) {
            c.Problems.push_back(std::to_string(n) +
                                 " measurement(s) without their insert in the audit trail.");
        }
        if (auto n = count(
                "SELECT COUNT(*) FROM measurements m WHERE removed <> 0 AND NOT EXISTS (SELECT 1 "
                "FROM audit a WHERE a.measurement_id = m.id AND a.action = 'remove')")) {
            c.Problems.push_back(
                std::to_string(n) +
                " removed measurement(s) without their removal in the audit trail.");
        }
        // Every kept set must read back and agree with its searchable columns.
        std::int64_t after = 0;
        for (;;) {
            const auto rows = Query(
                "SELECT m.id, m.test_id, x.data, (SELECT COUNT(*) FROM results r WHERE "
                "r.measurement_id = m.id) "
                "FROM measurements m LEFT JOIN measurement_data x ON x.measurement_id = m.id "
                "WHERE m.id > ? ORDER BY m.id LIMIT 500",
                {after});
            if (rows.empty()) break;
            for (const auto& r : rows) {
                after = ToInt(r[0]);
                try {
                    const TMeasureSet s = DecodeSet(ToText(r[2]));
                    if (s.TestID != ToText(r[1])) {
                        c.Problems.push_back("Measurement " + std::to_string(after) +
                                             " holds another identity text.");
                    } else if (static_cast<std::int64_t>(s.ResultList.size()) != ToInt(r[3])) {
                        c.Problems.push_back("Measurement " + std::to_string(after) + " has " +
                                             ToText(r[3]) + " result rows instead of " +
                                             std::to_string(s.ResultList.size()) + ".");
                    }
                } catch (const TArchiveError& e) {
                    c.Problems.push_back("Measurement " + std::to_string(after) + ": " + e.what());
                }
            }
        }
        return c;
    }

    std::int64_t AddMaterial(const qc::TControlMaterial& m, const TArchiveActor& actor) override {
        std::int64_t id = 0;
        Transaction([&] {
            id = qc_.AddMaterial(m, actor);
            db_->Announce();
        });
        return id;
    }
    void RetireMaterial(const std::string& name, const TArchiveActor& actor) override {
        Transaction([&] {
            qc_.RetireMaterial(name, actor);
            db_->Announce();
        });
    }
    std::vector<qc::TControlMaterial> Materials() override { return qc_.Materials(); }
    void SetRole(std::int64_t id, const std::string& role, const std::string& material,
                 const TArchiveActor& actor) override {
        Transaction([&] {
            if (qc_.SetRole(id, role, material, actor)) db_->Announce();
        });
    }
    TQcOverview QcOverview() override { return qc_.Overview(); }
    void Acknowledge(const qc::TQcViolation& v, const std::string& note,
                     const TArchiveActor& actor) override {
        Transaction([&] {
            qc_.Acknowledge(v, note, actor);
            db_->Announce();
        });
    }

    TQcCopy QcCopy() override { return qc_.Copy(); }
    void InsertQcCopy(const TQcCopy& copy) override {
        Transaction([&] {
            const auto before = db_->ChangeStamp();
            qc_.InsertCopy(copy);
            if (db_->ChangeStamp() != before) db_->Announce();
        });
    }

    std::int64_t ChangeStamp() override { return db_->ChangeStamp(); }
    std::int64_t WaitForChange(std::int64_t since, int timeoutMs) override {
        return db_->WaitForChange(since, timeoutMs);
    }

  private:
    TSqlRows Query(const std::string& sql, const std::vector<TSqlValue>& params) {
        return db_->Query(sql, params);
    }

    // Runs body as one write transaction, rolled back when it throws; run
    // again when the server broke a deadlock with another writer by
    // aborting this one.
    template <typename F>
    void Transaction(F&& body) {
        for (int attempt = 0;; ++attempt) {
            db_->Begin();
            try {
                body();
                db_->Commit();
                return;
            } catch (const TArchiveRetry&) {
                db_->Rollback();
                if (attempt == 4) throw;
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(10 * (attempt + 1) + ::getpid() % 17));
            } catch (...) {
                db_->Rollback();
                throw;
            }
        }
    }

    // A transaction whose commit need not wait for the disk: it survives the
    // end of this process (SQLite has written it to the file, the server
    // holds it) but not a power failure or an engine crash within the next
    // moment. Only for the outcome marks of the LIS sender: losing one sends
    // the message again with its control id, after a durable send mark that
    // makes the repetition show in the history.
    template <typename F>
    void RelaxedTransaction(F&& body) {
        if (db_->IsPostgres()) {
            Transaction([&] {
                Query("SET LOCAL synchronous_commit = off", {});
                body();
            });
            return;
        }
        Query("PRAGMA synchronous = NORMAL", {});
        try {
            Transaction(body);
        } catch (...) {
            Query("PRAGMA synchronous = FULL", {});
            throw;
        }
        Query("PRAGMA synchronous = FULL", {});
    }

    std::string Lock() const { return db_->IsPostgres() ? " FOR UPDATE" : ""; }

    [[noreturn]] void NotFound(std::int64_t id) const {
        throw TArchiveError(
            EArchiveErrorKind::NotFound,
            "The archive " + Location() + " holds no measurement " + std::to_string(id) + ".");
    }

    std::string Where(const TArchiveFilter& f, std::vector<TSqlValue>& params,
                      bool forCount = false) const {
        std::vector<std::string> terms;
        if (!f.From.empty()) {
            if (!IsIsoDay(f.From)) BadDate(f.From);
            terms.push_back("date_iso >= ?");
            params.emplace_back(f.From);
        }
        if (!f.To.empty()) {
            if (!IsIsoDay(f.To)) BadDate(f.To);
            // Up to the end of that day: every time of it sorts below "T~".
            terms.push_back("date_iso <= ?");
            params.emplace_back(f.To + "T~");
            if (f.From.empty()) terms.push_back("date_iso <> ''");
        }
        if (!f.Test.empty()) {
            terms.push_back("test_name = ?");
            params.emplace_back(f.Test);
        }
        if (!f.Lot.empty()) {
            terms.push_back("lot = ?");
            params.emplace_back(f.Lot);
        }
        if (!f.Device.empty()) {
            terms.push_back("device_serial = ?");
            params.emplace_back(f.Device);
        }
        std::istringstream words(FoldCase(f.Text));
        std::string globs;
        std::string likes;
        std::vector<std::string> shortGlobs;
        std::vector<TSqlValue> shortParams;
        for (std::string w; words >> w;) {
            if (db_->IsPostgres()) {
                // pg_trgm's index serves this where the server has it.
                likes +=
                    likes.empty() ? "search LIKE ? ESCAPE '\\'" : " AND search LIKE ? ESCAPE '\\'";
                params.emplace_back("%" + LikeEscape(w) + "%");
            } else if (CodePoints(w) < 3) {
                // The trigram index cannot serve a word this short, and
                // SQLite 3.40's FTS5 crashes or answers nothing when such a
                // pattern comes before a longer one in a look-up: the row's
                // folded text is tested by the plain GLOB instead.
                shortGlobs.push_back(
                    "(SELECT text FROM measurement_search WHERE rowid = measurements.id) GLOB ?");
                shortParams.emplace_back("*" + GlobEscape(w) + "*");
            } else {
                // FTS5's trigram index serves GLOB on the folded text; all
                // words in one look-up, so that it intersects them itself.
                globs += globs.empty() ? "text GLOB ?" : " AND text GLOB ?";
                params.emplace_back("*" + GlobEscape(w) + "*");
            }
        }
        if (!globs.empty())
            terms.push_back("id IN (SELECT rowid FROM measurement_search WHERE " + globs + ")");
        for (std::size_t i = 0; i < shortGlobs.size(); ++i) {
            terms.push_back(shortGlobs[i]);
            params.push_back(shortParams[i]);
        }
        // The words first, through their index (OFFSET 0 keeps the planner
        // from walking the date order and testing every row instead, which
        // it prefers while it has no statistics, right after an import).
        if (!likes.empty())
            terms.push_back("id IN (SELECT id FROM measurements WHERE " + likes + " OFFSET 0)");
        if (!f.Role.empty()) terms.push_back(qc_.RoleTerm(f.Role, params));
        // A listing walks the index of its order: SQLite, which plans
        // without statistics, would otherwise take the index on removed
        // that nearly every row matches, so there the column is hidden
        // from its planner ("+removed"); a plain count of all uses that
        // index. PostgreSQL plans by statistics and gets the plain term
        // (it cannot estimate the hidden one).
        if (!f.IncludeRemoved) {
            const bool plain = db_->IsPostgres() || (terms.empty() && forCount);
            terms.push_back(plain ? "removed = 0" : "+removed = 0");
        }
        std::string out;
        for (const auto& t : terms) out += (out.empty() ? " WHERE " : " AND ") + t;
        return out;
    }

    [[noreturn]] static void BadDate(const std::string& d) {
        throw TArchiveError(EArchiveErrorKind::BadInput,
                            "\"" + d + "\" is no date of the form YYYY-MM-DD.");
    }

    std::vector<TAuditEntry> AuditRows(const std::string& sql,
                                       const std::vector<TSqlValue>& params) {
        std::vector<TAuditEntry> out;
        for (const auto& r : Query(sql, params)) {
            TAuditEntry a;
            a.Id = ToInt(r[0]);
            a.Time = ToText(r[1]);
            a.User = ToText(r[2]);
            a.Host = ToText(r[3]);
            a.Program = ToText(r[4]);
            a.Version = ToText(r[5]);
            a.Action = ToText(r[6]);
            a.MeasurementId = ToInt(r[7]);
            a.TestId = ToText(r[8]);
            a.OldValue = ToText(r[9]);
            a.NewValue = ToText(r[10]);
            out.push_back(std::move(a));
        }
        return out;
    }

    void WriteAudit(const TArchiveActor& who, const std::string& time, const std::string& action,
                    std::int64_t id, const std::string& testId, const std::string& oldValue,
                    const std::string& newValue) {
        Query(
            "INSERT INTO audit(time, user_name, host, program, version, action, measurement_id, "
            "test_id, old_value, new_value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {time, who.User, who.Host, who.Program, who.Version, action, id, testId, oldValue,
             newValue});
    }

    // The device's row, created or brought up to date; none without serial.
    std::optional<std::int64_t> UpsertDevice(const TArchiveDevice& d, const std::string& when) {
        if (d.Serial.empty()) return std::nullopt;
        const auto rows = Query(
            "INSERT INTO devices(serial, firmware, eeprom_version, first_seen, last_seen) "
            "VALUES (?, ?, ?, ?, ?) ON CONFLICT(serial) DO UPDATE SET "
            "firmware = CASE WHEN excluded.firmware <> '' THEN excluded.firmware ELSE "
            "devices.firmware END, "
            "eeprom_version = CASE WHEN excluded.eeprom_version <> '' THEN excluded.eeprom_version "
            "ELSE devices.eeprom_version END, "
            "first_seen = CASE WHEN excluded.first_seen < devices.first_seen THEN "
            "excluded.first_seen "
            "ELSE devices.first_seen END, "
            "last_seen = CASE WHEN excluded.last_seen > devices.last_seen THEN excluded.last_seen "
            "ELSE devices.last_seen END RETURNING id",
            {d.Serial, d.Firmware, d.EepromVersion, when, when});
        return ToInt(rows.at(0).at(0));
    }

    struct TNew {
        const TMeasureSet* Set = nullptr;
        TArchiveDevice Device;
        EArchiveSource Source = EArchiveSource::DeviceRead;
        std::string Added;
        bool Removed = false;
        std::string Reason;
    };

    // Appends "(?, ?, ...)" groups to sql.
    static void Groups(std::string& sql, std::size_t groups, std::size_t width) {
        std::string one = "(";
        for (std::size_t k = 0; k < width; ++k) one += k ? ", ?" : "?";
        one += ")";
        for (std::size_t g = 0; g < groups; ++g) sql += (g ? ", " : "") + one;
    }

    // Inserts measurements with their kept sets, search words and result
    // rows, a few statements per hundred (round trips are what a server
    // costs). Returns the new ids by identity text; one missing from it
    // was inserted by another writer first. With actor, each gets its
    // insert row in the audit trail. Devices are brought up to date first,
    // in one order, so that concurrent writers never wait on each other
    // crosswise.
    std::unordered_map<std::string, std::int64_t> InsertBatch(std::vector<TNew> items,
                                                              const TArchiveActor* actor) {
        std::map<std::string, TArchiveDevice> devices;
        for (TNew& n : items) {
            if (n.Device.Serial.empty()) n.Device.Serial = SerialFromTestId(n.Set->TestID);
            if (n.Device.Serial.empty()) continue;
            auto& d = devices[n.Device.Serial];
            d.Serial = n.Device.Serial;
            if (!n.Device.Firmware.empty()) d.Firmware = n.Device.Firmware;
            if (!n.Device.EepromVersion.empty()) d.EepromVersion = n.Device.EepromVersion;
        }
        std::map<std::string, std::int64_t> deviceIds;
        const std::string when = items.empty() ? NowIso() : items.front().Added;
        for (const auto& [serial, d] : devices) deviceIds[serial] = *UpsertDevice(d, when);
        std::sort(items.begin(), items.end(),
                  [](const TNew& a, const TNew& b) { return a.Set->TestID < b.Set->TestID; });

        const bool pg = db_->IsPostgres();
        std::unordered_map<std::string, std::int64_t> ids;
        constexpr std::size_t kChunk = 100;
        for (std::size_t from = 0; from < items.size(); from += kChunk) {
            const std::size_t to = std::min(items.size(), from + kChunk);
            std::string sql =
                "INSERT INTO measurements(test_id, test_name, lot, distr_manu, date_iso, "
                "date_text, voltage, "
                "temperature, comment, patient_id, patient_birth, device_id, device_serial, "
                "source, added, "
                "removed, removed_reason, summary" +
                std::string(pg ? ", search" : "") + ") VALUES ";
            Groups(sql, to - from, pg ? 19 : 18);
            sql += " ON CONFLICT(test_id) DO NOTHING RETURNING id, test_id";
            std::vector<TSqlValue> v;
            for (std::size_t k = from; k < to; ++k) {
                const TNew& n = items[k];
                const TMeasureSet& m = *n.Set;
                const std::string iso = IsoDateTime(m.DateTime);
                const auto dev = deviceIds.find(n.Device.Serial);
                v.insert(v.end(),
                         {m.TestID, m.TestName, m.LotNr, m.Distr_Manu, iso,
                          iso.empty() ? dateDataToNumberText(m.DateTime) : std::string(), m.Voltage,
                          m.Temperature, m.UserComment, m.PatientID, m.PatientBDate,
                          dev != deviceIds.end() ? TSqlValue(dev->second) : TSqlValue(nullptr),
                          n.Device.Serial, ArchiveSourceName(n.Source), n.Added,
                          std::int64_t{n.Removed ? 1 : 0}, n.Reason, ResultsSummary(m)});
                if (pg) v.emplace_back(SearchText(m));
            }
            std::size_t added = 0;
            for (const auto& r : Query(sql, v)) {
                ids[ToText(r[1])] = ToInt(r[0]);
                ++added;
            }
            if (added == 0) continue;

            std::vector<TSqlValue> data, search, results, audit;
            std::size_t resultRows = 0;
            for (std::size_t k = from; k < to; ++k) {
                const TNew& n = items[k];
                const auto it = ids.find(n.Set->TestID);
                if (it == ids.end()) continue;
                const std::int64_t id = it->second;
                TMeasureSet plain = *n.Set;
                plain.CommentEdited = false;
                data.insert(data.end(), {id, TBlob{EncodeSet(plain)}});
                if (!pg) search.insert(search.end(), {id, SearchText(*n.Set)});
                for (std::size_t i = 0; i < n.Set->ResultList.size(); ++i) {
                    const TResultSet& r = n.Set->ResultList[i];
                    const auto num = ResultValueNumber(r.ResultValue);
                    results.insert(results.end(),
                                   {id, static_cast<std::int64_t>(i + 1), r.ResultName,
                                    num ? TSqlValue(*num) : TSqlValue(nullptr), r.ResultValue,
                                    r.UnitName, r.ClassName, r.Validity});
                    ++resultRows;
                }
                if (actor) {
                    audit.insert(audit.end(),
                                 {n.Added, actor->User, actor->Host, actor->Program, actor->Version,
                                  std::string("insert"), id, n.Set->TestID, std::string(),
                                  ArchiveSourceName(n.Source)});
                }
            }
            std::string q = "INSERT INTO measurement_data(measurement_id, data) VALUES ";
            Groups(q, added, 2);
            Query(q, data);
            if (!pg) {
                q = "INSERT INTO measurement_search(rowid, text) VALUES ";
                Groups(q, added, 2);
                Query(q, search);
            }
            // Result rows in pieces small enough for any engine's limit on
            // parameters.
            constexpr std::size_t kRowsPerStatement = 400;
            for (std::size_t r0 = 0; r0 < resultRows; r0 += kRowsPerStatement) {
                const std::size_t r1 = std::min(resultRows, r0 + kRowsPerStatement);
                q = "INSERT INTO results(measurement_id, no, name, value, value_text, unit, class, "
                    "validity) VALUES ";
                Groups(q, r1 - r0, 8);
                Query(q, std::vector<TSqlValue>(
                             results.begin() + static_cast<std::ptrdiff_t>(r0 * 8),
                             results.begin() + static_cast<std::ptrdiff_t>(r1 * 8)));
            }
            if (actor) {
                q = "INSERT INTO audit(time, user_name, host, program, version, action, "
                    "measurement_id, test_id, "
                    "old_value, new_value) VALUES ";
                Groups(q, added, 10);
                Query(q, audit);
            }
        }
        return ids;
    }

    // Inserts one measurement with its result rows; none when another
    // writer inserted the same identity text first.
    std::optional<std::int64_t> InsertMeasurement(const TMeasureSet& s,
                                                  const TArchiveDevice& device,
                                                  EArchiveSource source, const std::string& added,
                                                  bool removed, const std::string& reason) {
        const auto ids = InsertBatch({TNew{&s, device, source, added, removed, reason}}, nullptr);
        const auto it = ids.find(s.TestID);
        if (it == ids.end()) return std::nullopt;
        return it->second;
    }

    EStoreOutcome StoreIn(const TMeasureSet& s, const TArchiveDevice& device, EArchiveSource source,
                          const TArchiveActor& actor, const std::string& now) {
        const std::string select =
            "SELECT id, comment, patient_id, patient_birth FROM measurements WHERE test_id = ?" +
            Lock();
        auto rows = Query(select, {s.TestID});
        if (rows.empty()) {
            if (const auto id = InsertMeasurement(s, device, source, now, false, "")) {
                WriteAudit(actor, now, "insert", *id, s.TestID, "", ArchiveSourceName(source));
                return EStoreOutcome::Added;
            }
            // Another writer stored it between our look and our insert.
            rows = Query(select, {s.TestID});
            if (rows.empty()) {
                throw TArchiveError(
                    EArchiveErrorKind::Failed,
                    "The archive " + Location() + " refused measurement " + s.TestID + ".");
            }
        }
        const std::int64_t id = ToInt(rows[0][0]);
        const std::string comment = ToText(rows[0][1]);
        const std::string patient = ToText(rows[0][2]);
        const std::string birth = ToText(rows[0][3]);
        EStoreOutcome outcome = EStoreOutcome::Unchanged;
        // A set without a comment of its own (read again from the device)
        // keeps the archive's; one the user edited or cleared replaces it.
        const bool newComment = s.CommentEdited
                                    ? s.UserComment != comment
                                    : (!s.UserComment.empty() && s.UserComment != comment);
        if (newComment) {
            ChangeComment(id, s.TestID, comment, s.UserComment, actor, now);
            outcome = EStoreOutcome::Updated;
        }
        const std::string newPatient = s.PatientID.empty() ? patient : s.PatientID;
        const std::string newBirth = s.PatientBDate.empty() ? birth : s.PatientBDate;
        if (newPatient != patient || newBirth != birth) {
            ChangePatient(id, s.TestID, patient, birth, newPatient, newBirth, actor, now);
            outcome = EStoreOutcome::Updated;
        }
        if (outcome == EStoreOutcome::Updated) QueueCorrection(id, actor, now);
        return outcome;
    }

    // The search words follow the comment and the patient id.
    void RefreshSearch(std::int64_t id) {
        const auto rows = Query(
            "SELECT x.data, m.comment, m.patient_id FROM measurements m "
            "JOIN measurement_data x ON x.measurement_id = m.id WHERE m.id = ?",
            {id});
        TMeasureSet s = DecodeSet(ToText(rows.at(0)[0]));
        s.UserComment = ToText(rows[0][1]);
        s.PatientID = ToText(rows[0][2]);
        WriteSearch(id, SearchText(s), false);
    }

    void WriteSearch(std::int64_t id, const std::string& text, bool isNew) {
        if (db_->IsPostgres()) {
            if (!isNew) Query("UPDATE measurements SET search = ? WHERE id = ?", {text, id});
        } else if (isNew) {
            Query("INSERT INTO measurement_search(rowid, text) VALUES (?, ?)", {id, text});
        } else {
            Query("UPDATE measurement_search SET text = ? WHERE rowid = ?", {text, id});
        }
    }

    void ChangeComment(std::int64_t id, const std::string& testId, const std::string& old,
                       const std::string& comment, const TArchiveActor& actor,
                       const std::string& now) {
        Query("UPDATE measurements SET comment = ? WHERE id = ?", {comment, id});
        RefreshSearch(id);
        WriteAudit(actor, now, "comment", id, testId, old, comment);
    }

    void ChangePatient(std::int64_t id, const std::string& testId, const std::string& oldId,
                       const std::string& oldBirth, const std::string& newId,
                       const std::string& newBirth, const TArchiveActor& actor,
                       const std::string& now) {
        Query("UPDATE measurements SET patient_id = ?, patient_birth = ? WHERE id = ?",
              {newId, newBirth, id});
        RefreshSearch(id);
        WriteAudit(actor, now, "patient", id, testId, PatientText(oldId, oldBirth),
                   PatientText(newId, newBirth));
    }

    bool IsControl(std::int64_t id) {
        const auto row = Row(id);
        return row && row->Role == "control";
    }

    static std::size_t CodePoints(const std::string& utf8) {
        std::size_t n = 0;
        for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
        return n;
    }

    static std::string LisColumn(const char* column) {
        return std::string("(SELECT o.") + column +
               " FROM lis_outbox o WHERE o.measurement_id = measurements.id ORDER BY o.id DESC "
               "LIMIT 1)";
    }

    static ELisState LisStateOf(const std::string& name) {
        for (auto s : {ELisState::Waiting, ELisState::Delivered, ELisState::Held})
            if (LisStateName(s) == name) return s;
        return ELisState::None;
    }

    // MSH-10 of a version: the same for every resend of it.
    static std::string ControlIdOf(std::int64_t id, int version) {
        return "KDR-" + std::to_string(id) + "-" + std::to_string(version);
    }

    void QueueVersion(std::int64_t id, int version, bool corrected, const TArchiveActor& actor,
                      const std::string& now) {
        const std::string controlId = ControlIdOf(id, version);
        Query(
            "INSERT INTO lis_outbox(measurement_id, version, corrected, state, queued, changed, "
            "control_id) VALUES (?, ?, ?, 'waiting', ?, ?, ?)",
            {id, std::int64_t{version}, std::int64_t{corrected ? 1 : 0}, now, now, controlId});
        const auto t = Query("SELECT test_id FROM measurements WHERE id = ?", {id});
        WriteAudit(actor, now, "lis-queue", id, t.empty() ? "" : ToText(t[0][0]), "",
                   controlId + (corrected ? " (correction)" : ""));
    }

    // What the LIS holds of a measurement is out of date: its next version
    // goes as a correction. A version still waiting is made from the
    // archive when it leaves and needs none.
    void QueueCorrection(std::int64_t id, const TArchiveActor& actor, const std::string& now) {
        const auto newest = Query(
            "SELECT version, state FROM lis_outbox WHERE measurement_id = ? ORDER BY id DESC "
            "LIMIT 1",
            {id});
        if (newest.empty() || ToText(newest[0][1]) != "delivered") return;
        QueueVersion(id, static_cast<int>(ToInt(newest[0][0])) + 1, true, actor, now);
    }

    void SetLisState(std::int64_t entryId, const std::string& state, const std::string& reason,
                     const TArchiveActor& actor, const std::string& action, const std::string& now,
                     const std::string& auditText = {}) {
        if (Query("UPDATE lis_outbox SET state = ?, reason = ?, changed = ? WHERE id = ? "
                  "RETURNING id",
                  {state, reason, now, entryId})
                .empty())
            NoEntry(entryId);
        LisAudit(actor, now, action, entryId, "o.control_id", "?",
                 {auditText.empty() ? reason : auditText});
    }

    // The audit row of an outbox entry's measurement in one statement: old
    // and new value are SQL over the entry "o" (with their parameters).
    void LisAudit(const TArchiveActor& who, const std::string& now, const std::string& action,
                  std::int64_t entryId, const std::string& oldSql, const std::string& newSql,
                  std::vector<TSqlValue> newParams) {
        std::vector<TSqlValue> params{now, who.User, who.Host, who.Program, who.Version, action};
        if (oldSql.empty()) params.emplace_back(std::string());
        for (auto& p : newParams) params.push_back(std::move(p));
        params.emplace_back(entryId);
        Query(
            "INSERT INTO audit(time, user_name, host, program, version, action, measurement_id, "
            "test_id, old_value, new_value) SELECT ?, ?, ?, ?, ?, ?, o.measurement_id, "
            "m.test_id, " +
                (oldSql.empty() ? std::string("?") : oldSql) + ", " + newSql +
                " FROM lis_outbox o JOIN measurements m ON m.id = o.measurement_id WHERE o.id = ?",
            params);
    }

    [[noreturn]] void NoEntry(std::int64_t entryId) const {
        throw TArchiveError(EArchiveErrorKind::NotFound, "The archive " + Location() +
                                                             " holds no LIS outbox entry " +
                                                             std::to_string(entryId) + ".");
    }

    TLisOutboxEntry LisEntry(std::int64_t entryId) {
        auto rows = LisRows("WHERE o.id = ?", {entryId});
        if (rows.empty()) {
            throw TArchiveError(EArchiveErrorKind::NotFound, "The archive " + Location() +
                                                                 " holds no LIS outbox entry " +
                                                                 std::to_string(entryId) + ".");
        }
        return rows[0];
    }

    std::vector<TLisOutboxEntry> LisRows(const std::string& tail,
                                         const std::vector<TSqlValue>& params) {
        std::vector<TLisOutboxEntry> out;
        for (const auto& r :
             Query("SELECT o.id, o.measurement_id, m.test_id, o.version, o.corrected, o.state, "
                   "o.attempts, o.reason, o.queued, o.changed, o.control_id FROM lis_outbox o JOIN "
                   "measurements m ON m.id = o.measurement_id " +
                       tail,
                   params)) {
            TLisOutboxEntry e;
            e.Id = ToInt(r[0]);
            e.MeasurementId = ToInt(r[1]);
            e.TestId = ToText(r[2]);
            e.Version = static_cast<int>(ToInt(r[3]));
            e.Corrected = ToInt(r[4]) != 0;
            e.State = LisStateOf(ToText(r[5]));
            e.Attempts = static_cast<int>(ToInt(r[6]));
            e.Reason = ToText(r[7]);
            e.Queued = ToText(r[8]);
            e.Changed = ToText(r[9]);
            e.ControlId = ToText(r[10]);
            out.push_back(std::move(e));
        }
        return out;
    }

    std::unique_ptr<ISqlDb> db_;
    mutable TQcStore qc_;  // the role filter reads the materials' prefixes
    bool lisQueueing_ = false;
    bool lisQueueControls_ = true;
};

}  // namespace

std::unique_ptr<IArchive> MakeSqlArchive(std::unique_ptr<ISqlDb> db) {
    return std::make_unique<TSqlArchive>(std::move(db));
}

}  // namespace kyvo::archive_detail
