// The embedded engine: one file, WAL so that readers never wait for a
// writer, a busy time-out so that several writers queue instead of failing,
// and BEGIN IMMEDIATE so that a writer takes the lock before it reads what
// it will decide on.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unordered_map>

#include "archive/ArchiveInternal.h"

namespace kyvo::archive_detail {
namespace {

constexpr int kBusyTimeoutMs = 10000;

const char* const kSqliteSteps[] = {
    // 1: the first schema.
    R"sql(
CREATE TABLE devices(
  id INTEGER PRIMARY KEY,
  serial TEXT NOT NULL UNIQUE,
  firmware TEXT NOT NULL DEFAULT '',
  eeprom_version TEXT NOT NULL DEFAULT '',
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL);
CREATE TABLE measurements(
  id INTEGER PRIMARY KEY,
  test_id TEXT NOT NULL UNIQUE,
  test_name TEXT NOT NULL,
  lot TEXT NOT NULL,
  distr_manu TEXT NOT NULL,
  date_iso TEXT NOT NULL,
  date_text TEXT NOT NULL,
  voltage TEXT NOT NULL,
  temperature TEXT NOT NULL,
  comment TEXT NOT NULL,
  patient_id TEXT NOT NULL,
  patient_birth TEXT NOT NULL,
  device_id INTEGER REFERENCES devices(id),
  device_serial TEXT NOT NULL,
  source TEXT NOT NULL,
  added TEXT NOT NULL,
  removed INTEGER NOT NULL DEFAULT 0,
  removed_reason TEXT NOT NULL DEFAULT '',
  summary TEXT NOT NULL);
CREATE TABLE measurement_data(
  measurement_id INTEGER PRIMARY KEY REFERENCES measurements(id),
  data BLOB NOT NULL);
CREATE VIRTUAL TABLE measurement_search USING fts5(text, tokenize = 'trigram case_sensitive 1');
CREATE TABLE results(
  measurement_id INTEGER NOT NULL REFERENCES measurements(id),
  no INTEGER NOT NULL,
  name TEXT NOT NULL,
  value REAL,
  value_text TEXT NOT NULL,
  unit TEXT NOT NULL,
  class TEXT NOT NULL,
  validity TEXT NOT NULL,
  PRIMARY KEY(measurement_id, no));
CREATE TABLE audit(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  time TEXT NOT NULL,
  user_name TEXT NOT NULL,
  host TEXT NOT NULL,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  action TEXT NOT NULL,
  measurement_id INTEGER,
  test_id TEXT NOT NULL,
  old_value TEXT NOT NULL,
  new_value TEXT NOT NULL);
CREATE INDEX measurements_date ON measurements(date_iso, id);
CREATE INDEX measurements_test ON measurements(test_name, date_iso, id);
CREATE INDEX measurements_lot ON measurements(lot, date_iso, id);
CREATE INDEX measurements_device ON measurements(device_serial, date_iso, id);
CREATE INDEX measurements_removed ON measurements(removed);
CREATE INDEX measurements_comment ON measurements(comment, id);
CREATE INDEX measurements_patient ON measurements(patient_id, id);
CREATE INDEX results_name ON results(name);
CREATE INDEX audit_measurement ON audit(measurement_id, id);
CREATE TRIGGER audit_no_update BEFORE UPDATE ON audit
  BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER audit_no_delete BEFORE DELETE ON audit
  BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END;
CREATE TRIGGER measurements_no_delete BEFORE DELETE ON measurements
  BEGIN SELECT RAISE(ABORT, 'measurements are removed, never deleted'); END;
)sql",
    // 2: the LIS outbox, one row per version of a measurement's message.
    R"sql(
CREATE TABLE lis_outbox(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  measurement_id INTEGER NOT NULL REFERENCES measurements(id),
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
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  test TEXT NOT NULL,
  result TEXT NOT NULL,
  lot TEXT NOT NULL,
  level INTEGER NOT NULL,
  mean REAL NOT NULL,
  sd REAL NOT NULL,
  expires TEXT NOT NULL,
  opened TEXT NOT NULL,
  patient_id_prefix TEXT NOT NULL,
  added TEXT NOT NULL,
  retired TEXT NOT NULL DEFAULT '',
  UNIQUE(name, lot));
CREATE INDEX qc_materials_prefix ON qc_materials(patient_id_prefix, test);
CREATE TABLE qc_roles(
  measurement_id INTEGER PRIMARY KEY REFERENCES measurements(id),
  role TEXT NOT NULL,
  material_id INTEGER REFERENCES qc_materials(id));
CREATE INDEX qc_roles_role ON qc_roles(role, measurement_id);
CREATE TABLE qc_acknowledgements(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  rule TEXT NOT NULL,
  material_id INTEGER NOT NULL REFERENCES qc_materials(id),
  measurement_id INTEGER NOT NULL REFERENCES measurements(id),
  note TEXT NOT NULL,
  time TEXT NOT NULL,
  user_name TEXT NOT NULL,
  host TEXT NOT NULL);
CREATE INDEX qc_acknowledgements_measurement ON qc_acknowledgements(measurement_id);
CREATE TRIGGER qc_acknowledgements_no_update BEFORE UPDATE ON qc_acknowledgements
  BEGIN SELECT RAISE(ABORT, 'acknowledgements are kept as written'); END;
CREATE TRIGGER qc_acknowledgements_no_delete BEFORE DELETE ON qc_acknowledgements
  BEGIN SELECT RAISE(ABORT, 'acknowledgements are kept as written'); END;
CREATE TRIGGER qc_materials_no_delete BEFORE DELETE ON qc_materials
  BEGIN SELECT RAISE(ABORT, 'materials are retired, never deleted'); END;
)sql",
};
static_assert(std::size(kSqliteSteps) == kSchemaVersion);

