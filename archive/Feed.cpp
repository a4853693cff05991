// Finished measurements into the archive, and into a local spool while the
// archive cannot be reached. A spooled measurement leaves the spool only
// after its store committed; a crash in between stores it again, which the
// archive takes as unchanged.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "archive/ArchiveInternal.h"

namespace kyvo {

using namespace archive_detail;

struct TArchiveFeed::TImpl {
    std::string Location;
    std::string SpoolPath;
    TArchiveActor Actor;
    std::unique_ptr<IArchive> Archive;
    bool LisQueueing = false;
    bool LisQueueControls = true;
    sqlite3* Spool = nullptr;

    ~TImpl() {
        if (Spool) sqlite3_close_v2(Spool);
    }

    [[noreturn]] void SpoolFail(const std::string& why) const {
        throw TArchiveError(EArchiveErrorKind::Failed,
                            "The archive spool " + SpoolPath + " failed: " + why);
    }

    void SpoolExec(const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(Spool, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            const std::string why = err ? err : sqlite3_errmsg(Spool);
            sqlite3_free(err);
            SpoolFail(why);
        }
    }

    struct TStmt {
        sqlite3_stmt* S = nullptr;
        ~TStmt() { sqlite3_finalize(S); }
    };

    void Prepare(TStmt& st, const char* sql) {
        if (sqlite3_prepare_v2(Spool, sql, -1, &st.S, nullptr) != SQLITE_OK)
            SpoolFail(sqlite3_errmsg(Spool));
    }

