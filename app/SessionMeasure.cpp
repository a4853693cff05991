// The measurement flow: choosing the test configuration, putting it into
// the device, relaying the device's prompts, fetching configuration, result
// and line image, and combining two measurements into one.
#include <fstream>
#include <iterator>

#include "app/DeviceSession.h"
#include "protocol/KyvoWire.h"

namespace kyvo {

bool TDeviceSession::ShowConfigMessage(std::uint8_t parseResult, bool fromFile) {
    const TLangEntry* e = nullptr;
    switch (parseResult) {
        case kCfgOk:
            return false;
        case kCfgNoConfig:
            e = &LE_NoTestConfigurationFound;
            break;
        case kCfgWrongVersion:
            e = &LE_ConfigWrongVersionNotLoaded;
            break;
        default:
            e = &LE_ConfigChecksumWrong;
            break;  // checksum, or counts that cannot be
    }
    TSessionError err;
    err.Kind = fromFile ? EErrorKind::File : EErrorKind::Device;
    err.Code = parseResult;
    err.Text = Lang(*e);
    ReportError(err, stReady);
    return true;
}

void TDeviceSession::WriteTestConfigToDevice(TTestConfig& cfg, std::uint32_t target,
                                             bool savePermanent) {
    tByteBuffer bytes;
    TestConfigToBytes(cfg, bytes);
    WriteConfigBytesToDevice(bytes, target, savePermanent);
}

bool TDeviceSession::AskAboutPresentList() {
    switch (AddDataBehaviour) {
        case AlwaysAdd:
            return true;
        case AlwaysOverwrite:
            ev.ClearList();
            return true;
        case AlwaysAsk:
            if (d.List->empty()) return true;
            EAddDecision answer = EAddDecision::Cancel;
            RunPaused([&] { answer = ev.AskAddOrOverwrite(); });
            switch (answer) {
                case EAddDecision::Add:
                    return true;
                case EAddDecision::Overwrite:
                    ev.ClearList();
                    return true;
                case EAddDecision::Cancel:
                    return false;
            }
    }
    return true;
}

void TDeviceSession::Measure(bool timer) {
    TSessionEntry entry(*this);
    if (DelayIfClockPending(timer ? actTimerMeasure : actInstantMeasure)) return;
    if (!StartActivity(EActivity::Measure, stReady)) return;
    IsTimerMeasure = timer;

    bool fromFile = false;
    if (CurrentTestSource == TSLocal) {
        fromFile = true;
    } else if (CurrentTestSource == TSSelect) {
        const bool clockWasOn = Timer_KyvoClock->IsActive();
        const bool stateCntWasOn = Timer_StateCnt->IsActive();
        Timer_StateCnt->Stop();
        Timer_KyvoClock->Stop();
        const std::optional<EConfigSource> source = ev.AskConfigSource();
        if (clockWasOn) Timer_KyvoClock->Start(1000);
        if (stateCntWasOn) Timer_StateCnt->Start(1000);
        if (!source) {
            NoteOutcome(EOutcome::Cancelled);
            return;
        }
        fromFile = *source == EConfigSource::File;
    }

    ev.ReleaseListSelection();
    if (!AskAboutPresentList()) {
        NoteOutcome(EOutcome::Cancelled);
        return;
    }

    if (fromFile) {
        for (;;) {
            const auto path = ev.ChooseConfigFile(ConfigFileDir);
            if (!path) {
                NoteOutcome(EOutcome::Cancelled);
                return;
            }
            const auto slash = path->find_last_of("/\\");
            // The result files' folder moves only with a result file.
            if (slash != std::string::npos) ConfigFileDir = path->substr(0, slash + 1);
            std::ifstream in(*path, std::ios::binary);
            tByteBuffer bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            TTestConfig cfg;
            const std::uint8_t r = in || in.eof() ? TestConfigFromBytes(bytes, cfg) : kCfgNoConfig;
            if (r == kCfgOk) {
                if (CheckNotBusy(stEvaluating))
                    WriteTestConfigToDevice(cfg, kConfigurationAddress, false);
                return;
            }
            ShowConfigMessage(r, true);
        }
    }

    if (EEPROMMap.VolatileData.KyvoCfgBits.RFIDConfigSource()) {
        bool placed = false;
        RunPaused([&] { placed = ev.ConfirmTagPlaced(); });
        if (!placed) {
            NoteOutcome(EOutcome::Cancelled);
            return;
        }
        if (CheckNotBusy(stEvaluating)) {
            TryRFIDAgain = true;
            Request(wcEvaluate, 0, [this] { Kyvo->evaluate(true, IsTimerMeasure); });
        }
        return;
    }
    if (CheckNotBusy(stEvaluating)) StartReadStep(SpVolatilePtAbs);
}

void TDeviceSession::ChooseStoredConfiguration(const tByteBuffer& list) {
    TStoredConfigList configs = ReadStoredConfigList(list);
    if (configs.Entries.empty()) {
        // The device answered: there is nothing to choose, and nothing to wait for.
        NoteOutcome(EOutcome::Device);
        EnterState(stReady);
        ReportNotice(ENotice::NoStoredConfig, LE_NoTestConfigurationFound);
        return;
    }
    std::vector<std::string> items;
    for (const auto& e : configs.Entries) items.push_back(e.Text);
    ArmTimeOut(0);
    const bool clockWasOn = Timer_KyvoClock->IsActive();
    Timer_StateCnt->Stop();
    Timer_KyvoClock->Stop();
    const std::optional<int> selected = ev.ChooseStoredConfiguration(items);
    if (selected && *selected >= 0 && *selected < static_cast<int>(items.size())) {
        WriteTestConfigToDevice(configs.Entries[*selected].Config, kConfigurationAddress, false);
        ArmTimeOut(8500);
    } else {
        NoteOutcome(EOutcome::Cancelled);
        EnterState(stReady);
    }
    if (clockWasOn) Timer_KyvoClock->Start(1000);
    Timer_StateCnt->Start(1000);
}

void TDeviceSession::HandleWriteSuccess(std::uint32_t address) {
    if (!AcceptReply(wcWriteData, address, "memory write")) return;
    if (!SendNextWritePackage()) return;
    if (State_.Current != stEvaluating) return;
    const bool timer =
        CombineMeasurements == ECombineMeasurements::SecondMeasure ? false : IsTimerMeasure;
    Request(wcEvaluate, 0, [this, timer] { Kyvo->evaluate(false, timer); });
}

void TDeviceSession::HandleRFIDStatus(std::uint8_t code, std::int32_t userDataSize) {
    NoteEvaluationStarted();
    if (State_.Current != stEvaluating) return;
    if (inFlight_ && inFlight_->Command == wcEvaluate) inFlight_.reset();
    if (code != 0) {
        HandleKyvoError(code);
        return;
    }
    ReadKyvoDataHelper.RFIDSize =
        static_cast<std::uint16_t>(userDataSize < 0        ? 0
                                   : userDataSize > 0xFFFF ? 0xFFFF
                                                           : userDataSize);
    StartReadStep(SpRFID);
}

void TDeviceSession::HandleConfigurationRead(EReadStep step, const tByteBuffer& bytes) {
    TTestConfig cfg;
    const std::uint8_t r = TestConfigFromBytes(bytes, cfg);
    if (ShowConfigMessage(r, false)) return;
    if (step == SpRFID) {
        WriteTestConfigToDevice(cfg, kConfigurationAddress, false);
        return;
    }
    if (CombineMeasurements == ECombineMeasurements::SecondMeasure && haveTestConfig &&
        !cfg.CompareTo(TestConfig)) {
        EnterState(stMessage);
        Timer_StateCnt->Stop();
        ReportNotice(ENotice::ConfigsDiffer, LE_ConfigsNotIdentical);
        EnterState(stEvaluating);
        Timer_StateCnt->Start(1000);
        AddNewMeasureSet();
        CombineMeasurements = ECombineMeasurements::HandleSingle;
    }
    if (CombineMeasurements != ECombineMeasurements::SecondMeasure || !haveTestConfig) {
        TestConfig = cfg;
        haveTestConfig = true;
    }
    StartReadStep(SpMeasurementResult);
}

void TDeviceSession::HandleMeasurementRecord(const tByteBuffer& bytes) {
    if (CombineMeasurements == ECombineMeasurements::SecondMeasure && NewMeasureSet) {
        CombineSecondMeasurement(bytes, EEPROMMap.EEPROMVersion(), TestConfig, Texts(),
                                 *NewMeasureSet);
        CombineMeasurements = ECombineMeasurements::Combine;
        EnterState(stReady);
        AddNewMeasureSet();
        return;
    }
    NewMeasureSet = std::make_unique<TMeasureSet>();
    BuildMeasureSetFromResult(bytes, EEPROMMap.EEPROMVersion(), TestConfig, DeviceIdentity(),
                              Texts(), *NewMeasureSet);
    Request(wcImage, 0, [this] { Kyvo->getImage(1, true, true); });
}

void TDeviceSession::HandlePrompt(const std::string& text) {
    NoteEvaluationStarted();
    if (State_.Current != stEvaluating) return;
    ev.Prompt(text);
}

void TDeviceSession::HandleImageTransferStart(std::uint16_t width) {
    if (State_.Current != stEvaluating || !NewMeasureSet) return;
    if (!AcceptReply(wcImage, 0, "image start")) return;
    imageWidth = width;
    NewMeasureSet->ImageData.assign(width, 0);
    Request(wcImage, 0, [this] { Kyvo->getImageNext(0, 0, false); });
}

void TDeviceSession::HandleImageData(eColorMode mode, const tByteBuffer& data) {
    if (State_.Current != stEvaluating || !NewMeasureSet) return;
    if (!AcceptReply(wcImage, 0, "image data")) return;
    if (mode == icmGRAY_16) LineImageFromGray16(*NewMeasureSet, data);
    Kyvo->getImageNext(0, 0, true);
    EnterState(stReady);

    if (CombineMeasurements == ECombineMeasurements::Combine && TestConfig.ResultCount() <= 5) {
        bool second = false;
        RunPaused([&] { second = ev.AskCombine(); });
        if (second) {
            CombineMeasurements = ECombineMeasurements::SecondMeasure;
            EnterState(stEvaluating);
            WriteTestConfigToDevice(TestConfig, kConfigurationAddress, false);
            return;
        }
    } else if (CombineMeasurements == ECombineMeasurements::SecondMeasure ||
               CombineMeasurements == ECombineMeasurements::HandleSingle) {
        CombineMeasurements = ECombineMeasurements::Combine;
    }
    AddNewMeasureSet();
}

void TDeviceSession::AddNewMeasureSet() {
    if (!NewMeasureSet) return;
    d.List->push_back(std::move(NewMeasureSet));
    haveTestConfig = false;
    ev.MeasurementAdded(*d.List->back());
    FeedArchive({d.List->back().get()}, EMeasurementOrigin::Measurement);
}

void TDeviceSession::AbortEvaluation() {
    TSessionEntry entry(*this);
    if (State_.Current != stEvaluating || !d.Link->IsOpen()) return;
    abortRequested = true;
    Kyvo->abortEvaluation();
}

}  // namespace kyvo
