#include <gtest/gtest.h>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

// The rig's link in FTDI mode: a driver device list the test sets, and an
// open by index that reaches the simulated device.
class FtdiLink final : public IDeviceLink {
  public:
    explicit FtdiLink(IDeviceLink& inner) : in_(inner) {
        in_.OnReceive = [this] {
            if (OnReceive) OnReceive();
        };
        in_.OnError = [this](ELinkError e) {
            if (OnError) OnError(e);
        };
    }
    std::vector<TFTDIDeviceEntry> Devices;
    std::vector<int> Opened;
    bool SendByte(std::uint8_t b) override { return in_.SendByte(b); }
    bool SendBuffer() override { return in_.SendBuffer(); }
    bool FtdiMode() const override { return true; }
    bool OpenFtdi(int index, int baud) override {
        Opened.push_back(index);
        current_ = Devices.at(static_cast<std::size_t>(index));
        return in_.OpenSerial("ftdi", baud);
    }
    bool OpenSerial(const std::string& path, int baud) override {
        OpenedPaths.push_back(path);
        return in_.OpenSerial(path, baud);
    }
    std::vector<TSerialPortEntry> Others;
    std::vector<std::string> OpenedPaths;
    std::vector<TSerialPortEntry> OtherSerialPorts() override { return Others; }
    void ClosePort() override { in_.ClosePort(); }
    bool IsOpen() const override { return in_.IsOpen(); }
    bool GetByte(std::uint8_t& b) override { return in_.GetByte(b); }
    TFTDIDeviceEntry CurrentDevice() const override { return current_; }
    bool UpdateDeviceList(std::vector<TFTDIDeviceEntry>& d, int&, int) override {
        d = Devices;
        return true;
    }
    std::vector<std::string> GetComPorts() override { return {}; }

  private:
    IDeviceLink& in_;
    TFTDIDeviceEntry current_;
};

TFTDIDeviceEntry Kyvo(const std::string& serial, std::uint32_t flags = 0) {
    return {flags, 0x04036015, serial, "Kyvo Reader"};
}

using Settings = std::map<std::string, std::string>;

struct FtdiRig {
    explicit FtdiRig(const Settings& userSettings = {})
        : rig(sim::Scenario::demo(), userSettings), link(rig.link) {
        TMainDeps deps;
        deps.View = &rig.view;
        deps.Timers = &rig.sched;
        deps.Clock = &rig.sched;
        deps.Link = &link;
        deps.ProgSettings = &rig.prog;
        deps.UserSettings = &rig.user;
        deps.Language = &rig.lang;
        rig.main = std::make_unique<TForm_Main>(deps);
    }
    ~FtdiRig() { rig.main.reset(); }  // before the link it uses
    Rig rig;
    FtdiLink link;
};

TEST(FtdiMode, onlyFreeKyvoCablesAreListedAndAnEmptyListSaysSo) {
    FtdiRig f;
    f.link.Devices = {Kyvo("A1", 1), {0, 0x04036001, "B2", "Other chip"}, Kyvo("C3")};
    f.rig.Start();
    EXPECT_EQ(f.rig.view.Items[EControl::ComboBox_FTDIDevice],
              std::vector<std::string>{"1. Kyvo Reader (C3)"});
    EXPECT_EQ(f.rig.view.Hints[EControl::ComboBox_FTDIDevice], "1. Kyvo Reader (C3)");
    EXPECT_FALSE(f.rig.view.Visible[EControl::ComboBox_Com]);

    f.link.Devices.clear();
    f.rig.main->aktualisieren1Click();
    EXPECT_EQ(f.rig.view.Items[EControl::ComboBox_FTDIDevice],
              std::vector<std::string>{"-- no device --"});
}

TEST(FtdiMode, aPluggedInCableIsConnectedAtTheSecondRefreshOnlyWhileActive) {
    FtdiRig f;
    f.rig.Start();
    f.link.Devices = {Kyvo("C3")};
    f.rig.view.Active = false;
    f.rig.Run(4100);
    EXPECT_TRUE(f.link.Opened.empty());  // in the background nothing is refreshed
    f.rig.view.Active = true;
    f.rig.Run(2000);  // listed and selected
    EXPECT_TRUE(f.link.Opened.empty());
    f.rig.Run(2000);  // the refresh after that connects
    ASSERT_EQ(f.link.Opened, std::vector<int>{0});
    f.rig.Run(1000);
    EXPECT_EQ(f.rig.State(), stReady);
    EXPECT_EQ(f.rig.view.Caption, "Connected to  Kyvo Reader (C3) @ 38400 baud - V" KYVO_VERSION);
    EXPECT_EQ(f.rig.user.Values["COM/LastFTDIDevice"], "Kyvo Reader (C3)");
}