    void OpenSpool() {
        if (Spool) return;
        std::string reason;
        const std::filesystem::path p(SpoolPath);
        if (p.has_parent_path() && !MakePrivateFolders(p.parent_path().string(), reason))
            SpoolFail(reason);
        const int fd = ::open(SpoolPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) SpoolFail(std::strerror(errno));
        ::close(fd);
        if (sqlite3_open_v2(SpoolPath.c_str(), &Spool, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            const std::string why = Spool ? sqlite3_errmsg(Spool) : "out of memory";
            if (Spool) sqlite3_close_v2(Spool);
            Spool = nullptr;
            SpoolFail(why);
        }
        sqlite3_busy_timeout(Spool, 10000);
        SpoolExec("PRAGMA journal_mode = WAL");
        SpoolExec("PRAGMA synchronous = FULL");
        SpoolExec(
            "CREATE TABLE IF NOT EXISTS spool(id INTEGER PRIMARY KEY AUTOINCREMENT, spooled TEXT "
            "NOT NULL, "
            "test_id TEXT NOT NULL, data BLOB NOT NULL, comment_edited INTEGER NOT NULL, serial "
            "TEXT NOT NULL, "
            "firmware TEXT NOT NULL, eeprom_version TEXT NOT NULL, source TEXT NOT NULL, "
            "location TEXT NOT NULL DEFAULT '')");
        // One spool serves every archive the user works with: each waiting
        // measurement goes only into the archive it was meant for. Beside
        // measurements it keeps the user's comment edits, in the order they
        // were made, so an edit never lands before its measurement.
        const std::pair<const char*, const char*> added[] = {
            {"location", "ALTER TABLE spool ADD COLUMN location TEXT NOT NULL DEFAULT ''"},
            {"kind", "ALTER TABLE spool ADD COLUMN kind TEXT NOT NULL DEFAULT 'set'"},
        };
        for (const auto& [column, alter] : added) {
            bool has = false;
            TStmt st;
            Prepare(st, "PRAGMA table_info(spool)");
            while (sqlite3_step(st.S) == SQLITE_ROW) {
                const auto* name = sqlite3_column_text(st.S, 1);
                if (name && std::strcmp(reinterpret_cast<const char*>(name), column) == 0)
                    has = true;
            }
            if (!has) SpoolExec(alter);
        }
    }

    void PutComment(const std::string& testId, const std::string& comment) {
        OpenSpool();
        TStmt st;
        Prepare(st,
                "INSERT INTO spool(spooled, test_id, data, comment_edited, serial, firmware, "
                "eeprom_version, source, location, kind) VALUES (?, ?, ?, 1, '', '', '', '', ?, "
                "'comment')");
        const std::string now = NowIso();
        sqlite3_bind_text(st.S, 1, now.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st.S, 2, testId.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(st.S, 3, comment.data(), static_cast<int>(comment.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(st.S, 4, Location.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st.S) != SQLITE_DONE) SpoolFail(sqlite3_errmsg(Spool));
    }

    void Put(const std::vector<const TMeasureSet*>& sets, std::size_t from,
             const TArchiveDevice& device, EArchiveSource source) {
        if (from >= sets.size()) return;
        OpenSpool();
        SpoolExec("BEGIN IMMEDIATE");
        try {
            TStmt st;
            Prepare(st,
                    "INSERT INTO spool(spooled, test_id, data, comment_edited, serial, firmware, "
                    "eeprom_version, source, location) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
            const std::string now = NowIso();
            for (std::size_t i = from; i < sets.size(); ++i) {
                const std::string data = EncodeSet(*sets[i]);
                const std::string src = ArchiveSourceName(source);
                sqlite3_bind_text(st.S, 1, now.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st.S, 2, sets[i]->TestID.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_blob(st.S, 3, data.data(), static_cast<int>(data.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_bind_int(st.S, 4, sets[i]->CommentEdited ? 1 : 0);
                sqlite3_bind_text(st.S, 5, device.Serial.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st.S, 6, device.Firmware.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st.S, 7, device.EepromVersion.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st.S, 8, src.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st.S, 9, Location.c_str(), -1, SQLITE_TRANSIENT);
                if (sqlite3_step(st.S) != SQLITE_DONE) SpoolFail(sqlite3_errmsg(Spool));
                sqlite3_reset(st.S);
            }
            SpoolExec("COMMIT");
        } catch (...) {
            sqlite3_exec(Spool, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::size_t Waiting() {
        if (!Spool && !std::filesystem::exists(SpoolPath)) return 0;
        OpenSpool();
        TStmt st;
        Prepare(st, "SELECT COUNT(*) FROM spool WHERE location = ?");
        sqlite3_bind_text(st.S, 1, Location.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st.S) != SQLITE_ROW) SpoolFail(sqlite3_errmsg(Spool));
        return static_cast<std::size_t>(sqlite3_column_int64(st.S, 0));
    }

    // Oldest first, one at a time; throws what the archive throws.
    void DeliverSpool(TFeedOutcome& out) {
        if (!Spool && !std::filesystem::exists(SpoolPath)) return;
        OpenSpool();
        for (;;) {
            std::int64_t id = 0;
            TMeasureSet set;
            std::optional<std::string> commentFor;  // a comment edit for this identity
            std::string comment;
            TArchiveDevice dev;
            EArchiveSource source = EArchiveSource::DeviceRead;
            {
                TStmt st;
                Prepare(
                    st,
                    "SELECT id, data, comment_edited, serial, firmware, eeprom_version, source, "
                    "kind, test_id FROM spool WHERE location = ? ORDER BY id LIMIT 1");
                sqlite3_bind_text(st.S, 1, Location.c_str(), -1, SQLITE_TRANSIENT);
                const int rc = sqlite3_step(st.S);
                if (rc == SQLITE_DONE) return;
                if (rc != SQLITE_ROW) SpoolFail(sqlite3_errmsg(Spool));
                id = sqlite3_column_int64(st.S, 0);
                const auto* p = static_cast<const char*>(sqlite3_column_blob(st.S, 1));
                const std::string_view bytes(
                    p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st.S, 1)));
                const auto* kind = sqlite3_column_text(st.S, 7);
                if (kind && std::strcmp(reinterpret_cast<const char*>(kind), "comment") == 0) {
                    const auto* t = sqlite3_column_text(st.S, 8);
                    commentFor = t ? reinterpret_cast<const char*>(t) : "";
                    comment = std::string(bytes);
                } else {
                    set = DecodeSet(bytes);
                }
                set.CommentEdited = sqlite3_column_int(st.S, 2) != 0;
                auto text = [&](int c) {
                    const auto* t = sqlite3_column_text(st.S, c);
                    return std::string(t ? reinterpret_cast<const char*>(t) : "");
                };
                dev.Serial = text(3);
                dev.Firmware = text(4);
                dev.EepromVersion = text(5);
                const std::string src = text(6);
                for (auto s : {EArchiveSource::DeviceRead, EArchiveSource::Measurement,
                               EArchiveSource::ImportedFile}) {
                    if (ArchiveSourceName(s) == src) source = s;
                }
            }
            if (commentFor) {
                // An edit of a measurement this archive does not hold has
                // nothing to change.
                if (const auto m = Archive->FindByTestId(*commentFor))
                    Archive->SetComment(*m, comment, Actor);
            } else {
                const EStoreOutcome o = Archive->Store(set, dev, source, Actor);
                ++out.Stored;
                if (o == EStoreOutcome::Added) ++out.Added;
            }
            TStmt del;
            Prepare(del, "DELETE FROM spool WHERE id = ?");
            sqlite3_bind_int64(del.S, 1, id);
            if (sqlite3_step(del.S) != SQLITE_DONE) SpoolFail(sqlite3_errmsg(Spool));
        }
    }

    void EnsureArchive() {
        if (!Archive) Archive = OpenArchive(Location);
        Archive->SetLisQueueing(LisQueueing);
        Archive->SetLisQueueControls(LisQueueControls);
    }
};

TArchiveFeed::TArchiveFeed(std::string location, std::string spoolPath, TArchiveActor actor)
    : impl_(std::make_unique<TImpl>()) {
    impl_->Location = location.empty() ? DefaultArchiveLocation() : std::move(location);
    impl_->SpoolPath = spoolPath.empty() ? DefaultSpoolPath() : std::move(spoolPath);
    impl_->Actor = std::move(actor);
}

TArchiveFeed::~TArchiveFeed() = default;

TFeedOutcome TArchiveFeed::Feed(const std::vector<const TMeasureSet*>& sets,
                                const TArchiveDevice& device, EArchiveSource source) {
    for (const TMeasureSet* s : sets) {
        if (!s || s->TestID.empty()) {
            throw TArchiveError(EArchiveErrorKind::BadInput,
                                "A measurement without identity text cannot be archived.");
        }
    }
    TFeedOutcome out;
    std::size_t next = 0;
    try {
        impl_->EnsureArchive();
        // What waited comes first, so that the archive sees the order of
        // measuring.
        impl_->DeliverSpool(out);
        for (; next < sets.size(); ++next) {
            const EStoreOutcome o =
                impl_->Archive->Store(*sets[next], device, source, impl_->Actor);
            ++out.Stored;
            if (o == EStoreOutcome::Added) ++out.Added;
        }
    } catch (const TArchiveError& e) {
        // Whatever keeps the archive from taking them, the measurements are
        // kept until it does.
        out.Unreachable = e.Kind == EArchiveErrorKind::Unreachable;
        out.Error = e.what();
        impl_->Put(sets, next, device, source);
    }
    out.Spooled = impl_->Waiting();
    return out;
}

TFeedOutcome TArchiveFeed::Deliver() {
    TFeedOutcome out;
    // Nothing waits: the archive is not even opened, so a start-up never
    // waits for a server it has nothing to give.
    if (impl_->Waiting() == 0) return out;
    try {
        impl_->EnsureArchive();
        impl_->DeliverSpool(out);
    } catch (const TArchiveError& e) {
        out.Unreachable = e.Kind == EArchiveErrorKind::Unreachable;
        out.Error = e.what();
    }
    out.Spooled = impl_->Waiting();
    return out;
}

TFeedOutcome TArchiveFeed::SetComment(const std::string& testId, const std::string& comment) {
    TFeedOutcome out;
    try {
        impl_->EnsureArchive();
        impl_->DeliverSpool(out);
        if (const auto id = impl_->Archive->FindByTestId(testId)) {
            impl_->Archive->SetComment(*id, comment, impl_->Actor);
            ++out.Stored;
        }
    } catch (const TArchiveError& e) {
        out.Unreachable = e.Kind == EArchiveErrorKind::Unreachable;
        out.Error = e.what();
        impl_->PutComment(testId, comment);
    }
    out.Spooled = impl_->Waiting();
    return out;
}

std::size_t TArchiveFeed::Waiting() {
    return impl_->Waiting();
}

void TArchiveFeed::SetLisQueueing(bool on, bool controls) {
    impl_->LisQueueing = on;
    impl_->LisQueueControls = controls;
    if (impl_->Archive) {
        impl_->Archive->SetLisQueueing(on);
        impl_->Archive->SetLisQueueControls(controls);
    }
}

}  // namespace kyvo
