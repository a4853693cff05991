// The measurement archive: every measurement the program has seen, kept in
// one database that is searchable, never forgets and records who changed
// what. One interface, two engines: an embedded SQLite file for one PC and a
// PostgreSQL server shared by the PCs of a lab. Nothing here knows Qt.
//
// Errors are thrown as TArchiveError with a kind, so callers can tell a
// server that cannot be reached (spool the measurement, try later) from a
// database the program must not touch (newer schema) or bad input.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "qc/ControlMaterial.h"
#include "qc/Westgard.h"
#include "testdata/MeasureSet.h"

namespace kyvo {

enum class EArchiveErrorKind : std::uint8_t {
    Unreachable,   // server down, network gone, wrong password, file not openable
    NewerSchema,   // the database was made by a newer program: never written
    NotAnArchive,  // the file or database holds something else
    NotFound,      // no measurement with that id
    BadInput,      // a location, filter or value the archive cannot take
    Failed,        // any other engine error (disk full, constraint, corruption)
};

class TArchiveError : public std::runtime_error {
  public:
    TArchiveError(EArchiveErrorKind kind, const std::string& what)
        : std::runtime_error(what), Kind(kind) {}
    EArchiveErrorKind Kind;
};

// Where a measurement came from.
enum class EArchiveSource : std::uint8_t { DeviceRead, Measurement, ImportedFile };
std::string ArchiveSourceName(EArchiveSource source);  // "device-read", "measurement", "import"

// The reader a measurement came from; empty fields are unknown (a result
// file names no firmware). Serial is the device's serial text as the
// identity text carries it ("1807 0042": year and week, serial).
// An empty Serial is taken from the measurement's identity text.
struct TArchiveDevice {
    std::string Serial;
    std::string Firmware;
    std::string EepromVersion;
};

// Who acts: written into every audit row. DefaultActor() fills the
// operating-system user and host; the program name and version are the
// caller's.
struct TArchiveActor {
    std::string User;
    std::string Host;
    std::string Program;
    std::string Version;
};
TArchiveActor DefaultActor(const std::string& program, const std::string& version);

enum class EStoreOutcome : std::uint8_t {
    Added,      // a new measurement
    Unchanged,  // known, nothing new in it
    Updated,    // known; its comment or patient data changed (audited)
};

// Which measurements, in which order, which page. Dates are ISO
// "YYYY-MM-DD" (from the start of that day, to its end); another form is
// BadInput. Test, Lot and Device (the serial text, "1807 0042") match
// exactly. Text is matched, every word, against identity, test and result
// names, lot, comment and patient id, ignoring case. Rows with equal sort
// keys come in the order they were added (for Test, Lot and Device sorts:
// by date first); Descending reverses the whole order.
enum class EArchiveSort : std::uint8_t {
    DateTime,
    TestId,
    TestName,
    Lot,
    Device,
    Comment,
    PatientId,
    Added
};
struct TArchiveFilter {
    std::string From;
    std::string To;
    std::string Test;
    std::string Lot;
    std::string Device;
    std::string Text;
    bool IncludeRemoved = false;
    EArchiveSort Sort = EArchiveSort::DateTime;
    bool Descending = false;
    std::size_t Offset = 0;
    std::size_t Limit = 0;  // 0: all
    // "": every measurement; "patient": all but controls (unmarked ones
    // too); "control": controls only (marked, or by a material's prefix).
    std::string Role;
};

// Where a measurement stands with the lab information system (LIS): never
// queued, waiting in the outbox, acknowledged (AA/CA), or held for a person
// (the LIS answered AE/AR, or the message cannot be sent as it is).
enum class ELisState : std::uint8_t { None, Waiting, Delivered, Held };
std::string LisStateName(ELisState state);  // "", "waiting", "delivered", "held"

// One line of a listing: enough for a table, without image or line data.
struct TArchiveRow {
    std::int64_t Id = 0;
    std::string TestId;
    std::string TestName;
    std::string LotNr;
    std::string DateTime;  // ISO, or the device's number text when no calendar date
    std::string DeviceSerial;
    std::string Comment;
    std::string PatientId;
    std::string Results;  // "CRP 7.25 mg/l; ..." for a glance
    std::string Source;   // ArchiveSourceName
    bool Removed = false;
    std::string RemovedReason;
    // The newest version's place in the LIS outbox; LisReason says why it
    // is held or why the last attempt failed, LisTime when that was (ISO).
    ELisState Lis = ELisState::None;
    std::string LisReason;
    std::string LisTime;
    // "control" (marked so, or its patient id is a material's prefix),
    // "patient" (marked so), or "" (not set: counts as a patient's).
    std::string Role;
    std::string ControlMaterial;  // the material's name, for a control
    // A patient's result while the newest control of its test on its device
    // (at its time) is rejected; see qc/Lockout.h.
    bool QcFailed = false;
};

// A person's note on a Westgard violation, found again by its rule, the
// material lot and the measurement where it fired. It never hides the
// violation.
struct TQcAcknowledgement {
    std::string Rule;  // "1-3s", ...
    std::int64_t MaterialId = 0;
    std::int64_t MeasurementId = 0;
    std::string Note;
    std::string Time;  // ISO with UTC offset
    std::string User;
    std::string Host;
};

// Everything quality control needs at once: the materials (every lot,
// retired ones too), every control with a calendar date in time order,
// every violation in the order it fired, and the acknowledgements.
struct TQcOverview {
    std::vector<qc::TControlMaterial> Materials;
    std::vector<qc::TControlPoint> Points;
    std::vector<qc::TQcViolation> Violations;
    std::vector<TQcAcknowledgement> Acknowledgements;
};

// One result row of one measurement, for a chart over many measurements,
// read without loading the measurements themselves.
struct TArchiveResultPoint {
    std::int64_t Id = 0;  // the measurement's
    std::string TestId;
    std::string TestName;
    std::string LotNr;
    std::string DateTime;  // as TArchiveRow's
    std::string DeviceSerial;
    std::optional<double> Value;  // empty when the value is only a text
    std::string ValueText;        // as measured: "7.25", "<5", "FAIL"
    std::string Unit;
    std::string Class;
    std::string Validity;
};

// A test and one of its results' names, as the filtered measurements hold them.
struct TArchiveResultName {
    std::string TestName;
    std::string ResultName;
    std::int64_t Measurements = 0;
    bool operator==(const TArchiveResultName&) const = default;
};

// One version of a measurement in the LIS outbox. Version 1 is the first
// message; a patient or comment change of a delivered measurement (or a
// resend of one) adds the next version, sent as a correction with its own
// control id. Entries go out in the order of Id.
struct TLisOutboxEntry {
    std::int64_t Id = 0;
    std::int64_t MeasurementId = 0;
    std::string TestId;
    int Version = 1;
    bool Corrected = false;
    ELisState State = ELisState::Waiting;
    int Attempts = 0;     // messages sent for it (a resend after a lost answer counts)
    std::string Reason;   // held: the LIS's words; waiting: why the last attempt failed
    std::string Queued;   // ISO with UTC offset
    std::string Changed;  // the last send, answer or failure
    std::string ControlId;
};

struct TLisCounts {
    std::int64_t Waiting = 0;
    std::int64_t Delivered = 0;
    std::int64_t Held = 0;
};

// What asking to send measurements did.
struct TLisQueueOutcome {
    std::int64_t Queued = 0;          // now waiting (new, again after held, or a new version)
    std::int64_t AlreadyWaiting = 0;  // were waiting already
    std::int64_t Skipped = 0;         // removed measurements, never sent
};

struct TAuditEntry {
    std::int64_t Id = 0;
    std::string Time;  // ISO with UTC offset: "2026-12-11T14:03:05+01:00"
    std::string User;
    std::string Host;
    std::string Program;
    std::string Version;
    std::string Action;  // insert, comment, patient, remove, ...
    std::int64_t MeasurementId = 0;
    std::string TestId;
    std::string OldValue;
    std::string NewValue;
};

// Everything quality control keeps, for copying it into another archive:
// the materials as kept (their added and retired times too), the marks and
// acknowledgements by the measurement's identity text and the material's
// name and lot, and the audit rows of the materials (those of marks and
// acknowledgements belong to their measurement).
struct TQcCopy {
    struct TMark {
        std::string TestId;
        std::string Role;
        std::string Material;  // for a control
        std::string Lot;
    };
    struct TNote {
        TQcAcknowledgement Note;
        std::string TestId;
        std::string Material;
        std::string Lot;
    };
    std::vector<qc::TControlMaterial> Materials;
    std::vector<TMark> Marks;
    std::vector<TNote> Notes;
    std::vector<TAuditEntry> MaterialAudit;
};

struct TArchiveCheck {
    int SchemaVersion = 0;
    std::int64_t Measurements = 0;
    std::int64_t Removed = 0;
    std::int64_t ResultRows = 0;
    std::int64_t Devices = 0;
    std::int64_t AuditRows = 0;
    std::vector<std::string> Problems;  // empty when the archive is sound
};

// A measurement with everything the archive knows about it: what copying
// from one archive into another carries.
struct TArchiveRecord {
    std::int64_t Id = 0;
    TMeasureSet Set;  // with the archive's present comment and patient data
    TArchiveDevice Device;
    EArchiveSource Source = EArchiveSource::DeviceRead;
    std::string Added;  // ISO with UTC offset
    bool Removed = false;
    std::string RemovedReason;
};

class IArchive {
  public:
    virtual ~IArchive() = default;