TEST(FtdiMode, anUnansweredFtdiOpenClosesAfter50msSilentlyWhenAutomatic) {
    FtdiRig f;
    f.link.Devices = {Kyvo("C3")};
    f.rig.deviceAttached = false;
    f.rig.Start();    // the start-up refresh lists and selects it
    f.rig.Run(1960);  // the first timer refresh, 2 s later, opens it
    ASSERT_EQ(f.link.Opened.size(), 1u);
    EXPECT_EQ(f.rig.State(), stWaitConnect);
    f.rig.Run(45);
    EXPECT_EQ(f.rig.State(), stDisconnected);
    EXPECT_FALSE(f.link.IsOpen());
    EXPECT_TRUE(f.rig.view.Messages.empty());
}

TEST(FtdiMode, otherSerialPortsFollowTheCablesAndAreReachedByHandOnly) {
    FtdiRig f;
    f.link.Devices = {Kyvo("C3")};
    f.link.Others = {{"/dev/rfcomm0", "Bluetooth"}, {"/dev/ttyUSB1", "CP2102 USB to UART"}};
    f.rig.Start();
    EXPECT_EQ(f.rig.view.Items[EControl::ComboBox_FTDIDevice],
              (std::vector<std::string>{"1. Kyvo Reader (C3)", "2. /dev/rfcomm0 (Bluetooth)",
                                        "3. /dev/ttyUSB1 (CP2102 USB to UART)"}));
    // A remembered serial port is never connected to by itself.
    f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice] = 1;
    f.rig.Run(4100);
    EXPECT_TRUE(f.link.Opened.empty());
    EXPECT_TRUE(f.link.OpenedPaths.empty());
    EXPECT_EQ(f.rig.State(), stDisconnected);
    // A cable plugged in moves the port down the list; the choice follows it.
    f.link.Devices.push_back(Kyvo("D4"));
    f.rig.Run(2000);
    EXPECT_EQ(f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice], 2);
    EXPECT_TRUE(f.link.Opened.empty());

    f.rig.main->Button_OpenClick();
    ASSERT_EQ(f.link.OpenedPaths, std::vector<std::string>{"/dev/rfcomm0"});
    EXPECT_TRUE(f.link.Opened.empty());
    f.rig.Run(60);  // a serial port has the serial port's time to answer
    EXPECT_NE(f.rig.State(), stDisconnected);
    f.rig.Run(3000);
    EXPECT_EQ(f.rig.State(), stReady);
    EXPECT_EQ(f.rig.view.Caption, "Connected to  /dev/rfcomm0 @ 38400 baud - V" KYVO_VERSION);
    EXPECT_EQ(f.rig.user.Values["COM/PortPath"], "/dev/rfcomm0");
    EXPECT_EQ(f.rig.user.Values.count("COM/LastFTDIDevice"), 0u);
}

TEST(FtdiMode, withoutACableTheOtherPortsAreListedInsteadOfNoDevice) {
    FtdiRig f;
    f.link.Others = {{"/dev/rfcomm0", "Bluetooth"}};
    f.rig.Start();
    EXPECT_EQ(f.rig.view.Items[EControl::ComboBox_FTDIDevice],
              std::vector<std::string>{"1. /dev/rfcomm0 (Bluetooth)"});
    EXPECT_EQ(f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice], 0);
}

