// The shared server: libpq with the user's own ~/.pgpass and PGSERVICE for
// passwords, a schema_version table, NOTIFY in every writing transaction and
// a connection that notices when the server went away.
#include <libpq-fe.h>
#include <poll.h>

#include <charconv>
#include <chrono>
#include <cstring>

#include "archive/ArchiveInternal.h"

namespace kyvo::archive_detail {
namespace {

constexpr Oid kByteaOid = 17;
constexpr const char* kChannel = "kyvo_archive";

const char* const kPostgresSteps[] = {
    // 1: the first schema. Texts sort bytewise ("C"), as in SQLite, so that
    // both engines list in the same order.
    R"sql(
CREATE TABLE devices(
  id BIGSERIAL PRIMARY KEY,
  serial TEXT COLLATE "C" NOT NULL UNIQUE,
  firmware TEXT NOT NULL DEFAULT '',
  eeprom_version TEXT NOT NULL DEFAULT '',
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL);
CREATE TABLE measurements(
  id BIGSERIAL PRIMARY KEY,
  test_id TEXT COLLATE "C" NOT NULL UNIQUE,
  test_name TEXT COLLATE "C" NOT NULL,
  lot TEXT COLLATE "C" NOT NULL,
  distr_manu TEXT NOT NULL,
  date_iso TEXT COLLATE "C" NOT NULL,
  date_text TEXT NOT NULL,
  voltage TEXT NOT NULL,
  temperature TEXT NOT NULL,
  comment TEXT COLLATE "C" NOT NULL,
  patient_id TEXT COLLATE "C" NOT NULL,
  patient_birth TEXT NOT NULL,
  device_id BIGINT REFERENCES devices(id),
  device_serial TEXT COLLATE "C" NOT NULL,
  source TEXT NOT NULL,
  added TEXT NOT NULL,
  removed INTEGER NOT NULL DEFAULT 0,
  removed_reason TEXT NOT NULL DEFAULT '',
  summary TEXT NOT NULL,
  search TEXT COLLATE "C" NOT NULL);
CREATE TABLE measurement_data(
  measurement_id BIGINT PRIMARY KEY REFERENCES measurements(id),
  data BYTEA NOT NULL);
CREATE TABLE results(
  measurement_id BIGINT NOT NULL REFERENCES measurements(id),
  no INTEGER NOT NULL,
  name TEXT COLLATE "C" NOT NULL,
  value DOUBLE PRECISION,
  value_text TEXT NOT NULL,
  unit TEXT NOT NULL,
  class TEXT NOT NULL,
  validity TEXT NOT NULL,
  PRIMARY KEY(measurement_id, no));
CREATE TABLE audit(
  id BIGSERIAL PRIMARY KEY,
  time TEXT NOT NULL,
  user_name TEXT NOT NULL,
  host TEXT NOT NULL,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  action TEXT NOT NULL,
  measurement_id BIGINT,
  test_id TEXT NOT NULL,
  old_value TEXT NOT NULL,
  new_value TEXT NOT NULL);
CREATE INDEX measurements_date ON measurements(date_iso, id);
-- The default listing (by date, removed ones hidden) walks this one; the
-- planner needs no statistics to see that it holds just the rows wanted,
-- which matters right after a bulk import.
CREATE INDEX measurements_date_shown ON measurements(date_iso, id) WHERE removed = 0;
CREATE INDEX measurements_test ON measurements(test_name, date_iso, id);
CREATE INDEX measurements_lot ON measurements(lot, date_iso, id);
CREATE INDEX measurements_device ON measurements(device_serial, date_iso, id);
CREATE INDEX measurements_comment ON measurements(comment, id);
CREATE INDEX measurements_patient ON measurements(patient_id, id);
CREATE INDEX results_name ON results(name);
CREATE INDEX audit_measurement ON audit(measurement_id, id);
CREATE FUNCTION kyvo_refuse() RETURNS trigger LANGUAGE plpgsql AS
  $$BEGIN RAISE EXCEPTION '%', TG_ARGV[0]; END$$;
CREATE TRIGGER audit_append_only BEFORE UPDATE OR DELETE ON audit
  FOR EACH ROW EXECUTE FUNCTION kyvo_refuse('the audit trail is append-only');
CREATE TRIGGER measurements_no_delete BEFORE DELETE ON measurements
  FOR EACH ROW EXECUTE FUNCTION kyvo_refuse('measurements are removed, never deleted');
)sql",
    // 2: the LIS outbox, one row per version of a measurement's message.
    R"sql(
CREATE TABLE lis_outbox(
  id BIGSERIAL PRIMARY KEY,
  measurement_id BIGINT NOT NULL REFERENCES measurements(id),
  version INTEGER NOT NULL,
  corrected INTEGER NOT NULL DEFAULT 0,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '',
  queued TEXT NOT NULL,
  changed TEXT NOT NULL DEFAULT '',
  control_id TEXT NOT NULL,
  UNIQUE(measurement_id, version));
CREATE INDEX lis_outbox_state ON lis_outbox(state, id);
CREATE INDEX lis_outbox_measurement ON lis_outbox(measurement_id, id);
)sql",
    // 3: quality control: control materials (one row per lot), the role a
    // person gave a measurement, and notes on violations.
    R"sql(
CREATE TABLE qc_materials(
  id BIGSERIAL PRIMARY KEY,
  name TEXT COLLATE "C" NOT NULL,
  test TEXT COLLATE "C" NOT NULL,
  result TEXT COLLATE "C" NOT NULL,
  lot TEXT COLLATE "C" NOT NULL,
  level INTEGER NOT NULL,
  mean DOUBLE PRECISION NOT NULL,
  sd DOUBLE PRECISION NOT NULL,
  expires TEXT NOT NULL,
  opened TEXT NOT NULL,
  patient_id_prefix TEXT COLLATE "C" NOT NULL,
  added TEXT NOT NULL,
  retired TEXT NOT NULL DEFAULT '',
  UNIQUE(name, lot));
CREATE INDEX qc_materials_prefix ON qc_materials(patient_id_prefix, test);
CREATE TABLE qc_roles(
  measurement_id BIGINT PRIMARY KEY REFERENCES measurements(id),
  role TEXT NOT NULL,
  material_id BIGINT REFERENCES qc_materials(id));
CREATE INDEX qc_roles_role ON qc_roles(role, measurement_id);
CREATE TABLE qc_acknowledgements(
  id BIGSERIAL PRIMARY KEY,
  rule TEXT NOT NULL,
  material_id BIGINT NOT NULL REFERENCES qc_materials(id),
  measurement_id BIGINT NOT NULL REFERENCES measurements(id),
  note TEXT NOT NULL,
  time TEXT NOT NULL,
  user_name TEXT NOT NULL,
  host TEXT NOT NULL);
CREATE INDEX qc_acknowledgements_measurement ON qc_acknowledgements(measurement_id);
CREATE TRIGGER qc_acknowledgements_kept BEFORE UPDATE OR DELETE ON qc_acknowledgements
  FOR EACH ROW EXECUTE FUNCTION kyvo_refuse('acknowledgements are kept as written');
CREATE TRIGGER qc_materials_no_delete BEFORE DELETE ON qc_materials
  FOR EACH ROW EXECUTE FUNCTION kyvo_refuse('materials are retired, never deleted');
)sql",
};
static_assert(std::size(kPostgresSteps) == kSchemaVersion);