    // "sqlite:/path" or the connection URI, without a password.
    virtual std::string Location() const = 0;
    virtual int SchemaVersion() const = 0;

    // One measurement, one transaction. The identity text is the key: the
    // same measurement stored again changes nothing, except that a comment
    // or patient data of its own replaces the archive's (an empty one never
    // wipes it) and is audited. A concurrent store of the same measurement
    // by another process or PC is tolerated.
    virtual EStoreOutcome Store(const TMeasureSet& set, const TArchiveDevice& device,
                                EArchiveSource source, const TArchiveActor& actor) = 0;

    virtual std::vector<TArchiveRow> List(const TArchiveFilter& filter) = 0;
    virtual std::int64_t Count(const TArchiveFilter& filter) = 0;
    // The whole measurement as it was stored (rows, lines, image, texts).
    virtual TMeasureSet Load(std::int64_t id) = 0;
    virtual std::optional<std::int64_t> FindByTestId(const std::string& testId) = 0;

    // User edits; each writes an audit row. Remove hides the measurement
    // with a reason that must not be empty; it is never deleted.
    virtual void SetComment(std::int64_t id, const std::string& comment,
                            const TArchiveActor& actor) = 0;
    virtual void SetPatient(std::int64_t id, const std::string& patientId,
                            const std::string& birthDate, const TArchiveActor& actor) = 0;
    virtual void Remove(std::int64_t id, const std::string& reason, const TArchiveActor& actor) = 0;