TEST(FtdiMode, theRememberedReaderIsChosenWhereverTheListPutsIt) {
    struct Case {
        const char* name;
        Settings settings;
        int opened;
    };
    const Case cases[] = {
        {"remembered cable listed second", {{"COM/LastUsbSerial", "C3"}}, 1},
        {"remembered cable not plugged in", {{"COM/LastUsbSerial", "Z9"}}, 0},
        {"nothing remembered", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FtdiRig f(c.settings);
        f.link.Devices = {Kyvo("A1"), Kyvo("C3")};
        f.rig.Start();    // the start-up refresh selects
        f.rig.Run(1960);  // the first timer refresh connects
        ASSERT_EQ(f.link.Opened, std::vector<int>{c.opened});
        f.rig.Run(1000);
        ASSERT_EQ(f.rig.State(), stReady);
        const std::string cable = c.opened == 1 ? "C3" : "A1";
        EXPECT_EQ(f.rig.user.Values["COM/LastUsbSerial"], cable);
        EXPECT_EQ(f.rig.user.Values["COM/LastDeviceSerial"], f.rig.main->Session().SerialText());
        EXPECT_FALSE(f.rig.main->Session().SerialText().empty());
    }
}

TEST(FtdiMode, aReaderUnpluggedWhileConnectedIsReportedOnceAndReconnectedOnlyWithAutoConnect) {
    for (const bool autoConnect : {true, false}) {
        SCOPED_TRACE(autoConnect ? "auto-connect on" : "auto-connect off");
        FtdiRig f(Settings{{"KyvoCommunication/autoConnect", autoConnect ? "true" : "false"}});
        f.link.Devices = {Kyvo("C3")};
        f.rig.Start();
        f.rig.Connect();
        ASSERT_EQ(f.rig.State(), stReady);
        ASSERT_EQ(f.link.Opened, std::vector<int>{0});

        f.link.Devices.clear();
        f.rig.port->hangUp();
        f.rig.Run(20);
        EXPECT_EQ(f.rig.view.MessageTexts(),
                  std::vector<std::string>{"Connection closed (possible data loss)"});
        EXPECT_EQ(f.rig.State(), stDisconnected);
        f.rig.Run(6000);  // away for a while

        // Back, in another port, behind a cable plugged in meanwhile.
        f.link.Devices = {Kyvo("D4"), Kyvo("C3")};
        f.rig.Run(5000);
        EXPECT_EQ(f.rig.view.Messages.size(), 1u);
        if (autoConnect) {
            EXPECT_EQ(f.link.Opened, (std::vector<int>{0, 1}));
            EXPECT_EQ(f.rig.State(), stReady);
            EXPECT_EQ(f.rig.view.Caption,
                      "Connected to  Kyvo Reader (C3) @ 38400 baud - V" KYVO_VERSION);
        } else {
            EXPECT_EQ(f.link.Opened, std::vector<int>{0});
            EXPECT_EQ(f.rig.State(), stDisconnected);
            // the box still points at the reader for a click on Connect
            EXPECT_EQ(f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice], 1);
        }
    }
}

TEST(FtdiMode, noReaderIsConnectedByItselfWhileAMessageIsOpen) {
    FtdiRig f;
    f.link.Devices = {Kyvo("C3")};  // the driver still lists the cable
    f.rig.Start();
    f.rig.Connect();
    ASSERT_EQ(f.rig.State(), stReady);
    std::vector<int> openedDuringMessage;
    f.rig.view.WhileMessageShown = [&] {
        f.rig.view.WhileMessageShown = nullptr;
        f.rig.Run(4100);  // the user reads the message; the list refreshes
        openedDuringMessage = f.link.Opened;
    };
    f.rig.port->hangUp();
    f.rig.Run(20);
    EXPECT_EQ(openedDuringMessage, std::vector<int>{0});
    EXPECT_EQ(f.rig.State(), stDisconnected);
    f.rig.Run(2000);  // the box closed: the next refresh reconnects
    EXPECT_EQ(f.link.Opened, (std::vector<int>{0, 0}));
    f.rig.Run(1000);
    EXPECT_EQ(f.rig.State(), stReady);
    EXPECT_EQ(f.rig.view.Messages.size(), 1u);
}

TEST(FtdiMode, aCablePickedByHandWinsOverTheRememberedOne) {
    FtdiRig f(Settings{{"COM/LastUsbSerial", "C3"}});
    f.link.Devices = {Kyvo("A1"), Kyvo("C3")};
    f.rig.Start();
    ASSERT_EQ(f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice], 1);
    f.rig.view.ItemIndexes[EControl::ComboBox_FTDIDevice] = 0;
    f.rig.main->ComboBox_FTDIDeviceChange();
    f.link.Devices = {Kyvo("C3"), Kyvo("A1")};  // and the list order changes
    f.rig.Run(1960);
    EXPECT_EQ(f.link.Opened, std::vector<int>{1});
    f.rig.Run(1000);
    EXPECT_EQ(f.rig.user.Values["COM/LastUsbSerial"], "A1");
}

}  // namespace
}  // namespace kyvo
