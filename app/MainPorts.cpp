// The presenter's side of the connection: the state texts, the port boxes,
// connecting and disconnecting on the user's request, and what the window
// shows of the session's connection events.
#include "app/Main.h"

namespace kyvo {

// ---------------------------------------------------------------------------
// States

void TForm_Main::StateEntered(std::uint8_t s) {
    view.SetStatusText(0, Lang(StateText(s)));
    if (OnStateEntered) OnStateEntered(*this, s);
}

void TForm_Main::ReadPhase(EReadStep step) {
    view.SetStatusText(0, Lang(ReadPhaseText(step)));
}

void TForm_Main::EnableDeviceActions(bool enable) {
    TDeviceActions a;
    a.ReadData = a.Format = a.InstantMeasure = a.TimerMeasure = enable;
    DeviceActionsChanged(a);
}

void TForm_Main::DeviceActionsChanged(const TDeviceActions& a) {
    view.SetEnabled(EControl::Button_ReadData, a.ReadData);
    view.SetEnabled(EControl::Menu_FormatDB, a.Format);
    view.SetEnabled(EControl::Button_InstantMeasure, a.InstantMeasure);
    view.SetEnabled(EControl::Button_TimerMeasure, a.TimerMeasure);
}

void TForm_Main::ClockAvailable() {
    view.SetEnabled(EControl::Label_KyvoTime, true);
    view.SetEnabled(EControl::DTP_SetDate, true);
    view.SetEnabled(EControl::DTP_SetTime, true);
}

// ---------------------------------------------------------------------------
// Port boxes and connecting

namespace {
// What identifies a port across refreshes: a cable by its USB serial number
// (its place in the list changes when cables come and go), any other port by
// its path. A cable without a serial number has no identity.
std::string PortKey(const TPortEntry& p) {
    if (p.Kind == EPortKind::Ftdi) return p.UsbSerial.empty() ? "" : "usb:" + p.UsbSerial;
    return p.Path.empty() ? "" : "path:" + p.Path;
}

int FindPort(const std::vector<TPortEntry>& ports, const std::string& key) {
    if (key.empty()) return -1;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (PortKey(ports[i]) == key) return static_cast<int>(i);
    return -1;
}
}  // namespace

void TForm_Main::RefreshDeviceList() {
    if (d.Link->IsOpen()) return;
    bool takeAutoConnect = false;
    if (d.Link->FtdiMode()) {
        // Only a port that was listed counts as selected before, not the
        // "no device" or error line.
        const int before = ftdiPorts.empty() ? -1 : view.ItemIndex(EControl::ComboBox_FTDIDevice);
        const bool hadSelection = before >= 0 && before < static_cast<int>(ftdiPorts.size());
        const std::string beforeKey = hadSelection ? PortKey(ftdiPorts[before]) : "";
        int error = 0;
        const bool ok = ListPorts(*d.Link, ShowCableIDOnly, ftdiPorts, error);
        std::vector<std::string> items;
        for (std::size_t i = 0; i < ftdiPorts.size(); ++i)
            items.push_back(std::to_string(i + 1) + ". " + ftdiPorts[i].Text);
        // The remembered port is chosen wherever it is listed now. A port is
        // connected to by itself only once it was selected at the refresh
        // before too, so that a device just plugged in has settled.
        int pick = FindPort(ftdiPorts, ftdiChoice_);
        bool seenBefore = pick >= 0 && beforeKey == ftdiChoice_;
        if (pick < 0 && !beforeKey.empty()) {
            pick = FindPort(ftdiPorts, beforeKey);
            seenBefore = pick >= 0;
        }
        if (pick < 0 && hadSelection && beforeKey.empty()) {
            // A port without identity keeps its place in the list.
            pick = before;
            seenBefore = true;
        }
        if (ftdiPorts.empty()) {
            view.SetItems(EControl::ComboBox_FTDIDevice,
                          {ok ? Lang(LE_NoDevice) : Lang(LE_FTDIError) + " " + std::to_string(error)});
            view.SetItemIndex(EControl::ComboBox_FTDIDevice, 0);
        } else {
            view.SetItems(EControl::ComboBox_FTDIDevice, items);
            if (pick >= 0 && pick < static_cast<int>(items.size())) {
                view.SetItemIndex(EControl::ComboBox_FTDIDevice, pick);
                // Only a cable is connected to by itself, and only by a
                // session at rest: a refresh that runs while a message box is
                // open (one saying that the connection was lost) would
                // connect under it, and the box's end would then put the
                // session back to disconnected over the open port.
                takeAutoConnect = ok && autoConnect && seenBefore &&
                                  ftdiPorts[pick].Kind == EPortKind::Ftdi &&
                                  session_->State().Current == stDisconnected;
            } else {
                view.SetItemIndex(EControl::ComboBox_FTDIDevice, 0);
            }
            ShowFtdiHint();
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
    ShowFtdiHint();
    // A port picked by hand is followed from now on.
    const int i = view.ItemIndex(EControl::ComboBox_FTDIDevice);
    if (i >= 0 && i < static_cast<int>(ftdiPorts.size())) ftdiChoice_ = PortKey(ftdiPorts[i]);
}

void TForm_Main::ShowFtdiHint() {
    const int i = view.ItemIndex(EControl::ComboBox_FTDIDevice);
    view.SetHint(EControl::ComboBox_FTDIDevice,
                 i >= 0 && i < static_cast<int>(ftdiPorts.size())
                     ? std::to_string(i + 1) + ". " + ftdiPorts[i].Text
                     : "");
}

void TForm_Main::aktualisieren1Click() {
    RefreshDeviceList();
}

void TForm_Main::Timer_FTDIUpdateTimer() {
    if (view.IsApplicationActive() && !d.Link->IsOpen()) RefreshDeviceList();
}

void TForm_Main::Menu_AutoConnectClick() {
    autoConnect = !autoConnect;
    session_->Settings().AutoConnect = autoConnect;
    view.SetChecked(EControl::Menu_AutoConnect, autoConnect);
    d.UserSettings->SetBool("KyvoCommunication", "autoConnect", autoConnect);
    if (autoConnect) Timer_FTDIUpdateTimer();
}

void TForm_Main::Menu_ShutDownOnCloseClick() {
    ShutDownOnClose = !ShutDownOnClose;
    session_->Settings().ShutDownOnClose = ShutDownOnClose;
    view.SetChecked(EControl::Menu_ShutDownOnClose, ShutDownOnClose);
    d.UserSettings->SetBool("KyvoCommunication", "ShutDownOnClose", ShutDownOnClose);
}

void TForm_Main::OpenConnection(ESource source) {
    if (!initialized) return;
    autoConnect = d.UserSettings->GetBool("KyvoCommunication", "autoConnect", true);
    session_->Settings().AutoConnect = autoConnect;
    view.SetChecked(EControl::Menu_AutoConnect, autoConnect);
    const bool userAsked = source == ESource::Button_Open;

    if (d.Link->FtdiMode()) {
        const int item = view.ItemIndex(EControl::ComboBox_FTDIDevice);
        if (item < 0 || item >= static_cast<int>(ftdiPorts.size())) return;
        const TPortEntry port = ftdiPorts[item];
        if (!session_->Connect(port, KyvoBaudRate, userAsked)) return;
        if (!PortKey(port).empty()) ftdiChoice_ = PortKey(port);
        if (port.Kind != EPortKind::Ftdi) d.UserSettings->SetText("COM", "PortPath", port.Path);
        return;
    }
    const int item = view.ItemIndex(EControl::ComboBox_Com);
    TPortEntry port;
    if (item >= 0 && item < static_cast<int>(AvailableCOMPorts.size()))
        port.Path = AvailableCOMPorts[item];
    else
        port.Path = view.EditText(EControl::ComboBox_Com);  // a typed device path
    port.Text = port.Path;
    if (port.Path.find("rfcomm") != std::string::npos) port.Kind = EPortKind::Bluetooth;
    std::uint32_t baud = 0;
    if (port.Path.empty() || !strToCardinal(view.EditText(EControl::ComboBox_Baud), baud) ||
        baud == 0)
        return;
    if (!session_->Connect(port, static_cast<int>(baud), userAsked)) return;
    std::uint32_t number = 0;
    if (port.Path.size() > 3 && strToCardinal(std::string_view(port.Path).substr(3), number))
        d.UserSettings->SetInt("COM", "Port", static_cast<int>(number));
    else
        d.UserSettings->SetText("COM", "PortPath", port.Path);
}

void TForm_Main::Button_OpenClick() {
    if (d.Link->IsOpen()) {
        view.SetChecked(EControl::Menu_AutoConnect, false);
        autoConnect = false;
        session_->Settings().AutoConnect = false;
        session_->Disconnect(true);
    } else {
        OpenConnection(ESource::Button_Open);
    }
}

void TForm_Main::Connected() {
    if (session_->OpenedKind() == EPortKind::Ftdi) {
        d.UserSettings->SetText("COM", "LastFTDIDevice", session_->OpenedDevice());
        const std::string usbSerial = d.Link->CurrentDevice().Serial;
        if (!usbSerial.empty()) d.UserSettings->SetText("COM", "LastUsbSerial", usbSerial);
    }
    view.SetCaption(MainCaption());
    view.SetText(EControl::Button_Open, Lang(LE_Disconnect));
    view.SetHint(EControl::Button_Open, Lang(LE_HintDisconnect));
    for (EControl c : {EControl::ComboBox_FTDIDevice, EControl::ComboBox_Com,
                       EControl::ComboBox_Baud, EControl::Menu_FTDIDirect})
        view.SetEnabled(c, false);
}

void TForm_Main::Disconnected() {
    view.SetText(EControl::Button_Open, Lang(LE_Connect));
    view.SetHint(EControl::Button_Open, Lang(LE_HintConnect));
    view.SetEnabled(EControl::ComboBox_FTDIDevice, true);
    view.SetCaption(MainCaption());
    view.SetEnabled(EControl::Label_KyvoTime, false);
    view.SetEnabled(EControl::DTP_SetDate, false);
    view.SetEnabled(EControl::DTP_SetTime, false);
    view.SetPanelColour(EControl::Panel_Date, EPanelColour::ButtonFace);
    view.SetPanelColour(EControl::Panel_Time, EPanelColour::ButtonFace);
    view.SetEnabled(EControl::Label_FW, false);
    view.SetText(EControl::Label_FWDisplay, "");
    view.SetEnabled(EControl::Label_FWDisplay, false);
    // The session disables the device actions right after.
    view.SetEnabled(EControl::Menu_FTDIDirect, true);
    view.SetEnabled(EControl::ComboBox_Com, true);
    view.SetEnabled(EControl::ComboBox_Baud, true);
}

void TForm_Main::DeviceSerialRead(const std::string& serial) {
    if (!serial.empty()) d.UserSettings->SetText("COM", "LastDeviceSerial", serial);
}

void TForm_Main::IdentityShown(const std::string& firmware, const std::string& serial) {
    if (!firmware.empty()) {
        view.SetEnabled(EControl::Label_FW, true);
        view.SetEnabled(EControl::Label_FWDisplay, true);
    }
    view.SetText(EControl::Label_FWDisplay,
                 serial.empty() ? firmware : firmware.empty() ? serial : serial + " / " + firmware);
}

}  // namespace kyvo
