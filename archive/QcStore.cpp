#include "archive/QcStore.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include "files/ResultExport.h"

namespace kyvo {

namespace {
[[noreturn]] void NoQc() {
    throw TArchiveError(EArchiveErrorKind::Failed, "This archive keeps no quality control.");
}
}  // namespace

std::int64_t IArchive::AddMaterial(const qc::TControlMaterial&, const TArchiveActor&) {
    NoQc();
}
void IArchive::RetireMaterial(const std::string&, const TArchiveActor&) {
    NoQc();
}
std::vector<qc::TControlMaterial> IArchive::Materials() {
    NoQc();
}
void IArchive::SetRole(std::int64_t, const std::string&, const std::string&, const TArchiveActor&) {
    NoQc();
}
TQcOverview IArchive::QcOverview() {
    NoQc();
}
void IArchive::Acknowledge(const qc::TQcViolation&, const std::string&, const TArchiveActor&) {
    NoQc();
}
TQcCopy IArchive::QcCopy() {
    NoQc();
}
void IArchive::InsertQcCopy(const TQcCopy&) {
    NoQc();
}

}  // namespace kyvo

namespace kyvo::archive_detail {

namespace {

constexpr const char* kMaterialColumns =
    "id, name, test, result, lot, level, mean, sd, expires, opened, patient_id_prefix, added, "
    "retired";

double ToDouble(const std::optional<std::string>& v) {
    if (!v) return 0;
    return ResultValueNumber(*v).value_or(0);
}

qc::TControlMaterial MaterialFromRow(const TSqlRow& r) {
    qc::TControlMaterial m;
    m.Id = ToInt(r[0]);
    m.Name = ToText(r[1]);
    m.Test = ToText(r[2]);
    m.Result = ToText(r[3]);
    m.Lot = ToText(r[4]);
    m.Level = static_cast<int>(ToInt(r[5]));
    m.Mean = ToDouble(r[6]);
    m.Sd = ToDouble(r[7]);
    m.Expires = ToText(r[8]);
    m.Opened = ToText(r[9]);
    m.PatientIdPrefix = ToText(r[10]);
    m.Added = ToText(r[11]);
    m.Retired = ToText(r[12]);
    return m;
}

std::string Describe(const qc::TControlMaterial& m) {
    std::ostringstream o;
    o << m.Name << " lot " << m.Lot << ": test " << m.Test << ", result " << m.Result << ", level "
      << m.Level << ", mean " << NumberText(m.Mean) << ", SD " << NumberText(m.Sd);
    if (!m.Expires.empty()) o << ", expires " << m.Expires;
    if (!m.Opened.empty()) o << ", opened " << m.Opened;
    if (!m.PatientIdPrefix.empty()) o << ", patient-id prefix " << m.PatientIdPrefix;
    return o.str();
}

bool IsoTime(const std::string& t) {
    return t.size() >= 19 && qc::IsIsoDay(t.substr(0, 10)) && t[10] == 'T';
}

[[noreturn]] void Bad(const std::string& what) {
    throw TArchiveError(EArchiveErrorKind::BadInput, what);
}

// "?, ?, ?" for n values.
std::string Marks(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += i ? ", ?" : "?";
    return s;
}

}  // namespace

std::vector<std::string> TQcStore::Prefixes() {
    std::vector<std::string> out;
    for (const auto& r : db_.Query("SELECT DISTINCT patient_id_prefix FROM qc_materials WHERE "
                                   "patient_id_prefix <> '' ORDER BY patient_id_prefix",
                                   {}))
        out.push_back(ToText(r[0]));
    return out;
}

std::string TQcStore::ControlSet(const std::vector<std::string>& prefixes,
                                 std::vector<TSqlValue>& params) {
    // From the few marks and prefixes outwards (the prefixes through the
    // index on patient ids), so that a listing tests each row against one
    // set instead of searching for its material.
    std::string sql = "SELECT measurement_id FROM qc_roles WHERE role = 'control'";
    if (prefixes.empty()) return sql;
    sql += " UNION ALL SELECT c.id FROM measurements c WHERE c.patient_id IN (" +
           Marks(prefixes.size()) +
           ") AND EXISTS (SELECT 1 FROM qc_materials q WHERE q.patient_id_prefix = c.patient_id "
           "AND q.test = c.test_name) AND c.id NOT IN (SELECT measurement_id FROM qc_roles)";
    for (const auto& p : prefixes) params.emplace_back(p);
    return sql;
}

std::string TQcStore::RoleTerm(const std::string& role, std::vector<TSqlValue>& params) {
    if (role != "control" && role != "patient")
        Bad("\"" + role + "\" is no role (patient or control).");
    const std::string set = ControlSet(Prefixes(), params);
    return role == "control" ? "id IN (" + set + ")" : "id NOT IN (" + set + ")";
}

std::vector<qc::TControlMaterial> TQcStore::Materials() {
    std::vector<qc::TControlMaterial> out;
    for (const auto& r : db_.Query(
             std::string("SELECT ") + kMaterialColumns + " FROM qc_materials ORDER BY name, id",
             {})) {
        out.push_back(MaterialFromRow(r));
    }
    return out;
}

void TQcStore::WriteAudit(const TArchiveActor& who, const std::string& action,
                          std::optional<std::int64_t> id, const std::string& testId,
                          const std::string& oldValue, const std::string& newValue) {
    db_.Query(
        "INSERT INTO audit(time, user_name, host, program, version, action, measurement_id, "
        "test_id, old_value, new_value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {NowIso(), who.User, who.Host, who.Program, who.Version, action,
         id ? TSqlValue(*id) : TSqlValue(nullptr), testId, oldValue, newValue});
}

