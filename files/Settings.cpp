#include "files/Settings.h"

#include <algorithm>
#include <filesystem>

#include "protocol/ByteBuffer.h"

namespace kyvo {

namespace {

constexpr const char* kSetup = "Setup";
constexpr const char* kCom = "COM";
constexpr const char* kKyvoCommunication = "KyvoCommunication";
constexpr const char* kArchive = "Archive";

// "1", "1.5", "1,5", "+2.0": a decimal number with "." or "," before the
// decimals. Sets tenths to the value times 10 when it has at most one
// significant decimal; anything else is no number of interest.
bool parseDecimalTenths(std::string_view text, long long& tenths) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long whole = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (whole > 1000000) return false;
        whole = whole * 10 + (text[i] - '0');
    }
    int firstDecimal = 0;
    bool moreDecimals = false;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        for (std::size_t d = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++d) {
            ++digits;
            if (d == 0)
                firstDecimal = text[i] - '0';
            else if (text[i] != '0')
                moreDecimals = true;
        }
    }
    if (digits == 0 || i != text.size() || moreDecimals) return false;
    tenths = (whole * 10 + firstDecimal) * (negative ? -1 : 1);
    return true;
}

}  // namespace

EImagePos ParseImagePosition(std::string_view word) {
    const std::string w = upperCaseAscii(word);
    if (w == "RIGHT") return SRight;
    if (w == "LEFT") return SLeft;
    if (w == "FULL") return SFull;
    return SNone;
}

ETestSource ParseTestSource(std::string_view word) {
    const std::string w = upperCaseAscii(word);
    if (w == "KYVO") return TSKyvo;
    if (w == "LOCAL") return TSLocal;
    return TSSelect;
}

EParity ParseParity(std::string_view word) {
    const std::string w = upperCaseAscii(word);
    if (w == "EVEN") return ParityEven;
    if (w == "ODD") return ParityOdd;
    if (w == "MARK") return ParityMark;
    if (w == "SPACE") return ParitySpace;
    return ParityNone;
}

EAddDataBehaviour ParseAddDataBehaviour(std::string_view word) {
    const std::string w = upperCaseAscii(word);
    if (w == "OVERWRITE") return AlwaysOverwrite;
    if (w == "ADD") return AlwaysAdd;
    return AlwaysAsk;
}

ETSVVersion ParseTsvStyle(std::string_view word) {
    const std::string w = upperCaseAscii(word);
    if (w == "SHORT") return TSVVShort;
    if (w == "TOBREL") return TSVVTobrel;
    return TSVVLong;
}

std::string_view ImagePositionWord(EImagePos value) {
    switch (value) {
        case SLeft:
            return "Left";
        case SRight:
            return "Right";
        case SFull:
            return "Full";
        case SNone:
            break;
    }
    return "None";
}

std::string_view TestSourceWord(ETestSource value) {
    switch (value) {
        case TSKyvo:
            return "Kyvo";
        case TSLocal:
            return "Local";
        case TSSelect:
            break;
    }
    return "Select";
}

std::string_view AddDataBehaviourWord(EAddDataBehaviour value) {
    switch (value) {
        case AlwaysAdd:
            return "Add";
        case AlwaysOverwrite:
            return "Overwrite";
        case AlwaysAsk:
            break;
    }
    return "Ask";
}

EStopBits ParseStopBits(std::string_view text, bool& ok) {
    long long tenths = 0;
    const bool number = parseDecimalTenths(text, tenths);
    ok = number && tenths == 10;
    if (number && tenths == 15) {
        ok = true;
        return StopBits1_5;
    }
    if (number && tenths == 20) {
        ok = true;
        return StopBits2;
    }
    return StopBits1;
}

TProgramSettings ReadProgramSettings(TConfigFile& prog) {
    TProgramSettings s;
    s.AppName = prog.GetVal("Application", "name");
    if (s.AppName.empty()) s.AppName = kDefaultAppName;
    s.Icon = prog.GetVal("Application", "icon");

    s.DataBits = prog.GetVal(kCom, "bits", 8);
    const std::string parity = prog.GetVal(kCom, "parity", "none");
    s.Parity = ParseParity(parity);
    if (s.Parity == ParityNone && upperCaseAscii(parity) != "NONE")
        prog.SetVal(kCom, "parity", "none");
    bool stopBitsOk = false;
    s.StopBits = ParseStopBits(prog.GetVal(kCom, "stopBits", "1"), stopBitsOk);
    if (!stopBitsOk) prog.SetVal(kCom, "stopBits", "1");
    s.Baud = prog.GetVal(kCom, "Baud", 38400);

    s.SaveTSVStyle = ParseTsvStyle(prog.GetVal(kSetup, "SaveTSVStyle", "Long"));
    s.ShowCableIDOnly = prog.GetVal(kSetup, "ShowCableIDOnly", false);
    s.GetTimeTimeOut = prog.GetVal(kKyvoCommunication, "getTimeTimeOut", 1000);
    s.DisconnectOnTimeError = prog.GetVal(kKyvoCommunication, "disconnectOnTimeError", true);
    return s;
}

