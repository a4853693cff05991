// The main window: implements the controller's view with Qt widgets, and
// itself does what only concerns the pixels: the two virtual lists with
// their sorting, selection, comments and deleting, the line image and its
// placement, the owner-drawn menu and status bar.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "app/AppServices.h"
#include "app/View.h"
#include "files/SettingsEnums.h"
#include "testdata/MeasureSet.h"
#include "testdata/Sorting.h"
#include "ui/EvaluationInfo.h"
#include "ui/InfoForm.h"
#include "ui/LineImage.h"
#include "ui/LineImageView.h"
#include "ui/ListModels.h"
#include "ui/ListViewLook.h"
#include "ui/OwnerDraw.h"

namespace kyvo {

// What the window reports to the controller. Unset handlers are skipped.
struct TWindowEvents {
    std::function<void(EControl)> Click;  // buttons, menu and pop-up items
    std::function<void(int)> LanguageChosen;
    std::function<void(bool ticked)> CombineClicked;
    std::function<void()> FtdiDeviceChanged;
    std::function<void(bool enter)> PickerKey;  // Enter (true) or Escape
    std::function<void()> Activated;
    std::function<bool()> CloseQuery;  // false refuses the close
    std::function<void()> Closed;
    // Runs a modal dialog of the window with the controller's timers paused.
    std::function<void(const std::function<void()>& dialog)> Paused;
    // Cancel or Escape in the measurement's prompt window.
    std::function<void()> AbortEvaluation;
    // Timers pause around the window's own message boxes and dialogs.
    std::function<EModalResult(const std::string& text, EMsgStyle)> Message;
    // Edits of the controller's list and settings: the window shows them,
    // the controller makes them.
    std::function<void(ESortType)> SortMeasurements;
    std::function<void(const std::vector<int>& rows)> DeleteEntries;
    std::function<void()> DeleteAll;
    std::function<void(std::size_t row, const std::string& text)> CommentEdited;
    std::function<void(EImagePos)> ImagePositionChosen;
};

class TMainWindow : public QMainWindow, public IMainView {
    Q_OBJECT
  public:
    explicit TMainWindow(QWidget* parent = nullptr);
    ~TMainWindow() override;

    // The measurement list and its sort mode belong to the controller; the
    // window shows them and asks the controller for every edit through its
    // events. language gives every text the window sets itself.
    void attach(TMeasureList* list, ESortType* measureSortMode, ILanguage* language,
                const ICollation* collation);
    void setEvents(TWindowEvents events) { events_ = std::move(events); }
    void setLanguageHandler(std::function<void(int)> handler) {
        events_.LanguageChosen = std::move(handler);
    }
    // Results list without the unit column (Tobrel result file layout).
    void setResultLayoutWithoutUnit(bool without);
    void setImagePosition(EImagePos pos, bool store);
    EImagePos imagePosition() const { return ImagePosition; }
    // Hands the image position to the controller, which keeps it.
    void storeImagePosition();

    // --- IMainView --------------------------------------------------------
    void SetText(EControl c, const std::string& text) override;
    void SetHint(EControl c, const std::string& hint) override;
    void SetEnabled(EControl c, bool enabled) override;
    void SetVisible(EControl c, bool visible) override;
    void SetChecked(EControl c, bool checked) override;
    void SetItems(EControl c, const std::vector<std::string>& items) override;
    void SetItemIndex(EControl c, int index) override;
    int ItemIndex(EControl c) override;
    std::string EditText(EControl c) override;
    void SetCaption(const std::string& caption) override;
    void SetWindowIcon(const std::string& path) override;
    void RequestClose() override;
    bool IsApplicationActive() override;
    TWindowGeometry Geometry() override;
    void SetGeometry(const TWindowGeometry& g) override;
    TScreenSize ScreenSize() override;
    void SetLanguageMenu(const std::vector<std::string>& names, int checked) override;
    void SetStatusText(int panel, const std::string& text) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    void SetListCount(EList list, int count) override;
    void RepaintList(EList list) override;
    int SelectedCount(EList list) override;
    void ClearSelection(EList list) override;
    void SelectMeasurement(int index) override;
    void SetPickerDateTime(const TLocalDateTime& dateTime) override;
    TLocalDateTime PickerDateTime() override;
    bool PickerHasFocus() override;
    void ClearPickerFocus() override;
    void SetPanelColour(EControl c, EPanelColour colour) override;
    EModalResult ShowMessageBox(const std::string& text, const std::string& caption,
                                EMsgStyle style, const TMessageButtons& buttons) override;
    EModalResult ShowInputQuery(const std::string& caption, const std::string& prompt,
                                std::string& text, const std::string& okText,
                                const std::string& cancelText) override;
    EModalResult ShowSelect(const std::string& caption, const std::string& prompt,
                            const std::vector<std::string>& items, int& selected,
                            const std::string& okText, const std::string& cancelText) override;
    EModalResult ShowConfigList(const std::string& caption, const std::string& okText,
                                const std::vector<std::string>& items, int& selected) override;
    void ShowInfoDialog(const TInfoDialogTexts& texts) override;
    std::optional<std::string> ShowFileDialog(const TFileDialogRequest& request) override;
    void ShowEvaluationInfo(const std::string& text) override;
    void HideEvaluationInfo() override;