std::int64_t TQcStore::AddMaterial(const qc::TControlMaterial& in, const TArchiveActor& actor) {
    if (const std::string why = qc::CheckMaterial(in); !why.empty()) Bad(why);
    const auto known = Materials();
    for (const auto& m : known) {
        if (m.Name == in.Name && m.Lot == in.Lot)
            Bad("The control material " + in.Name + " has a lot " + in.Lot + " already.");
        if (m.Name == in.Name && (m.Test != in.Test || m.Result != in.Result))
            Bad("The control material " + in.Name + " checks " + m.Result + " of " + m.Test +
                "; a new lot of it checks the same.");
        if (!in.PatientIdPrefix.empty() && m.Name != in.Name &&
            m.PatientIdPrefix == in.PatientIdPrefix && m.Test == in.Test)
            Bad("The patient-id prefix " + in.PatientIdPrefix + " names the control material " +
                m.Name + " of " + m.Test + " already.");
    }
    const std::string now = NowIso();
    const auto rows = db_.Query(
        "INSERT INTO qc_materials(name, test, result, lot, level, mean, sd, expires, opened, "
        "patient_id_prefix, added) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        {in.Name, in.Test, in.Result, in.Lot, std::int64_t{in.Level}, in.Mean, in.Sd, in.Expires,
         in.Opened, in.PatientIdPrefix, now});
    const std::int64_t id = ToInt(rows.at(0).at(0));
    WriteAudit(actor, "qc-material", std::nullopt, "", "", "add " + Describe(in));
    return id;
}

void TQcStore::RetireMaterial(const std::string& name, const TArchiveActor& actor) {
    const auto rows = db_.Query(
        "SELECT COUNT(*), SUM(CASE WHEN retired = '' THEN 1 ELSE 0 END) FROM "
        "qc_materials WHERE name = ?",
        {name});
    if (ToInt(rows.at(0).at(0)) == 0)
        throw TArchiveError(EArchiveErrorKind::NotFound,
                            "The archive holds no control material " + name + ".");
    if (ToInt(rows[0][1]) == 0) return;  // retired before
    db_.Query("UPDATE qc_materials SET retired = ? WHERE name = ? AND retired = ''",
              {NowIso(), name});
    WriteAudit(actor, "qc-material", std::nullopt, "", "", "retire " + name);
}

std::string TQcStore::RoleText(std::int64_t id) {
    const auto rows = db_.Query(
        "SELECT r.role, q.name, q.lot FROM qc_roles r LEFT JOIN qc_materials q ON q.id = "
        "r.material_id WHERE r.measurement_id = ?",
        {id});
    if (rows.empty()) return {};
    const std::string role = ToText(rows[0][0]);
    if (role != "control") return role;
    return "control " + ToText(rows[0][1]) + " lot " + ToText(rows[0][2]);
}

