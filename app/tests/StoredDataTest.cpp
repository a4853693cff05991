#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/tests/Harness.h"
#include "files/AtomicFile.h"

namespace kyvo {
namespace {

using testing::Rig;

// Read requests (address, count) in the bytes the program sent.
std::vector<std::pair<std::uint32_t, std::uint16_t>> ReadRequests(const tByteBuffer& sent) {
    tByteBuffer b;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        b.push_back(sent[i]);
        if (sent[i] == 0xFE && i + 1 < sent.size() && sent[i + 1] == 0xFE) ++i;
    }
    std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
    for (std::size_t i = 0; i + 10 < b.size(); ++i)
        if (b[i] == 0xFE && b[i + 1] == 0x20 && b[i + 2] == 0x52)
            out.push_back({b[i + 4] | b[i + 5] << 8 | b[i + 6] << 16 |
                               static_cast<std::uint32_t>(b[i + 7]) << 24,
                           static_cast<std::uint16_t>(b[i + 8] | b[i + 9] << 8)});
    return out;
}

sim::Scenario Device(std::uint8_t version) {
    sim::Scenario s = sim::Scenario::demo();
    s.eepromVersion = version;
    if (version < 3) s.bits.SeparateResultMemory = false;
    s.memory = {};
    return s;
}

struct Connected {
    explicit Connected(const sim::Scenario& s, std::map<std::string, std::string> settings = {})
        : rig(s, std::move(settings)) {
        rig.Start();
        rig.Connect();
        EXPECT_EQ(rig.State(), stReady);
        rig.sent.clear();
    }
    Rig rig;
};

struct PointerCase {
    std::uint8_t version;
    std::vector<std::pair<std::uint32_t, std::uint16_t>> pointerReads;
};

class StoredPointers : public ::testing::TestWithParam<PointerCase> {};

TEST_P(StoredPointers, readThePointerBlocksOfTheVersionThenBothRings) {
    Connected c(Device(GetParam().version));
    c.rig.main->Button_ReadDataClick();
    EXPECT_EQ(c.rig.State(), stReceiving);
    EXPECT_EQ(c.rig.view.Status, "Receiving data: storage pointers");
    c.rig.Run(3000);
    EXPECT_EQ(c.rig.State(), stReady);
    const auto reads = ReadRequests(c.rig.sent);
    const auto& want = GetParam().pointerReads;
    ASSERT_GT(reads.size(), want.size());
    EXPECT_EQ(std::vector(reads.begin(), reads.begin() + want.size()), want);
    EXPECT_EQ(c.rig.main->MeasureList.size(), c.rig.device->storedResultCount());
    EXPECT_GT(c.rig.main->MeasureList.size(), 0u);
    EXPECT_FALSE(c.rig.view.ProgressVisible);
    EXPECT_TRUE(c.rig.view.IsEnabled(EControl::Menu_SaveFile));
    EXPECT_EQ(c.rig.view.Counts[EList::Measurements],
              static_cast<int>(c.rig.main->MeasureList.size()));
}

INSTANTIATE_TEST_SUITE_P(Versions, StoredPointers,
                         ::testing::Values(PointerCase{2, {{0x500A2, 24}}},
                                           PointerCase{4, {{0x5009C, 12}, {0x500AE, 14}}},
                                           PointerCase{5, {{0x500A0, 12}, {0x500B2, 14}}}));

TEST(StoredData, aLongRingIsReadInBlocksWithTheProgressBarShowingIt) {
    Connected c(sim::Scenario::demo());
    int maxSeen = 0;
    c.rig.main->OnStateEntered = [&](TForm_Main&, std::uint8_t) {
        maxSeen = std::max(maxSeen, c.rig.view.ProgressMax);
    };
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    const auto reads = ReadRequests(c.rig.sent);
    for (auto [a, n] : reads) EXPECT_LE(n, 768);
    EXPECT_GT(reads.size(), 4u);
    EXPECT_GT(maxSeen, 768);
    EXPECT_FALSE(c.rig.view.ProgressVisible);
}

TEST(StoredData, theProgressRunsOnceOverBothRingsAndTheStatusNamesEachPhase) {
    Connected c(sim::Scenario::demo());
    c.rig.view.ProgressTrail.clear();
    c.rig.view.StatusHistory.clear();
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    ASSERT_EQ(c.rig.State(), stReady);
    // From the first ring's first block on: one maximum, never a step back,
    // ending full.
    const auto& trail = c.rig.view.ProgressTrail;
    auto first = std::find_if(trail.begin(), trail.end(), [](auto p) { return p.first > 0; });
    ASSERT_NE(first, trail.end());
    const int max = first->second;
    EXPECT_GT(max, 768);
    int last = 0;
    bool reachedFull = false;
    for (auto it = first; it != trail.end(); ++it) {
        if (it->first == 0 && reachedFull) break;  // hidden and reset at the end
        EXPECT_EQ(it->second, max);
        EXPECT_GE(it->first, last);
        last = it->first;
        reachedFull = reachedFull || it->first == max;
    }
    EXPECT_TRUE(reachedFull);
    std::vector<std::string> phases;
    for (const auto& t : c.rig.view.StatusHistory)
        if (t.rfind("Receiving data: ", 0) == 0 && (phases.empty() || phases.back() != t))
            phases.push_back(t);
    EXPECT_EQ(phases, (std::vector<std::string>{"Receiving data: storage pointers",
                                                "Receiving data: result configurations",
                                                "Receiving data: results"}));
    const std::string n = std::to_string(c.rig.main->MeasureList.size());
    EXPECT_EQ(c.rig.view.Feedback, n + " measurements read, " + n + " of them new.");

    c.rig.main->UseAddDataBehaviour(AlwaysAdd);
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    EXPECT_EQ(c.rig.view.Feedback, n + " measurements read, 0 of them new.");
}

TEST(StoredData, aSecondReadWithAddAddsNothingButStillSaves) {
    Connected c(sim::Scenario::demo(),
                {{"Setup/AddDataBehaviour", "Add"}, {"Setup/AutoSaveMeasurements", "true"}});
    int saves = 0;
    c.rig.main->SaveMeasureList = [&](TForm_Main&, int mode) {
        EXPECT_EQ(mode, 3);
        ++saves;
        return true;
    };
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    const std::size_t first = c.rig.main->MeasureList.size();
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    EXPECT_EQ(c.rig.main->MeasureList.size(), first);
    EXPECT_TRUE(c.rig.view.Messages.empty());
    EXPECT_EQ(saves, 2);  // the tracking file, after each read
}

struct BehaviourCase {
    const char* setting;
    std::vector<EModalResult> answers;
    bool asked;
    bool keepsOld;  // the list of the first read stays
};

class DataBehaviour : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(DataBehaviour, decidesWhatASecondReadDoesToTheList) {
    const auto& p = GetParam();
    Connected c(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", p.setting}});
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    ASSERT_FALSE(c.rig.main->MeasureList.empty());
    // Give the list a comment so that a kept list can be told apart.
    c.rig.main->MeasureList[0]->UserComment = "mine";
    for (auto a : p.answers) c.rig.view.MessageAnswers.push_back(a);
    c.rig.main->Button_ReadDataClick();
    c.rig.Run(3000);
    EXPECT_EQ(!c.rig.view.Messages.empty(), p.asked);
    const bool kept =
        !c.rig.main->MeasureList.empty() && c.rig.main->MeasureList[0]->UserComment == "mine";
    EXPECT_EQ(kept, p.keepsOld);
    EXPECT_EQ(c.rig.main->MeasureList.size(), c.rig.device->storedResultCount());
    if (p.asked) {
        EXPECT_EQ(c.rig.view.Messages[0].Style, EMsgStyle::YesNoCancel);
    }
}

INSTANTIATE_TEST_SUITE_P(Behaviours, DataBehaviour,
                         ::testing::Values(BehaviourCase{"Add", {}, false, true},
                                           BehaviourCase{"Overwrite", {}, false, false},
                                           BehaviourCase{"Ask", {EModalResult::Yes}, true, true},
                                           BehaviourCase{"Ask", {EModalResult::No}, true, false},
                                           BehaviourCase{
                                               "Ask", {EModalResult::Cancel}, true, true}));

sim::Scenario EmptyDevice() {
    sim::Scenario s = sim::Scenario::demo();
    s.measurements.clear();
    s.generator.count = 0;
    return s;
}

TEST(StoredData, anEmptyDatabaseAsksFirstThenSaysSoAndSavesNothing) {
    Rig rig(EmptyDevice(), {{"Setup/AddDataBehaviour", "Ask"}});
    rig.Start();
    rig.Connect();
    int saves = 0;
    rig.main->SaveMeasureList = [&](TForm_Main&, int) { return ++saves > 0; };
    rig.main->MeasureList.push_back(std::make_unique<TMeasureSet>());
    rig.view.MessageAnswers = {EModalResult::No};
    rig.main->Button_ReadDataClick();
    rig.Run(3000);
    EXPECT_EQ(rig.view.MessageTexts(),
              (std::vector<std::string>{std::string(LE_AskAddToCurrentList.Def),
                                        "The kyvo database is empty."}));
    EXPECT_TRUE(rig.main->MeasureList.empty());
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(rig.State(), stReady);
}

TEST(StoredData, anEmptyDatabaseWithAnEmptyListAsksNothing) {
    Rig rig(EmptyDevice());
    rig.Start();
    rig.Connect();
    rig.main->Button_ReadDataClick();
    rig.Run(3000);
    EXPECT_EQ(rig.view.MessageTexts(), std::vector<std::string>{"The kyvo database is empty."});
}

// Bytes requested from the two rings (everything but the pointer blocks).
std::uint32_t RingBytesRequested(const tByteBuffer& sent) {
    std::uint32_t n = 0;
    for (auto [address, size] : ReadRequests(sent))
        if (address < kNonVolatileAddress || address >= kResultMemoryAddress) n += size;
    return n;
}

TEST(StoredData, aKnownDeviceIsReadAgainFromWhatChangedWithTheSameListAndABarOverTheFetchedBytes) {
    const std::string folder =
        ::testing::TempDir() + "kyvo-app-devices-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    for (const bool incremental : {true, false}) {
        SCOPED_TRACE(incremental ? "remembered" : "setting off");
        Rig rig(sim::Scenario::demo(),
                {{"Setup/IncrementalRead", incremental ? "true" : "false"},
                 {"Setup/AddDataBehaviour", "Overwrite"}},
                folder);
        rig.Start();
        rig.Connect();
        rig.main->Button_ReadDataClick();
        rig.Run(20000);
        ASSERT_EQ(rig.State(), stReady);
        const std::uint32_t whole = rig.main->Session().LastReadRingBytes();
        EXPECT_EQ(rig.main->Session().LastReadFetched(), whole);
        std::vector<std::string> first;
        for (const auto& m : rig.main->MeasureList) first.push_back(m->TestID);
        const tByteBuffer cfg = rig.main->ResultCfgData(), res = rig.main->ResultData();

        rig.sent.clear();
        rig.view.ProgressTrail.clear();
        rig.main->Button_ReadDataClick();
        rig.Run(20000);
        ASSERT_EQ(rig.State(), stReady);
        std::vector<std::string> second;
        for (const auto& m : rig.main->MeasureList) second.push_back(m->TestID);
        EXPECT_EQ(second, first);
        EXPECT_EQ(rig.main->ResultCfgData(), cfg);
        EXPECT_EQ(rig.main->ResultData(), res);
        const std::uint32_t fetched = rig.main->Session().LastReadFetched();
        EXPECT_EQ(RingBytesRequested(rig.sent), fetched);
        if (incremental)
            EXPECT_LT(fetched, 2048u);
        else
            EXPECT_EQ(fetched, whole);
        // The bar's last maximum is what was fetched, and it got there.
        int max = 0, top = 0;
        for (auto [position, maximum] : rig.view.ProgressTrail) {
            max = maximum;
            top = std::max(top, position);
        }
        EXPECT_EQ(max, static_cast<int>(fetched));
        EXPECT_EQ(top, static_cast<int>(fetched));
        EXPECT_FALSE(rig.view.ProgressVisible);
        std::filesystem::remove_all(folder);
    }
}

// What is remembered of a device changes only with a read that got both
// rings: a re-read cut off on the way keeps the old memory, and the list.
TEST(StoredData, aReReadCutOffOnTheWayKeepsTheRememberedDeviceAndTheList) {
    const std::string folder =
        ::testing::TempDir() + "kyvo-app-devices-cut-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    Rig rig(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Overwrite"}}, folder);
    rig.Start();
    rig.Connect();
    rig.main->Button_ReadDataClick();
    rig.Run(20000);
    ASSERT_EQ(rig.State(), stReady);
    const std::size_t listed = rig.main->MeasureList.size();
    ASSERT_GT(listed, 0u);
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);
    const std::string path = std::filesystem::directory_iterator(folder)->path().string();
    std::string remembered;
    ASSERT_TRUE(readFileBytes(path, remembered));

    rig.sent.clear();
    rig.main->Button_ReadDataClick();
    for (int i = 0; i < 4000 && RingBytesRequested(rig.sent) == 0; ++i) rig.Run(5);
    ASSERT_GT(RingBytesRequested(rig.sent), 0u);
    rig.deviceAttached = false;
    rig.Run(20000);
    EXPECT_NE(rig.State(), stReceiving);
    std::string after;
    ASSERT_TRUE(readFileBytes(path, after));
    EXPECT_EQ(after, remembered);
    EXPECT_EQ(rig.main->MeasureList.size(), listed);
    std::filesystem::remove_all(folder);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    return names;
}