    virtual std::vector<TAuditEntry> History(std::int64_t id) = 0;
    virtual TArchiveCheck Check() = 0;

    // A number that grows whenever anybody (another process or PC too)
    // changes the archive; a view polls it, or waits for a change up to
    // timeoutMs (PostgreSQL: LISTEN/NOTIFY). Returns the new stamp.
    virtual std::int64_t ChangeStamp() = 0;
    virtual std::int64_t WaitForChange(std::int64_t since, int timeoutMs) = 0;

    // Many measurements in one transaction per call (a bulk import or a
    // copy): the same outcome per set as Store, much faster; a failure
    // leaves none of them stored. Feeding a single measurement uses Store.
    virtual std::vector<EStoreOutcome> StoreMany(const std::vector<const TMeasureSet*>& sets,
                                                 const TArchiveDevice& device,
                                                 EArchiveSource source,
                                                 const TArchiveActor& actor) = 0;

    // The rows named resultName of the measurements filter selects, oldest
    // first (by date, then as added; Descending: newest first); the filter's
    // Sort is not used, its Limit and Offset count points. A measurement
    // holding the name twice gives its first row. An engine may answer these
    // two without loading sets; the fallbacks here load every selected set.
    virtual std::vector<TArchiveResultPoint> ResultPoints(const TArchiveFilter& filter,
                                                          const std::string& resultName);
    // Every (test name, result name) of the selected measurements, sorted,
    // with how many measurements hold it; with a Limit, of the newest Limit
    // measurements only (a quick look over an archive of millions).
    virtual std::vector<TArchiveResultName> ResultNames(const TArchiveFilter& filter);