bool TQcStore::SetRole(std::int64_t id, const std::string& role, const std::string& material,
                       const TArchiveActor& actor) {
    if (role != "control" && role != "patient" && !role.empty())
        Bad("\"" + role + "\" is no role (control or patient).");
    if (role == "control" && material.empty()) Bad("A control needs its control material.");
    if (role != "control" && !material.empty()) Bad("Only a control names a control material.");
    const auto rows = db_.Query(
        std::string("SELECT test_id, test_name, date_iso FROM measurements WHERE id = ?") +
            (db_.IsPostgres() ? " FOR UPDATE" : ""),
        {id});
    if (rows.empty())
        throw TArchiveError(
            EArchiveErrorKind::NotFound,
            "The archive " + db_.Location() + " holds no measurement " + std::to_string(id) + ".");
    const std::string testId = ToText(rows[0][0]);
    const std::string test = ToText(rows[0][1]);
    std::optional<std::int64_t> materialId;
    if (role == "control") {
        const auto all = Materials();
        const bool any =
            std::any_of(all.begin(), all.end(), [&](const auto& m) { return m.Name == material; });
        if (!any)
            throw TArchiveError(EArchiveErrorKind::NotFound,
                                "The archive holds no control material " + material + ".");
        const bool inUse = std::any_of(all.begin(), all.end(), [&](const auto& m) {
            return m.Name == material && m.Retired.empty();
        });
        if (!inUse) Bad("The control material " + material + " is retired.");
        const qc::TControlMaterial* lot = qc::LotInUse(all, material, ToText(rows[0][2]));
        if (lot->Test != test)
            Bad("Measurement " + std::to_string(id) + " is of " + test + "; the control material " +
                material + " checks " + lot->Test + ".");
        materialId = lot->Id;
    }
    const std::string before = RoleText(id);
    if (role.empty()) {
        db_.Query("DELETE FROM qc_roles WHERE measurement_id = ?", {id});
    } else {
        db_.Query(
            "INSERT INTO qc_roles(measurement_id, role, material_id) VALUES (?, ?, ?) ON "
            "CONFLICT(measurement_id) DO UPDATE SET role = excluded.role, material_id = "
            "excluded.material_id",
            {id, role, materialId ? TSqlValue(*materialId) : TSqlValue(nullptr)});
    }
    const std::string after = RoleText(id);
    if (after == before) return false;
    WriteAudit(actor, "role", id, testId, before, after);
    return true;
}

