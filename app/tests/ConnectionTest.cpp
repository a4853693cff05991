#include <gtest/gtest.h>

#include "app/tests/Harness.h"

namespace kyvo {
namespace {

using testing::Rig;

sim::Scenario Device(std::uint8_t eepromVersion) {
    sim::Scenario s = sim::Scenario::demo();
    s.eepromVersion = eepromVersion;
    if (eepromVersion < 3) s.bits.SeparateResultMemory = false;
    s.memory = {};
    return s;
}

// Read requests (address, count) the program sent, decoded from the raw bytes.
std::vector<std::pair<std::uint32_t, std::uint16_t>> ReadRequests(const tByteBuffer& sent) {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
    // Unescape: after the marker each FE is doubled.
    tByteBuffer b;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        b.push_back(sent[i]);
        if (sent[i] == 0xFE && i + 1 < sent.size() && sent[i + 1] == 0xFE) ++i;
    }
    for (std::size_t i = 0; i + 10 < b.size(); ++i) {
        if (b[i] == 0xFE && b[i + 1] == 0x20 && b[i + 2] == 0x52) {
            const std::uint32_t a = b[i + 4] | b[i + 5] << 8 | b[i + 6] << 16 |
                                    static_cast<std::uint32_t>(b[i + 7]) << 24;
            out.push_back({a, static_cast<std::uint16_t>(b[i + 8] | b[i + 9] << 8)});
        }
    }
    return out;
}

std::vector<std::uint32_t> Addresses(const tByteBuffer& sent) {
    std::vector<std::uint32_t> v;
    for (auto [a, n] : ReadRequests(sent)) v.push_back(a);
    return v;
}

TEST(Connection, aClickBeforeTheSecondStartupStageDoesNothing) {
    Rig rig(sim::Scenario::demo());
    rig.main->FormCreate();
    rig.Run(100);
    rig.main->Button_OpenClick();
    EXPECT_EQ(rig.State(), stDisconnected);
    EXPECT_FALSE(rig.link.IsOpen());
    rig.Run(100);
    EXPECT_TRUE(rig.main->Initialized());
    EXPECT_EQ(rig.view.Status, "disconnected");
    EXPECT_EQ(rig.view.Caption, "Kyvo Data Reader - V" KYVO_VERSION);
}

struct IdentifyCase {
    std::uint8_t version;
    bool buttonLock;
    std::vector<std::uint32_t> reads;
    bool lockSent;
};

class Identification : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(Identification, readsTheRecordsOfItsVersionAndEndsReady) {
    const IdentifyCase& c = GetParam();
    Rig rig(Device(c.version),
            {{"Setup/DisableKyvoButtonOnConnect", c.buttonLock ? "true" : "false"}});
    rig.Start();
    rig.Connect();
    EXPECT_EQ(rig.State(), stReady);
    EXPECT_EQ(Addresses(rig.sent), c.reads);
    EXPECT_EQ(rig.device->buttonDisabled(), c.lockSent);
    EXPECT_EQ(rig.main->EEPROM().EEPROMVersion(), c.version);
    const std::string fw = firmwareVersionText(rig.device->scenario().firmware);
    EXPECT_EQ(rig.main->FirmwareText(), fw);
    EXPECT_EQ(rig.main->SerialText(), serialText(rig.device->scenario().serial));
    EXPECT_EQ(rig.view.Text(EControl::Label_FWDisplay), rig.main->SerialText() + " / " + fw);
    EXPECT_EQ(rig.view.Text(EControl::Button_Open), "Disconnect");
    EXPECT_EQ(rig.view.Caption, "Connected to  sim @ 38400 baud - V" KYVO_VERSION);
    EXPECT_TRUE(rig.view.IsEnabled(EControl::Button_ReadData));
    EXPECT_TRUE(rig.view.IsEnabled(EControl::Button_InstantMeasure));
    EXPECT_TRUE(rig.view.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, Identification,
    ::testing::Values(IdentifyCase{2, false, {0x50000, 0x50080}, false},
                      IdentifyCase{4, true, {0x50000, 0x50080}, false},
                      IdentifyCase{5, false, {0x50000, 0x5007C, 0x50080}, false},
                      IdentifyCase{5, true, {0x50000, 0x5007C, 0x50080}, true}));

TEST(Connection, capabilityBitsOfAVersion5DeviceGateTheMeasureButtons) {
    sim::Scenario s = Device(5);
    s.bits.TimerMeasureAllowed = false;
    Rig rig(s);
    rig.Start();
    rig.Connect();
    EXPECT_TRUE(rig.view.IsEnabled(EControl::Button_InstantMeasure));
    EXPECT_FALSE(rig.view.IsEnabled(EControl::Button_TimerMeasure));
}

TEST(Connection, aMissingSerialAnswerEndsIdentificationEarlyButUsable) {
    sim::Scenario s = Device(5);
    sim::SimFault f;
    f.kind = sim::FaultKind::Silence;
    f.command = 0xA4;
    f.durationMs = 0;
    f.times = 1;
    s.faults.push_back(f);
    Rig rig(s, {{"Setup/DisableKyvoButtonOnConnect", "true"}});
    rig.Start();
    rig.main->Button_OpenClick();
    rig.Run(900);
    EXPECT_EQ(rig.State(), stWaitSerial);
    rig.Run(200);
    EXPECT_EQ(rig.State(), stReady);
    EXPECT_TRUE(Addresses(rig.sent).empty());
    EXPECT_EQ(rig.main->EEPROM().EEPROMVersion(), 0);
    EXPECT_TRUE(rig.view.IsEnabled(EControl::Button_ReadData));
    EXPECT_TRUE(rig.view.IsEnabled(EControl::DTP_SetDate));  // clock enabled regardless
    EXPECT_FALSE(rig.device->buttonDisabled());
    EXPECT_TRUE(rig.view.Messages.empty());
}

TEST(Connection, aSilentDeviceFailsAManualConnectWithAMessageAndClosesThePort) {
    Rig rig(sim::Scenario::demo());
    rig.deviceAttached = false;
    rig.Start();
    rig.main->Button_OpenClick();
    EXPECT_EQ(rig.State(), stWaitConnect);
    rig.Run(999);
    EXPECT_EQ(rig.State(), stWaitConnect);
    rig.Run(10);
    EXPECT_EQ(rig.State(), stDisconnected);
    EXPECT_FALSE(rig.link.IsOpen());
    ASSERT_EQ(rig.view.MessageTexts(), std::vector<std::string>{"Connection failed"});
    EXPECT_EQ(rig.view.Messages[0].StateDuring, stMessage);
    EXPECT_EQ(rig.view.Status, "disconnected");
}

TEST(Connection, disconnectWithTheButtonLockReleasesTheButtonAndClosesOnItsAcknowledge) {
    Rig rig(Device(6), {{"Setup/DisableKyvoButtonOnConnect", "true"}});
    rig.Start();
    rig.Connect();
    ASSERT_TRUE(rig.device->buttonDisabled());
    rig.main->Button_OpenClick();
    EXPECT_EQ(rig.State(), stDisconnecting);
    EXPECT_FALSE(rig.view.Checked[EControl::Menu_AutoConnect]);
    EXPECT_EQ(rig.user.Values["KyvoCommunication/autoConnect"], "true");  // not saved
    rig.Run(50);  // well before the 100 ms time-out
    EXPECT_FALSE(rig.device->buttonDisabled());
    EXPECT_EQ(rig.State(), stDisconnected);
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.view.Text(EControl::Button_Open), "Connect");
    EXPECT_EQ(rig.view.Colours[EControl::Panel_Date], EPanelColour::ButtonFace);
    EXPECT_FALSE(rig.view.IsEnabled(EControl::Button_ReadData));
    EXPECT_EQ(rig.main->EEPROM().EEPROMVersion(), 0);  // mirror reset
}

}  // namespace
}  // namespace kyvo