TCustomerSettings ReadCustomerSettings(TConfigFile& prog) {
    TCustomerSettings c;
    c.Logo = prog.GetVal("Customer", "logo");
    if (c.Logo.empty()) c.Logo = "logo.tif";
    c.Name = prog.GetVal("Customer", "name");
    return c;
}

std::string ReadLanguageFileName(TConfigFile& user) {
    return user.GetVal("Language", "filename", kDefaultLanguageFileName);
}

std::string ReadLanguageName(TConfigFile& user) {
    return user.GetVal(kSetup, "Language", "English");
}

TStoredWindowGeometry PlaceWindowGeometry(const TSetupReader& read, const TScreenGeometry& screen) {
    TStoredWindowGeometry g;
    g.Left = read("Left", static_cast<std::int32_t>((screen.ScreenWidth - kDefaultWindowWidth) / 2));
    g.Top = read("Top", static_cast<std::int32_t>((screen.ScreenHeight - kDefaultWindowHeight) / 2));
    if (g.Left < 0) g.Left = 0;
    if (g.Top < 0) g.Top = 0;
    if (g.Left > screen.DesktopWidth) g.Left = screen.ScreenWidth / 2;
    if (g.Top > screen.DesktopHeight) g.Top = screen.ScreenHeight / 2;
    g.Width = read("Width", kDefaultWindowWidth);
    g.Height = read("Height", kDefaultWindowHeight);
    const auto state = std::min<std::uint32_t>(static_cast<std::uint32_t>(read("WindowState", 0)), 2);
    g.Maximised = state == 2;
    return g;
}

TStoredWindowGeometry ReadWindowGeometry(TConfigFile& user, const TScreenGeometry& screen) {
    return PlaceWindowGeometry(
        [&user](std::string_view item, std::int32_t def) {
            return user.GetVal(kSetup, std::string(item), def);
        },
        screen);
}

TUserSettings ReadUserSettings(TConfigFile& user, const TScreenGeometry& screen,
                               const std::string& configFolder) {
    TUserSettings s;
    s.ImagePosition = ParseImagePosition(user.GetVal(kSetup, "ImagePosition", "Right"));
    s.Window = ReadWindowGeometry(user, screen);
    s.ComPort = ReadComPort(user);
    s.DefaultDir = user.GetVal(kSetup, "DefaultDir", configFolder);
    s.LastUsedFile = user.GetVal(kSetup, "LastUsedFile", "Results.tsv");
    s.PromptSave = user.GetVal(kSetup, "PromptSave", false);
    s.AutoSaveToLastFile = user.GetVal(kSetup, "AutoSaveToLastFile", false);
    s.SaveOnExit = user.GetVal(kSetup, "SaveOnExit", false);
    s.AutoSaveMeasurements = user.GetVal(kSetup, "AutoSaveMeasurements", false);
    s.AutoSaveMeasurementsFile =
        user.GetVal(kSetup, "AutoSaveMeasurementsFile", "Measurements.tsv");
    s.CombineMeasurements = user.GetVal(kSetup, "CombineMeasurements", false)
                                ? ECombineMeasurements::Combine
                                : ECombineMeasurements::SingleOnly;
    s.TestSource = ParseTestSource(user.GetVal(kSetup, "TestSource", "Select"));
    s.AutoConnect = ReadAutoConnect(user);
    s.ShutDownOnClose = user.GetVal(kKyvoCommunication, "ShutDownOnClose", false);
    s.AddDataBehaviour = ParseAddDataBehaviour(user.GetVal(kSetup, "AddDataBehaviour", "Ask"));
    s.LoadLastSavedOnStart = user.GetVal(kSetup, "LoadLastSavedOnStart", false);
    s.DisableKyvoButtonOnConnect = user.GetVal(kSetup, "DisableKyvoButtonOnConnect", false);
    return s;
}

TConnectionSettings ReadConnectionSettings(TConfigFile& user) {
    TConnectionSettings s;
    s.AutoConnect = ReadAutoConnect(user);
    s.ShutDownOnClose = user.GetVal(kKyvoCommunication, "ShutDownOnClose", false);
    s.DisableKyvoButtonOnConnect = user.GetVal(kSetup, "DisableKyvoButtonOnConnect", false);
    return s;
}