TQcOverview TQcStore::Overview() {
    TQcOverview o;
    o.Materials = Materials();
    if (o.Materials.empty()) return o;
    std::unordered_map<std::int64_t, const qc::TControlMaterial*> byId;
    for (const auto& m : o.Materials) byId[m.Id] = &m;

    // Marked controls, then those whose patient id is a prefix. The marks
    // are read on their own and their measurements by id, so that no
    // planner walks every measurement to join them; removed ones and those
    // without a calendar date are left out here.
    std::vector<std::pair<std::int64_t, std::int64_t>> marked;
    for (const auto& r :
         db_.Query("SELECT measurement_id, material_id FROM qc_roles WHERE role = 'control'", {})) {
        if (byId.count(ToInt(r[1]))) marked.emplace_back(ToInt(r[0]), ToInt(r[1]));
    }
    for (std::size_t from = 0; from < marked.size(); from += 500) {
        const std::size_t to = std::min(marked.size(), from + 500);
        std::vector<TSqlValue> v;
        std::unordered_map<std::int64_t, std::int64_t> materialOf;
        for (std::size_t i = from; i < to; ++i) {
            v.emplace_back(marked[i].first);
            materialOf[marked[i].first] = marked[i].second;
        }
        for (const auto& r : db_.Query("SELECT id, test_id, date_iso, device_serial, removed FROM "
                                       "measurements WHERE id IN (" +
                                           Marks(to - from) + ")",
                                       v)) {
            if (ToInt(r[4]) != 0 || ToText(r[2]).empty()) continue;
            qc::TControlPoint p;
            p.MeasurementId = ToInt(r[0]);
            p.TestId = ToText(r[1]);
            p.DateTime = ToText(r[2]);
            p.Device = ToText(r[3]);
            p.MaterialId = materialOf[p.MeasurementId];
            o.Points.push_back(std::move(p));
        }
    }
    std::vector<TSqlValue> prefixes;
    for (const auto& p : Prefixes()) prefixes.emplace_back(p);
    const TSqlRows byPrefix =
        prefixes.empty()
            ? TSqlRows{}
            : db_.Query(
                  "SELECT m.id, m.test_id, m.date_iso, m.device_serial, m.patient_id, "
                  "m.test_name, m.removed FROM measurements m WHERE m.patient_id IN (" +
                      Marks(prefixes.size()) +
                      ") AND NOT EXISTS (SELECT 1 FROM qc_roles r WHERE r.measurement_id = "
                      "m.id)",
                  prefixes);
    for (const auto& r : byPrefix) {
        if (ToInt(r[6]) != 0 || ToText(r[2]).empty()) continue;
        const auto* lot = qc::LotByPatientId(o.Materials, ToText(r[4]), ToText(r[5]), ToText(r[2]));
        if (!lot) continue;
        qc::TControlPoint p;
        p.MeasurementId = ToInt(r[0]);
        p.TestId = ToText(r[1]);
        p.DateTime = ToText(r[2]);
        p.Device = ToText(r[3]);
        p.MaterialId = lot->Id;
        o.Points.push_back(std::move(p));
    }
    // The control value: the first result row named as the material's
    // result; a text without a number stays a text. A measurement's rows
    // never change, so they are read once per connection.
    std::vector<std::int64_t> missing;
    for (const auto& p : o.Points) {
        if (!rows_.count(p.MeasurementId)) missing.push_back(p.MeasurementId);
    }
    for (std::size_t from = 0; from < missing.size(); from += 500) {
        const std::size_t to = std::min(missing.size(), from + 500);
        std::vector<TSqlValue> v(missing.begin() + static_cast<std::ptrdiff_t>(from),
                                 missing.begin() + static_cast<std::ptrdiff_t>(to));
        for (std::size_t i = from; i < to; ++i) rows_[missing[i]];
        for (const auto& r : db_.Query("SELECT measurement_id, name, value_text FROM results WHERE "
                                       "measurement_id IN (" +
                                           Marks(to - from) + ") ORDER BY measurement_id, no",
                                       v)) {
            rows_[ToInt(r[0])].emplace_back(ToText(r[1]), ToText(r[2]));
        }
    }
    for (auto& p : o.Points) {
        const std::string& result = byId[p.MaterialId]->Result;
        for (const auto& [name, text] : rows_[p.MeasurementId]) {
            if (name != result) continue;
            p.ValueText = text;
            p.Value = ResultValueNumber(text);
            break;
        }
    }
    std::stable_sort(o.Points.begin(), o.Points.end(), [](const auto& a, const auto& b) {
        return std::tie(a.DateTime, a.MeasurementId) < std::tie(b.DateTime, b.MeasurementId);
    });
    o.Violations = qc::EvaluateWestgard(o.Materials, o.Points);
    for (const auto& r : db_.Query("SELECT rule, material_id, measurement_id, note, time, "
                                   "user_name, host FROM qc_acknowledgements ORDER BY id",
                                   {})) {
        o.Acknowledgements.push_back({ToText(r[0]), ToInt(r[1]), ToInt(r[2]), ToText(r[3]),
                                      ToText(r[4]), ToText(r[5]), ToText(r[6])});
    }
    return o;
}

void TQcStore::Acknowledge(const qc::TQcViolation& v, const std::string& note,
                           const TArchiveActor& actor) {
    if (std::all_of(note.begin(), note.end(), [](unsigned char c) { return std::isspace(c) != 0; }))
        Bad("A violation is acknowledged only with a note.");
    if (v.MeasurementIds.empty()) Bad("A violation names its measurements.");
    const std::int64_t at = v.MeasurementIds.back();
    const auto now = Overview();
    const auto it = std::find_if(now.Violations.begin(), now.Violations.end(), [&](const auto& x) {
        return x.Rule == v.Rule && x.MaterialId == v.MaterialId && !x.MeasurementIds.empty() &&
               x.MeasurementIds.back() == at;
    });
    if (it == now.Violations.end())
        throw TArchiveError(EArchiveErrorKind::NotFound,
                            "The archive shows no " + qc::RuleName(v.Rule) + " violation of " +
                                v.Material + " at measurement " + std::to_string(at) + ".");
    db_.Query(
        "INSERT INTO qc_acknowledgements(rule, material_id, measurement_id, note, time, "
        "user_name, host) VALUES (?, ?, ?, ?, ?, ?, ?)",
        {qc::RuleName(v.Rule), v.MaterialId, at, note, NowIso(), actor.User, actor.Host});
    WriteAudit(actor, "qc-acknowledge", at, it->TestIds.back(), "",
               qc::RuleName(v.Rule) + " " + it->Material + " lot " + it->Lot + ": " + note);
}

