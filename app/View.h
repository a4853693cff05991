// Everything the main window shows or asks, as the controller (TForm_Main)
// sees it. The Qt window, the command-line front end and the scenario tests
// each implement this one interface; the controller never reaches a widget
// any other way. All calls come on the main thread. Calls that open a modal
// dialog return only when the dialog is closed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/SettingsEnums.h"

namespace kyvo {

// The main window's named controls and menu items. A view may ignore the
// ones it does not show (the command-line front end ignores nearly all).
enum class EControl {
    // top row
    ComboBox_FTDIDevice,
    ComboBox_Com,
    ComboBox_Baud,
    Button_Open,
    CB_CombineMeasurements,
    Label_FW,
    Label_FWDisplay,
    Label_KyvoTime,
    DTP_SetDate,
    DTP_SetTime,
    Panel_Date,
    Panel_Time,
    // second row
    Button_ReadData,
    Button_InstantMeasure,
    Button_TimerMeasure,
    Button_QCMeasure,
    Button_Save,
    Button_Menu,
    // lists and labels under them
    ListView_Measurements,
    ListView_Results,
    Label_Max,
    Label_Min,
    // main menu
    Menu_Main,
    Menu_DeleteList,
    Menu_SaveFile,
    Menu_LoadFile,
    Menu_FormatDB,
    Menu_SetQCFile,
    Menu_Setup,
    Menu_SetImagePos,
    Menu_ImgPosLeft,
    Menu_ImgPosRight,
    Menu_ImgPosFull,
    Menu_ImgPosNone,
    Menu_NewDataBehaviour,
    Menu_OverWriteExisting,
    Menu_AddToExisting,
    Menu_AlwaysAsk,
    Menu_AutoConnect,
    Menu_ShutDownOnClose,
    Menu_LoadLastSavedOnStart,
    Menu_FTDIDirect,
    Menu_TestSource,
    Menu_SrcKyvo,
    Menu_SrcLocal,
    Menu_SrcSelect,
    Menu_Language,
    Menu_Info,
    SubMenu_Version,
    SubMenu_Help,
    // pop-up menu items
    Aktualisieren1,           // "refresh" on the FTDI device box
    PopUpItem_SetSystemTime,  // on both clock pickers
    AddComment,               // on the measurement list
    DeleteEntries,
    Count_
};

// Modal results of the program's own dialogs.
enum class EModalResult { None = 0, OK = 1, Cancel = 2, Yes = 6, No = 7 };

// Button sets of the message box: OK; OK/Cancel; Yes/No/Cancel; Yes/No.
enum class EMsgStyle { OK = 0, OKCancel = 1, YesNoCancel = 3, YesNo = 4 };

// Colours of the clock panels (Windows colour values in the comments: blue
// in the high byte, red in the low byte).
enum class EPanelColour {
    ButtonFace,  // the system's button-face colour: no device connected
    Green,       // 0x008000
    DarkYellow,  // 0x00C0C0
    Red          // 0x0000FF
};

// A wall-clock date and time of the computer (local time).
struct TLocalDateTime {
    int Year = 2000;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    bool operator==(const TLocalDateTime&) const = default;
};

// The two lists of the window.
enum class EList { Measurements, Results };

// Which of the window's file dialogs is meant.
enum class EFileDialog {
    OpenResults,  // OpenDialog_Results: a result file to load
    SaveResults,  // SaveDialog_Results: a result file to write
    OpenConfig    // OpenDialog_Cfg: a test configuration file (*.bin)
};

struct TFileDialogRequest {
    EFileDialog Kind = EFileDialog::OpenResults;
    std::string InitialDir;  // start folder
    std::string FileName;    // preset file name, no folder
    std::string DefaultExt;  // "tsv" or "bin", without the dot
    std::string Filter;      // "Description|*.ext" (language text)
    bool MustExist = false;  // the file has to exist (open dialogs)
};

struct TMessageButtons {
    std::string OK;      // text of the first button (OK or Yes)
    std::string Cancel;  // text of the second button (Cancel or No); unused in style OK
    std::string Aux;     // text of the third button (Cancel), style YesNoCancel only
    bool DefaultIsSecond = false;  // Enter answers with the second button (No), not the first
};

// The version dialog's contents.
struct TInfoDialogTexts {
    std::string ProgName;   // the program name
    std::string LogoFile;   // picture file; a missing or unreadable file hides the logo
    std::string Customer;   // customer text
    std::string Version;    // "V0.1.0": "V" and the program version
    std::string CloseText;  // caption of the close button
};

// Window geometry as kept in the user settings.
struct TWindowGeometry {
    int Left = 0;
    int Top = 0;
    int Width = kDefaultWindowWidth;
    int Height = kDefaultWindowHeight;
    int WindowState = 0;  // 0 normal, 1 minimised, 2 maximised
};

// The screen the window opens on; zero sizes mean unknown.
struct TScreenSize {
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    int DesktopWidth = 0;  // the whole desktop, all monitors
    int DesktopHeight = 0;
};

class IMainView {
  public:
    virtual ~IMainView() = default;