TArchiveSettings ReadArchiveSettings(TConfigFile& user) {
    TArchiveSettings s;
    s.Location = user.GetVal(kArchiveSettingsHead, kArchiveLocationItem, "");
    s.Feed = user.GetVal(kArchive, "Feed", true);
    return s;
}

TArchiveSettings PeekArchiveSettings(const TConfigFile& user) {
    TArchiveSettings s;
    s.Location = user.GetVal(kArchiveSettingsHead, kArchiveLocationItem);
    // Anything but a readable FALSE keeps the default, as GetVal would.
    s.Feed = upperCaseAscii(user.GetVal(kArchive, "Feed")) != "FALSE";
    return s;
}

TSyncSettings PeekSyncSettings(const TConfigFile& user) {
    TSyncSettings s;
    const std::string ports = user.GetVal(kSyncSettingsHead, "Ports");
    std::size_t start = 0;
    while (start <= ports.size()) {
        std::size_t end = ports.find(';', start);
        if (end == std::string::npos) end = ports.size();
        std::string p = ports.substr(start, end - start);
        const auto first = p.find_first_not_of(" \t");
        const auto last = p.find_last_not_of(" \t");
        if (first != std::string::npos) s.Ports.push_back(p.substr(first, last - first + 1));
        start = end + 1;
    }
    const std::string minutes = user.GetVal(kSyncSettingsHead, "RereadMinutes");
    std::uint32_t n = 0;
    // Anything but a plain number of minutes keeps the default.
    if (!minutes.empty() && strToCardinal(minutes, n) && n <= 7 * 24 * 60)
        s.RereadMinutes = static_cast<int>(n);
    return s;
}

void StoreArchiveLocation(TConfigFile& user, std::string_view location) {
    user.SetVal(kArchiveSettingsHead, kArchiveLocationItem, location);
}

void StoreArchiveFeed(TConfigFile& user, bool feed) {
    user.SetVal(kArchive, "Feed", feed);
}

std::string ResultDialogFolder(const TUserSettings& settings, const std::string& configFolder) {
    std::error_code ec;
    if (!settings.DefaultDir.empty() && std::filesystem::is_directory(settings.DefaultDir, ec))
        return settings.DefaultDir;
    return configFolder;
}

bool ReadAutoConnect(TConfigFile& user) {
    return user.GetVal(kKyvoCommunication, "autoConnect", true);
}

std::int32_t ReadComPort(TConfigFile& user) {
    return user.GetVal(kCom, "Port", 1);
}

void StoreLanguageName(TConfigFile& user, std::string_view language) {
    user.SetVal(kSetup, "Language", language);
}
void StoreImagePosition(TConfigFile& user, EImagePos value) {
    user.SetVal(kSetup, "ImagePosition", ImagePositionWord(value));
}
void StoreTestSource(TConfigFile& user, ETestSource value) {
    user.SetVal(kSetup, "TestSource", TestSourceWord(value));
}
void StoreAddDataBehaviour(TConfigFile& user, EAddDataBehaviour value) {
    user.SetVal(kSetup, "AddDataBehaviour", AddDataBehaviourWord(value));
}
void StoreLoadLastSavedOnStart(TConfigFile& user, bool value) {
    user.SetVal(kSetup, "LoadLastSavedOnStart", value);
}
void StoreAutoConnect(TConfigFile& user, bool value) {
    user.SetVal(kKyvoCommunication, "autoConnect", value);
}
void StoreShutDownOnClose(TConfigFile& user, bool value) {
    user.SetVal(kKyvoCommunication, "ShutDownOnClose", value);
}
void StoreComPort(TConfigFile& user, std::int32_t port) {
    user.SetVal(kCom, "Port", port);
}
void StoreLastFTDIDevice(TConfigFile& user, std::string_view description) {
    user.SetVal(kCom, "LastFTDIDevice", description);
}
void StoreDefaultDir(TConfigFile& user, std::string_view folder) {
    user.SetVal(kSetup, "DefaultDir", folder);
}
void StoreLastUsedFile(TConfigFile& user, std::string_view fileName) {
    user.SetVal(kSetup, "LastUsedFile", fileName);
}

void StoreSettingsAtExit(TConfigFile& user, const TWindowAtExit& window, EImagePos imagePosition) {
    user.SetVal(kSetup, "WindowState", static_cast<std::int32_t>(window.WindowState));
    user.SetVal(kSetup, "Left", static_cast<std::int32_t>(window.Left));
    user.SetVal(kSetup, "Top", static_cast<std::int32_t>(window.Top));
    user.SetVal(kSetup, "Width", static_cast<std::int32_t>(window.Width));
    user.SetVal(kSetup, "Height", static_cast<std::int32_t>(window.Height));
    StoreImagePosition(user, imagePosition);
}

}  // namespace kyvo

