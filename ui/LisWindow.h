// The window's side of sending results to the LIS: the mark of each
// measurement in the main list and the archive view, the status bar panel,
// "Send to LIS" on a selection, the connection settings, and the sender
// service that works the outbox on a thread of its own while the window is
// open. Every archive call runs on a worker, never on the GUI thread.
#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "files/ConfigFile.h"
#include "ui/ArchiveModel.h"
#include "ui/LisLook.h"

namespace kyvo {

class TForm_Main;
class TMainWindow;
class TArchiveWindow;
class TLisService;
struct TLisServiceStatus;

// Where one measurement stands: its newest version in the outbox.
struct TLisMark {
    ELisState State = ELisState::None;
    std::string Reason;
    std::string Time;  // ISO: sent, or the last try
};

// The mark of a measurement from its versions in the outbox, oldest first
// (as the archive's history gives them): the newest one counts.
TLisMark LisMarkOf(const std::vector<TLisOutboxEntry>& versions);

class TLisWindowPart : public QObject {
    Q_OBJECT
  public:
    // archiveLocation: the archive the measurements go into (the feed's);
    // userFile: the user settings with the [LIS] items; opener makes the
    // archive for the worker (OpenArchive when empty). runService false
    // leaves the sender alone (the tests drive the outbox themselves).
    TLisWindowPart(TMainWindow& window, TForm_Main& controller, TConfigFile& userFile,
                   ILanguage* language, std::string archiveLocation, TArchiveActor actor,
                   TArchiveAccess::TOpener opener = {}, bool runService = true);
    ~TLisWindowPart() override;

    static constexpr int kPollMs = 2000;

    void applyTexts();
    // Reads the counts, and the marks of the main list's measurements when
    // anything changed; the panel and the list follow when they arrive.
    void poll();
    // Queues the main list's selected measurements (held ones again) and
    // wakes the sender; says in the status bar what it did.
    void sendMainSelection();
    // Queues ids of the archive at hand; the outcome goes to the status bar.
    void sendArchiveSelection(TArchiveWindow& archive);
    // The settings dialog; OK stores the items and applies them at once.
    void editSettings();
    // (Re)configures the sender from the user settings: running while
    // sending is on, stopped otherwise.
    void applySettings();
    // Ends the sender (at the window's close); idempotent.
    void stop();

    TLisMark markOf(const std::string& testId) const;
    const std::optional<TLisCounts>& counts() const { return counts_; }
    const TLisPanelLook& panelLook() const { return look_; }
    QToolButton* panel() const { return panel_; }
    QAction* sendAction() const { return sendAction_; }
    QAction* settingsAction() const { return settingsAction_; }
    bool serviceRunning() const { return serviceRunning_; }
    // A poll's archive calls are under way (one asked for now runs after it).
    bool polling() const { return polling_; }

  signals:
    // The counts (and marks, when they were read again) arrived.
    void polled();
    // A "Send to LIS" was carried out (its text is in the status bar).
    void sendHandled();

  private:
    std::string lang(const TLangEntry& e) const;
    void open();
    void showPanel();
    void showQueued(const TLisQueueOutcome& outcome, std::int64_t notArchived);
    void serviceChanged();
    std::vector<std::string> listTestIds() const;

    TMainWindow& window_;
    TForm_Main& controller_;
    TConfigFile& userFile_;
    ILanguage* language_;
    std::string location_;
    TArchiveActor actor_;
    std::unique_ptr<TArchiveAccess> access_;
    std::unique_ptr<TLisService> service_;
    bool runService_;
    bool serviceRunning_ = false;
    bool sending_ = false;

    QToolButton* panel_ = nullptr;
    QAction* sendAction_ = nullptr;
    QPointer<QAction> settingsAction_;
    QTimer poll_;
    bool opening_ = false;
    bool polling_ = false;
    bool pollAgain_ = false;
    std::optional<TLisCounts> counts_;
    std::string failure_;
    std::string serviceError_;
    TLisPanelLook look_;
    std::int64_t stamp_ = -1;
    std::vector<std::string> markedIds_;
    std::map<std::string, TLisMark> marks_;
    // Identity text -> archive id, for the main list's measurements found.
    std::map<std::string, std::int64_t> ids_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Adds the LIS parts to the window: "Send to LIS" to the main list's pop-up
// menu and the archive window, "LIS connection…" to the setup menu, the
// panel to the status bar and the mark to the main list. Owned by window.
TLisWindowPart* installLisParts(TMainWindow& window, TForm_Main& controller, TConfigFile& userFile,
                                ILanguage* language, std::string archiveLocation,
                                TArchiveActor actor, TArchiveAccess::TOpener opener = {},
                                bool runService = true);

}  // namespace kyvo
