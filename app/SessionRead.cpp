// Memory transfer driving and the stored-data read: a step per memory area
// (the storage pointers, then the result configuration ring, then the
// result ring), blocks requested one after another, the bytes collected
// into ResultCfgBuffer and ResultBuffer, then the walks over both rings.
#include <algorithm>

#include "app/DeviceSession.h"
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
    // A stored-data read shows one bar over both rings: the second ring
    // goes on where the first ended, and the few pointer bytes before them
    // do not move it.
    if (!(receiving && step == SpResultData)) {
        progressPosition = 0;
        countProgress = !(receiving && IsPointerStep(step));
        std::uint32_t max = countProgress ? ReadKyvoDataHelper.SizeLeft : 1;
        if (receiving && step == SpResultCfgData)
            max += ReadKyvoDataHelper.Placement(SpResultData, EEPROMMap).size;
        ev.ProgressRange(static_cast<int>(std::min<std::uint32_t>(max, 0x7FFFFFFF)));
        ev.ProgressAt(0);
    }
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
    Kyvo->readData(address, size);
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
    // The first ring of a stored-data read leaves the bar where it is.
    if (State_.Current == stReceiving && ReadKyvoDataHelper.ReadStep != SpResultData) return true;
    ev.ProgressShown(false);
    ev.ProgressAt(0);
    return true;
}

void TDeviceSession::HandleDataRead(tByteBuffer& bytes) {
    if (!CollectReadBlock(bytes)) return;
    const std::uint32_t start = ReadKyvoDataHelper.StartAddress;
    const EReadStep step = ReadKyvoDataHelper.ReadStep;
    tByteBuffer& data = ReadKyvoDataHelper.Buffer;

    if (State_.Current == stIdentifying) {
        if (start == kNonVolatileAddress) {
            readNonVolatileSN(EEPROMMap.NonVolatileData, data);
            StartReadStep(EEPROMMap.EEPROMVersion() >= 5 ? SpKyvoConfigBits_0 : SpKyvoConfigBits);
        } else if (start == 0x5007C) {
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
                Kyvo->setButtonControl(true);
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
            StartReadStep(*kind == spkAbsolute ? SpVolatilePtRel : SpResultCfgData);
        } else if (step == SpResultCfgData) {
            ResultCfgBuffer = data;
            StartReadStep(SpResultData);
        } else if (step == SpResultData) {
            ResultBuffer = data;
            EnterState(stReady);
            BuildMeasureSetsFromStorage();
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
    Kyvo->writeData(address, package, WriteKyvoDataHelper.Update, WriteKyvoDataHelper.Reset, 0, -1,
                    last && WriteKyvoDataHelper.SavePermanent);
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
}

}  // namespace kyvo
