// Memory transfer driving and the stored-data read: a step per memory area
// (the storage pointers, then the spans of both rings that the ring fetch
// plans), blocks requested one after another, the ring images assembled
// into ResultCfgBuffer and ResultBuffer, then the walks over both rings.
#include <algorithm>

#include "app/DeviceSession.h"
#include "files/DeviceMemoryFile.h"
#include "protocol/KyvoWire.h"
#include "testdata/Sorting.h"

namespace kyvo {

namespace {

bool IsPointerStep(EReadStep step) {
    return step == SpVolatilePtAbs || step == SpVolatilePtRel;
}

}  // namespace

void TDeviceSession::StartReadStep(EReadStep step) {
    const bool receiving = State_.Current == stReceiving;
    ReadKyvoDataHelper.InitializeReading(step, EEPROMMap);
    // A stored-data read shows one bar over the ring bytes it fetches (see
    // StartRingFetch): the few pointer bytes before them do not move it.
    progressPosition = 0;
    countProgress = !(receiving && IsPointerStep(step));
    const std::uint32_t max = countProgress ? ReadKyvoDataHelper.SizeLeft : 1;
    ev.ProgressRange(static_cast<int>(std::min<std::uint32_t>(max, 0x7FFFFFFF)));
    ev.ProgressAt(0);
    ev.ProgressShown(true);
    if (step != SpNoRead) RequestNextReadBlock();
}

void TDeviceSession::RequestNextReadBlock() {
    if (ReadKyvoDataHelper.ReadStep == SpNoRead) return;
    std::uint16_t size = 0;
    std::uint32_t address = 0;
    ReadKyvoDataHelper.PrepareNextBlock(size, address);
    // Re-entering the activity state re-arms its time-out for this block.
    EnterState(State_.Current);
    if (State_.Current == stReceiving) {
        ev.ProgressShown(true);
        ev.ReadPhase(ReadKyvoDataHelper.ReadStep);
    }
    Request(wcReadData, address, [this, address, size] { Kyvo->readData(address, size); });
}

bool TDeviceSession::CollectReadBlock(const tByteBuffer& bytes) {
    auto& buf = ReadKyvoDataHelper.Buffer;
    buf.insert(buf.end(), bytes.begin(), bytes.end());
    if (countProgress) {
        progressPosition += static_cast<int>(bytes.size());
        ev.ProgressAt(progressPosition);
    }
    if (ReadKyvoDataHelper.SizeLeft > 0) {
        RequestNextReadBlock();
        return false;
    }
    // A stored-data read hides the bar once both rings are in.
    if (State_.Current == stReceiving) return true;
    ev.ProgressShown(false);
    ev.ProgressAt(0);
    return true;
}

void TDeviceSession::HandleDataRead(std::uint32_t address, tByteBuffer& bytes) {
    if (!AcceptReply(wcReadData, address, "memory read")) return;
    if (!CollectReadBlock(bytes)) return;
    const std::uint32_t start = ReadKyvoDataHelper.StartAddress;
    const EReadStep step = ReadKyvoDataHelper.ReadStep;
    tByteBuffer& data = ReadKyvoDataHelper.Buffer;

    if (State_.Current == stIdentifying) {
        if (start == kNonVolatileAddress) {
            readNonVolatileSN(EEPROMMap.NonVolatileData, data);
            StartReadStep(EEPROMMap.EEPROMVersion() >= 5 ? SpKyvoConfigBits_0 : SpKyvoConfigBits);
        } else if (start == kConfigBits0Block.address) {
            tCursor c = 0;
            EEPROMMap.NonVolatileData.KyvoCfgBits_0.Data = bufReadDWord(data, c);
            StartReadStep(SpKyvoConfigBits);
        } else if (start == kVolatileAddress) {
            tCursor c = 0;
            EEPROMMap.VolatileData.KyvoCfgBits.Data = bufReadDWord(data, c);
            if (EEPROMMap.VolatileData.KyvoCfgBits.ClockPresent()) EnableClock();
            ReadKyvoDataHelper.SavedDataReadSrc =
                EEPROMMap.VolatileData.KyvoCfgBits.SeparateResultMemory() ? kResultMemoryAddress
                                                                          : kDataMemoryAddress;
            if (ButtonLockApplies()) {
                Request(wcButtonControl, 0, [this] { Kyvo->setButtonControl(true); });
            } else {
                EnableDeviceActions(true, true);
                EnterState(stReady);
            }
        }
        return;
    }

    if (State_.Current == stReceiving) {
        if (const auto kind = storagePointerKindAt(start);
            kind && (step == SpVolatilePtAbs || step == SpVolatilePtRel)) {
            parseStoragePointers(data, *kind, EEPROMMap.VolatileData);
            ReadKyvoDataHelper.SetResultStoragePointers(EEPROMMap.EEPROMVersion(),
                                                        EEPROMMap.VolatileData);
            if (*kind == spkAbsolute)
                StartReadStep(SpVolatilePtRel);
            else
                StartRingFetch();
        } else if (ringFetch && (step == SpResultCfgData || step == SpResultData)) {
            ringFetch->Deliver(data);
            ContinueRingFetch();
        }
        return;
    }

    if (State_.Current == stEvaluating) {
        if (const auto kind = storagePointerKindAt(start); kind && step == SpVolatilePtAbs) {
            parseStoragePointers(data, *kind, EEPROMMap.VolatileData);
            ReadKyvoDataHelper.SetResultStoragePointers(EEPROMMap.EEPROMVersion(),
                                                        EEPROMMap.VolatileData);
            StartReadStep(SpTestConfigs);
        } else if (step == SpTestConfigs) {
            ChooseStoredConfiguration(data);
        } else if (step == SpRFID || step == SpConfiguration) {
            HandleConfigurationRead(step, data);
        } else if (step == SpMeasurementResult) {
            HandleMeasurementRecord(data);
        }
    }
    // Any other state: the step was collected without effect.
}

void TDeviceSession::StartWriteStep(EWriteStep step, const tByteBuffer& content,
                                    bool savePermanent) {
    WriteKyvoDataHelper.Init(step, content, savePermanent);
    if (WriteKyvoDataHelper.WriteStep != WSpNoWrite) SendNextWritePackage();
}

bool TDeviceSession::SendNextWritePackage() {
    std::uint32_t address = 0;
    tByteBuffer package;
    if (!WriteKyvoDataHelper.PreparePackage(address, package)) return true;
    const bool last = WriteKyvoDataHelper.SizeLeft == 0;
    const bool update = WriteKyvoDataHelper.Update, reset = WriteKyvoDataHelper.Reset;
    const bool permanent = last && WriteKyvoDataHelper.SavePermanent;
    Request(wcWriteData, address, [this, address, package, update, reset, permanent] {
        Kyvo->writeData(address, package, update, reset, 0, -1, permanent);
    });
    return false;
}

void TDeviceSession::WriteConfigBytesToDevice(const tByteBuffer& config, std::uint32_t target,
                                              bool savePermanent) {
    if (target == kConfigurationAddress)
        StartWriteStep(WSpConfig, config, savePermanent);
    else if (target == kRFIDAddress)
        StartWriteStep(WSpRFID, config, savePermanent);
}

// ---------------------------------------------------------------------------
// Reading stored data

void TDeviceSession::ReadStoredData() {
    TSessionEntry entry(*this);
    if (DelayIfClockPending(actReadData)) return;
    if (!StartActivity(EActivity::ReadStoredData, stReceiving)) return;
    ev.ReleaseListSelection();
    StartReadStep(SpVolatilePtAbs);
}

namespace {

std::string DeviceMemoryPath(const std::string& folder, const TEEPROMMap& map) {
    return folder + "/" + deviceMemoryFileName(TStoredDataFetch::SerialOf(map));
}

}  // namespace

// The rings come in as the planned spans, each read as a step of its own
// ring; the bar counts the bytes actually fetched.
void TDeviceSession::StartRingFetch() {
    std::optional<TDeviceMemoryRecord> known;
    if (!d.DeviceMemoryFolder.empty()) {
        const std::string path = DeviceMemoryPath(d.DeviceMemoryFolder, EEPROMMap);
        // Off means forgotten: the file holds every measurement of the device.
        if (!settings_.IncrementalRead)
            removeDeviceMemoryFile(path);
        else if (!settings_.ReadWhole)
            known = readDeviceMemoryFile(path);
    }
    ringFetch = std::make_unique<TStoredDataFetch>(EEPROMMap, ReadKyvoDataHelper, known);
    progressPosition = 0;
    countProgress = true;
    ev.ProgressAt(0);
    ContinueRingFetch();
}

void TDeviceSession::ContinueRingFetch() {
    if (const auto rq = ringFetch->Next()) {
        ReadKyvoDataHelper.InitializeReading(
            rq->Ring == ERingKind::ResultConfigs ? SpResultCfgData : SpResultData, EEPROMMap);
        ReadKyvoDataHelper.StartAddress = rq->Address;
        ReadKyvoDataHelper.SizeLeft = rq->Size;
        ev.ProgressRange(static_cast<int>(std::min<std::uint32_t>(
            std::max<std::uint32_t>(ringFetch->PlannedBytes(), 1), 0x7FFFFFFF)));
        ev.ProgressShown(true);
        RequestNextReadBlock();
        return;
    }
    ResultCfgBuffer = ringFetch->ResultCfgImage();
    ResultBuffer = ringFetch->ResultImage();
    lastReadFetched = ringFetch->FetchedBytes();
    lastReadRingBytes = ringFetch->TotalBytes();
    // The memory is a cache: when it cannot be written the next read is
    // simply a whole one.
    if (settings_.IncrementalRead && !d.DeviceMemoryFolder.empty())
        if (const auto record = ringFetch->Record())
            writeDeviceMemoryFile(DeviceMemoryPath(d.DeviceMemoryFolder, EEPROMMap), *record);
    ringFetch.reset();
    ev.ProgressShown(false);
    ev.ProgressAt(0);
    EnterState(stReady);
    BuildMeasureSetsFromStorage();
}

TDeviceIdentity TDeviceSession::DeviceIdentity() const {
    TDeviceIdentity id;
    id.ProductionYear = EEPROMMap.NonVolatileData.ProductionYear;
    id.ProductionWeek = EEPROMMap.NonVolatileData.ProductionWeek;
    id.SerialNumber = EEPROMMap.NonVolatileData.SerialNumber;
    return id;
}

TextLookup TDeviceSession::Texts() const {
    return [this](const TLangEntry& e) { return Lang(e); };
}

void TDeviceSession::BuildMeasureSetsFromStorage() {
    const std::uint8_t v = EEPROMMap.EEPROMVersion();
    const auto& vol = EEPROMMap.VolatileData;
    const auto& bits0 = EEPROMMap.NonVolatileData.KyvoCfgBits_0;
    ResultList.clear();
    ReadStoredResultConfigs(
        ResultCfgBuffer,
        {vol.StoredTestResultCfgStart, vol.StoredTestResultCfgStop, vol.StoredTestResultCfgReadPtr},
        v, ResultList);
    ReadStoredResults(
        ResultBuffer,
        {vol.StoredTestResultStart, vol.StoredTestResultStop, vol.StoredTestResultReadPtr}, v,
        bits0.ResultsWithLineData(), bits0.ResultsWithImage(), ResultList);

    // An overwrite empties the list here, through its owner, so that the
    // view lets go of its rows and selection before the sets are freed.
    const auto decide = [this]() -> EAddDecision {
        switch (AddDataBehaviour) {
            case AlwaysAdd:
                return EAddDecision::Add;
            case AlwaysOverwrite:
                ev.ClearList();
                return EAddDecision::Overwrite;
            case AlwaysAsk:
                break;
        }
        EAddDecision answer = EAddDecision::Cancel;
        RunPaused([&] { answer = ev.AskAddOrOverwrite(); });
        if (answer == EAddDecision::Overwrite) ev.ClearList();
        if (answer == EAddDecision::Cancel) NoteOutcome(EOutcome::Cancelled);
        return answer;
    };
    const TStorageBuildResult r =
        kyvo::BuildMeasureSetsFromStorage(ResultList, DeviceIdentity(), bits0.ResultsWithLineData(),
                                          bits0.ResultsWithImage(), Texts(), decide, *d.List);
    if (r.Cancelled) return;
    ev.StoredDataRead(r);
    if (r.Created == 0) ReportNotice(ENotice::DatabaseEmpty, LE_KyvoDatabaseEmpty);
    if (d.Archive && r.Created > 0) {
        // Every stored measurement, also those the list held already: the
        // list may have come from a file the archive never saw.
        TMeasureList read;
        kyvo::BuildMeasureSetsFromStorage(ResultList, DeviceIdentity(), bits0.ResultsWithLineData(),
                                          bits0.ResultsWithImage(), Texts(), {}, read);
        std::vector<const TMeasureSet*> sets;
        for (const auto& m : read) sets.push_back(m.get());
        FeedArchive(sets, EMeasurementOrigin::DeviceRead);
    }
}

void TDeviceSession::FeedArchive(const std::vector<const TMeasureSet*>& sets,
                                 EMeasurementOrigin origin) {
    if (!d.Archive || sets.empty()) return;
    TMeasurementDevice device;
    device.Serial = SNString;
    device.Firmware = FWString;
    if (EEPROMMap.EEPROMVersion() != 0)
        device.EepromVersion = std::to_string(EEPROMMap.EEPROMVersion());
    ev.ArchiveFed(d.Archive->Keep(sets, device, origin));
}

}  // namespace kyvo
