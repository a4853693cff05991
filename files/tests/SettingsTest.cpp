#include "files/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/tests/FileTestSupport.h"
#include "files/tests/TempFolder.h"

namespace kyvo {
namespace {

using Lines = std::vector<std::string>;

constexpr TScreenGeometry kScreen{1920, 1080, 3840, 1080};

class SettingsTest : public ::testing::Test {
  protected:
    TempFolder dir;
    RecordingReporter reporter;
    std::string path = dir.file("DRConfig.ini");

    std::unique_ptr<TConfigFile> fileWith(const Lines& lines, bool readOnly = false) {
        writeLines(path, lines);
        auto file = std::make_unique<TConfigFile>(path, false, readOnly, &reporter);
        file->SaveImmediate = true;
        return file;
    }
};

TEST_F(SettingsTest, firstStartFillsTheUserFileWithEveryItemAndItsDefault) {
    {
        TConfigFile user(path, false, false, &reporter);
        EXPECT_EQ("language.ini", ReadLanguageFileName(user));
        const TUserSettings s = ReadUserSettings(user, kScreen, "/cfg/");
        EXPECT_EQ(SRight, s.ImagePosition);
        EXPECT_EQ(523, s.Window.Left);
        EXPECT_EQ(228, s.Window.Top);
        EXPECT_EQ(874, s.Window.Width);
        EXPECT_EQ(624, s.Window.Height);
        EXPECT_FALSE(s.Window.Maximised);
        EXPECT_EQ(1, s.ComPort);
        EXPECT_EQ("/cfg/", s.DefaultDir);
        EXPECT_EQ("Results.tsv", s.LastUsedFile);
        EXPECT_FALSE(s.PromptSave || s.AutoSaveToLastFile || s.SaveOnExit ||
                     s.AutoSaveMeasurements || s.ShutDownOnClose || s.LoadLastSavedOnStart ||
                     s.DisableKyvoButtonOnConnect);
        EXPECT_EQ("Measurements.tsv", s.AutoSaveMeasurementsFile);
        EXPECT_EQ(ECombineMeasurements::SingleOnly, s.CombineMeasurements);
        EXPECT_EQ(TSSelect, s.TestSource);
        EXPECT_TRUE(s.AutoConnect);
        EXPECT_EQ(AlwaysAsk, s.AddDataBehaviour);
        StoreSettingsAtExit(user, {523, 228, 874, 624, 0}, s.ImagePosition);
    }
    EXPECT_EQ((Lines{"",
                     "[Language]",
                     "filename = \"language.ini\"",
                     "",
                     "[Setup]",
                     "DisableKyvoButtonOnConnect = false",
                     "LoadLastSavedOnStart = false",
                     "AddDataBehaviour = \"Ask\"",
                     "TestSource = \"Select\"",
                     "CombineMeasurements = false",
                     "AutoSaveMeasurementsFile = \"Measurements.tsv\"",
                     "AutoSaveMeasurements = false",
                     "SaveOnExit = false",
                     "AutoSaveToLastFile = false",
                     "PromptSave = false",
                     "LastUsedFile = \"Results.tsv\"",
                     "DefaultDir = \"/cfg/\"",
                     "WindowState = 0",
                     "Height = 624",
                     "Width = 874",
                     "Top = 228",
                     "Left = 523",
                     "ImagePosition = \"Right\"",
                     "",
                     "[COM]",
                     "Port = 1",
                     "",
                     "[KyvoCommunication]",
                     "ShutDownOnClose = false",
                     "autoConnect = true"}),
              fileLines(path));
}

TEST_F(SettingsTest, archiveItemsDefaultToTheDefaultArchiveFedByEveryRead) {
    struct Case {
        Lines file;
        std::string location;
        bool feed;
    };
    const std::vector<Case> cases = {
        {{"[Setup]", "Language = \"English\""}, "", true},
        {{"[Archive]", "Feed = FALSE"}, "", false},
        {{"[Archive]", "Feed = false", "Location = \"sqlite:/lab/a.sqlite\""},
         "sqlite:/lab/a.sqlite",
         false},
        {{"[Archive]", "Feed = maybe", "Location = \"postgresql://db/kyvo\""},
         "postgresql://db/kyvo",
         true},
        {{"[Archive]", "Feed = True"}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file));
        {
            auto user = fileWith(c.file);
            user->SaveImmediate = false;
            const TArchiveSettings peeked = PeekArchiveSettings(*user);
            EXPECT_EQ(c.location, peeked.Location);
            EXPECT_EQ(c.feed, peeked.Feed);
            EXPECT_EQ(c.file, user->Lines) << "peeking writes nothing";
            const TArchiveSettings read = ReadArchiveSettings(*user);
            EXPECT_EQ(c.location, read.Location);
            EXPECT_EQ(c.feed, read.Feed);
            ASSERT_TRUE(user->save());
        }
        // Reading documents both items in the file.
        TConfigFile again(path, false, true, &reporter);
        EXPECT_FALSE(again.GetVal("Archive", "Feed").empty());
        EXPECT_EQ(c.location, again.GetVal("Archive", "Location"));
    }
    {
        auto user = fileWith({});
        StoreArchiveLocation(*user, "sqlite:/x.sqlite");
        StoreArchiveFeed(*user, false);
        const TArchiveSettings s = PeekArchiveSettings(*user);
        EXPECT_EQ("sqlite:/x.sqlite", s.Location);
        EXPECT_FALSE(s.Feed);
    }
}

TEST_F(SettingsTest, lisItemsReadWithTheirDefaultsAndStoreWhatTheyRead) {
    struct Case {
        Lines file;
        bool send, automatic;
        std::string host;
        int port;
        std::string processingId;
        int ackTimeout;
    };
    const std::vector<Case> cases = {
        {{"[Setup]", "Language = \"English\""}, false, true, "", 2575, "P", 30},
        {{"[LIS]", "Send = TRUE", "Automatic = false", "Host = \"lis.lab\"", "Port = 6661",
          "ProcessingId = \"t\"", "AckTimeout = 5"},
         true,
         false,
         "lis.lab",
         6661,
         "T",
         5},
        // Values that cannot be used read as their defaults.
        {{"[LIS]", "Send = maybe", "Port = 70000", "ProcessingId = \"D\"", "AckTimeout = 0"},
         false,
         true,
         "",
         2575,
         "P",
         30},
        {{"[LIS]", "Port = -1", "AckTimeout = x"}, false, true, "", 2575, "P", 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file));
        auto user = fileWith(c.file);
        user->SaveImmediate = false;
        for (const bool peek : {true, false}) {
            const TLisSendSettings s = peek ? PeekLisSettings(*user) : ReadLisSettings(*user);
            EXPECT_EQ(c.send, s.Send);
            EXPECT_EQ(c.automatic, s.Automatic);
            EXPECT_EQ(c.host, s.Host);
            EXPECT_EQ(c.port, s.Port);
            EXPECT_EQ(c.processingId, s.ProcessingId);
            EXPECT_EQ(c.ackTimeout, s.AckTimeoutSeconds);
            EXPECT_EQ("KyvoDataReader", s.SendingApplication);
            if (peek) {
                EXPECT_EQ(c.file, user->Lines) << "peeking writes nothing";
            }
        }
        EXPECT_NE(c.file, user->Lines) << "reading documents the missing items";
    }
    auto user = fileWith({});
    TLisSendSettings s;
    s.Send = true;
    s.Host = "10.0.0.9";
    s.Port = 2600;
    s.Tls = true;
    s.CaFile = "/etc/lab/ca.pem";
    s.ServerName = "lis.lab";
    s.ReceivingFacility = "Labor Süd";
    s.ProcessingId = "T";
    s.AckTimeoutSeconds = 12;
    s.MappingFile = "/etc/lab/mapping.txt";
    s.SendControls = false;
    StoreLisSettings(*user, s);
    const TLisSendSettings back = PeekLisSettings(*user);
    EXPECT_TRUE(back.Send && back.Tls && !back.SendControls);
    EXPECT_EQ(back.Host, s.Host);
    EXPECT_EQ(back.Port, s.Port);
    EXPECT_EQ(back.CaFile, s.CaFile);
    EXPECT_EQ(back.ServerName, s.ServerName);
    EXPECT_EQ(back.ReceivingFacility, s.ReceivingFacility);
    EXPECT_EQ(back.ProcessingId, "T");
    EXPECT_EQ(back.AckTimeoutSeconds, 12);
    EXPECT_EQ(back.MappingFile, s.MappingFile);
}

