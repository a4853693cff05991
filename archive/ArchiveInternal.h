// Pieces shared by the archive's engines: the exact form of a measure set
// kept in the database, the search text, the time stamps, and the thin
// connection both engines offer to the one SQL implementation.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/Archive.h"

namespace kyvo::archive_detail {

// Every field of a set, bit for bit (floats by their bits), so that Load
// gives back what Store got. CommentEdited is a flag of the window's list,
// not of the measurement, and is not kept.
std::string EncodeSet(const TMeasureSet& set);
// Throws TArchiveError(Failed) on bytes that are not an encoded set.
TMeasureSet DecodeSet(std::string_view bytes);

// Lower case for matching: ASCII, Latin-1 and Latin Extended-A letters.
std::string FoldCase(std::string_view utf8);
// The folded words a measurement is found by.
std::string SearchText(const TMeasureSet& set);
// "CRP 7.25 mg/l; Ratio positive".
std::string ResultsSummary(const TMeasureSet& set);

// Local time with its UTC offset: "2026-12-11T14:03:05+01:00".
std::string NowIso();

// A transaction the engine gave up to break a deadlock or a serialization
// conflict with another writer: running it again succeeds.
class TArchiveRetry : public TArchiveError {
  public:
    using TArchiveError::TArchiveError;
};

struct TBlob {
    std::string Bytes;
};
using TSqlValue = std::variant<std::nullptr_t, std::int64_t, double, std::string, TBlob>;
using TSqlRow = std::vector<std::optional<std::string>>;  // blobs as their bytes
using TSqlRows = std::vector<TSqlRow>;

// One connection. Statements are written with "?" placeholders; the
// PostgreSQL side numbers them. Every failure throws TArchiveError.
class ISqlDb {
  public:
    virtual ~ISqlDb() = default;
    virtual bool IsPostgres() const = 0;
    virtual std::string Location() const = 0;
    virtual TSqlRows Query(const std::string& sql, const std::vector<TSqlValue>& params = {}) = 0;
    // A write transaction: SQLite BEGIN IMMEDIATE, PostgreSQL BEGIN.
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;
    // Creates or migrates the schema; throws NewerSchema / NotAnArchive.
    virtual int Migrate() = 0;
    // Tells other connections that the archive changed (inside the
    // writing transaction).
    virtual void Announce() = 0;
    virtual std::int64_t WaitForChange(std::int64_t since, int timeoutMs) = 0;
    virtual std::int64_t ChangeStamp() = 0;
    virtual void EngineCheck(std::vector<std::string>& problems) = 0;
    // The archive's one LIS sender lock (see IArchive::TryLockLisSender).
    virtual bool TryLockSender() = 0;
    virtual void UnlockSender() = 0;
    virtual bool HoldsSender() = 0;
};

std::unique_ptr<ISqlDb> OpenSqliteDb(const std::string& path);
std::unique_ptr<ISqlDb> OpenPostgresDb(const std::string& uri);

inline constexpr int kSchemaVersion = 3;
inline constexpr std::int32_t kSqliteApplicationId = 0x4b79766f;  // "Kyvo"

std::unique_ptr<IArchive> MakeSqlArchive(std::unique_ptr<ISqlDb> db);

std::int64_t ToInt(const std::optional<std::string>& v);
std::string ToText(const std::optional<std::string>& v);

// Creates the folders of path (0700) as needed; false with reason.
bool MakePrivateFolders(const std::string& folder, std::string& reason);

}  // namespace kyvo::archive_detail
