// The archive in the window: a window of its own beside the main window,
// with the filters of `kyvo-cli archive list`, a table that pages through
// any number of measurements, the measurement with its results and line
// image on a double click, and the selection taken into the main list,
// exported or reported. It follows changes that other PCs make.
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "testdata/MeasureSet.h"
#include "ui/ArchiveModel.h"
#include "ui/LineImageView.h"
#include "ui/ListModels.h"

namespace kyvo {

class TForm_Main;
class TMainWindow;
class TResultExport;
class TTrendChartView;

// The archive the window shows: the user settings' "Archive"/"Location",
// the default archive when that is empty.
std::string WindowArchiveLocation(IKeyStore& user);
void StoreWindowArchiveLocation(IKeyStore& user, const std::string& location);

// One archived measurement as the main window shows a selected one: its
// texts, result rows and line image.
class TArchiveMeasureDialog : public QDialog {
    Q_OBJECT
  public:
    TArchiveMeasureDialog(std::unique_ptr<TMeasureSet> set, ILanguage* language,
                          QWidget* parent = nullptr);
    const TMeasureSet& measurement() const { return *set_; }
    QTableView* resultView() const { return results_; }
    ResultListModel* resultModel() const { return resModel_.get(); }
    TLineImageView* lineImageView() const { return image_; }
    QPushButton* openInListButton() const { return openInList_; }
    // Hands the measurement over (to the main list); the dialog closes.
    std::unique_ptr<TMeasureSet> take();

  signals:
    void openInListRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void drawImage();
    std::unique_ptr<TMeasureSet> set_;
    std::vector<const TResultSet*> rows_;
    std::unique_ptr<ResultListModel> resModel_;
    QTableView* results_;
    TLineImageView* image_;
    QLabel* min_;
    QLabel* max_;
    QPushButton* openInList_;
};

class TArchiveWindow : public QWidget {
    Q_OBJECT
  public:
    // Shows the archive at the location of user's settings once shown;
    // opener makes archives (OpenArchive when empty). The measurement list,
    // the export and the report are main's and controller's.
    TArchiveWindow(TMainWindow& main, TForm_Main& controller, IKeyStore& user, ILanguage* language,
                   TArchiveAccess::TOpener opener = {});
    ~TArchiveWindow() override;

    // The most measurements the selection commands act on at once.
    static constexpr int kMaxActOn = 1000;
    static constexpr int kPollMs = 2000;

    // Opens the archive at location (in the background) and shows it.
    void openLocation(const std::string& location);
    // Asks for another location, stores it in the user settings and opens it.
    void chooseLocation();
    // The program's --archive: shown instead of the user setting until the
    // person chooses another location.
    void setCommandLineLocation(const std::string& location);
    // The filter fields as the archive's filter.
    TArchiveFilter filterFromFields() const;
    void applyFilter();
    void applyTexts();
    // Loads the measurement at row and shows it in a dialog.
    void showMeasurement(int row);
    // The selected measurements into the main list / a file / a PDF report.
    void openSelectedIntoList();
    void exportSelected();
    void reportSelected();
    // Loads the selected measurements (at most kMaxActOn; a message
    // otherwise) in the background and hands them to then.
    void loadSelected(std::function<void(TMeasureList)> then);
    // Asks the archive whether anything changed; refreshes when it did.
    void poll();
    // Runs job with the ids of the selected measurements (at most kMaxActOn;
    // a message otherwise) on the archive's worker, then done here; the
    // table is read again afterwards.
    void actOnSelectedIds(std::function<void(IArchive&, const std::vector<std::int64_t>&)> job,
                          std::function<void()> done);
    // Another command on the selection, in the row of buttons below the table.
    void addButton(QPushButton* button);