TQcCopy TQcStore::Copy() {
    TQcCopy c;
    c.Materials = Materials();
    for (const auto& r : db_.Query(
             "SELECT m.test_id, r.role, q.name, q.lot FROM qc_roles r JOIN measurements m ON "
             "m.id = r.measurement_id LEFT JOIN qc_materials q ON q.id = r.material_id ORDER BY "
             "r.measurement_id",
             {})) {
        c.Marks.push_back({ToText(r[0]), ToText(r[1]), ToText(r[2]), ToText(r[3])});
    }
    for (const auto& r : db_.Query(
             "SELECT a.rule, a.material_id, a.measurement_id, a.note, a.time, a.user_name, a.host, "
             "m.test_id, q.name, q.lot FROM qc_acknowledgements a JOIN measurements m ON m.id = "
             "a.measurement_id JOIN qc_materials q ON q.id = a.material_id ORDER BY a.id",
             {})) {
        c.Notes.push_back({{ToText(r[0]), ToInt(r[1]), ToInt(r[2]), ToText(r[3]), ToText(r[4]),
                            ToText(r[5]), ToText(r[6])},
                           ToText(r[7]),
                           ToText(r[8]),
                           ToText(r[9])});
    }
    for (const auto& r : db_.Query(
             "SELECT id, time, user_name, host, program, version, action, test_id, old_value, "
             "new_value FROM audit WHERE measurement_id IS NULL AND action = 'qc-material' ORDER "
             "BY id",
             {})) {
        TAuditEntry a;
        a.Id = ToInt(r[0]);
        a.Time = ToText(r[1]);
        a.User = ToText(r[2]);
        a.Host = ToText(r[3]);
        a.Program = ToText(r[4]);
        a.Version = ToText(r[5]);
        a.Action = ToText(r[6]);
        a.TestId = ToText(r[7]);
        a.OldValue = ToText(r[8]);
        a.NewValue = ToText(r[9]);
        c.MaterialAudit.push_back(std::move(a));
    }
    return c;
}

