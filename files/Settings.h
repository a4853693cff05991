#pragma once

// Every item of the two settings files in one place: its head, name, type,
// accepted spellings, default and write-back. The program reads both files
// once at start-up through ReadProgramSettings and ReadUserSettings (in this
// order, after the language file was opened with its "Language"/"filename"),
// writes single items through the Store functions when the user changes
// them, and writes the window geometry through StoreSettingsAtExit.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "files/ConfigFile.h"
#include "files/SettingsEnums.h"
#include "testdata/MeasureSet.h"

namespace kyvo {

// Read-only program settings file (DRConfigRO.ini).
struct TProgramSettings {
    std::string AppName;  // "Application"/"name"; "Kyvo Data Reader" when empty
    std::string Icon;     // "Application"/"icon"; empty: none
    std::int32_t DataBits = 8;
    EParity Parity = ParityNone;
    EStopBits StopBits = StopBits1;
    std::int32_t Baud = 38400;
    ETSVVersion SaveTSVStyle = TSVVLong;
    bool ShowCableIDOnly = false;
    std::int32_t GetTimeTimeOut = 1000;
    bool DisconnectOnTimeError = true;
};

// "Customer" items, read when the version dialog is first opened.
struct TCustomerSettings {
    std::string Logo;  // "logo.tif" when empty
    std::string Name;
};

// The screen as the window's placement rule needs it.
struct TScreenGeometry {
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    int DesktopWidth = 0;  // the whole desktop, all monitors
    int DesktopHeight = 0;
};

struct TStoredWindowGeometry {
    int Left = 0;
    int Top = 0;
    int Width = kDefaultWindowWidth;
    int Height = kDefaultWindowHeight;
    bool Maximised = false;  // placed at Left/Top, then maximised
};

// The window at program end. State: 0 normal, 1 minimised, 2 maximised;
// the rectangle is the normal (restored) one.
struct TWindowAtExit {
    int Left = 0;
    int Top = 0;
    int Width = kDefaultWindowWidth;
    int Height = kDefaultWindowHeight;
    int WindowState = 0;
};

// User settings file (DRConfig.ini), apart from the language items, which
// the language file and its menu read.
struct TUserSettings {
    EImagePos ImagePosition = SRight;
    TStoredWindowGeometry Window;
    std::int32_t ComPort = 1;
    std::string DefaultDir;  // default: the configuration folder
    std::string LastUsedFile = "Results.tsv";
    bool PromptSave = false;
    bool AutoSaveToLastFile = false;
    bool SaveOnExit = false;
    bool AutoSaveMeasurements = false;
    std::string AutoSaveMeasurementsFile = "Measurements.tsv";
    ECombineMeasurements CombineMeasurements = ECombineMeasurements::SingleOnly;
    ETestSource TestSource = TSSelect;
    bool AutoConnect = true;
    bool ShutDownOnClose = false;
    EAddDataBehaviour AddDataBehaviour = AlwaysAsk;
    bool LoadLastSavedOnStart = false;
    bool DisableKyvoButtonOnConnect = false;
};

inline constexpr std::string_view kDefaultAppName = "Kyvo Data Reader";
inline constexpr std::string_view kDefaultLanguageFileName = "language.ini";

// Reads every item of the program settings file; resets a bad "stopBits" or
// "parity" in memory.
TProgramSettings ReadProgramSettings(TConfigFile& prog);
TCustomerSettings ReadCustomerSettings(TConfigFile& prog);

// "Language"/"filename" (default "language.ini").
std::string ReadLanguageFileName(TConfigFile& user);
// "Setup"/"Language" (default "English"), read only for a valid language file.
std::string ReadLanguageName(TConfigFile& user);

// Reads every other item of the user settings file in start-up order.
// configFolder (the configuration folder with its trailing separator) is
// the default of "DefaultDir".
TUserSettings ReadUserSettings(TConfigFile& user, const TScreenGeometry& screen,
                               const std::string& configFolder);

// The connection items of the user settings alone, for a program without a
// window: nothing of the window's placement is read (or written back).
struct TConnectionSettings {
    bool AutoConnect = true;
    bool ShutDownOnClose = false;
    bool DisableKyvoButtonOnConnect = false;
};
TConnectionSettings ReadConnectionSettings(TConfigFile& user);

// "Archive" items of the user settings: where the measurement archive lives
// ("Location", text; empty: the default archive of the user's data folder)
// and whether every read and measurement goes into it ("Feed", Boolean,
// default TRUE). A location given on the command line (--archive) stands
// above "Location".
inline constexpr const char* kArchiveSettingsHead = "Archive";
inline constexpr const char* kArchiveLocationItem = "Location";
struct TArchiveSettings {
    std::string Location;
    bool Feed = true;
};
// Writes the missing items with their defaults, as the window reads them.
TArchiveSettings ReadArchiveSettings(TConfigFile& user);
// The same items without writing anything, for kyvo-cli, which leaves the
// user settings as it found them.
TArchiveSettings PeekArchiveSettings(const TConfigFile& user);
void StoreArchiveLocation(TConfigFile& user, std::string_view location);
void StoreArchiveFeed(TConfigFile& user, bool feed);

// "LIS" items of the user settings: results to the lab information system.
//   Send (Boolean, FALSE)        measurements from a device enter the LIS outbox
//   Automatic (Boolean, TRUE)    the program works the outbox by itself; FALSE:
//                                only when asked (kyvo-cli lis send, "Send now")
//   Host, Port (2575)            the LIS's MLLP listener
//   TLS (Boolean, FALSE)         MLLP inside TLS; CAFile the authorities trusted,
//   CAFile, CertFile, KeyFile,   CertFile/KeyFile a client certificate (PEM),
//   ServerName                   ServerName the name the server's certificate
//                                must carry (empty: Host)
//   SendingApplication (KyvoDataReader), SendingFacility, ReceivingApplication,
//   ReceivingFacility            MSH-3 to MSH-6
//   ProcessingId (P)             MSH-11: P production, T a test system
//   AckTimeout (30)              seconds to wait for an acknowledgement
//   MappingFile                  the code mapping (empty: none, local codes)
//   SendControls (Boolean, TRUE) control measurements go too
inline constexpr const char* kLisSettingsHead = "LIS";
inline constexpr const char* kLisSendItem = "Send";
inline constexpr const char* kLisAutomaticItem = "Automatic";
inline constexpr const char* kLisHostItem = "Host";
inline constexpr const char* kLisPortItem = "Port";
inline constexpr const char* kLisTlsItem = "TLS";
inline constexpr const char* kLisCaFileItem = "CAFile";
inline constexpr const char* kLisCertFileItem = "CertFile";
inline constexpr const char* kLisKeyFileItem = "KeyFile";
inline constexpr const char* kLisServerNameItem = "ServerName";
inline constexpr const char* kLisSendingApplicationItem = "SendingApplication";
inline constexpr const char* kLisSendingFacilityItem = "SendingFacility";
inline constexpr const char* kLisReceivingApplicationItem = "ReceivingApplication";
inline constexpr const char* kLisReceivingFacilityItem = "ReceivingFacility";
inline constexpr const char* kLisProcessingIdItem = "ProcessingId";
inline constexpr const char* kLisAckTimeoutItem = "AckTimeout";
inline constexpr const char* kLisMappingFileItem = "MappingFile";
inline constexpr const char* kLisSendControlsItem = "SendControls";
struct TLisSendSettings {
    bool Send = false;
    bool Automatic = true;
    std::string Host;
    int Port = 2575;
    bool Tls = false;
    std::string CaFile;
    std::string CertFile;
    std::string KeyFile;
    std::string ServerName;
    std::string SendingApplication = "KyvoDataReader";
    std::string SendingFacility;
    std::string ReceivingApplication;
    std::string ReceivingFacility;
    std::string ProcessingId = "P";  // P or T
    int AckTimeoutSeconds = 30;
    std::string MappingFile;
    bool SendControls = true;
};
// Writes the missing items with their defaults, as the window reads them;
// a port outside 1-65535 or a time-out below 1 s reads as the default.
TLisSendSettings ReadLisSettings(TConfigFile& user);
// The same without writing anything (kyvo-cli, the archive feed).
TLisSendSettings PeekLisSettings(const TConfigFile& user);
void StoreLisSettings(TConfigFile& user, const TLisSendSettings& settings);
// "Sync" items of the user settings, for `kyvo-cli sync`: serial ports
// that hold readers besides the cables the port list finds ("Ports", text,
// device paths separated by ";", default empty) and how long a reader that
// stays docked waits before it is read again ("RereadMinutes", integer,
// default 15; 0: only when plugged in again). Read without writing
// anything, as kyvo-cli leaves the user settings as it found them.
inline constexpr const char* kSyncSettingsHead = "Sync";
struct TSyncSettings {
    std::vector<std::string> Ports;
    int RereadMinutes = 15;
};
TSyncSettings PeekSyncSettings(const TConfigFile& user);

// The placement rule on its own: Left/Top from the file (defaults centre
// the window), clamped to the desktop; WindowState 2, larger or negative
// maximises.
TStoredWindowGeometry ReadWindowGeometry(TConfigFile& user, const TScreenGeometry& screen);
// The same rule over any store of the "Setup" items: read gives the item's
// number, or def when it has none.
using TSetupReader = std::function<std::int32_t(std::string_view item, std::int32_t def)>;
TStoredWindowGeometry PlaceWindowGeometry(const TSetupReader& read, const TScreenGeometry& screen);

// Word items: the value upper-cased in a..z only.
EImagePos ParseImagePosition(std::string_view word);
ETestSource ParseTestSource(std::string_view word);
EAddDataBehaviour ParseAddDataBehaviour(std::string_view word);
// "odd", "even", "mark", "space"; anything else is none.
EParity ParseParity(std::string_view word);
ETSVVersion ParseTsvStyle(std::string_view word);
// Spelling used when written back.
std::string_view ImagePositionWord(EImagePos value);
std::string_view TestSourceWord(ETestSource value);
std::string_view AddDataBehaviourWord(EAddDataBehaviour value);

// "1.5" and "1,5": one and a half; 2: two; any other text: one, and ok is
// false unless it was exactly 1 (the item is then to be reset to "1").
EStopBits ParseStopBits(std::string_view text, bool& ok);

// The start folder of the result dialogs: DefaultDir when that folder
// exists, otherwise the configuration folder.
std::string ResultDialogFolder(const TUserSettings& settings, const std::string& configFolder);

// Write-backs while the program runs (memory only; the file is saved at
// program end).
void StoreLanguageName(TConfigFile& user, std::string_view language);
void StoreImagePosition(TConfigFile& user, EImagePos value);
void StoreTestSource(TConfigFile& user, ETestSource value);
void StoreAddDataBehaviour(TConfigFile& user, EAddDataBehaviour value);
void StoreLoadLastSavedOnStart(TConfigFile& user, bool value);
void StoreAutoConnect(TConfigFile& user, bool value);
void StoreShutDownOnClose(TConfigFile& user, bool value);
void StoreComPort(TConfigFile& user, std::int32_t port);
void StoreLastFTDIDevice(TConfigFile& user, std::string_view description);
// folder with its trailing separator, file without folder.
void StoreDefaultDir(TConfigFile& user, std::string_view folder);
void StoreLastUsedFile(TConfigFile& user, std::string_view fileName);
// "autoConnect" again, as every connection attempt reads it.
bool ReadAutoConnect(TConfigFile& user);
// "COM"/"Port" again, at each refresh of the port box.
std::int32_t ReadComPort(TConfigFile& user);

// WindowState, Left, Top, Width, Height, ImagePosition, in this order.
void StoreSettingsAtExit(TConfigFile& user, const TWindowAtExit& window, EImagePos imagePosition);

}  // namespace kyvo
