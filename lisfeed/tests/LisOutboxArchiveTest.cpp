// The LIS outbox as the archive keeps it, on both engines: what enters it,
// corrections, requests to send, the sender's marks with their audit rows,
// and the one sender lock.
#include <signal.h>
#include <sys/wait.h>

#include "lisfeed/tests/LisFeedTestSupport.h"

namespace kyvo::lisfeed_test {
namespace {

class LisOutboxArchive : public EngineTest {};

INSTANTIATE_TEST_SUITE_P(Engines, LisOutboxArchive, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

std::vector<std::string> Actions(IArchive& a, std::int64_t id) {
    std::vector<std::string> out;
    for (const auto& e : a.History(id))
        if (e.Action.rfind("lis-", 0) == 0) out.push_back(e.Action + " " + e.NewValue);
    return out;
}

TEST_P(LisOutboxArchive, DeviceMeasurementsEnterWithTheirStoreWhileQueueingIsOn) {
    auto a = OpenArchive(location_);
    const TMeasureSet s1 = Crp(1), s2 = Crp(2), s3 = Crp(3), s4 = Crp(4), s5 = Crp(5);
    a->Store(s1, {}, EArchiveSource::DeviceRead, Actor());  // queueing off: not queued
    a->SetLisQueueing(true);
    a->Store(s2, {}, EArchiveSource::Measurement, Actor());
    a->Store(s3, {}, EArchiveSource::ImportedFile, Actor());  // imports only on request
    a->StoreMany({&s5, &s4, &s1}, {}, EArchiveSource::DeviceRead, Actor());
    a->Store(s2, {}, EArchiveSource::Measurement, Actor());  // known: no second entry

    std::vector<std::string> waiting;
    for (const auto& e : a->LisEntries(ELisState::None, 0)) {
        EXPECT_EQ(e.State, ELisState::Waiting);
        EXPECT_EQ(e.Version, 1);
        EXPECT_FALSE(e.Corrected);
        EXPECT_EQ(e.ControlId, "KDR-" + std::to_string(e.MeasurementId) + "-1");
        waiting.push_back(e.TestId);
    }
    // In the order they were stored (a batch by identity, as it is inserted).
    EXPECT_EQ(waiting, (std::vector<std::string>{s2.TestID, s4.TestID, s5.TestID}));
    const TLisCounts c = a->LisCounts();
    EXPECT_EQ(c.Waiting, 3);
    EXPECT_EQ(c.Delivered + c.Held, 0);

    TArchiveFilter f;
    f.Sort = EArchiveSort::Added;
    std::map<std::string, ELisState> shown;
    for (const auto& r : a->List(f)) shown[r.TestId] = r.Lis;
    EXPECT_EQ(shown[s1.TestID], ELisState::None);
    EXPECT_EQ(shown[s2.TestID], ELisState::Waiting);
    EXPECT_EQ(shown[s3.TestID], ELisState::None);
    EXPECT_EQ(shown[s4.TestID], ELisState::Waiting);
}

TEST_P(LisOutboxArchive, ChangeOfADeliveredMeasurementQueuesACorrectionInTheSameStep) {
    auto a = OpenArchive(location_);
    a->SetLisQueueing(true);
    a->Store(Crp(1), {}, EArchiveSource::DeviceRead, Actor());
    const std::int64_t id = *a->FindByTestId(Crp(1).TestID);
    // Still waiting: its message is made when it leaves, no new version.
    a->SetPatient(id, "P-1", "", Actor());
    ASSERT_EQ(a->LisHistory(id).size(), 1u);

    const auto first = *a->NextLisEntry();
    a->MarkLisSending(first.Id, Actor());
    a->MarkLisDelivered(first.Id, "AA", Actor());
    EXPECT_FALSE(a->NextLisEntry());

    a->SetComment(id, "re-test", Actor());
    a->SetComment(id, "re-test 2", Actor());  // the correction waits: no third version
    TMeasureSet again = Crp(1);
    again.PatientID = "P-2";  // a store that changes the patient, the same way
    a->Store(again, {}, EArchiveSource::DeviceRead, Actor());
    const auto versions = a->LisHistory(id);
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].State, ELisState::Delivered);
    EXPECT_EQ(versions[1].State, ELisState::Waiting);
    EXPECT_EQ(versions[1].Version, 2);
    EXPECT_TRUE(versions[1].Corrected);
    EXPECT_EQ(versions[1].ControlId, "KDR-" + std::to_string(id) + "-2");
    EXPECT_EQ(a->NextLisEntry()->Id, versions[1].Id);
    EXPECT_EQ(a->LisCounts().Waiting, 1);
    EXPECT_EQ(a->LisCounts().Delivered, 0) << "the newest version tells where it stands";