void TQcStore::InsertCopy(const TQcCopy& c) {
    std::set<std::pair<std::string, std::string>> known;
    for (const auto& m : Materials()) known.insert({m.Name, m.Lot});
    std::set<std::pair<std::string, std::string>> added;
    std::set<std::string> retired;
    for (const auto& m : c.Materials) {
        if (!known.insert({m.Name, m.Lot}).second) continue;
        db_.Query(
            "INSERT INTO qc_materials(name, test, result, lot, level, mean, sd, expires, opened, "
            "patient_id_prefix, added, retired) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {m.Name, m.Test, m.Result, m.Lot, std::int64_t{m.Level}, m.Mean, m.Sd, m.Expires,
             m.Opened, m.PatientIdPrefix, m.Added, m.Retired});
        added.insert({m.Name, m.Lot});
        if (!m.Retired.empty()) retired.insert(m.Name);
    }
    // The materials' own audit rows go along with the materials they tell of.
    for (const auto& a : c.MaterialAudit) {
        bool theirs = a.NewValue.rfind("retire ", 0) == 0 && retired.count(a.NewValue.substr(7));
        for (const auto& [name, lot] : added)
            theirs = theirs || a.NewValue.rfind("add " + name + " lot " + lot + ":", 0) == 0;
        if (!theirs) continue;
        db_.Query(
            "INSERT INTO audit(time, user_name, host, program, version, action, measurement_id, "
            "test_id, old_value, new_value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {a.Time, a.User, a.Host, a.Program, a.Version, a.Action, nullptr, a.TestId, a.OldValue,
             a.NewValue});
    }
    auto measurement = [&](const std::string& testId) -> std::optional<std::int64_t> {
        const auto rows = db_.Query("SELECT id FROM measurements WHERE test_id = ?", {testId});
        if (rows.empty()) return std::nullopt;
        return ToInt(rows[0][0]);
    };
    auto material = [&](const std::string& name,
                        const std::string& lot) -> std::optional<std::int64_t> {
        const auto rows =
            db_.Query("SELECT id FROM qc_materials WHERE name = ? AND lot = ?", {name, lot});
        if (rows.empty()) return std::nullopt;
        return ToInt(rows[0][0]);
    };
    std::size_t marks = 0;
    for (const auto& k : c.Marks) {
        const auto id = measurement(k.TestId);
        if (!id) continue;
        std::optional<std::int64_t> mat;
        if (k.Role == "control" && !(mat = material(k.Material, k.Lot))) continue;
        marks += db_.Query(
                        "INSERT INTO qc_roles(measurement_id, role, material_id) VALUES (?, ?, ?) "
                        "ON CONFLICT(measurement_id) DO NOTHING RETURNING measurement_id",
                        {*id, k.Role, mat ? TSqlValue(*mat) : TSqlValue(nullptr)})
                     .size();
    }
    std::size_t notes = 0;
    for (const auto& n : c.Notes) {
        const auto id = measurement(n.TestId);
        const auto mat = material(n.Material, n.Lot);
        if (!id || !mat) continue;
        const std::vector<TSqlValue> key = {n.Note.Rule, *mat, *id, n.Note.Time, n.Note.Note};
        if (!db_.Query("SELECT 1 FROM qc_acknowledgements WHERE rule = ? AND material_id = ? AND "
                       "measurement_id = ? AND time = ? AND note = ?",
                       key)
                 .empty())
            continue;
        db_.Query(
            "INSERT INTO qc_acknowledgements(rule, material_id, measurement_id, note, time, "
            "user_name, host) VALUES (?, ?, ?, ?, ?, ?, ?)",
            {n.Note.Rule, *mat, *id, n.Note.Note, n.Note.Time, n.Note.User, n.Note.Host});
        ++notes;
    }
    // Whoever watches the archive learns of the change through the audit
    // trail, as of any other.
    if (!added.empty() || marks || notes) {
        WriteAudit(DefaultActor("archive copy", ""), "qc-copy", std::nullopt, "", "",
                   std::to_string(added.size()) + " material lots, " + std::to_string(marks) +
                       " marks, " + std::to_string(notes) + " acknowledgements");
    }
}

const TQcStore::TState& TQcStore::State() {
    const std::int64_t stamp = db_.ChangeStamp();
    if (stamp != state_.Stamp) {
        TQcOverview o = Overview();
        state_.Lockout = qc::TQcLockout(o.Materials, o.Points, o.Violations);
        state_.Materials = std::move(o.Materials);
        state_.Stamp = stamp;
    }
    return state_;
}

void TQcStore::Annotate(std::vector<TArchiveRow>& rows) {
    if (rows.empty()) return;
    const TState& s = State();
    std::unordered_map<std::int64_t, std::pair<std::string, std::string>> marks;
    for (std::size_t from = 0; from < rows.size(); from += 500) {
        const std::size_t to = std::min(rows.size(), from + 500);
        std::vector<TSqlValue> v;
        for (std::size_t i = from; i < to; ++i) v.emplace_back(rows[i].Id);
        for (const auto& r : db_.Query(
                 "SELECT r.measurement_id, r.role, q.name FROM qc_roles r LEFT JOIN qc_materials "
                 "q ON q.id = r.material_id WHERE r.measurement_id IN (" +
                     Marks(to - from) + ")",
                 v)) {
            marks[ToInt(r[0])] = {ToText(r[1]), ToText(r[2])};
        }
    }
    for (TArchiveRow& row : rows) {
        const bool iso = IsoTime(row.DateTime);
        if (const auto m = marks.find(row.Id); m != marks.end()) {
            row.Role = m->second.first;
            if (row.Role == "control") row.ControlMaterial = m->second.second;
        } else if (const auto* lot = qc::LotByPatientId(s.Materials, row.PatientId, row.TestName,
                                                        iso ? row.DateTime : std::string())) {
            row.Role = "control";
            row.ControlMaterial = lot->Name;
        }
        if (row.Role != "control" && iso)
            row.QcFailed = s.Lockout.Failed(row.TestName, row.DeviceSerial, row.DateTime);
    }
}

}  // namespace kyvo::archive_detail
