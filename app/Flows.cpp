// Memory transfer driving, reading stored data, the measurement flow and
// the device housekeeping (clock, formatting, version dialog).
#include <algorithm>
#include <chrono>

#include "app/Main.h"
#include "files/DeviceMemoryFile.h"
#include "files/Settings.h"

namespace kyvo {

// ---------------------------------------------------------------------------
// Memory transfer driving

std::string ReplacePlaceholders(std::string text, const std::vector<std::string>& values) {
    for (std::size_t i = values.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + values[i].size()))
            text.replace(at, mark.size(), values[i]);
    }
    return text;
}

namespace {

bool IsPointerStep(EReadStep step) {
    return step == SpVolatilePtAbs || step == SpVolatilePtRel;
}

const TLangEntry& ReceivingPhaseText(EReadStep step) {
    if (IsPointerStep(step)) return LE_ReceivingPointers;
    return step == SpResultCfgData ? LE_ReceivingResultConfigs : LE_ReceivingResults;
}

}  // namespace

void TForm_Main::StartReadStep(EReadStep step) {
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
        view.SetProgressMax(static_cast<int>(std::min<std::uint32_t>(max, 0x7FFFFFFF)));
        view.SetProgressPosition(0);
    }
    view.SetProgressVisible(true);
    if (step != SpNoRead) RequestNextReadBlock();
}

void TForm_Main::RequestNextReadBlock() {
    if (ReadKyvoDataHelper.ReadStep == SpNoRead) return;
    std::uint16_t size = 0;
    std::uint32_t address = 0;
    ReadKyvoDataHelper.PrepareNextBlock(size, address);
    // Re-entering the activity state re-arms its time-out for this block.
    EnterState(State_.Current);
    if (State_.Current == stReceiving) {
        view.SetProgressVisible(true);
        view.SetStatusText(0, Lang(ReceivingPhaseText(ReadKyvoDataHelper.ReadStep)));
    }
    Kyvo->readData(address, size);
}

bool TForm_Main::CollectReadBlock(const tByteBuffer& bytes) {
    auto& buf = ReadKyvoDataHelper.Buffer;
    buf.insert(buf.end(), bytes.begin(), bytes.end());
    if (countProgress) {
        progressPosition += static_cast<int>(bytes.size());
        view.SetProgressPosition(progressPosition);
    }
    if (ReadKyvoDataHelper.SizeLeft > 0) {
        RequestNextReadBlock();
        return false;
    }
    // A stored-data read hides the bar once both rings are in.
    if (State_.Current == stReceiving) return true;
    view.SetProgressVisible(false);
    view.SetProgressPosition(0);
    return true;
}