    // --- the window's own handlers (public for the tests) ------------------
    void measureColumnClick(int column);
    void resultColumnClick(int column);
    void deleteSelectedEntries();
    void deleteWholeList();
    void editComment();
    // The column titles, the language-dependent texts the controller does
    // not set, and the version dialog's button.
    void applyWindowTexts();
    // Builds the line image at its present size and places it.
    void rebuildLineImage();
    // What a short moment after the last resize event does: the picture is
    // drawn again at the new size.
    void finishResize();
    bool resizePending() const { return resizeSettle_.isActive(); }

    // The controller names controls by EControl: a widget, or a menu item's
    // action; the other one is null.
    QWidget* control(EControl c) const;
    QAction* action(EControl c) const { return actions_[std::size_t(c)]; }
    QTableView* measurementView() const { return ListView_Measurements; }
    QTableView* resultView() const { return ListView_Results; }
    MeasureListModel* measurementModel() const { return measModel_.get(); }
    ResultListModel* resultModel() const { return resModel_.get(); }
    TLineImageView* lineImageView() const { return imageView_; }
    TStatusBar* ownStatusBar() const { return statusBar_; }
    QMenu* menuLanguage() const { return action(EControl::Menu_Language)->menu(); }
    QMenu* measurementPopup() const { return popupResults_; }
    ESortType resultSortMode() const { return ResultSortMode; }
    bool drawImage() const { return DrawImage; }
    qreal scaleFactor() const { return ScaleFactor; }
    // The interval after the last resize event at which the picture is drawn
    // again at the new size (X11 and Wayland send no end of a size move).
    static constexpr int kResizeSettleMs = 200;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void buildMenus();
    QAction* addMenuAction(QMenu* menu, EControl c, bool checkable = false);
    void click(EControl c);
    void layoutTopRows();
    void layoutLists();
    // Fits the columns of both lists to their content and shares the rest
    // of the room out; a width the user gave a column stays.
    void shareColumnWidths();
    // The content of a list changed: its columns are measured again.
    void remeasureColumns(EList list);
    void placeLineImage();
    int labelColumnWidth() const;
    void measurementSelectionChanged();
    void showSelectedResults();
    void hideLineImage();
    void dropStaleSelection();
    std::string lang(const TLangEntry& e) const;
    EModalResult ask(const std::string& text, EMsgStyle style);
    void centreOnWindow(QWidget* dialog) const;
    // The parent of a modal dialog: the prompt window while it is shown, so
    // that the dialog stands in front of it, else the main window.
    QWidget* dialogParent();

    TWindowEvents events_;
    TMeasureList emptyList_;
    TMeasureList* list_ = &emptyList_;
    ESortType ownSortMode_ = Unsorted;
    ESortType* MeasureSortMode = &ownSortMode_;
    ESortType ResultSortMode = Unsorted;
    int MeasColumnToSort = 0;
    int ResColumnToSort = 0;
    std::vector<const TResultSet*> SelResultList;
    const TMeasureSet* selectedSet_ = nullptr;
    ILanguage* language_ = nullptr;
    const ICollation* collation_ = &defaultCollation();

    // A menu item is reached through its action by its EControl. A widget is
    // reached through its member, named as its EControl; control() is the
    // one translation for the controller's calls.
    std::array<QAction*, std::size_t(EControl::Count_)> actions_{};
    QComboBox* ComboBox_FTDIDevice;
    QComboBox* ComboBox_Com;
    QComboBox* ComboBox_Baud;
    QPushButton* Button_Open;
    QCheckBox* CB_CombineMeasurements;
    QLabel* Label_FW;
    QLabel* Label_FWDisplay;
    QLabel* Label_KyvoTime;
    QFrame* Panel_Date;
    QFrame* Panel_Time;
    QDateEdit* DTP_SetDate;
    QTimeEdit* DTP_SetTime;
    QPushButton* Button_ReadData;
    QPushButton* Button_InstantMeasure;
    QPushButton* Button_TimerMeasure;
    QPushButton* Button_QCMeasure;
    QPushButton* Button_Save;
    QPushButton* Button_Menu;
    QTableView* ListView_Measurements;
    QTableView* ListView_Results;
    QLabel* Label_Max;
    QLabel* Label_Min;
    TLineImageView* imageView_;
    TStatusBar* statusBar_;
    QMenu* popupFTDI_ = nullptr;
    QMenu* popupTime_ = nullptr;
    QMenu* popupResults_ = nullptr;
    std::unique_ptr<TMenuStyle> menuStyle_;
    std::unique_ptr<MeasureListModel> measModel_;
    std::unique_ptr<ResultListModel> resModel_;
    std::unique_ptr<TForm_Info> infoWindow;
    std::unique_ptr<TForm_EvaluationInfo> EvaluationInfo;
    QTimer resizeSettle_;
    // Per list (EList order): the width the user dragged each column to (or
    // fitted with a double click on its border), -1 for none; and what each
    // column's title and cells need, empty until measured.
    std::array<std::vector<int>, 2> draggedWidths_;
    std::array<std::vector<int>, 2> contentWidths_;
    bool fittingColumns_ = false;
    QStringList appliedTitles_;

    EImagePos ImagePosition = SRight;
    bool DrawImage = false;
    bool FormResized = false;
    bool Constructed = false;
    bool closeAllowed_ = false;
    qreal ScaleFactor = 1.0;
    QImage LineImage;
};

}  // namespace kyvo
