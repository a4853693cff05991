#include "app/Main.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "files/Settings.h"
#include "protocol/KyvoErrors.h"

namespace kyvo {

namespace {
const std::vector<std::string> kBaudRates = {"600",    "900",    "1200",   "2400",  "4800",
                                             "9600",   "14400",  "19200",  "38400", "57600",
                                             "115200", "128000", "230400", "500000"};
}  // namespace

std::string MakeVersionString(int major, int minor, int build) {
    return "V" + std::to_string(major) + "." + std::to_string(minor) + "." +
           intToStrPad(build, 3, '0');
}

std::string ProgramVersionString() {
    return KYVO_VERSION;
}

TWindowGeometry PlaceWindow(IKeyStore& user, const TScreenSize& screen) {
    const TStoredWindowGeometry placed = PlaceWindowGeometry(
        [&user](std::string_view item, std::int32_t def) {
            return user.GetInt("Setup", std::string(item), def);
        },
        {screen.ScreenWidth, screen.ScreenHeight, screen.DesktopWidth, screen.DesktopHeight});
    TWindowGeometry g;
    g.Left = placed.Left;
    g.Top = placed.Top;
    g.Width = placed.Width;
    g.Height = placed.Height;
    g.WindowState = placed.Maximised ? 2 : 0;
    return g;
}

std::string JoinFolderAndFile(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + name;
    return folder + "/" + name;
}

int MinutesBetweenTimesOfDay(const TLocalDateTime& a, const TLocalDateTime& b) {
    const long long ma = (a.Hour * 3600LL + a.Minute * 60LL + a.Second) * 1000LL + a.Millisecond;
    const long long mb = (b.Hour * 3600LL + b.Minute * 60LL + b.Second) * 1000LL + b.Millisecond;
    return static_cast<int>(std::llabs(ma - mb) / 60000LL);
}

TForm_Main::TForm_Main(const TMainDeps& deps) : d(deps), view(*deps.View) {
    // The window is wired to the controller before it is created, and shows
    // the line image where the settings say from the start.
    if (d.UserSettings)
        imagePosition_ =
            ParseImagePosition(d.UserSettings->GetText("Setup", "ImagePosition", "Right"));
}

const TState& TForm_Main::State() const {
    static const TState kBeforeStart;
    return session_ ? session_->State() : kBeforeStart;
}

TForm_Main::~TForm_Main() {
    if (Constructed) FormDestroy();
}

std::string TForm_Main::Lang(const TLangEntry& e) const {
    return d.Language ? d.Language->Text(e) : std::string(e.Def);
}

// ---------------------------------------------------------------------------
// Start-up and shutdown

void TForm_Main::FormCreate() {
    initialized = false;
    VERSION_STRING = "V" + ProgramVersionString();
    preventStart = false;

    appName = d.ProgSettings->GetTextNoDefault("Application", "name");
    if (appName.empty()) appName = "Kyvo Data Reader";
    const std::string icon = d.ProgSettings->GetTextNoDefault("Application", "icon");
    if (!icon.empty()) view.SetWindowIcon(icon);

    view.SetText(EControl::Label_Min, "");
    view.SetText(EControl::Label_Max, "");
    if (const TScreenSize screen = view.ScreenSize(); screen.ScreenWidth > 0)
        view.SetGeometry(PlaceWindow(*d.UserSettings, screen));

    TSessionDeps sd;
    sd.Events = this;
    sd.Timers = d.Timers;
    sd.Clock = d.Clock;
    sd.Link = d.Link;
    sd.Language = d.Language;
    sd.List = &MeasureList;
    sd.DeviceMemoryFolder = d.DeviceMemoryFolder;
    sd.Archive = d.Archive;
    session_ = std::make_unique<TDeviceSession>(sd);
    KyvoBaudRate = d.ProgSettings->GetInt("COM", "Baud", 38400);
    {
        // The line format of every port opened from now on.
        TLineFormat f;
        f.DataBits = d.ProgSettings->GetInt("COM", "bits", 8);
        f.Parity = ParseParity(d.ProgSettings->GetText("COM", "parity", "none"));
        bool ok = true;
        f.StopBits = ParseStopBits(d.ProgSettings->GetText("COM", "stopBits", "1"), ok);
        d.Link->SetLineFormat(f);
    }

    ShowCableIDOnly = d.ProgSettings->GetBool("Setup", "ShowCableIDOnly", false);
    view.SetVisible(EControl::Menu_FTDIDirect, false);
    const bool ftdi = d.Link->FtdiMode();
    view.SetVisible(EControl::ComboBox_Com, !ftdi);
    view.SetVisible(EControl::ComboBox_Baud, !ftdi);
    view.SetVisible(EControl::ComboBox_FTDIDevice, ftdi);
    view.SetItemIndex(EControl::ComboBox_Com, -1);
    {
        std::vector<std::string> rates = kBaudRates;
        const std::string mine = std::to_string(KyvoBaudRate);
        int index = -1;
        for (std::size_t i = 0; i < rates.size(); ++i)
            if (rates[i] == mine) index = static_cast<int>(i);
        if (index < 0) {
            rates.push_back(mine);
            index = static_cast<int>(rates.size()) - 1;
        }
        view.SetItems(EControl::ComboBox_Baud, rates);
        view.SetItemIndex(EControl::ComboBox_Baud, index);
    }

    DefaultDir = d.UserSettings->GetText("Setup", "DefaultDir", DefaultResultFolder());
    if (DefaultDir.empty()) DefaultDir = DefaultResultFolder();
    LastUsedFile = d.UserSettings->GetText("Setup", "LastUsedFile", "Results.tsv");

    PromptSave = d.UserSettings->GetBool("Setup", "PromptSave", false);
    AutoSave = d.UserSettings->GetBool("Setup", "AutoSaveToLastFile", false);
    SaveOnExit = d.UserSettings->GetBool("Setup", "SaveOnExit", false);
    TrackMeasurements = d.UserSettings->GetBool("Setup", "AutoSaveMeasurements", false);

    const bool combine = d.UserSettings->GetBool("Setup", "CombineMeasurements", false);
    view.SetVisible(EControl::CB_CombineMeasurements, combine);
    view.SetChecked(EControl::CB_CombineMeasurements, combine);
    session_->UseCombining(combine);

    {
        const ETestSource source =
            ParseTestSource(d.UserSettings->GetText("Setup", "TestSource", "Select"));
        session_->UseTestSource(source);
        view.SetChecked(EControl::Menu_SrcKyvo, source == TSKyvo);
        view.SetChecked(EControl::Menu_SrcLocal, source == TSLocal);
        view.SetChecked(EControl::Menu_SrcSelect, source == TSSelect);
    }

    view.SetPickerDateTime(d.Clock->Now());
    for (EControl c : {EControl::Label_KyvoTime, EControl::DTP_SetDate, EControl::DTP_SetTime,
                       EControl::Label_FW, EControl::Label_FWDisplay})
        view.SetEnabled(c, false);

    Timer_init = d.Timers->CreateTimer([this] { Timer_initTimer(); });
    Timer_FTDIUpdate = d.Timers->CreateTimer([this] { Timer_FTDIUpdateTimer(); });

    EnableDeviceActions(false);
    view.SetEnabled(EControl::Menu_SaveFile, false);
    view.SetEnabled(EControl::Button_Save, false);
    for (EControl c : {EControl::Button_QCMeasure, EControl::Button_Save, EControl::Button_Menu,
                       EControl::Menu_SetQCFile, EControl::SubMenu_Help})
        view.SetVisible(c, false);
    view.SetEnabled(EControl::Button_QCMeasure, false);

    TSessionSettings& ss = session_->Settings();
    ss.Baud = KyvoBaudRate;
    ss.CableIdOnly = ShowCableIDOnly;
    ss.ClockTimeOutMs = d.ProgSettings->GetInt("KyvoCommunication", "getTimeTimeOut", 1000);
    ss.DisconnectOnClockTimeOut =
        d.ProgSettings->GetBool("KyvoCommunication", "disconnectOnTimeError", true);
    autoConnect = d.UserSettings->GetBool("KyvoCommunication", "autoConnect", true);
    view.SetChecked(EControl::Menu_AutoConnect, autoConnect);
    {
        const std::string lastCable = d.UserSettings->GetText("COM", "LastUsbSerial", "");
        if (!lastCable.empty()) ftdiChoice_ = "usb:" + lastCable;
    }
    ShutDownOnClose = d.UserSettings->GetBool("KyvoCommunication", "ShutDownOnClose", false);
    view.SetChecked(EControl::Menu_ShutDownOnClose, ShutDownOnClose);
    {
        const EAddDataBehaviour behaviour =
            ParseAddDataBehaviour(d.UserSettings->GetText("Setup", "AddDataBehaviour", "Ask"));
        session_->UseAddDataBehaviour(behaviour);
        view.SetChecked(EControl::Menu_OverWriteExisting, behaviour == AlwaysOverwrite);
        view.SetChecked(EControl::Menu_AddToExisting, behaviour == AlwaysAdd);
        view.SetChecked(EControl::Menu_AlwaysAsk, behaviour == AlwaysAsk);
    }
    LoadLastSavedOnStart = d.UserSettings->GetBool("Setup", "LoadLastSavedOnStart", false);
    view.SetChecked(EControl::Menu_LoadLastSavedOnStart, LoadLastSavedOnStart);
    view.SetProgressVisible(false);

    ss.LockDeviceButton = d.UserSettings->GetBool("Setup", "DisableKyvoButtonOnConnect", false);
    ss.AutoConnect = autoConnect;
    ss.ShutDownOnClose = ShutDownOnClose;
    ss.IncrementalRead = d.UserSettings->GetBool("Setup", "IncrementalRead", true);

    Constructed = true;
    Timer_init->Start(150);
    ApplyLanguageTexts();
    session_->Start();
}

void TForm_Main::Timer_initTimer() {
    Timer_init->Stop();
    RefreshDeviceList();
    if (d.Link->FtdiMode() && !d.Link->IsOpen()) Timer_FTDIUpdate->Start(2000);
    if (LoadLastSavedOnStart) LoadResultFile(JoinFolderAndFile(ResultFolder(), LastUsedFile));
    // What waited for an unreachable archive at the last run goes now.
    if (d.Archive) ArchiveFed(d.Archive->Deliver());
    OfferKeptLists();
    initialized = true;
}

void TForm_Main::FormActivate() {
    RefreshDeviceList();
}

std::string TForm_Main::DefaultResultFolder() const {
    return d.DocumentsFolder.empty() ? d.ConfigFolder : d.DocumentsFolder;
}

std::string TForm_Main::ResultFolder() const {
    std::error_code ec;
    if (!DefaultDir.empty() && std::filesystem::is_directory(DefaultDir, ec)) return DefaultDir;
    return DefaultResultFolder();
}

bool TForm_Main::FormCloseQuery() {
    bool allow = true;
    // Edits that live in no file and nowhere on the device are asked about
    // whatever "SaveOnExit" says: closing would lose them for good.
    if ((SaveOnExit && !MeasureList.empty()) || ListHasUnsavedEdits()) {
        const EModalResult r =
            ShowOwnMessage(Lang(LE_AskSaveBeforeClosing), "", EMsgStyle::YesNoCancel);
        if (r == EModalResult::Cancel) allow = false;
        // A save that was cancelled or failed keeps the window open with the
        // list, rather than closing over what was meant to be kept.
        if (r == EModalResult::Yes && SaveMeasureList && !SaveList(0)) allow = false;
    }
    // Whatever the answer, a locked device button is released first; its
    // acknowledge closes the window again, which asks again.
    if (!session_->PrepareClose()) return false;
    return allow;
}

void TForm_Main::FormClose() {
    session_->Close();
}

void TForm_Main::FormDestroy() {
    if (!Constructed) return;
    Timer_FTDIUpdate->Stop();
    Timer_init->Stop();
    session_->Stop();
    if (d.Link->IsOpen()) session_->Disconnect(false);
    const TWindowGeometry g = view.Geometry();
    d.UserSettings->SetInt("Setup", "WindowState", g.WindowState);
    d.UserSettings->SetInt("Setup", "Left", g.Left);
    d.UserSettings->SetInt("Setup", "Top", g.Top);
    d.UserSettings->SetInt("Setup", "Width", g.Width);
    d.UserSettings->SetInt("Setup", "Height", g.Height);
    ClearMeasureList();
    Constructed = false;
    view.HideEvaluationInfo();
    session_->Stop();
}

// ---------------------------------------------------------------------------
// Language texts of the window

void TForm_Main::ApplyLanguageTexts() {
    RetranslateResultRows();
    auto hint = [this](EControl c, const TLangEntry& e) { view.SetHint(c, Lang(e)); };
    view.SetText(EControl::Label_FW, Lang(LE_SNFirmware));
    hint(EControl::Label_FW, LE_HintFirmwareVersion);
    hint(EControl::Label_FWDisplay, LE_HintFirmwareVersion);
    view.SetText(EControl::Label_KyvoTime, Lang(LE_KyvoTime));
    hint(EControl::Label_KyvoTime, LE_HintKyvoTime);
    hint(EControl::DTP_SetDate, LE_HintKyvoTime);
    hint(EControl::DTP_SetTime, LE_HintKyvoTime);
    if (d.Link->IsOpen()) {
        view.SetText(EControl::Button_Open, Lang(LE_Disconnect));
        hint(EControl::Button_Open, LE_HintDisconnect);
    } else {
        view.SetText(EControl::Button_Open, Lang(LE_Connect));
        hint(EControl::Button_Open, LE_HintConnect);
    }
    view.SetText(EControl::Aktualisieren1, Lang(LE_Refresh));
    view.SetText(EControl::Button_InstantMeasure, Lang(LE_StartMeasurement));
    hint(EControl::Button_InstantMeasure, LE_HintStartMeasurement);
    view.SetText(EControl::Button_TimerMeasure, Lang(LE_TimerMeasure));
    hint(EControl::Button_TimerMeasure, LE_HintTimerMeasure);
    view.SetText(EControl::Button_ReadData, Lang(LE_ReadDataFromKyvo));
    if (session_->CombineMode() != ECombineMeasurements::SingleOnly)
        view.SetText(EControl::CB_CombineMeasurements, Lang(LE_CombineMeasurements));
    view.SetText(EControl::Menu_Main, Lang(LE_Menu));
    view.SetText(EControl::Menu_Setup, Lang(LE_Setup));
    view.SetText(EControl::Menu_Language, Lang(LE_Language));
    view.SetText(EControl::Menu_SaveFile, Lang(LE_SaveDataToFile) + "  " + Lang(LE_ShortcutSave));
    view.SetText(EControl::Menu_LoadFile, Lang(LE_LoadDataFromFile) + "  " + Lang(LE_ShortcutLoad));
    view.SetText(EControl::Menu_FormatDB, Lang(LE_FormatKyvoDatabase));
    view.SetText(EControl::Menu_ShutDownOnClose, Lang(LE_ShutdownOnDisconnect));
    view.SetText(EControl::Menu_SetImagePos, Lang(LE_SetImagePosition));
    view.SetText(EControl::Menu_ImgPosLeft, Lang(LE_Left));
    view.SetText(EControl::Menu_ImgPosRight, Lang(LE_Right));
    view.SetText(EControl::Menu_ImgPosFull, Lang(LE_FullWidth));
    view.SetText(EControl::Menu_ImgPosNone, Lang(LE_DoNotDisplayImage));
    view.SetText(EControl::Menu_NewDataBehaviour, Lang(LE_DataManagement));
    view.SetText(EControl::Menu_OverWriteExisting, Lang(LE_OverwriteExistingData));
    view.SetText(EControl::Menu_AlwaysAsk, Lang(LE_AlwaysAsk));
    view.SetText(EControl::Menu_AddToExisting, Lang(LE_AddNewDataToExisting));
    view.SetText(EControl::Menu_LoadLastSavedOnStart, Lang(LE_LoadLastUsedFileOnStart));
    view.SetText(EControl::Menu_DeleteList, Lang(LE_DeleteMeasurementList));
    view.SetText(EControl::Menu_Info, Lang(LE_Info));
    view.SetText(EControl::SubMenu_Version, Lang(LE_Version));
    view.SetText(EControl::Menu_TestSource, Lang(LE_SelectMeasurementSource));
    view.SetText(EControl::Menu_SrcKyvo, Lang(LE_Kyvo));
    view.SetText(EControl::Menu_SrcLocal, Lang(LE_LocalFileSystem));
    view.SetText(EControl::Menu_SrcSelect, Lang(LE_SelectOnStartOfMeasurement));
    view.SetText(EControl::AddComment, Lang(LE_EditAddUserComment));
    view.SetText(EControl::DeleteEntries, Lang(LE_DeleteEntry));
    view.SetCaption(MainCaption());
    view.SetText(EControl::Menu_AutoConnect, Lang(LE_AutoConnect));
    view.SetText(EControl::PopUpItem_SetSystemTime, Lang(LE_SetSystemTime));
    view.RepaintList(EList::Measurements);
    view.RepaintList(EList::Results);
    if (feedbackText)
        view.SetStatusText(2, ReplacePlaceholders(Lang(*feedbackText), feedbackValues));
}

std::string TForm_Main::MainCaption() const {
    std::string caption;
    if (d.Link->IsOpen())
        caption = Lang(LE_ConnectedTo) + "  " + session_->OpenedDevice() + " @ " +
                  std::to_string(session_->Baud()) + " " + Lang(LE_Baud) + " - " + VERSION_STRING;
    else
        caption = appName + " - " + VERSION_STRING;
    if (!ListFile.empty()) {
        const auto slash = ListFile.find_last_of("/\\");
        caption += " - " + std::string(ListModified ? "*" : "") +
                   (slash == std::string::npos ? ListFile : ListFile.substr(slash + 1));
    }
    return caption;
}

// ---------------------------------------------------------------------------
// Message boxes

void TForm_Main::RunPaused(const std::function<void()>& dialog) {
    if (session_)
        session_->RunPaused(dialog);
    else
        dialog();
}

EModalResult TForm_Main::ShowOwnMessage(const std::string& text, const std::string& caption,
                                        EMsgStyle style, bool defaultNo) {
    TMessageButtons b;
    switch (style) {
        case EMsgStyle::OK:
            b.OK = Lang(LE_OK);
            break;
        case EMsgStyle::OKCancel:
            b.OK = Lang(LE_OK);
            b.Cancel = Lang(LE_Cancel);
            break;
        case EMsgStyle::YesNoCancel:
            b.OK = Lang(LE_Yes);
            b.Cancel = Lang(LE_No);
            b.Aux = Lang(LE_Cancel);
            break;
        case EMsgStyle::YesNo:
            b.OK = Lang(LE_Yes);
            b.Cancel = Lang(LE_No);
            break;
    }
    b.DefaultIsSecond = defaultNo && style != EMsgStyle::OK;
    EModalResult r = EModalResult::Cancel;
    RunPaused([&] { r = view.ShowMessageBox(text, caption, style, b); });
    return r;
}

// The session pauses its timers around both.
void TForm_Main::Error(const TSessionError& e) {
    TMessageButtons b;
    b.OK = Lang(LE_OK);
    view.ShowMessageBox(e.Text, e.Caption, EMsgStyle::OK, b);
}

void TForm_Main::Notice(ENotice, const std::string& text) {
    TMessageButtons b;
    b.OK = Lang(LE_OK);
    view.ShowMessageBox(text, "", EMsgStyle::OK, b);
}

}  // namespace kyvo