namespace kyvo {

namespace {

// The LIS items once, for reading with defaults written, peeking and storing.
template <class Text, class Flag, class Number>
TLisSendSettings LisSettingsFrom(Text text, Flag flag, Number number) {
    TLisSendSettings d;
    TLisSendSettings s;
    s.Send = flag(kLisSendItem, d.Send);
    s.Automatic = flag(kLisAutomaticItem, d.Automatic);
    s.Host = text(kLisHostItem, d.Host);
    s.Port = number(kLisPortItem, d.Port);
    if (s.Port < 1 || s.Port > 65535) s.Port = d.Port;
    s.Tls = flag(kLisTlsItem, d.Tls);
    s.CaFile = text(kLisCaFileItem, d.CaFile);
    s.CertFile = text(kLisCertFileItem, d.CertFile);
    s.KeyFile = text(kLisKeyFileItem, d.KeyFile);
    s.ServerName = text(kLisServerNameItem, d.ServerName);
    s.SendingApplication = text(kLisSendingApplicationItem, d.SendingApplication);
    s.SendingFacility = text(kLisSendingFacilityItem, d.SendingFacility);
    s.ReceivingApplication = text(kLisReceivingApplicationItem, d.ReceivingApplication);
    s.ReceivingFacility = text(kLisReceivingFacilityItem, d.ReceivingFacility);
    s.ProcessingId = upperCaseAscii(text(kLisProcessingIdItem, d.ProcessingId)) == "T" ? "T" : "P";
    s.AckTimeoutSeconds = number(kLisAckTimeoutItem, d.AckTimeoutSeconds);
    if (s.AckTimeoutSeconds < 1) s.AckTimeoutSeconds = d.AckTimeoutSeconds;
    s.MappingFile = text(kLisMappingFileItem, d.MappingFile);
    s.SendControls = flag(kLisSendControlsItem, d.SendControls);
    return s;
}

}  // namespace

TLisSendSettings ReadLisSettings(TConfigFile& user) {
    return LisSettingsFrom(
        [&](const char* item, const std::string& def) {
            return user.GetVal(kLisSettingsHead, item, std::string_view(def));
        },
        [&](const char* item, bool def) { return user.GetVal(kLisSettingsHead, item, def); },
        [&](const char* item, int def) {
            return static_cast<int>(
                user.GetVal(kLisSettingsHead, item, static_cast<std::int32_t>(def)));
        });
}

TLisSendSettings PeekLisSettings(const TConfigFile& user) {
    return LisSettingsFrom(
        [&](const char* item, const std::string& def) {
            const std::string v = user.GetVal(kLisSettingsHead, item);
            return v.empty() ? def : v;
        },
        [&](const char* item, bool def) {
            const std::string v = upperCaseAscii(user.GetVal(kLisSettingsHead, item));
            return v == "TRUE" ? true : v == "FALSE" ? false : def;
        },
        [&](const char* item, int def) {
            std::int32_t v = 0;
            return parseSettingInteger(user.GetVal(kLisSettingsHead, item), v) ? static_cast<int>(v)
                                                                               : def;
        });
}

void StoreLisSettings(TConfigFile& user, const TLisSendSettings& s) {
    const auto text = [&](const char* item, const std::string& v) {
        user.SetVal(kLisSettingsHead, item, std::string_view(v));
    };
    user.SetVal(kLisSettingsHead, kLisSendItem, s.Send);
    user.SetVal(kLisSettingsHead, kLisAutomaticItem, s.Automatic);
    text(kLisHostItem, s.Host);
    user.SetVal(kLisSettingsHead, kLisPortItem, static_cast<std::int32_t>(s.Port));
    user.SetVal(kLisSettingsHead, kLisTlsItem, s.Tls);
    text(kLisCaFileItem, s.CaFile);
    text(kLisCertFileItem, s.CertFile);
    text(kLisKeyFileItem, s.KeyFile);
    text(kLisServerNameItem, s.ServerName);
    text(kLisSendingApplicationItem, s.SendingApplication);
    text(kLisSendingFacilityItem, s.SendingFacility);
    text(kLisReceivingApplicationItem, s.ReceivingApplication);
    text(kLisReceivingFacilityItem, s.ReceivingFacility);
    text(kLisProcessingIdItem, s.ProcessingId);
    user.SetVal(kLisSettingsHead, kLisAckTimeoutItem,
                static_cast<std::int32_t>(s.AckTimeoutSeconds));
    text(kLisMappingFileItem, s.MappingFile);
    user.SetVal(kLisSettingsHead, kLisSendControlsItem, s.SendControls);
}

}  // namespace kyvo
