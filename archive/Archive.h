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
};

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

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// "$XDG_DATA_HOME/kyvo-data-reader/archive-spool.sqlite".
std::string DefaultSpoolPath();

// "sqlite:$XDG_DATA_HOME/kyvo-data-reader/archive.sqlite".
std::string DefaultArchiveLocation();

}  // namespace kyvo
