// Quality control kept in the archive: control materials, the roles people
// give measurements, acknowledgements, and what a listing shows of them.
// Written once in SQL both engines understand; the caller owns the
// transactions and announces the changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/ArchiveInternal.h"
#include "qc/Lockout.h"

namespace kyvo::archive_detail {

class TQcStore {
  public:
    explicit TQcStore(ISqlDb& db) : db_(db) {}

    std::vector<qc::TControlMaterial> Materials();
    TQcOverview Overview();

    // Inside a write transaction; each writes its audit row.
    std::int64_t AddMaterial(const qc::TControlMaterial& m, const TArchiveActor& actor);
    void RetireMaterial(const std::string& name, const TArchiveActor& actor);
    // False when the measurement had that role already.
    bool SetRole(std::int64_t id, const std::string& role, const std::string& material,
                 const TArchiveActor& actor);
    void Acknowledge(const qc::TQcViolation& v, const std::string& note,
                     const TArchiveActor& actor);
    TQcCopy Copy();
    void InsertCopy(const TQcCopy& copy);

    // Fills Role, ControlMaterial and QcFailed of a page of rows. What it
    // needs of all controls is kept until the archive changes.
    void Annotate(std::vector<TArchiveRow>& rows);

    // The WHERE term (on the measurements table, unaliased) for a filter's
    // role, its values appended to params; BadInput for an unknown role.
    std::string RoleTerm(const std::string& role, std::vector<TSqlValue>& params);

  private:
    std::vector<std::string> Prefixes();
    static std::string ControlSet(const std::vector<std::string>& prefixes,
                                  std::vector<TSqlValue>& params);
    struct TState {
        std::int64_t Stamp = -1;
        std::vector<qc::TControlMaterial> Materials;
        qc::TQcLockout Lockout;
    };
    const TState& State();
    void WriteAudit(const TArchiveActor& who, const std::string& action,
                    std::optional<std::int64_t> id, const std::string& testId,
                    const std::string& oldValue, const std::string& newValue);
    std::string RoleText(std::int64_t id);

    ISqlDb& db_;
    TState state_;
    // Result rows (name, value text) of the controls read so far.
    std::unordered_map<std::int64_t, std::vector<std::pair<std::string, std::string>>> rows_;
};

}  // namespace kyvo::archive_detail