// The remembered file holds every measurement of the device. With the user
// setting off nothing is written and what an earlier read left is removed;
// a read asked to be whole (kyvo-cli read --full) with the setting on
// reads everything and remembers it anew.
TEST(StoredData, withRememberingOffNothingOfTheDeviceIsKeptAndWhatWasKeptIsRemoved) {
    const std::string folder =
        ::testing::TempDir() + "kyvo-app-devices-off-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    const auto readOnce = [&](bool remember, bool whole) {
        Rig rig(sim::Scenario::demo(),
                {{"Setup/IncrementalRead", remember ? "true" : "false"},
                 {"Setup/AddDataBehaviour", "Overwrite"}},
                folder);
        rig.Start();
        rig.main->Session().Settings().ReadWhole = whole;
        rig.Connect();
        rig.main->Button_ReadDataClick();
        rig.Run(20000);
        EXPECT_EQ(rig.State(), stReady);
        EXPECT_FALSE(rig.main->MeasureList.empty());
        return std::make_pair(rig.main->Session().LastReadFetched(),
                              rig.main->Session().LastReadRingBytes());
    };
    readOnce(true, false);
    const std::vector<std::string> kept = FilesIn(folder);
    ASSERT_EQ(kept.size(), 1u);
    const std::string path = folder + "/" + kept.front();

    for (int i = 0; i < 2; ++i) {
        const auto [fetched, whole] = readOnce(false, false);
        EXPECT_EQ(fetched, whole);
        EXPECT_EQ(FilesIn(folder), std::vector<std::string>{});
    }

    const auto [fetched, whole] = readOnce(true, true);
    EXPECT_EQ(fetched, whole);
    EXPECT_EQ(FilesIn(folder), kept);
    std::string remembered;
    ASSERT_TRUE(readFileBytes(path, remembered));
    const auto [again, total] = readOnce(true, false);
    EXPECT_LT(again, total);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kyvo