    // The whole record of one measurement (removed ones too), for copying.
    virtual TArchiveRecord LoadRecord(std::int64_t id) = 0;
    // The audit rows after afterId in the order written, at most limit
    // (0: all), for export.
    virtual std::vector<TAuditEntry> Audit(std::int64_t afterId, std::size_t limit) = 0;
    // Inserts a record from another archive with its audit rows as they are
    // (times, users and actions kept; their MeasurementId is replaced), in
    // one transaction. False, and nothing written, when the target already
    // holds a measurement with that identity text.
    virtual bool InsertCopy(const TArchiveRecord& record,
                            const std::vector<TAuditEntry>& audit) = 0;

    // Quality control. Every edit is audited. The defaults throw Failed, so
    // that an archive without quality control says so.
    //
    // A new material, or a new lot of a known name (with its own targets).
    // BadInput: a material CheckMaterial refuses, a name and lot already
    // kept, or a patient-id prefix another material name uses. Returns its id.
    virtual std::int64_t AddMaterial(const qc::TControlMaterial& material,
                                     const TArchiveActor& actor);
    // Retires every lot of that name still in use (its history stays and is
    // still checked); NotFound for an unknown name. A retired material takes
    // no new marks.
    virtual void RetireMaterial(const std::string& name, const TArchiveActor& actor);
    virtual std::vector<qc::TControlMaterial> Materials();
    // Marks a measurement: role "control" with the material's name (the lot
    // in use at its date is taken), "patient" (overrides a prefix match;
    // material empty), or "" to drop the mark (the prefix decides again).
    // NotFound: no such measurement or material; BadInput: another role.
    virtual void SetRole(std::int64_t id, const std::string& role, const std::string& material,
                         const TArchiveActor& actor);
    virtual TQcOverview QcOverview();
    // Notes on the violation; an empty note is BadInput, a violation the
    // archive does not show (no longer, or never) NotFound.
    virtual void Acknowledge(const qc::TQcViolation& violation, const std::string& note,
                             const TArchiveActor& actor);
    // For copying: what this archive keeps of quality control, and taking
    // it in from another one. Only what the target lacks is added (a
    // material by name and lot, a mark of a measurement without one, an
    // acknowledgement not there yet), so copying twice adds nothing; marks
    // and notes of measurements the target does not hold are left out.
    virtual TQcCopy QcCopy();
    virtual void InsertQcCopy(const TQcCopy& copy);

    // --- The LIS outbox ---
    // With queueing on, every measurement that Store or StoreMany adds from
    // a device (not from an imported file) enters the outbox in the same
    // transaction. Off by default. Whatever this says, a patient or comment
    // change of a delivered measurement queues its corrected version in the
    // transaction of the change.
    virtual void SetLisQueueing(bool on) = 0;
    // With controls off, a measurement that is a control when it is stored
    // (its patient id is a material's prefix) stays out of the outbox; a
    // person may still send it on request. On by default.
    virtual void SetLisQueueControls(bool on);
    // One listing row (role, QC flag and LIS state included) of a
    // measurement, removed ones too; none when the archive lacks it.
    virtual std::optional<TArchiveRow> Row(std::int64_t id);
    // Queues measurements on request: one never queued gets version 1, a
    // held one waits again (same version and control id, its message made
    // anew from what the archive holds then), a delivered one gets the next
    // version as a correction; a waiting one stays as it is. Audited.
    virtual TLisQueueOutcome QueueForLis(const std::vector<std::int64_t>& ids,
                                         const TArchiveActor& actor) = 0;
    // Every measurement dated from that day (YYYY-MM-DD) on that was never
    // queued (imported ones too); removed ones are left out.
    virtual TLisQueueOutcome QueueForLisSince(const std::string& day,
                                              const TArchiveActor& actor) = 0;
    // The oldest waiting entry; none when nothing waits.
    virtual std::optional<TLisOutboxEntry> NextLisEntry() = 0;
    // The sender's record of one entry, each with its audit row on the
    // measurement: a message about to leave (attempts + 1, "lis-send"),
    // its acknowledgement ("lis-delivered"), a refusal that holds it for a
    // person ("lis-held"), a failed attempt that leaves it waiting
    // ("lis-failed"). The send mark is on disk before it returns; the
    // outcome marks need not wait for the disk (a power failure may lose
    // the last one: the message goes again, its second send mark showing).
    virtual void MarkLisSending(std::int64_t entryId, const TArchiveActor& actor) = 0;
    virtual void MarkLisDelivered(std::int64_t entryId, const std::string& ack,
                                  const TArchiveActor& actor) = 0;
    virtual void MarkLisHeld(std::int64_t entryId, const std::string& reason,
                             const TArchiveActor& actor) = 0;
    virtual void MarkLisFailed(std::int64_t entryId, const std::string& reason,
                               const TArchiveActor& actor) = 0;
    virtual TLisCounts LisCounts() = 0;
    // The entries in a state (None: all), oldest first, at most limit (0: all).
    virtual std::vector<TLisOutboxEntry> LisEntries(ELisState state, std::size_t limit) = 0;
    // Every version of one measurement, oldest first.
    virtual std::vector<TLisOutboxEntry> LisHistory(std::int64_t measurementId) = 0;