    // The queueing is written with the change: one audit row each, in order.
    std::vector<std::string> actions;
    for (const auto& e : a->History(id)) actions.push_back(e.Action);
    EXPECT_EQ(actions, (std::vector<std::string>{"insert", "lis-queue", "patient", "lis-send",
                                                 "lis-delivered", "comment", "lis-queue", "comment",
                                                 "patient"}));
}

TEST_P(LisOutboxArchive, ARequestToSendTakesEachStateItsOwnWay) {
    auto a = OpenArchive(location_);
    std::vector<std::int64_t> ids;
    for (int n = 1; n <= 6; ++n) {
        a->Store(Crp(n), {}, n == 6 ? EArchiveSource::ImportedFile : EArchiveSource::DeviceRead,
                 Actor());
        ids.push_back(*a->FindByTestId(Crp(n).TestID));
    }
    // 1 never queued, 2 waiting, 3 held, 4 delivered, 5 removed.
    a->QueueForLis({ids[1], ids[2], ids[3]}, Actor());
    const auto e = a->LisEntries(ELisState::Waiting, 0);
    ASSERT_EQ(e.size(), 3u);
    a->MarkLisHeld(e[1].Id, "AE: unknown patient", Actor());
    a->MarkLisDelivered(e[2].Id, "AA", Actor());
    a->Remove(ids[4], "wrong card", Actor());

    const TLisQueueOutcome q = a->QueueForLis({ids[0], ids[1], ids[2], ids[3], ids[4]}, Actor());
    EXPECT_EQ(q.Queued, 3);
    EXPECT_EQ(q.AlreadyWaiting, 1);
    EXPECT_EQ(q.Skipped, 1);
    const auto held = a->LisHistory(ids[2]);
    ASSERT_EQ(held.size(), 1u) << "a held message waits again as the same version";
    EXPECT_EQ(held[0].State, ELisState::Waiting);
    EXPECT_EQ(held[0].Reason, "");
    const auto delivered = a->LisHistory(ids[3]);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(delivered[1].Corrected);
    EXPECT_TRUE(a->LisHistory(ids[4]).empty());
    EXPECT_THROW(a->QueueForLis({999999}, Actor()), TArchiveError);

    // --since: every measurement of that day on never queued, imports too,
    // removed ones never.
    const TLisQueueOutcome since = a->QueueForLisSince("2026-12-05", Actor());
    EXPECT_EQ(since.Queued, 1);  // 6; 5 is removed
    EXPECT_EQ(a->LisHistory(ids[5]).size(), 1u);
    EXPECT_THROW(a->QueueForLisSince("2026-02-30", Actor()), TArchiveError);
}

TEST_P(LisOutboxArchive, SenderMarksAreAuditedAndAWaitingMessageOfARemovedMeasurementIsHeld) {
    auto a = OpenArchive(location_);
    a->SetLisQueueing(true);
    a->Store(Crp(1), {}, EArchiveSource::DeviceRead, Actor());
    a->Store(Crp(2), {}, EArchiveSource::DeviceRead, Actor());
    const auto e = *a->NextLisEntry();
    a->MarkLisSending(e.Id, Actor());
    a->MarkLisFailed(e.Id, "timed out", Actor());
    a->MarkLisSending(e.Id, Actor());
    a->MarkLisHeld(e.Id, "AE: Unknown code", Actor());
    const auto after = a->LisHistory(e.MeasurementId).at(0);
    EXPECT_EQ(after.Attempts, 2);
    EXPECT_EQ(after.State, ELisState::Held);
    EXPECT_EQ(after.Reason, "AE: Unknown code");
    EXPECT_EQ(Actions(*a, e.MeasurementId),
              (std::vector<std::string>{
                  "lis-queue " + e.ControlId, "lis-send " + e.ControlId + " (attempt 1)",
                  "lis-failed timed out", "lis-send " + e.ControlId + " (attempt 2)",
                  "lis-held AE: Unknown code"}));
    TArchiveFilter f;
    f.Sort = EArchiveSort::Added;
    const auto rows = a->List(f);
    EXPECT_EQ(rows.at(0).Lis, ELisState::Held);
    EXPECT_EQ(rows.at(0).LisReason, "AE: Unknown code");
    EXPECT_FALSE(rows.at(0).LisTime.empty());

    const std::int64_t second = *a->FindByTestId(Crp(2).TestID);
    a->Remove(second, "wrong patient", Actor());
    EXPECT_FALSE(a->NextLisEntry()) << "a removed measurement never leaves by itself";
    EXPECT_EQ(a->LisHistory(second).at(0).Reason, "removed from the archive: wrong patient");
    EXPECT_TRUE(a->Check().Problems.empty());
}

TEST_P(LisOutboxArchive, OneSenderLockPerArchiveGoneWithItsHolder) {
    auto a = OpenArchive(location_);
    auto b = OpenArchive(location_);
    // A server lets go of a closed connection's locks when its backend has
    // ended, a moment after the client closed.
    const auto eventually = [&] {
        for (int i = 0; i < 100; ++i) {
            if (a->TryLockLisSender()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    ASSERT_TRUE(a->TryLockLisSender());
    EXPECT_TRUE(a->TryLockLisSender()) << "taking it again is no conflict with oneself";
    EXPECT_TRUE(a->HoldsLisSender());
    EXPECT_FALSE(b->TryLockLisSender());
    EXPECT_FALSE(b->HoldsLisSender());
    a->UnlockLisSender();
    EXPECT_FALSE(a->HoldsLisSender());
    ASSERT_TRUE(b->TryLockLisSender());
    b.reset();  // a closed connection holds nothing
    ASSERT_TRUE(eventually());
    a->UnlockLisSender();

    // A holder killed without a word: the lock goes with its process.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        auto c = OpenArchive(location_);
        const char ok = c->TryLockLisSender() ? 'y' : 'n';
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(got, 'y');
    EXPECT_FALSE(a->TryLockLisSender()) << "held by the child";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(eventually());
}

}  // namespace
}  // namespace kyvo::lisfeed_test
