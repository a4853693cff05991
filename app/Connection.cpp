// The state machine, the device list, connecting, identification,
// disconnecting and the device's error events.
#include "app/Main.h"
#include "protocol/KyvoErrors.h"

namespace kyvo {

namespace {
constexpr std::uint32_t kFtdiVendorProduct = 0x04036015;
}

// ---------------------------------------------------------------------------
// States

int TForm_Main::StateTimeOut(std::uint8_t s) const {
    // A Bluetooth port opened from the FTDI list needs the serial port's time.
    const bool ftdi = d.Link->FtdiMode() && !serialPortOpened;
    switch (s) {
        case stReceiving:
            return 5000;
        case stIdentifying:
        case stFormatting:
        case stEvaluating:
            return 8500;
        case stWaitConnect:
            return ftdi ? 50 : 1000;
        case stProbe:
        case stWaitFirmware:
        case stWaitSerial:
            return ftdi ? 100 : 1000;
        case stWaitClock:
            return timeOutForGetTime;
        case stClosing:
        case stDisconnecting:
            return 100;
        default:
            return 0;
    }
}

const TLangEntry& TForm_Main::StateText(std::uint8_t s) const {
    switch (s) {
        case stReady:
        case stProbe:
        case stWaitClock:
            return LE_Ready;
        case stReceiving:
            return LE_ReceivingData;
        case stIdentifying:
        case stWaitConnect:
        case stWaitFirmware:
        case stWaitSerial:
            return LE_Connecting;
        case stFormatting:
            return LE_Formatting;
        case stEvaluating:
            return LE_Evaluating;
        case stBusy:
            return LE_KyvoBusy;
        case stDisconnected:
        case stClosing:
        case stDisconnecting:
            return LE_Disconnected;
        default:
            return LE_Empty;
    }
}

void TForm_Main::EnterState(std::uint8_t s) {
    // A combined pair whose second half ends without a result is over: the
    // first half stays a measurement of its own, and the next measurement
    // starts a pair afresh.
    const bool halfLeftBehind = s != stEvaluating && s != stMessage &&
                                (CombineMeasurements == ECombineMeasurements::SecondMeasure ||
                                 CombineMeasurements == ECombineMeasurements::HandleSingle);
    if (halfLeftBehind) CombineMeasurements = ECombineMeasurements::Combine;
    ArmTimeOut(0);
    if (s != stEvaluating) {
        view.HideEvaluationInfo();
        abortRequested = false;
    }
    if (s != stReceiving) view.SetProgressVisible(false);
    view.SetEnabled(EControl::CB_CombineMeasurements, s != stEvaluating);
    ArmTimeOut(StateTimeOut(s));
    view.SetStatusText(0, Lang(StateText(s)));
    State_.Current = s;
    State_.ActiveCount = 0;
    if (OnStateEntered) OnStateEntered(*this, s);
    if (halfLeftBehind && NewMeasureSet) AddNewMeasureSet();
}

void TForm_Main::ArmTimeOut(int ms) {
    Timer_TimeOut->Stop();
    if (ms > 0) Timer_TimeOut->Start(ms);
}

bool TForm_Main::CheckNotBusy(std::uint8_t s) {
    if (State_.Current == stReady || State_.Current == stWaitClock) {
        EnterState(s);
        return true;
    }
    ShowOwnMessage(Lang(LE_KyvoBusyPleaseWait), "", EMsgStyle::OK);
    return false;
}

bool TForm_Main::DelayIfClockPending(eUserAction action) {
    if (!Timer_WaitAfterClock->IsActive()) return false;
    DelayedUserAction = action;
    return true;
}

void TForm_Main::Timer_WaitAfterClockTimer() {
    Timer_WaitAfterClock->Stop();
    const eUserAction a = DelayedUserAction;
    DelayedUserAction = actNone;
    switch (a) {
        case actReadData:
            Button_ReadDataClick();
            break;
        case actInstantMeasure:
            Button_InstantMeasureClick();
            break;
        case actTimerMeasure:
            Button_TimerMeasureClick();
            break;
        case actFormatDB:
            Menu_FormatDBClick();
            break;
        default:
            break;
    }
}

void TForm_Main::Timer_StateCntTimer() {
    ++State_.ActiveCount;
}

void TForm_Main::EnableDeviceActions(bool enable, bool useCapabilities) {
    view.SetEnabled(EControl::Button_ReadData, enable);
    view.SetEnabled(EControl::Menu_FormatDB, enable);
    bool instant = enable, timer = enable;
    if (useCapabilities && EEPROMMap.EEPROMVersion() >= 5) {
        const auto& bits = EEPROMMap.NonVolatileData.KyvoCfgBits_0;
        instant = enable && bits.InstantMeasureAllowed();
        timer = enable && bits.TimerMeasureAllowed();
    }
    view.SetEnabled(EControl::Button_InstantMeasure, instant);
    view.SetEnabled(EControl::Button_TimerMeasure, timer);
}

void TForm_Main::EnableClock() {
    view.SetEnabled(EControl::Label_KyvoTime, true);
    view.SetEnabled(EControl::DTP_SetDate, true);
    view.SetEnabled(EControl::DTP_SetTime, true);
    Timer_KyvoClock->Start(1000);
    KyvoAcknowledged = true;
}

void TForm_Main::ProbeAfterTimeOut(const std::string& message, const std::string& caption) {
    KyvoAcknowledged = false;
    errorMsg = message;
    errorCaption = caption;
    EnterState(stProbe);
    Kyvo->getAcknowledge();
}

bool TForm_Main::ButtonLockApplies() const {
    return DisableButtonOnConnect && EEPROMMap.EEPROMVersion() >= 5;
}

// ---------------------------------------------------------------------------
// Device list and connecting

void TForm_Main::RefreshDeviceList() {
    if (d.Link->IsOpen()) return;
    bool takeAutoConnect = false;
    if (d.Link->FtdiMode()) {
        // Only a port that was listed counts as remembered, not the
        // "no device" or error line. A serial port is remembered by its path,
        // so that a cable plugged in before it does not change the choice.
        int remembered = ftdiItemIndex.empty() && ftdiItemPath.empty()
                             ? -1
                             : view.ItemIndex(EControl::ComboBox_FTDIDevice);
        std::string rememberedPath;
        {
            const int serialItem = remembered - static_cast<int>(ftdiItemIndex.size());
            if (serialItem >= 0 && serialItem < static_cast<int>(ftdiItemPath.size()))
                rememberedPath = ftdiItemPath[serialItem];
        }
        std::vector<TFTDIDeviceEntry> devices;
        int error = 0;
        const bool ok = d.Link->UpdateDeviceList(devices, error, 2000);
        ftdiItemIndex.clear();
        ftdiItemText.clear();
        ftdiItemPath.clear();
        // Every other serial port after the cables: USB serial adapters,
        // Bluetooth serial ports.
        std::vector<TSerialPortEntry> others = d.Link->OtherSerialPorts();
        auto otherItems = [&](std::vector<std::string>& items) {
            const int first = static_cast<int>(items.size());
            if (!rememberedPath.empty()) remembered = -1;
            for (const auto& p : others) {
                if (p.Path == rememberedPath)
                    remembered = first + static_cast<int>(ftdiItemPath.size());
                items.push_back(std::to_string(items.size() + 1) + ". " + p.Path +
                                (p.Description.empty() ? "" : " (" + p.Description + ")"));
                ftdiItemPath.push_back(p.Path);
            }
        };
        if (!ok && !others.empty()) {
            std::vector<std::string> items;
            otherItems(items);
            ftdiItemText = items;
            view.SetItems(EControl::ComboBox_FTDIDevice, items);
            view.SetItemIndex(
                EControl::ComboBox_FTDIDevice,
                remembered >= 0 && remembered < static_cast<int>(items.size()) ? remembered : 0);
            ComboBox_FTDIDeviceChange();
        } else if (!ok) {
            view.SetItems(EControl::ComboBox_FTDIDevice,
                          {Lang(LE_FTDIError) + " " + std::to_string(error)});
            view.SetItemIndex(EControl::ComboBox_FTDIDevice, 0);
        } else {
            std::vector<std::string> items;
            for (std::size_t i = 0; i < devices.size(); ++i) {
                const auto& rec = devices[i];
                if (rec.Flags == 1 || rec.ID != kFtdiVendorProduct) continue;
                const std::string n = std::to_string(items.size() + 1);
                items.push_back(ShowCableIDOnly
                                    ? n + ". " + rec.Serial
                                    : n + ". " + rec.Description + " (" + rec.Serial + ")");
                ftdiItemIndex.push_back(static_cast<int>(i));
            }
            const int cables = static_cast<int>(items.size());
            otherItems(items);
            if (devices.empty() && others.empty()) {
                view.SetItems(EControl::ComboBox_FTDIDevice, {Lang(LE_NoDevice)});
                view.SetItemIndex(EControl::ComboBox_FTDIDevice, 0);
            } else {
                ftdiItemText = items;
                view.SetItems(EControl::ComboBox_FTDIDevice, items);
                if (remembered >= 0 && remembered < static_cast<int>(items.size())) {
                    view.SetItemIndex(EControl::ComboBox_FTDIDevice, remembered);
                    // Only a cable is connected to by itself.
                    takeAutoConnect = autoConnect && remembered < cables;
                } else {
                    view.SetItemIndex(EControl::ComboBox_FTDIDevice, items.empty() ? -1 : 0);
                }
                ComboBox_FTDIDeviceChange();
            }
        }
    } else {
        const int remembered = view.ItemIndex(EControl::ComboBox_Com);
        const std::string typed = remembered < 0 ? view.EditText(EControl::ComboBox_Com) : "";
        AvailableCOMPorts = d.Link->GetComPorts();
        view.SetItems(EControl::ComboBox_Com, AvailableCOMPorts);
        SelectComPort(remembered, typed);
    }
    if (takeAutoConnect) OpenConnection(ESource::MainWindow);
}

void TForm_Main::SelectComPort(int remembered, const std::string& typed) {
    const int n = static_cast<int>(AvailableCOMPorts.size());
    auto indexOf = [&](const std::string& name) {
        for (int i = 0; i < n; ++i)
            if (AvailableCOMPorts[i] == name) return i;
        return -1;
    };
    if (remembered >= 0 && remembered < n) {
        view.SetItemIndex(EControl::ComboBox_Com, remembered);
        return;
    }
    // A typed path is the user's: it stays, whatever the list holds.
    std::string text = typed;
    if (text.empty()) text = d.UserSettings->GetText("COM", "PortPath", "");
    if (!text.empty()) {
        const int i = indexOf(text);
        view.SetItemIndex(EControl::ComboBox_Com, i);
        if (i < 0) view.SetText(EControl::ComboBox_Com, text);
        return;
    }
    if (n == 0) {
        view.SetItemIndex(EControl::ComboBox_Com, -1);
        return;
    }
    const int numbered = indexOf("COM" + std::to_string(d.UserSettings->GetInt("COM", "Port", 1)));
    view.SetItemIndex(EControl::ComboBox_Com, numbered >= 0 ? numbered : 0);
}

void TForm_Main::ComboBox_FTDIDeviceChange() {
    const int i = view.ItemIndex(EControl::ComboBox_FTDIDevice);
    view.SetHint(EControl::ComboBox_FTDIDevice,
                 i >= 0 && i < static_cast<int>(ftdiItemText.size()) ? ftdiItemText[i] : "");
}

void TForm_Main::aktualisieren1Click() {
    RefreshDeviceList();
}

void TForm_Main::Timer_FTDIUpdateTimer() {
    if (view.IsApplicationActive() && !d.Link->IsOpen()) RefreshDeviceList();
}

void TForm_Main::Menu_AutoConnectClick() {
    autoConnect = !autoConnect;
    view.SetChecked(EControl::Menu_AutoConnect, autoConnect);
    d.UserSettings->SetBool("KyvoCommunication", "autoConnect", autoConnect);
    if (autoConnect) Timer_FTDIUpdateTimer();
}

void TForm_Main::Menu_ShutDownOnCloseClick() {
    ShutDownOnClose = !ShutDownOnClose;
    view.SetChecked(EControl::Menu_ShutDownOnClose, ShutDownOnClose);
    d.UserSettings->SetBool("KyvoCommunication", "ShutDownOnClose", ShutDownOnClose);
}

void TForm_Main::OpenConnection(ESource source) {
    if (!initialized) return;
    identificationComplete = true;
    manualConnect = source == ESource::Button_Open;
    autoConnect = d.UserSettings->GetBool("KyvoCommunication", "autoConnect", true);
    view.SetChecked(EControl::Menu_AutoConnect, autoConnect);

    bool opened = false;
    std::string name;
    serialPortOpened = false;
    if (d.Link->FtdiMode()) {
        const int item = view.ItemIndex(EControl::ComboBox_FTDIDevice);
        const int cables = static_cast<int>(ftdiItemIndex.size());
        if (item >= 0 && item < cables) {
            name = ftdiItemText[item];
            opened = d.Link->OpenFtdi(ftdiItemIndex[item], KyvoBaudRate);
        } else if (item >= cables && item - cables < static_cast<int>(ftdiItemPath.size())) {
            name = ftdiItemPath[item - cables];
            opened = d.Link->OpenSerial(name, KyvoBaudRate);
            serialPortOpened = opened;
            if (opened) {
                CurrOpenedDevice = name;
                d.UserSettings->SetText("COM", "PortPath", name);
            }
        } else {
            return;
        }
    } else {
        const int item = view.ItemIndex(EControl::ComboBox_Com);
        if (item >= 0 && item < static_cast<int>(AvailableCOMPorts.size()))
            name = AvailableCOMPorts[item];
        else
            name = view.EditText(EControl::ComboBox_Com);  // a typed device path
        std::uint32_t baud = 0;
        if (name.empty() || !strToCardinal(view.EditText(EControl::ComboBox_Baud), baud) ||
            baud == 0)
            return;
        opened = d.Link->OpenSerial(name, static_cast<int>(baud));
        serialPortOpened = opened;
        if (opened) {
            KyvoBaudRate = static_cast<int>(baud);
            std::uint32_t number = 0;
            if (name.size() > 3 && strToCardinal(std::string_view(name).substr(3), number))
                d.UserSettings->SetInt("COM", "Port", static_cast<int>(number));
            else
                d.UserSettings->SetText("COM", "PortPath", name);
            CurrOpenedDevice = name;
        }
    }
    if (!opened) {
        // Automatic attempts stay quiet; the user who asked is told why.
        if (manualConnect) ReportOpenFailure(name);
        return;
    }
    EnterState(stWaitConnect);
    Kyvo->getAcknowledge();
}

void TForm_Main::ReportOpenFailure(const std::string& name) {
    std::string text;
    switch (d.Link->LastOpenFailure()) {
        case EOpenFailure::Missing:
            text = Lang(LE_PortMissing) + " " + name;
            break;
        case EOpenFailure::InUse:
            text = Lang(LE_PortInUse) + " " + name;
            break;
        case EOpenFailure::NotPermitted:
            text = Lang(LE_PortNotPermitted) + " " + name + "\r\n" + Lang(LE_PortAccessHelp);
            break;
        default:
            text = Lang(LE_PortOpenFailed) + " " + name;
            break;
    }
    ShowMessageKeepState(text, Lang(LE_ConnectionFailed), State_.Current);
}

void TForm_Main::Button_OpenClick() {
    if (d.Link->IsOpen())
        StartDisconnect(ESource::Button_Open, true);
    else
        OpenConnection(ESource::Button_Open);
}

void TForm_Main::StartDisconnect(ESource source, bool releaseAllowed) {
    if (source == ESource::Button_Open) {
        view.SetChecked(EControl::Menu_AutoConnect, false);
        autoConnect = false;
        if (ShutDownOnClose) Kyvo->sendString("shutdown\r");
    }
    EnterState(stDisconnecting);
    if (ButtonLockApplies() && identificationComplete && !ClosingForm && releaseAllowed)
        Kyvo->setButtonControl(false);
    else
        CloseConnection();
}

void TForm_Main::CloseConnection() {
    EnterState(stDisconnected);
    identificationComplete = false;
    Timer_KyvoClock->Stop();
    d.Link->ClosePort();
    view.SetText(EControl::Button_Open, Lang(LE_Connect));
    view.SetHint(EControl::Button_Open, Lang(LE_HintConnect));
    view.SetEnabled(EControl::ComboBox_FTDIDevice, true);
    view.SetCaption(MainCaption());
    KyvoAcknowledged = false;
    view.SetEnabled(EControl::Label_KyvoTime, false);
    view.SetEnabled(EControl::DTP_SetDate, false);
    view.SetEnabled(EControl::DTP_SetTime, false);
    view.SetPanelColour(EControl::Panel_Date, EPanelColour::ButtonFace);
    view.SetPanelColour(EControl::Panel_Time, EPanelColour::ButtonFace);
    view.SetEnabled(EControl::Label_FW, false);
    view.SetText(EControl::Label_FWDisplay, "");
    view.SetEnabled(EControl::Label_FWDisplay, false);
    EnableDeviceActions(false, false);
    view.SetEnabled(EControl::Menu_FTDIDirect, true);
    view.SetEnabled(EControl::ComboBox_Com, true);
    view.SetEnabled(EControl::ComboBox_Baud, true);
    EEPROMMap.Reset();
}

// ---------------------------------------------------------------------------
// Identification and the acknowledge

void TForm_Main::HandleAcknowledge() {
    switch (State_.Current) {
        case stWaitConnect: {
            ArmTimeOut(0);
            if (d.Link->FtdiMode() && !serialPortOpened) {
                const TFTDIDeviceEntry dev = d.Link->CurrentDevice();
                CurrOpenedDevice =
                    ShowCableIDOnly ? dev.Serial : dev.Description + " (" + dev.Serial + ")";
                d.UserSettings->SetText("COM", "LastFTDIDevice", CurrOpenedDevice);
            }
            view.SetCaption(MainCaption());
            view.SetText(EControl::Button_Open, Lang(LE_Disconnect));
            view.SetHint(EControl::Button_Open, Lang(LE_HintDisconnect));
            for (EControl c : {EControl::ComboBox_FTDIDevice, EControl::ComboBox_Com,
                               EControl::ComboBox_Baud, EControl::Menu_FTDIDirect})
                view.SetEnabled(c, false);
            EnterState(stWaitFirmware);
            Kyvo->getFirmwareVersion();
            break;
        }
        case stIdentifying:
            if (ButtonLockApplies()) {
                EnableDeviceActions(true, true);
                EnterState(stReady);
            }
            break;
        case stFormatting:
            EnterState(stReady);
            ShowOwnMessage(Lang(LE_DatabaseFormatted), "", EMsgStyle::OK);
            break;
        case stEvaluating:
            // A device with no evaluation running acknowledges the abort.
            if (abortRequested) {
                EnterState(stReady);
                ShowOwnMessage(Lang(LE_AbortedByUser), "", EMsgStyle::OK);
                break;
            }
            StartReadStep(SpConfiguration);
            break;
        case stProbe:
            if (!errorMsg.empty()) ShowMessageKeepState(errorMsg, errorCaption, stReady);
            EnterState(stReady);
            break;
        case stBusy:
            EnterState(stReady);
            break;
        case stClosing:
            if (ButtonLockApplies() && ClosingForm) view.RequestClose();
            break;
        case stDisconnecting:
            if (!ClosingForm) CloseConnection();
            break;
        default:
            break;
    }
    KyvoAcknowledged = true;
}

void TForm_Main::HandleFirmwareVersion(const tFirmwareVersion& fw) {
    view.SetEnabled(EControl::Label_FW, true);
    view.SetEnabled(EControl::Label_FWDisplay, true);
    FWString = firmwareVersionText(fw);
    view.SetText(EControl::Label_FWDisplay,
                 SNString.empty() ? FWString : SNString + " / " + FWString);
    if (State_.Current == stWaitFirmware) {
        EnterState(stWaitSerial);
        Kyvo->getSerial();
    }
}

void TForm_Main::HandleSerial(const tSerial& sn) {
    auto& nv = EEPROMMap.NonVolatileData;
    nv.DravonSerialNumber = sn.kalmiSerial;
    nv.CustomerNumber = sn.customer;
    nv.ProjectNumber = sn.project;
    nv.ProductionWeek = sn.productionDate.ProductionWeek;
    nv.ProductionYear = sn.productionDate.ProductionYear;
    nv.SerialNumber = sn.subSerial;
    SNString = serialText(sn);
    view.SetText(EControl::Label_FWDisplay,
                 FWString.empty() ? SNString : SNString + " / " + FWString);
    if (State_.Current == stWaitSerial) {
        EnableDeviceActions(true, false);
        EnterState(stIdentifying);
        StartReadStep(SpNonVolatileSN);
    }
}

// ---------------------------------------------------------------------------
// Time-out

void TForm_Main::Timer_TimeOutTimer() {
    Timer_TimeOut->Stop();
    KyvoAcknowledged = false;
    switch (State_.Current) {
        case stWaitConnect:
            StartDisconnect(ESource::MainWindow, false);
            if (manualConnect) ShowMessageKeepState(Lang(LE_ConnectionFailed), "", State_.Current);
            break;
        case stProbe: {
            const std::string text = errorMsg + "\r\n" + Lang(LE_ConnectionClosed);
            ShowMessageKeepState(text, errorCaption, stReady);
            StartDisconnect(ESource::MainWindow, false);
            break;
        }
        case stWaitClock:
            if (autoDisconnectOnTimeError) {
                if (autoConnect)
                    StartDisconnect(ESource::MainWindow, false);
                else
                    ProbeAfterTimeOut("", Lang(LE_KyvoDisconnected));
            }
            break;
        case stWaitSerial:
            EnterState(stReady);
            EnableDeviceActions(true, false);
            identificationComplete = false;
            EnableClock();
            break;
        case stBusy:
            EnterState(stReady);
            KyvoAcknowledged = true;
            break;
        case stClosing:
        case stDisconnecting:
            StartDisconnect(ESource::MainWindow, false);
            break;
        default:
            ProbeAfterTimeOut(Lang(LE_WaitingForDeviceTimeOut), Lang(LE_KyvoDisconnected));
            break;
    }
}

// ---------------------------------------------------------------------------
// Error events

void TForm_Main::HandleSerialError(ELinkError kind) {
    std::string text;
    switch (kind) {
        case ELinkError::NotAllSend:
        case ELinkError::ConnectionLost:
            text = Lang(LE_ConnectionClosedDataLoss);
            StartDisconnect(ESource::MainWindow, false);
            break;
        case ELinkError::Unknown:
            text = Lang(LE_UnknownError);
            StartDisconnect(ESource::MainWindow, false);
            break;
        case ELinkError::PortNotOpen:
            text = Lang(LE_PortNotOpened);
            break;
    }
    ShowMessageKeepState(text, Lang(LE_RS232Error), State_.Current);
}

namespace {
tLanguageLookup LookupFor(const TForm_Main& m) {
    return [&m](std::uint32_t id, std::string_view english) {
        return m.Lang(TLangEntry{id, english});
    };
}
}  // namespace

void TForm_Main::HandleCommunicationError(std::uint8_t code) {
    if (State_.Current == stReady || State_.Current == stDisconnected) return;
    EnterState(stReady);
    if (code == 0) return;
    ShowMessageKeepState(comErrorMessage(code, LookupFor(*this)), "", stReady);
}

void TForm_Main::HandleKyvoError(std::uint8_t code) {
    if (State_.Current == stReady || State_.Current == stDisconnected) return;
    if (code == 0) return;
    if (isRFIDRetryError(code) && TryRFIDAgain) {
        if (State_.Current == stEvaluating) Kyvo->evaluate(true, IsTimerMeasure);
        TryRFIDAgain = State_.ActiveCount < 5;
        return;
    }
    if (State_.Current != stReady) EnterState(stReady);
    ShowMessageKeepState(kyvoErrorMessage(code, LookupFor(*this)), "", State_.Current);
}

void TForm_Main::HandleUnknownCommand() {
    if (State_.Current == stReady) return;
    ShowMessageKeepState(Lang(LE_UnknownCommand), "", stReady);
}

void TForm_Main::HandleDeviceBusy(std::uint32_t ms) {
    if (State_.Current != stEvaluating) EnterState(stBusy);
    const std::uint64_t total = static_cast<std::uint64_t>(ms) + 8500;
    ArmTimeOut(total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(total));
}

void TForm_Main::HandleReceivedBytes() {
    std::uint8_t b = 0;
    while (d.Link->GetByte(b)) Kyvo->handleByte(b);
}

}  // namespace kyvo