TEST_F(SettingsTest, syncItemsNameExtraPortsAndTheDockedReReadInterval) {
    struct Case {
        Lines file;
        std::vector<std::string> ports;
        int minutes;
    };
    const std::vector<Case> cases = {
        {{"[Setup]", "Language = \"English\""}, {}, 15},
        {{"[Sync]", "Ports = \"/dev/rfcomm0\"", "RereadMinutes = 0"}, {"/dev/rfcomm0"}, 0},
        {{"[Sync]", "Ports = \" /dev/rfcomm0 ;;/dev/serial/by-id/usb-My Reader ; \"",
          "RereadMinutes = 60"},
         {"/dev/rfcomm0", "/dev/serial/by-id/usb-My Reader"},
         60},
        {{"[Sync]", "RereadMinutes = -5"}, {}, 15},
        {{"[Sync]", "RereadMinutes = soon"}, {}, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file));
        auto user = fileWith(c.file);
        user->SaveImmediate = false;
        const TSyncSettings s = PeekSyncSettings(*user);
        EXPECT_EQ(c.ports, s.Ports);
        EXPECT_EQ(c.minutes, s.RereadMinutes);
        EXPECT_EQ(c.file, user->Lines) << "peeking writes nothing";
    }
}

TEST_F(SettingsTest, wordItemsIgnoreAsciiCaseAndFallBackOnTheirCatchAll) {
    struct Case {
        const char* word;
        EImagePos image;
        ETestSource source;
        EAddDataBehaviour add;
        ETSVVersion tsv;
    };
    const Case cases[] = {
        {"right", SRight, TSSelect, AlwaysAsk, TSVVLong},
        {"LEFT", SLeft, TSSelect, AlwaysAsk, TSVVLong},
        {"Full", SFull, TSSelect, AlwaysAsk, TSVVLong},
        {"none", SNone, TSSelect, AlwaysAsk, TSVVLong},
        {"Rigth", SNone, TSSelect, AlwaysAsk, TSVVLong},
        {"kyvo", SNone, TSKyvo, AlwaysAsk, TSVVLong},
        {"Local", SNone, TSLocal, AlwaysAsk, TSVVLong},
        {"add", SNone, TSSelect, AlwaysAdd, TSVVLong},
        {"OverWrite", SNone, TSSelect, AlwaysOverwrite, TSVVLong},
        {"tObReL", SNone, TSSelect, AlwaysAsk, TSVVTobrel},
        {"short", SNone, TSSelect, AlwaysAsk, TSVVShort},
        {"r\xC3\xAFght", SNone, TSSelect, AlwaysAsk, TSVVLong},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.image, ParseImagePosition(c.word)) << c.word;
        EXPECT_EQ(c.source, ParseTestSource(c.word)) << c.word;
        EXPECT_EQ(c.add, ParseAddDataBehaviour(c.word)) << c.word;
        EXPECT_EQ(c.tsv, ParseTsvStyle(c.word)) << c.word;
    }
    auto user = fileWith({"[Setup]", "ImagePosition = right", "TestSource = \"LOCAL\""});
    const TUserSettings s = ReadUserSettings(*user, kScreen, "/cfg/");
    EXPECT_EQ(SRight, s.ImagePosition);
    EXPECT_EQ(TSLocal, s.TestSource);
    StoreImagePosition(*user, SNone);
    StoreTestSource(*user, TSKyvo);
    StoreAddDataBehaviour(*user, AlwaysOverwrite);
    EXPECT_EQ("None", user->GetVal("Setup", "ImagePosition"));
    EXPECT_EQ("Kyvo", user->GetVal("Setup", "TestSource"));
    EXPECT_EQ("Overwrite", user->GetVal("Setup", "AddDataBehaviour"));
}