// The URI as it may be shown and kept: without a password.
std::string WithoutPassword(const std::string& uri) {
    std::string out = uri;
    const auto scheme = out.find("://");
    if (scheme != std::string::npos) {
        const auto start = scheme + 3;
        const auto end = out.find_first_of("/?", start);
        const auto at = out.rfind('@', end == std::string::npos ? out.size() : end);
        if (at != std::string::npos && at >= start) {
            const auto colon = out.find(':', start);
            if (colon != std::string::npos && colon < at) out.erase(colon, at - colon);
        }
    }
    for (const char* key : {"?password=", "&password="}) {
        const auto p = out.find(key);
        if (p == std::string::npos) continue;
        const auto e = out.find('&', p + 1);
        out.erase(p + (key[0] == '?' ? 1 : 0), e == std::string::npos ? std::string::npos : e - p);
    }
    if (!out.empty() && (out.back() == '?' || out.back() == '&')) out.pop_back();
    return out;
}

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

class TPostgresDb : public ISqlDb {
  public:
    explicit TPostgresDb(const std::string& uri) : uri_(uri), location_(WithoutPassword(uri)) {
        const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char* values[] = {"10", "kyvo-data-reader", uri.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = conn_ ? Trim(PQerrorMessage(conn_)) : "out of memory";
            if (conn_) PQfinish(conn_);
            conn_ = nullptr;
            throw TArchiveError(EArchiveErrorKind::Unreachable,
                                "The archive " + location_ + " cannot be reached: " + why);
        }
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }
    ~TPostgresDb() override {
        if (conn_) PQfinish(conn_);
    }

    bool IsPostgres() const override { return true; }
    std::string Location() const override { return location_; }