    // --- controls ---------------------------------------------------------
    virtual void SetText(EControl c, const std::string& text) = 0;
    // An empty hint means: show no hint for the control.
    virtual void SetHint(EControl c, const std::string& hint) = 0;
    virtual void SetEnabled(EControl c, bool enabled) = 0;
    virtual void SetVisible(EControl c, bool visible) = 0;
    // Check mark of a menu item or the state of the check box.
    virtual void SetChecked(EControl c, bool checked) = 0;

    // Item lists of the combo boxes (FTDI device, COM port, baud rate).
    virtual void SetItems(EControl c, const std::vector<std::string>& items) = 0;
    // -1 selects nothing.
    virtual void SetItemIndex(EControl c, int index) = 0;
    virtual int ItemIndex(EControl c) = 0;
    // The edit text of an editable combo box (the baud rate may be typed).
    virtual std::string EditText(EControl c) = 0;

    // --- window -----------------------------------------------------------
    virtual void SetCaption(const std::string& caption) = 0;
    // Path of an icon file that exists; a file that cannot be loaded is ignored.
    virtual void SetWindowIcon(const std::string& path) = 0;
    // Ask the window to close; the front end then runs the controller's
    // FormCloseQuery again (and FormClose when that allows it).
    virtual void RequestClose() = 0;
    // True while the program is the active application.
    virtual bool IsApplicationActive() = 0;
    virtual TWindowGeometry Geometry() = 0;
    // WindowState 2: placed at Left/Top (where it returns when restored),
    // then maximised; anything else: normal.
    virtual void SetGeometry(const TWindowGeometry& g) = 0;
    // Unknown by default: the controller then leaves the placement alone.
    virtual TScreenSize ScreenSize() { return {}; }
    // Fills the "Language" menu; checked is the index of the ticked item or -1.
    virtual void SetLanguageMenu(const std::vector<std::string>& names, int checked) = 0;

    // --- status bar -------------------------------------------------------
    // Panel 0 shows the state text; panel 2 stays empty.
    virtual void SetStatusText(int panel, const std::string& text) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetProgressMax(int max) = 0;
    virtual void SetProgressPosition(int position) = 0;

    // --- lists (rows are read from the controller's MeasureList) ---------
    virtual void SetListCount(EList list, int count) = 0;
    virtual void RepaintList(EList list) = 0;
    virtual int SelectedCount(EList list) = 0;
    virtual void ClearSelection(EList list) = 0;
    // Selects exactly this row (showing its results) and scrolls it into view.
    virtual void SelectMeasurement(int index) = 0;

    // --- clock pickers and their panels -----------------------------------
    virtual void SetPickerDateTime(const TLocalDateTime& dateTime) = 0;
    // Date of DTP_SetDate combined with the time of day of DTP_SetTime.
    virtual TLocalDateTime PickerDateTime() = 0;
    virtual bool PickerHasFocus() = 0;
    virtual void ClearPickerFocus() = 0;
    // c is Panel_Date or Panel_Time; the panel is repainted.
    virtual void SetPanelColour(EControl c, EPanelColour colour) = 0;

    // --- dialogs (modal; the controller pauses its timers around them) ---
    virtual EModalResult ShowMessageBox(const std::string& text, const std::string& caption,
                                        EMsgStyle style, const TMessageButtons& buttons) = 0;
    // OK: text holds the edited text (also an empty one). Otherwise Cancel
    // and text is unchanged.
    virtual EModalResult ShowInputQuery(const std::string& caption, const std::string& prompt,
                                        std::string& text, const std::string& okText,
                                        const std::string& cancelText) = 0;
    // Radio-button choice; selected is the preselected index on entry and
    // the chosen one on OK.
    virtual EModalResult ShowSelect(const std::string& caption, const std::string& prompt,
                                    const std::vector<std::string>& items, int& selected,
                                    const std::string& okText, const std::string& cancelText) = 0;
    // The stored test configuration list; OK only with an item selected.
    virtual EModalResult ShowConfigList(const std::string& caption, const std::string& okText,
                                        const std::vector<std::string>& items, int& selected) = 0;
    virtual void ShowInfoDialog(const TInfoDialogTexts& texts) = 0;
    // None when the user cancels.
    virtual std::optional<std::string> ShowFileDialog(const TFileDialogRequest& request) = 0;

    // --- measurement prompt window (non-modal) ----------------------------
    virtual void ShowEvaluationInfo(const std::string& text) = 0;
    virtual void HideEvaluationInfo() = 0;
};

}  // namespace kyvo