TEST_F(SettingsTest, windowGeometryIsClampedToTheDesktopAndStateTwoOrMoreMaximises) {
    struct Case {
        const char* left;
        const char* top;
        const char* state;
        int expectLeft;
        int expectTop;
        bool maximised;
    };
    const TScreenGeometry small{1280, 1024, 1280, 1024};
    const Case cases[] = {
        {"5000", "5000", "0", 640, 512, false},   {"-20", "-1", "1", 0, 0, false},
        {"1280", "1024", "-1", 1280, 1024, true}, {"10", "20", "2", 10, 20, true},
        {"10", "20", "7", 10, 20, true},          {"x", "", "maybe", 203, 200, false},
    };
    for (const Case& c : cases) {
        auto user =
            fileWith({"[Setup]", std::string("Left = ") + c.left, std::string("Top = ") + c.top,
                      std::string("WindowState = ") + c.state, "Width = 900"});
        const TStoredWindowGeometry g = ReadWindowGeometry(*user, small);
        EXPECT_EQ(c.expectLeft, g.Left) << c.left;
        EXPECT_EQ(c.expectTop, g.Top) << c.top;
        EXPECT_EQ(c.maximised, g.Maximised) << c.state;
        EXPECT_EQ(900, g.Width);
        EXPECT_EQ(624, g.Height);
    }
    // A screen narrower than the default window still centres by truncation.
    auto user = fileWith({});
    const TStoredWindowGeometry g = ReadWindowGeometry(*user, {801, 600, 801, 600});
    EXPECT_EQ(0, g.Left);  // (801 - 874) / 2 = -36, then clamped
    EXPECT_EQ("-36", user->GetVal("Setup", "Left"));
}