    TSqlRows Query(const std::string& sql, const std::vector<TSqlValue>& params) override {
        if (!inTx_) EnsureConnected();
        std::string numbered;
        numbered.reserve(sql.size() + 16);
        int n = 0;
        for (char c : sql) {
            if (c == '?') {
                numbered += '$' + std::to_string(++n);
            } else {
                numbered += c;
            }
        }
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        std::vector<int> lengths(params.size(), 0);
        std::vector<int> formats(params.size(), 0);
        std::vector<Oid> types(params.size(), 0);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const TSqlValue& v = params[i];
            if (std::holds_alternative<std::nullptr_t>(v)) continue;
            if (auto* iv = std::get_if<std::int64_t>(&v)) {
                texts[i] = std::to_string(*iv);
            } else if (auto* dv = std::get_if<double>(&v)) {
                char buf[64];
                auto r = std::to_chars(buf, buf + sizeof buf, *dv);
                texts[i].assign(buf, r.ptr);
            } else if (auto* sv = std::get_if<std::string>(&v)) {
                texts[i] = *sv;
            } else {
                texts[i] = std::get<TBlob>(v).Bytes;
                formats[i] = 1;
                types[i] = kByteaOid;
            }
            values[i] = texts[i].data();
            lengths[i] = static_cast<int>(texts[i].size());
        }
        // Without parameters the plain protocol, which also runs several
        // statements at once (the migration steps).
        PGresult* res =
            params.empty()
                ? PQexec(conn_, sql.c_str())
                : PQexecParams(conn_, numbered.c_str(), static_cast<int>(params.size()),
                               types.data(), values.data(), lengths.data(), formats.data(), 0);
        std::unique_ptr<PGresult, void (*)(PGresult*)> guard(res, PQclear);
        const auto st = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) Fail(res);
        TSqlRows rows;
        const int nr = PQntuples(res);
        const int nc = PQnfields(res);
        rows.reserve(static_cast<std::size_t>(nr));
        for (int r = 0; r < nr; ++r) {
            TSqlRow row(static_cast<std::size_t>(nc));
            for (int c = 0; c < nc; ++c) {
                if (PQgetisnull(res, r, c)) continue;
                const char* p = PQgetvalue(res, r, c);
                const std::size_t len = static_cast<std::size_t>(PQgetlength(res, r, c));
                if (PQftype(res, c) == kByteaOid && len >= 2 && p[0] == '\\' && p[1] == 'x') {
                    std::string bytes((len - 2) / 2, '\0');
                    for (std::size_t k = 0; k < bytes.size(); ++k) {
                        bytes[k] =
                            static_cast<char>(HexValue(p[2 + 2 * k]) * 16 + HexValue(p[3 + 2 * k]));
                    }
                    row[static_cast<std::size_t>(c)] = std::move(bytes);
                } else {
                    row[static_cast<std::size_t>(c)] = std::string(p, len);
                }
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    void Begin() override {
        EnsureConnected();
        Query("BEGIN", {});
        inTx_ = true;
    }
    void Commit() override {
        Query("COMMIT", {});
        inTx_ = false;
    }
    void Rollback() noexcept override {
        inTx_ = false;
        if (conn_ && PQstatus(conn_) == CONNECTION_OK &&
            PQtransactionStatus(conn_) != PQTRANS_IDLE) {
            PQclear(PQexec(conn_, "ROLLBACK"));
        }
    }

    int Migrate() override {
        // Look before touching: a newer schema is refused before anything
        // is written, and a database of something else is left alone.
        if (const int v = StoredVersion(); v > kSchemaVersion) RefuseNewer(v);
        Begin();
        try {
            // One migrating program at a time; the others wait and then
            // find the work done.
            Query("SELECT pg_advisory_xact_lock(4947267361)", {});
            const int v = StoredVersion();
            if (v > kSchemaVersion) RefuseNewer(v);
            if (v == 0) {
                if (!Query("SELECT to_regclass('measurements')", {})
                         .at(0)
                         .at(0)
                         .value_or("")
                         .empty()) {
                    throw TArchiveError(
                        EArchiveErrorKind::NotAnArchive,
                        "The database " + location_ + " holds other tables, not an archive.");
                }
                Query("CREATE TABLE schema_version(version INTEGER NOT NULL)", {});
                Query("INSERT INTO schema_version(version) VALUES (0)", {});
            }
            for (int step = v; step < kSchemaVersion; ++step) {
                Query(kPostgresSteps[step], {});
                if (step == 0) AddTrigramIndex();
            }
            if (v < kSchemaVersion)
                Query("UPDATE schema_version SET version = ?", {std::int64_t{kSchemaVersion}});
            Commit();
        } catch (...) {
            Rollback();
            throw;
        }
        return kSchemaVersion;
    }

    void Announce() override { Query(std::string("NOTIFY ") + kChannel, {}); }

    std::int64_t ChangeStamp() override {
        return ToInt(Query("SELECT COALESCE(MAX(id), 0) FROM audit", {}).at(0).at(0));
    }

    std::int64_t WaitForChange(std::int64_t since, int timeoutMs) override {
        if (!listening_) {
            Query(std::string("LISTEN ") + kChannel, {});
            listening_ = true;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            Drain();
            const std::int64_t now = ChangeStamp();
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (now != since || left <= 0) return now;
            pollfd pfd{PQsocket(conn_), POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(left));
            if (!PQconsumeInput(conn_)) Fail(nullptr);
        }
    }

    void EngineCheck(std::vector<std::string>& problems) override {
        const auto n = ToInt(Query("SELECT COUNT(*) FROM schema_version", {}).at(0).at(0));
        if (n != 1)
            problems.push_back("The schema_version table holds " + std::to_string(n) +
                               " rows instead of one.");
    }

    // A session lock: the server drops it with the connection of a sender
    // that died or lost its network.
    bool TryLockSender() override {
        if (HoldsSender()) return true;
        held_ = Query("SELECT pg_try_advisory_lock(?)", {kSenderLockKey}).at(0).at(0) == "t";
        return held_;
    }
    void UnlockSender() override {
        if (!held_) return;
        held_ = false;
        if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE)
            PQclear(PQexec(conn_, "SELECT pg_advisory_unlock(4947267362)"));
    }
    bool HoldsSender() override { return held_ && PQstatus(conn_) == CONNECTION_OK; }

  private:
    static constexpr std::int64_t kSenderLockKey = 4947267362;

    void Drain() {
        PQconsumeInput(conn_);
        while (PGnotify* n = PQnotifies(conn_)) PQfreemem(n);
    }

    int StoredVersion() {
        if (Query("SELECT to_regclass('schema_version')", {}).at(0).at(0).value_or("").empty())
            return 0;
        const auto rows = Query("SELECT MAX(version) FROM schema_version", {});
        return static_cast<int>(ToInt(rows.at(0).at(0)));
    }

    // Words inside texts are found through trigrams where the server has
    // the extension (Debian's postgresql package does); without it the
    // search scans, which is slower but the same.
    void AddTrigramIndex() {
        if (Query("SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm'", {}).empty())
            return;
        Query("SAVEPOINT trigram", {});
        try {
            Query("CREATE EXTENSION IF NOT EXISTS pg_trgm", {});
            Query(
                "CREATE INDEX measurements_search ON measurements USING gin (search gin_trgm_ops)",
                {});
            Query("RELEASE SAVEPOINT trigram", {});
        } catch (const TArchiveError&) {
            if (PQstatus(conn_) != CONNECTION_OK) throw;
            Query("ROLLBACK TO SAVEPOINT trigram", {});
        }
    }

    [[noreturn]] void RefuseNewer(int version) {
        throw TArchiveError(EArchiveErrorKind::NewerSchema,
                            "The archive " + location_ +
                                " was made by a newer version of the program (schema " +
                                std::to_string(version) + ", this program knows up to " +
                                std::to_string(kSchemaVersion) + "); it is left untouched.");
    }

    // A connection the server dropped is renewed once per operation; a
    // server still away is reported as unreachable.
    void EnsureConnected() {
        if (PQstatus(conn_) == CONNECTION_OK) return;
        PQreset(conn_);
        listening_ = false;
        // A new session holds none of the old one's locks.
        held_ = false;
        if (PQstatus(conn_) != CONNECTION_OK) {
            throw TArchiveError(
                EArchiveErrorKind::Unreachable,
                "The archive " + location_ + " cannot be reached: " + Trim(PQerrorMessage(conn_)));
        }
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }

    [[noreturn]] void Fail(PGresult* res) {
        const std::string why = Trim(PQerrorMessage(conn_));
        const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        if (PQstatus(conn_) != CONNECTION_OK || code.rfind("08", 0) == 0 ||
            code.rfind("57P", 0) == 0 || code.rfind("28", 0) == 0) {
            inTx_ = false;
            throw TArchiveError(EArchiveErrorKind::Unreachable,
                                "The archive " + location_ + " cannot be reached: " + why);
        }
        if (code == "40P01" || code == "40001") {
            throw TArchiveRetry(EArchiveErrorKind::Failed,
                                "The archive " + location_ + " failed: " + why);
        }
        throw TArchiveError(EArchiveErrorKind::Failed,
                            "The archive " + location_ + " failed: " + why);
    }

    std::string uri_;
    std::string location_;
    PGconn* conn_ = nullptr;
    bool inTx_ = false;
    bool listening_ = false;
    bool held_ = false;
};

}  // namespace

std::unique_ptr<ISqlDb> OpenPostgresDb(const std::string& uri) {
    auto db = std::make_unique<TPostgresDb>(uri);
    db->Migrate();
    return db;
}

}  // namespace kyvo::archive_detail