namespace kyvo {
namespace {

TEST(Connection, disconnectWithShutdownSendsItFirstAndTheTimeOutFinishesTheClose) {
    Rig rig(Device(6), {{"Setup/DisableKyvoButtonOnConnect", "true"},
                        {"KyvoCommunication/ShutDownOnClose", "true"}});
    rig.Start();
    rig.Connect();
    rig.main->Button_OpenClick();
    EXPECT_TRUE(rig.device->shutdownRequested());
    rig.Run(90);
    EXPECT_EQ(rig.State(), stDisconnecting);  // the switched-off device answers nothing
    rig.Run(20);
    EXPECT_EQ(rig.State(), stDisconnected);
    EXPECT_FALSE(rig.link.IsOpen());
}

TEST(Connection, theLineFormatOfTheProgramSettingsIsAppliedAtEveryOpen) {
    Rig rig(sim::Scenario::demo());
    rig.prog.Values = {{"COM/bits", "7"}, {"COM/parity", "even"}, {"COM/stopBits", "2"}};
    rig.Start();
    rig.Connect();
    ASSERT_TRUE(rig.port);
    const auto line = rig.port->record().settings;
    EXPECT_EQ(line.dataBits, 7);
    EXPECT_EQ(line.parity, FT_PARITY_EVEN);
    EXPECT_EQ(line.stopBits, FT_STOP_BITS_2);
}

TEST(Connection, aPulledCableIsReportedAtOnceAsATransmissionFailureAndTheListStays) {
    testing::Ready r(sim::Scenario::demo(), {{"Setup/AddDataBehaviour", "Add"}});
    r.rig.main->Button_ReadDataClick();
    r.rig.Run(30000);
    const std::size_t listed = r.rig.main->MeasureList.size();
    ASSERT_GT(listed, 0u);
    r.rig.port->hangUp();
    r.rig.Run(20);
    ASSERT_EQ(r.rig.view.MessageTexts(),
              std::vector<std::string>{"Connection closed (possible data loss)"});
    EXPECT_EQ(r.rig.view.Messages[0].Caption, "RS232 Error");
    EXPECT_EQ(r.rig.State(), stDisconnected);
    EXPECT_FALSE(r.rig.link.IsOpen());
    EXPECT_EQ(r.rig.main->MeasureList.size(), listed);
    r.rig.Run(20000);  // said once, and no time-out after it
    EXPECT_EQ(r.rig.view.Messages.size(), 1u);
}

// A link whose ports never open, for the reasons a system gives.
class RefusingLink final : public IDeviceLink {
  public:
    EOpenFailure Failure = EOpenFailure::Missing;
    bool SendByte(std::uint8_t) override { return false; }
    bool SendBuffer() override { return false; }
    bool FtdiMode() const override { return false; }
    bool OpenFtdi(int, int) override { return false; }
    bool OpenSerial(const std::string&, int) override { return false; }
    void ClosePort() override {}
    bool IsOpen() const override { return false; }
    bool GetByte(std::uint8_t&) override { return false; }
    TFTDIDeviceEntry CurrentDevice() const override { return {}; }
    bool UpdateDeviceList(std::vector<TFTDIDeviceEntry>&, int&, int) override { return true; }
    std::vector<std::string> GetComPorts() override { return {}; }
    EOpenFailure LastOpenFailure() const override { return Failure; }
};

TEST(Connection, aPortThatDoesNotOpenIsExplainedOnlyWhenTheUserAskedForIt) {
    struct Case {
        EOpenFailure failure;
        std::string text;
    };
    const Case cases[] = {
        {EOpenFailure::Missing, "This port does not exist: /dev/ttyUSB3"},
        {EOpenFailure::InUse, "This port is in use by another program: /dev/ttyUSB3"},
        {EOpenFailure::NotPermitted,
         "You may not open this port: /dev/ttyUSB3\r\nTo get access, copy 70-kyvo-cable.rules to "
         "/etc/udev/rules.d and plug the cable in again, or join the dialout group (sudo usermod "
         "-aG dialout $USER) and log in again."},
        {EOpenFailure::Other, "This port cannot be opened: /dev/ttyUSB3"},
    };
    for (const Case& c : cases) {
        RefusingLink link;  // outlives the controller that uses it
        Rig rig(sim::Scenario::demo());
        link.Failure = c.failure;
        TMainDeps deps;
        deps.View = &rig.view;
        deps.Timers = &rig.sched;
        deps.Clock = &rig.sched;
        deps.Link = &link;
        deps.ProgSettings = &rig.prog;
        deps.UserSettings = &rig.user;
        deps.Language = &rig.lang;
        rig.main = std::make_unique<TForm_Main>(deps);
        rig.view.ComEditText = "/dev/ttyUSB3";
        rig.Start();
        rig.main->Button_OpenClick();
        ASSERT_EQ(rig.view.MessageTexts(), std::vector<std::string>{c.text});
        EXPECT_EQ(rig.view.Messages[0].Caption, "Connection failed");
        EXPECT_EQ(rig.State(), stDisconnected);
    }
}

}  // namespace
}  // namespace kyvo