TEST_F(SettingsTest, programSettingsReadTheSerialLineAndResetBadValuesInMemoryOnly) {
    struct Case {
        const char* stopBits;
        const char* parity;
        EStopBits expectStop;
        EParity expectParity;
        const char* storedStop;
        const char* storedParity;
    };
    const Case cases[] = {
        {"1.5", "even", StopBits1_5, ParityEven, "1.5", "even"},
        {"1,5", "ODD", StopBits1_5, ParityOdd, "1,5", "ODD"},
        {"2", "Mark", StopBits2, ParityMark, "2", "Mark"},
        {"1", "space", StopBits1, ParitySpace, "1", "space"},
        {"3", "NONE", StopBits1, ParityNone, "1", "NONE"},
        {"one", "odd parity", StopBits1, ParityNone, "1", "none"},
        {"1.25", "", StopBits1, ParityNone, "1", ""},  // empty text reads as its default
    };
    for (const Case& c : cases) {
        auto prog = fileWith({"[COM]", std::string("stopBits = \"") + c.stopBits + "\"",
                              std::string("parity = \"") + c.parity + "\"", "bits = 7"},
                             true);
        const TProgramSettings s = ReadProgramSettings(*prog);
        EXPECT_EQ(c.expectStop, s.StopBits) << c.stopBits;
        EXPECT_EQ(c.expectParity, s.Parity) << c.parity;
        EXPECT_EQ(c.storedStop, prog->GetVal("COM", "stopBits")) << c.stopBits;
        EXPECT_EQ(c.storedParity, prog->GetVal("COM", "parity")) << c.parity;
        EXPECT_EQ(7, s.DataBits);
    }
}

TEST_F(SettingsTest, missingProgramSettingsFileIsReportedAndGivesEveryDefault) {
    TConfigFile prog(dir.file("DRConfigRO.ini"), false, true, &reporter);
    const TProgramSettings s = ReadProgramSettings(prog);
    const TCustomerSettings customer = ReadCustomerSettings(prog);
    ASSERT_EQ(1u, reporter.messages.size());
    EXPECT_EQ("Could not open file " + dir.file("DRConfigRO.ini"), reporter.messages[0].text);
    EXPECT_EQ("Kyvo Data Reader", s.AppName);
    EXPECT_EQ("", s.Icon);
    EXPECT_EQ(8, s.DataBits);
    EXPECT_EQ(ParityNone, s.Parity);
    EXPECT_EQ(StopBits1, s.StopBits);
    EXPECT_EQ(38400, s.Baud);
    EXPECT_EQ(TSVVLong, s.SaveTSVStyle);
    EXPECT_FALSE(s.ShowCableIDOnly);
    EXPECT_EQ(1000, s.GetTimeTimeOut);
    EXPECT_TRUE(s.DisconnectOnTimeError);
    EXPECT_EQ("logo.tif", customer.Logo);
    EXPECT_EQ("", customer.Name);
    EXPECT_FALSE(std::filesystem::exists(dir.file("DRConfigRO.ini")));
}

TEST_F(SettingsTest, programSettingsFileNamesTheProgramAndItsCustomer) {
    auto prog = fileWith(
        {"[Application]", "name = \"Lab Reader\"", "icon = \"/opt/icon.png\"", "[Customer]",
         "logo = \"c.png\"", "name = \"ACME\"", "[Setup]", "SaveTSVStyle = short",
         "ShowCableIDOnly = TRUE", "[KyvoCommunication]", "getTimeTimeOut = 2500",
         "disconnectOnTimeError = false", "[COM]", "Baud = 115200"},
        true);
    const TProgramSettings s = ReadProgramSettings(*prog);
    EXPECT_EQ("Lab Reader", s.AppName);
    EXPECT_EQ("/opt/icon.png", s.Icon);
    EXPECT_EQ(TSVVShort, s.SaveTSVStyle);
    EXPECT_TRUE(s.ShowCableIDOnly);
    EXPECT_EQ(2500, s.GetTimeTimeOut);
    EXPECT_FALSE(s.DisconnectOnTimeError);
    EXPECT_EQ(115200, s.Baud);
    const TCustomerSettings c = ReadCustomerSettings(*prog);
    EXPECT_EQ("c.png", c.Logo);
    EXPECT_EQ("ACME", c.Name);
}

TEST_F(SettingsTest, deletedDefaultFolderFallsBackOnTheConfigurationFolder) {
    TUserSettings s;
    s.DefaultDir = dir.file("gone/");
    EXPECT_EQ("/cfg/", ResultDialogFolder(s, "/cfg/"));
    s.DefaultDir = dir.path() + "/";
    EXPECT_EQ(dir.path() + "/", ResultDialogFolder(s, "/cfg/"));
}

}  // namespace
}  // namespace kyvo