    ArchiveTableModel* model() const { return model_.get(); }
    QTableView* table() const { return table_; }
    QLineEdit* searchField() const { return search_; }
    QLineEdit* testField() const { return test_; }
    QLineEdit* lotField() const { return lot_; }
    QLineEdit* deviceField() const { return device_; }
    QComboBox* roleField() const { return role_; }
    QDateEdit* fromField() const { return from_; }
    QDateEdit* toField() const { return to_; }
    QLabel* statusLine() const { return status_; }
    QTimer* pollTimer() { return &poll_; }
    bool archiveOpen() const { return access_ && access_->IsOpen(); }
    QAction* openAction() const { return openAction_; }
    QAction* locationAction() const { return locationAction_; }
    // For the quality control parts: the archive calls, the row of buttons
    // they add to, and opening the archive before the window was shown.
    TArchiveAccess& access() { return *access_; }
    QHBoxLayout* buttonRow() const { return buttons_; }
    void openIfNeeded();
    // The archive ids of the selected rows whose page is at hand.
    std::vector<std::int64_t> selectedIds() const;
    TTrendChartView* trendChart() const { return trend_; }

  signals:
    // A measurement dialog opened (for the tests and the screenshots).
    void measurementShown(kyvo::TArchiveMeasureDialog* dialog);
    // The selected measurements arrived and went where they were asked to.
    void selectionHandled();
    // The texts of the present language were set.
    void textsApplied();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // The chart beside the table works with the table, its archive and its
    // selection.
    friend class TTrendChartView;
    friend TArchiveWindow* installArchiveView(TMainWindow&, TForm_Main&, IKeyStore&, ILanguage*,
                                              TArchiveAccess::TOpener);
    std::string lang(const TLangEntry& e) const;
    std::string shownLocation();
    std::string commandLineLocation_;
    void showStatus();
    void showFailure(const TArchiveFailure& f);
    void message(const std::string& text);
    void rememberSelection();
    void restoreSelection(int first, int last);
    void rememberTopRow();
    void keepTopRow(int first, int last);
    void appendToList(TMeasureList sets);
    // The selected rows with the ids known for them (0: page not at hand);
    // empty after a message when there are none or too many.
    std::vector<std::pair<int, std::int64_t>> selectedRows();

    TMainWindow& main_;
    TForm_Main& controller_;
    IKeyStore& user_;
    ILanguage* language_;
    TArchiveAccess::TOpener opener_;
    std::unique_ptr<TArchiveAccess> access_;
    std::unique_ptr<ArchiveTableModel> model_;

    QLineEdit* search_;
    QDateEdit* from_;
    QDateEdit* to_;
    QLineEdit* test_;
    QLineEdit* lot_;
    QLineEdit* device_;
    QComboBox* role_;
    QHBoxLayout* buttons_ = nullptr;
    QLabel* fromLabel_;
    QLabel* toLabel_;
    QPushButton* clear_;
    QTableView* table_;
    QLabel* status_;
    QPushButton* openInList_;
    QPushButton* export_;
    QPushButton* report_;
    QPushButton* location_;
    QPushButton* summary_;
    TTrendChartView* trend_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* locationAction_ = nullptr;
    QTimer filterDelay_;
    QTimer poll_;

    bool opening_ = false;
    bool polling_ = false;
    bool everShown_ = false;
    std::int64_t stamp_ = -1;
    int pollsSinceFailure_ = 0;
    std::optional<TArchiveFailure> failure_;
    // The ids of the selected rows, so that a refresh keeps the selection on
    // the same measurements.
    std::set<std::int64_t> selectedIds_;
    bool restoring_ = false;
    // The measurement at the top of the table when a refresh began.
    int topRow_ = -1;
    std::int64_t topId_ = 0;
    bool adjusting_ = false;
    bool busy_ = false;
};

// Adds "Archive…" to the window's main menu and "Archive location…" to its
// setup menu; the archive window is the main window's.
TArchiveWindow* installArchiveView(TMainWindow& window, TForm_Main& controller, IKeyStore& user,
                                   ILanguage* language, TArchiveAccess::TOpener opener = {});

}  // namespace kyvo