    // The one sender of the archive: true when this connection now holds
    // it, false when another process, PC or connection does. PostgreSQL: a
    // session advisory lock, gone with the connection of a sender that
    // died. SQLite: an exclusive flock on "<file>.lis-lock", which the
    // kernel drops with the process.
    virtual bool TryLockLisSender() = 0;
    virtual void UnlockLisSender() = 0;
    // Whether the hold is still this connection's (a renewed server
    // connection has lost it).
    virtual bool HoldsLisSender() = 0;
};

// Opens (creating and migrating where needed) the archive at location:
// "sqlite:PATH", or a libpq URI "postgresql://..." / "postgres://...". An
// empty location is the default one. Throws TArchiveError.
std::unique_ptr<IArchive> OpenArchive(const std::string& location);

// Copies every measurement with its whole audit trail from one archive
// into another; what the target already holds is left as it is, so copying
// twice adds nothing. Returns the number of measurements added.
std::int64_t CopyArchive(IArchive& from, IArchive& to);

// Imports a result file of any layout. Idempotent. A damaged line keeps
// what came before it: Error says which line stopped the import.
struct TImportOutcome {
    std::int64_t Added = 0;
    std::int64_t Unchanged = 0;
    std::int64_t Updated = 0;
    bool Complete = true;
    std::size_t StoppedAtLine = 0;  // 1-based line of the file, when !Complete
    std::string Error;
};
TImportOutcome ImportResultFile(IArchive& archive, const std::string& path,
                                const TArchiveActor& actor);

// Feeds finished measurements into the archive at a location. When that
// cannot be reached (a server down, the network gone, a wrong password) the
// measurements wait in a local spool (an SQLite file) and are delivered by
// the next Feed or Deliver, so a measurement is never lost to the archive.
struct TFeedOutcome {
    std::size_t Stored = 0;    // went into the archive now (added, unchanged or updated)
    std::size_t Added = 0;     // of those, new to the archive
    std::size_t Spooled = 0;   // waiting in the spool after this call
    bool Unreachable = false;  // the archive could not be reached this time
    std::string Error;         // why, in the engine's words
};
class TArchiveFeed {
  public:
    TArchiveFeed(std::string location, std::string spoolPath, TArchiveActor actor);
    ~TArchiveFeed();
    TFeedOutcome Feed(const std::vector<const TMeasureSet*>& sets, const TArchiveDevice& device,
                      EArchiveSource source);
    TFeedOutcome Deliver();
    // The user's comment on the measurement with that identity, when the
    // archive holds it; while the archive cannot be reached the edit waits
    // in the spool behind the measurements that wait, and is applied then.
    TFeedOutcome SetComment(const std::string& testId, const std::string& comment);
    // Measurements and edits that wait for this archive.
    std::size_t Waiting();
    // Whether the measurements fed from now on (spooled ones when they go
    // in) enter the LIS outbox with their store (IArchive::SetLisQueueing).
    void SetLisQueueing(bool on, bool controls = true);

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// "$XDG_DATA_HOME/kyvo-data-reader/archive-spool.sqlite".
std::string DefaultSpoolPath();

// "sqlite:$XDG_DATA_HOME/kyvo-data-reader/archive.sqlite".
std::string DefaultArchiveLocation();

}  // namespace kyvo
