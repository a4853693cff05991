// The measurement flow: choosing the test configuration, putting it into
// the device, relaying the device's prompts, fetching configuration, result
// and line image, and combining two measurements into one.
#include <fstream>
#include <iterator>

#include "app/Main.h"
#include "files/Settings.h"

namespace kyvo {

void TForm_Main::Button_InstantMeasureClick() {
    Button_MeasureClick(EControl::Button_InstantMeasure);
}
void TForm_Main::Button_TimerMeasureClick() {
    Button_MeasureClick(EControl::Button_TimerMeasure);
}

void TForm_Main::Menu_TestSourceClick(ETestSource source) {
    CurrentTestSource = source;
    view.SetChecked(EControl::Menu_SrcKyvo, source == TSKyvo);
    view.SetChecked(EControl::Menu_SrcLocal, source == TSLocal);
    view.SetChecked(EControl::Menu_SrcSelect, source == TSSelect);
    d.UserSettings->SetText("Setup", "TestSource", std::string(TestSourceWord(source)));
}

void TForm_Main::CB_CombineMeasurementsClick(bool ticked) {
    CombineMeasurements = ticked ? ECombineMeasurements::Combine : ECombineMeasurements::SingleOnly;
}

bool TForm_Main::ShowConfigMessage(std::uint8_t parseResult) {
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
    ShowMessageKeepState(Lang(*e), "", stReady);
    return true;
}

void TForm_Main::WriteTestConfigToDevice(TTestConfig& cfg, std::uint32_t target,
                                         bool savePermanent) {
    tByteBuffer bytes;
    TestConfigToBytes(cfg, bytes);
    WriteConfigBytesToDevice(bytes, target, savePermanent);
}

void TForm_Main::Button_MeasureClick(EControl button) {
    const eUserAction action = button == EControl::Button_TimerMeasure ? actTimerMeasure
                               : button == EControl::Button_QCMeasure  ? actQCMeasure
                                                                       : actInstantMeasure;
    if (DelayIfClockPending(action)) return;
    if (!CheckNotBusy(stReady)) return;
    IsTimerMeasure = button == EControl::Button_TimerMeasure;

    bool fromFile = false;
    if (button == EControl::Button_QCMeasure) {
        fromFile = true;
    } else if (CurrentTestSource == TSLocal) {
        fromFile = true;
    } else if (CurrentTestSource == TSSelect) {
        const bool clockWasOn = Timer_KyvoClock->IsActive();
        const bool stateCntWasOn = Timer_StateCnt->IsActive();
        Timer_StateCnt->Stop();
        Timer_KyvoClock->Stop();
        int selected = 0;
        const EModalResult r = view.ShowSelect(Lang(LE_SelectSource), Lang(LE_SelectConfigSource),
                                               {Lang(LE_LoadThroughDevice), Lang(LE_LoadFromFile)},
                                               selected, Lang(LE_OK), Lang(LE_Cancel));
        if (clockWasOn) Timer_KyvoClock->Start(1000);
        if (stateCntWasOn) Timer_StateCnt->Start(1000);
        if (r != EModalResult::OK) return;
        fromFile = selected == 1;
    }

    if (view.SelectedCount(EList::Measurements) == 1) view.ClearSelection(EList::Measurements);
    if (!AskAboutPresentList()) return;

    if (fromFile) {
        for (;;) {
            TFileDialogRequest req;
            req.Kind = EFileDialog::OpenConfig;
            req.InitialDir = ConfigFileDir.empty() ? ResultFolder() : ConfigFileDir;
            req.DefaultExt = "bin";
            req.Filter = Lang(LE_BinaryFileFilter);
            req.MustExist = true;
            const auto path = view.ShowFileDialog(req);
            if (!path) return;
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
            ShowConfigMessage(r);
        }
    }

    if (EEPROMMap.VolatileData.KyvoCfgBits.RFIDConfigSource()) {
        if (ShowOwnMessage(Lang(LE_PlaceOverTestCardWithTag), "", EMsgStyle::OKCancel) !=
            EModalResult::OK)
            return;
        if (CheckNotBusy(stEvaluating)) {
            TryRFIDAgain = true;
            Kyvo->evaluate(true, IsTimerMeasure);
        }
        return;
    }
    if (CheckNotBusy(stEvaluating)) StartReadStep(SpVolatilePtAbs);
}

void TForm_Main::ChooseStoredConfiguration(const tByteBuffer& list) {
    TStoredConfigList configs = ReadStoredConfigList(list);
    if (configs.Entries.empty()) return;  // the time-out and its probe end the activity
    std::vector<std::string> items;
    for (const auto& e : configs.Entries) items.push_back(e.Text);
    ArmTimeOut(0);
    const bool clockWasOn = Timer_KyvoClock->IsActive();
    Timer_StateCnt->Stop();
    Timer_KyvoClock->Stop();
    int selected = -1;
    const EModalResult r =
        view.ShowConfigList(Lang(LE_ListOfConfigurations), Lang(LE_OK), items, selected);
    if (r == EModalResult::OK && selected >= 0 && selected < static_cast<int>(items.size())) {
        WriteTestConfigToDevice(configs.Entries[selected].Config, kConfigurationAddress, false);
        ArmTimeOut(8500);
    } else {
        EnterState(stReady);
    }
    if (clockWasOn) Timer_KyvoClock->Start(1000);
    Timer_StateCnt->Start(1000);
}

void TForm_Main::HandleWriteSuccess() {
    if (!SendNextWritePackage()) return;
    if (State_.Current != stEvaluating) return;
    if (CombineMeasurements == ECombineMeasurements::SecondMeasure)
        Kyvo->evaluate(false, false);
    else
        Kyvo->evaluate(false, IsTimerMeasure);
}

void TForm_Main::HandleRFIDStatus(std::uint8_t code, std::int32_t userDataSize) {
    if (State_.Current != stEvaluating) return;
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

void TForm_Main::HandleConfigurationRead(EReadStep step, const tByteBuffer& bytes) {
    TTestConfig cfg;
    const std::uint8_t r = TestConfigFromBytes(bytes, cfg);
    if (ShowConfigMessage(r)) return;
    if (step == SpRFID) {
        WriteTestConfigToDevice(cfg, kConfigurationAddress, false);
        return;
    }
    if (CombineMeasurements == ECombineMeasurements::SecondMeasure && haveTestConfig &&
        !cfg.CompareTo(TestConfig)) {
        ShowMessageKeepState(Lang(LE_ConfigsNotIdentical), "", stEvaluating);
        AddNewMeasureSet();
        CombineMeasurements = ECombineMeasurements::HandleSingle;
    }
    if (CombineMeasurements != ECombineMeasurements::SecondMeasure || !haveTestConfig) {
        TestConfig = cfg;
        haveTestConfig = true;
    }
    StartReadStep(SpMeasurementResult);
}

void TForm_Main::HandleMeasurementRecord(const tByteBuffer& bytes) {
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
    Kyvo->getImage(1, true, true);
}

void TForm_Main::HandlePrompt(const std::string& text) {
    if (State_.Current != stEvaluating) return;
    view.ShowEvaluationInfo(text);
}

void TForm_Main::HandleImageTransferStart(std::uint16_t width) {
    if (State_.Current != stEvaluating || !NewMeasureSet) return;
    imageWidth = width;
    NewMeasureSet->ImageData.assign(width, 0);
    Kyvo->getImageNext(0, 0, false);
}

void TForm_Main::HandleImageData(eColorMode mode, const tByteBuffer& data) {
    if (State_.Current != stEvaluating || !NewMeasureSet) return;
    if (mode == icmGRAY_16) LineImageFromGray16(*NewMeasureSet, data);
    Kyvo->getImageNext(0, 0, true);
    EnterState(stReady);

    if (CombineMeasurements == ECombineMeasurements::Combine && TestConfig.ResultCount() <= 5) {
        if (ShowOwnMessage(Lang(LE_AskSecondMeasurement), Lang(LE_AskCombineMeasurements),
                           EMsgStyle::YesNo) == EModalResult::Yes) {
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

void TForm_Main::AddNewMeasureSet() {
    if (!NewMeasureSet) return;
    MeasureList.push_back(std::move(NewMeasureSet));
    const TMeasureSet* added = MeasureList.back().get();
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    SortByMode(MeasureSortMode, MeasureList, d.Collation ? *d.Collation : defaultCollation());
    view.RepaintList(EList::Measurements);
    for (std::size_t i = 0; i < MeasureList.size(); ++i)
        if (MeasureList[i].get() == added) view.SelectMeasurement(static_cast<int>(i));
    view.SetEnabled(EControl::Menu_SaveFile, true);
    view.SetEnabled(EControl::Button_Save, true);
    haveTestConfig = false;
    NoteListChanged();
    if (OnMeasurementAdded) OnMeasurementAdded(*this, *added);
    SaveAsConfigured();
}

void TForm_Main::AbortEvaluation() {
    if (State_.Current != stEvaluating || !d.Link->IsOpen()) return;
    abortRequested = true;
    Kyvo->abortEvaluation();
}

}  // namespace kyvo