void TForm_Main::HandleDataRead(tByteBuffer& bytes) {
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

namespace {

std::string DeviceMemoryPath(const std::string& folder, const TEEPROMMap& map) {
    return folder + "/" + deviceMemoryFileName(TStoredDataFetch::SerialOf(map));
}

}  // namespace

// The rings come in as the planned spans, each read as a step of its own
// ring; the bar counts the bytes actually fetched.
void TForm_Main::StartRingFetch() {
    std::optional<TDeviceMemoryRecord> known;
    if (IncrementalRead && !d.DeviceMemoryFolder.empty())
        known = readDeviceMemoryFile(DeviceMemoryPath(d.DeviceMemoryFolder, EEPROMMap));
    ringFetch = std::make_unique<TStoredDataFetch>(EEPROMMap, ReadKyvoDataHelper, known);
    progressPosition = 0;
    countProgress = true;
    view.SetProgressPosition(0);
    ContinueRingFetch();
}

void TForm_Main::ContinueRingFetch() {
    if (const auto rq = ringFetch->Next()) {
        ReadKyvoDataHelper.InitializeReading(
            rq->Ring == ERingKind::ResultConfigs ? SpResultCfgData : SpResultData, EEPROMMap);
        ReadKyvoDataHelper.StartAddress = rq->Address;
        ReadKyvoDataHelper.SizeLeft = rq->Size;
        view.SetProgressMax(static_cast<int>(std::min<std::uint32_t>(
            std::max<std::uint32_t>(ringFetch->PlannedBytes(), 1), 0x7FFFFFFF)));
        view.SetProgressVisible(true);
        RequestNextReadBlock();
        return;
    }
    ResultCfgBuffer = ringFetch->ResultCfgImage();
    ResultBuffer = ringFetch->ResultImage();
    lastReadFetched = ringFetch->FetchedBytes();
    lastReadRingBytes = ringFetch->TotalBytes();
    // The memory is a cache: when it cannot be written the next read is
    // simply a whole one.
    if (!d.DeviceMemoryFolder.empty())
        if (const auto record = ringFetch->Record())
            writeDeviceMemoryFile(DeviceMemoryPath(d.DeviceMemoryFolder, EEPROMMap), *record);
    ringFetch.reset();
    view.SetProgressVisible(false);
    view.SetProgressPosition(0);
    EnterState(stReady);
    BuildMeasureSetsFromStorage();
}

void TForm_Main::StartWriteStep(EWriteStep step, const tByteBuffer& content, bool savePermanent) {
    WriteKyvoDataHelper.Init(step, content, savePermanent);
    if (WriteKyvoDataHelper.WriteStep != WSpNoWrite) SendNextWritePackage();
}

bool TForm_Main::SendNextWritePackage() {
    std::uint32_t address = 0;
    tByteBuffer package;
    if (!WriteKyvoDataHelper.PreparePackage(address, package)) return true;
    const bool last = WriteKyvoDataHelper.SizeLeft == 0;
    Kyvo->writeData(address, package, WriteKyvoDataHelper.Update, WriteKyvoDataHelper.Reset, 0, -1,
                    last && WriteKyvoDataHelper.SavePermanent);
    return false;
}

void TForm_Main::WriteConfigBytesToDevice(const tByteBuffer& config, std::uint32_t target,
                                          bool savePermanent) {
    if (target == kConfigurationAddress)
        StartWriteStep(WSpConfig, config, savePermanent);
    else if (target == kRFIDAddress)
        StartWriteStep(WSpRFID, config, savePermanent);
}

// ---------------------------------------------------------------------------
// Reading stored data

void TForm_Main::Button_ReadDataClick() {
    if (DelayIfClockPending(actReadData)) return;
    if (!CheckNotBusy(stReceiving)) return;
    if (view.SelectedCount(EList::Measurements) == 1) view.ClearSelection(EList::Measurements);
    StartReadStep(SpVolatilePtAbs);
}

bool TForm_Main::AskAboutPresentList() {
    switch (AddDataBehaviour) {
        case AlwaysAdd:
            return true;
        case AlwaysOverwrite:
            ClearMeasureList();
            return true;
        case AlwaysAsk:
            if (MeasureList.empty()) return true;
            switch (ShowOwnMessage(Lang(LE_AskAddToCurrentList), "", EMsgStyle::YesNoCancel)) {
                case EModalResult::Yes:
                    return true;
                case EModalResult::No:
                    ClearMeasureList();
                    return true;
                default:
                    return false;
            }
    }
    return true;
}

void TForm_Main::RetranslateResultRows() {
    static const TLangEntry* const kValidity[] = {&LE_Valid, &LE_Invalid, &LE_KyvoExpired};
    static const TLangEntry* const kValue[] = {&LE_NotANumber, &LE_Infinite};
    std::vector<std::string> now;
    for (const TLangEntry* e : kValidity) now.push_back(Lang(*e));
    for (const TLangEntry* e : kValue) now.push_back(Lang(*e));
    const std::vector<std::string> before = rowTexts.empty() ? now : rowTexts;
    rowTexts = now;
    if (before == now) return;
    auto follow = [&](std::string& text, std::size_t first, std::size_t count,
                      const TLangEntry* const* entries) {
        for (std::size_t i = 0; i < count; ++i)
            if (text == before[first + i] || text == entries[i]->Def) {
                text = now[first + i];
                return;
            }
    };
    for (auto& set : MeasureList)
        for (TResultSet& row : set->ResultList) {
            follow(row.Validity, 0, std::size(kValidity), kValidity);
            follow(row.ResultValue, std::size(kValidity), std::size(kValue), kValue);
        }
    if (NewMeasureSet)
        for (TResultSet& row : NewMeasureSet->ResultList) {
            follow(row.Validity, 0, std::size(kValidity), kValidity);
            follow(row.ResultValue, std::size(kValidity), std::size(kValue), kValue);
        }
}

void TForm_Main::ShowFeedback(const TLangEntry& text, std::vector<std::string> values) {
    feedbackText = &text;
    feedbackValues = std::move(values);
    view.SetStatusText(2, ReplacePlaceholders(Lang(text), feedbackValues));
}

void TForm_Main::NoteListSaved(const std::string& path) {
    ListFile = path;
    ListModified = false;
    ShowFeedback(LE_ListSavedTo, {path});
    view.SetCaption(MainCaption());
}

void TForm_Main::NoteListLoaded(const std::string& path) {
    ListFile = path;
    ListModified = false;
    ShowFeedback(LE_ListLoadedFrom, {path});
    view.SetCaption(MainCaption());
}

void TForm_Main::NoteListChanged() {
    if (ListModified) return;
    ListModified = true;
    view.SetCaption(MainCaption());
}

void TForm_Main::ClearMeasureList() {
    if (!MeasureList.empty()) NoteListChanged();
    MeasureList.clear();
    ListEdited = false;
    view.SetListCount(EList::Measurements, 0);
    view.SetListCount(EList::Results, 0);
}

bool TForm_Main::SaveList(int mode) {
    if (!SaveMeasureList || !SaveMeasureList(*this, mode)) return false;
    ListEdited = false;
    return true;
}

void TForm_Main::SaveAsConfigured() {
    if (!SaveMeasureList) return;
    if (AutoSave)
        SaveList(1);
    else if (PromptSave)
        SaveList(0);
    if (TrackMeasurements) SaveList(3);
}

void TForm_Main::Menu_SaveFileClick() {
    if (MeasureList.empty() || !SaveMeasureList) return;
    SaveList(0);
}

void TForm_Main::Menu_LoadFileClick() {
    if (view.SelectedCount(EList::Measurements) == 1) view.ClearSelection(EList::Measurements);
    if (!MeasureList.empty()) {
        const EModalResult r =
            ShowOwnMessage(Lang(LE_AskSaveBeforeOpening), "", EMsgStyle::YesNoCancel);
        // A box closed without an answer keeps the list, as Cancel does.
        if (r != EModalResult::Yes && r != EModalResult::No) return;
        // A save that was cancelled or failed keeps the list, and so the
        // load must not go on and replace it.
        if (r == EModalResult::Yes && SaveMeasureList && !SaveList(0)) return;
    }
    TFileDialogRequest request;
    request.Kind = EFileDialog::OpenResults;
    request.InitialDir = ResultFolder();
    request.FileName = LastUsedFile;
    request.DefaultExt = "tsv";
    request.Filter = Lang(LE_TsvFileFilter);
    request.MustExist = true;
    if (const auto path = view.ShowFileDialog(request)) LoadResultFile(*path);
}

void TForm_Main::Menu_LoadLastSavedOnStartClick() {
    LoadLastSavedOnStart = !LoadLastSavedOnStart;
    view.SetChecked(EControl::Menu_LoadLastSavedOnStart, LoadLastSavedOnStart);
    d.UserSettings->SetBool("Setup", "LoadLastSavedOnStart", LoadLastSavedOnStart);
}

void TForm_Main::LoadResultFile(const std::string& path) {
    if (!LoadMeasureFile) return;
    // The list may be replaced: the view lets go of its rows first.
    view.SetListCount(EList::Measurements, 0);
    view.SetListCount(EList::Results, 0);
    LoadMeasureFile(*this, path);
    ListEdited = false;
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    view.RepaintList(EList::Measurements);
    view.SetEnabled(EControl::Menu_SaveFile, !MeasureList.empty());
    view.SetEnabled(EControl::Button_Save, !MeasureList.empty());
}

TDeviceIdentity TForm_Main::DeviceIdentity() const {
    TDeviceIdentity id;
    id.ProductionYear = EEPROMMap.NonVolatileData.ProductionYear;
    id.ProductionWeek = EEPROMMap.NonVolatileData.ProductionWeek;
    id.SerialNumber = EEPROMMap.NonVolatileData.SerialNumber;
    return id;
}

TextLookup TForm_Main::Texts() const {
    return [this](const TLangEntry& e) { return Lang(e); };
}

void TForm_Main::BuildMeasureSetsFromStorage() {
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

    // An overwrite empties the list here, through ClearMeasureList, so that
    // the view lets go of its rows and selection before the sets are freed.
    const auto decide = [this]() -> EAddDecision {
        switch (AddDataBehaviour) {
            case AlwaysAdd:
                return EAddDecision::Add;
            case AlwaysOverwrite:
                ClearMeasureList();
                return EAddDecision::Overwrite;
            case AlwaysAsk:
                break;
        }
        switch (ShowOwnMessage(Lang(LE_AskAddToCurrentList), "", EMsgStyle::YesNoCancel)) {
            case EModalResult::Yes:
                return EAddDecision::Add;
            case EModalResult::No:
                ClearMeasureList();
                return EAddDecision::Overwrite;
            default:
                return EAddDecision::Cancel;
        }
    };
    const TStorageBuildResult r =
        kyvo::BuildMeasureSetsFromStorage(ResultList, DeviceIdentity(), bits0.ResultsWithLineData(),
                                          bits0.ResultsWithImage(), Texts(), decide, MeasureList);
    if (r.Cancelled) return;
    if (r.Added > 0) NoteListChanged();
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    SortByMode(MeasureSortMode, MeasureList, d.Collation ? *d.Collation : defaultCollation());
    view.RepaintList(EList::Measurements);
    view.SetEnabled(EControl::Menu_SaveFile, !MeasureList.empty());
    view.SetEnabled(EControl::Button_Save, !MeasureList.empty());
    ShowFeedback(LE_MeasurementsReadNew, {std::to_string(r.Created), std::to_string(r.Added)});
    if (r.Created == 0)
        ShowOwnMessage(Lang(LE_KyvoDatabaseEmpty), "", EMsgStyle::OK);
    else
        SaveAsConfigured();
    if (OnStoredDataRead) OnStoredDataRead(*this, static_cast<int>(r.Created));
}

void TForm_Main::Menu_DataBehaviourClick(EAddDataBehaviour behaviour) {
    AddDataBehaviour = behaviour;
    view.SetChecked(EControl::Menu_OverWriteExisting, behaviour == AlwaysOverwrite);
    view.SetChecked(EControl::Menu_AddToExisting, behaviour == AlwaysAdd);
    view.SetChecked(EControl::Menu_AlwaysAsk, behaviour == AlwaysAsk);
    d.UserSettings->SetText("Setup", "AddDataBehaviour",
                            std::string(AddDataBehaviourWord(behaviour)));
}

// ---------------------------------------------------------------------------
// Clock

void TForm_Main::Timer_KyvoClockTimer() {
    if (!KyvoAcknowledged || view.PickerHasFocus() || State_.Current != stReady) return;
    EnterState(stWaitClock);
    Timer_WaitAfterClock->Start(300);
    Kyvo->getDateTime();
}

void TForm_Main::HandleDateTime(tDateTime dateTime, bool valid) {
    if (State_.Current == stWaitClock) EnterState(stReady);
    const TLocalDateTime now = d.Clock->Now();
    if (valid) {
        using namespace std::chrono;
        const auto days = floor<std::chrono::days>(dateTime);
        const year_month_day ymd{days};
        const hh_mm_ss<seconds> tod{dateTime - days};
        TLocalDateTime t;
        t.Year = static_cast<int>(ymd.year());
        t.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
        t.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
        t.Hour = static_cast<int>(tod.hours().count());
        t.Minute = static_cast<int>(tod.minutes().count());
        t.Second = static_cast<int>(tod.seconds().count());
        const int minutes = MinutesBetweenTimesOfDay(now, t);
        view.SetPanelColour(EControl::Panel_Time, minutes == 0   ? EPanelColour::Green
                                                  : minutes <= 2 ? EPanelColour::DarkYellow
                                                                 : EPanelColour::Red);
        const bool sameDay = now.Year == t.Year && now.Month == t.Month && now.Day == t.Day;
        view.SetPanelColour(EControl::Panel_Date,
                            sameDay ? EPanelColour::Green : EPanelColour::Red);
        view.SetPickerDateTime(t);
        lastDeviceClock = t;
    } else {
        view.SetPanelColour(EControl::Panel_Time, EPanelColour::Red);
        view.SetPanelColour(EControl::Panel_Date, EPanelColour::Red);
        view.SetPickerDateTime(now);
    }
    lastDeviceClockValid = valid;
}

void TForm_Main::SetDeviceClock() {
    if (!KyvoAcknowledged || State_.Current != stReady) return;
    const TLocalDateTime t = view.PickerDateTime();
    using namespace std::chrono;
    const local_days day{year{t.Year} / month{static_cast<unsigned>(t.Month)} /
                         std::chrono::day{static_cast<unsigned>(t.Day)}};
    Kyvo->setDateTime(day + hours{t.Hour} + minutes{t.Minute} + seconds{t.Second});
}

void TForm_Main::DTP_SetDateKeyDown(bool enter) {
    if (enter) SetDeviceClock();
    view.ClearPickerFocus();
}

void TForm_Main::PopUpItem_SetSystemTimeClick() {
    view.SetPickerDateTime(d.Clock->Now());
    SetDeviceClock();
    view.ClearPickerFocus();
}

// ---------------------------------------------------------------------------
// Formatting and the version dialog

void TForm_Main::Menu_FormatDBClick() {
    if (DelayIfClockPending(actFormatDB)) return;
    if (!CheckNotBusy(stReady)) return;
    if (ShowOwnMessage(Lang(LE_AskFormatDatabase), "", EMsgStyle::YesNo, true) != EModalResult::Yes)
        return;
    if (!CheckNotBusy(stFormatting)) return;
    Kyvo->FormatDB(false);
}

void TForm_Main::SubMenu_VersionClick() {
    const std::uint8_t remembered = State_.Current;
    EnterState(stInfo);
    TInfoDialogTexts t;
    t.ProgName = appName;
    t.LogoFile = d.ProgSettings->GetTextNoDefault("Customer", "logo");
    if (t.LogoFile.empty()) t.LogoFile = "logo.tif";
    t.Customer = d.ProgSettings->GetTextNoDefault("Customer", "name");
    t.Version = VERSION_STRING;
    t.CloseText = Lang(LE_Close);
    view.ShowInfoDialog(t);
    EnterState(remembered);
}

}  // namespace kyvo