class TSqliteDb : public ISqlDb {
  public:
    explicit TSqliteDb(std::string path) : path_(std::move(path)) {
        // A refused file (newer, foreign, unreadable) throws from here, where
        // no destructor runs: the connection is closed on the way out.
        try {
            Open();
        } catch (...) {
            Close();
            throw;
        }
    }
    ~TSqliteDb() override { Close(); }

    // An exclusive flock on a file beside the archive: the kernel drops it
    // with the process, however it ends, and it keeps two connections of
    // one process apart as well (each opens the file on its own).
    bool TryLockSender() override {
        if (lockFd_ >= 0) return true;
        const std::string lockPath = path_ + ".lis-lock";
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw TArchiveError(
                EArchiveErrorKind::Unreachable,
                "The sender lock " + lockPath + " cannot be opened: " + std::strerror(errno));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        lockFd_ = fd;
        return true;
    }
    void UnlockSender() override {
        if (lockFd_ >= 0) ::close(lockFd_);
        lockFd_ = -1;
    }
    bool HoldsSender() override { return lockFd_ >= 0; }

    void Close() noexcept {
        if (lockFd_ >= 0) ::close(lockFd_);
        lockFd_ = -1;
        for (auto& [sql, st] : stmts_) sqlite3_finalize(st);
        stmts_.clear();
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    bool IsPostgres() const override { return false; }
    std::string Location() const override { return "sqlite:" + path_; }

    TSqlRows Query(const std::string& sql, const std::vector<TSqlValue>& params) override {
        sqlite3_stmt* st = Prepare(sql);
        struct TResetter {
            sqlite3_stmt* s;
            ~TResetter() {
                sqlite3_reset(s);
                sqlite3_clear_bindings(s);
            }
        } resetter{st};
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int n = static_cast<int>(i + 1);
            int rc = SQLITE_OK;
            const TSqlValue& v = params[i];
            if (std::holds_alternative<std::nullptr_t>(v)) {
                rc = sqlite3_bind_null(st, n);
            } else if (auto* iv = std::get_if<std::int64_t>(&v)) {
                rc = sqlite3_bind_int64(st, n, *iv);
            } else if (auto* dv = std::get_if<double>(&v)) {
                rc = sqlite3_bind_double(st, n, *dv);
            } else if (auto* sv = std::get_if<std::string>(&v)) {
                rc = sqlite3_bind_text(st, n, sv->data(), static_cast<int>(sv->size()),
                                       SQLITE_TRANSIENT);
            } else {
                const auto& b = std::get<TBlob>(v).Bytes;
                rc = sqlite3_bind_blob(st, n, b.data(), static_cast<int>(b.size()),
                                       SQLITE_TRANSIENT);
            }
            if (rc != SQLITE_OK) Fail(rc, "");
        }
        TSqlRows rows;
        for (;;) {
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) Fail(rc, "");
            const int cols = sqlite3_column_count(st);
            TSqlRow row(static_cast<std::size_t>(cols));
            for (int c = 0; c < cols; ++c) {
                const int type = sqlite3_column_type(st, c);
                if (type == SQLITE_NULL) continue;
                if (type == SQLITE_BLOB) {
                    const void* p = sqlite3_column_blob(st, c);
                    const int len = sqlite3_column_bytes(st, c);
                    row[static_cast<std::size_t>(c)] =
                        std::string(static_cast<const char*>(p), static_cast<std::size_t>(len));
                } else {
                    const auto* p = sqlite3_column_text(st, c);
                    const int len = sqlite3_column_bytes(st, c);
                    row[static_cast<std::size_t>(c)] = std::string(reinterpret_cast<const char*>(p),
                                                                   static_cast<std::size_t>(len));
                }
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    void Begin() override { Exec("BEGIN IMMEDIATE"); }
    void Commit() override { Exec("COMMIT"); }
    void Rollback() noexcept override {
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    int Migrate() override {
        Begin();
        try {
            const int v = static_cast<int>(ToInt(Query("PRAGMA user_version", {}).at(0).at(0)));
            if (v > kSchemaVersion) RefuseNewer(v);
            for (int step = v; step < kSchemaVersion; ++step) Exec(kSqliteSteps[step]);
            if (v < kSchemaVersion) {
                Exec("PRAGMA application_id = " + std::to_string(kSqliteApplicationId));
                Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
            }
            Commit();
        } catch (...) {
            Rollback();
            throw;
        }
        return kSchemaVersion;
    }

    void Announce() override {}

    std::int64_t ChangeStamp() override {
        return ToInt(Query("SELECT COALESCE(MAX(id), 0) FROM audit", {}).at(0).at(0));
    }

    std::int64_t WaitForChange(std::int64_t since, int timeoutMs) override {
        // No notifications between processes here: the audit trail's newest
        // row tells every change, and reading it is cheap.
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::int64_t now = ChangeStamp();
            if (now != since || std::chrono::steady_clock::now() >= end) return now;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void EngineCheck(std::vector<std::string>& problems) override {
        for (const auto& row : Query("PRAGMA integrity_check", {})) {
            const std::string t = ToText(row.at(0));
            if (t != "ok") problems.push_back("SQLite integrity check: " + t);
        }
        for (const auto& row : Query("PRAGMA foreign_key_check", {})) {
            problems.push_back("A row of " + ToText(row.at(0)) + " refers to a missing " +
                               ToText(row.at(2)) + " row.");
        }
    }

  private:
    void Open() {
        const std::filesystem::path p(path_);
        std::string reason;
        if (p.has_parent_path() && !MakePrivateFolders(p.parent_path().string(), reason)) {
            throw TArchiveError(EArchiveErrorKind::Unreachable,
                                "The archive " + Location() +
                                    " cannot be reached: its folder cannot be created: " + reason);
        }
        // Created by us with owner-only access before SQLite opens it; its
        // WAL and shared-memory files take the same mode.
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw TArchiveError(
                EArchiveErrorKind::Unreachable,
                "The archive " + Location() + " cannot be reached: " + std::strerror(errno));
        }
        ::close(fd);
        const int rc = sqlite3_open_v2(path_.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "");
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db_, 1);
        // Look before touching: a database of a newer program, or another
        // program's file, is refused before anything is written to it.
        int appId = 0;
        int version = 0;
        try {
            appId = static_cast<int>(ToInt(Query("PRAGMA application_id", {}).at(0).at(0)));
            version = static_cast<int>(ToInt(Query("PRAGMA user_version", {}).at(0).at(0)));
        } catch (const TArchiveError& e) {
            if (e.Kind == EArchiveErrorKind::Failed) {
                throw TArchiveError(EArchiveErrorKind::NotAnArchive,
                                    "The file " + path_ + " is not an archive: " + e.what());
            }
            throw;
        }
        if (appId != 0 && appId != kSqliteApplicationId) {
            throw TArchiveError(
                EArchiveErrorKind::NotAnArchive,
                "The file " + path_ + " is a database of another program, not an archive.");
        }
        if (version > kSchemaVersion) RefuseNewer(version);
        if (appId == 0) {
            const auto n = ToInt(Query("SELECT COUNT(*) FROM sqlite_master", {}).at(0).at(0));
            if (n != 0) {
                throw TArchiveError(
                    EArchiveErrorKind::NotAnArchive,
                    "The file " + path_ + " holds another database, not an archive.");
            }
        }
        Exec("PRAGMA journal_mode = WAL");
        Exec("PRAGMA synchronous = FULL");
        Exec("PRAGMA foreign_keys = ON");
        // Listing a million measurements pages through the indexes; a
        // larger cache than SQLite's 2 MB keeps them in memory.
        Exec("PRAGMA cache_size = -65536");
        Exec("PRAGMA mmap_size = 268435456");
        // Fewer, larger checkpoints: each one syncs the file, and a bulk
        // import otherwise spends a third of its time there.
        Exec("PRAGMA wal_autocheckpoint = 8192");
    }

    [[noreturn]] void RefuseNewer(int version) {
        throw TArchiveError(EArchiveErrorKind::NewerSchema,
                            "The archive " + Location() +
                                " was made by a newer version of the program (schema " +
                                std::to_string(version) + ", this program knows up to " +
                                std::to_string(kSchemaVersion) + "); it is left untouched.");
    }

    sqlite3_stmt* Prepare(const std::string& sql) {
        if (auto it = stmts_.find(sql); it != stmts_.end()) return it->second;
        sqlite3_stmt* st = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                          SQLITE_PREPARE_PERSISTENT, &st, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "");
        stmts_.emplace(sql, st);
        return st;
    }

    void Exec(const std::string& sql) {
        char* err = nullptr;
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string m = err ? err : "";
            sqlite3_free(err);
            Fail(rc, m);
        }
    }

    [[noreturn]] void Fail(int rc, const std::string& message) {
        const std::string why =
            !message.empty() ? message : (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        switch (rc & 0xff) {
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                throw TArchiveError(EArchiveErrorKind::Unreachable,
                                    "The archive " + Location() + " is busy: " + why);
            case SQLITE_CANTOPEN:
            case SQLITE_PERM:
            case SQLITE_AUTH:
            case SQLITE_READONLY:
                throw TArchiveError(EArchiveErrorKind::Unreachable,
                                    "The archive " + Location() + " cannot be reached: " + why);
            case SQLITE_NOTADB:
                throw TArchiveError(EArchiveErrorKind::NotAnArchive,
                                    "The file " + path_ + " is not an archive: " + why);
            default:
                throw TArchiveError(EArchiveErrorKind::Failed,
                                    "The archive " + Location() + " failed: " + why);
        }
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    int lockFd_ = -1;
    std::unordered_map<std::string, sqlite3_stmt*> stmts_;
};

}  // namespace

std::unique_ptr<ISqlDb> OpenSqliteDb(const std::string& path) {
    auto db = std::make_unique<TSqliteDb>(path);
    db->Migrate();
    return db;
}

}  // namespace kyvo::archive_detail
