#include "ui/LisWindow.h"

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <algorithm>

#include "app/Main.h"
#include "files/LanguageEntries.h"
#include "files/Settings.h"
#include "lisfeed/LisService.h"
#include "ui/ArchiveView.h"
#include "ui/LisSettingsDialog.h"
#include "ui/MainWindow.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string number(std::int64_t n) {
    return std::to_string(n);
}

// What one poll read on the worker.
struct TPollResult {
    std::int64_t Stamp = 0;
    TLisCounts Counts;
    bool MarksRead = false;
    std::map<std::string, TLisMark> Marks;
    std::map<std::string, std::int64_t> Ids;
};

struct TQueueResult {
    TLisQueueOutcome Outcome;
    std::int64_t NotArchived = 0;
};

}  // namespace

TLisMark LisMarkOf(const std::vector<TLisOutboxEntry>& versions) {
    TLisMark mark;
    if (versions.empty()) return mark;
    const TLisOutboxEntry& newest = versions.back();
    mark.State = newest.State;
    mark.Reason = newest.Reason;
    mark.Time = newest.Changed.empty() ? newest.Queued : newest.Changed;
    return mark;
}

TLisWindowPart::TLisWindowPart(TMainWindow& window, TForm_Main& controller, TConfigFile& userFile,
                               ILanguage* language, std::string archiveLocation,
                               TArchiveActor actor, TArchiveAccess::TOpener opener, bool runService)
    : QObject(&window),
      window_(window),
      controller_(controller),
      userFile_(userFile),
      language_(language),
      location_(std::move(archiveLocation)),
      actor_(std::move(actor)),
      runService_(runService) {
    access_ = std::make_unique<TArchiveAccess>(std::move(opener));

    panel_ = new QToolButton(window.ownStatusBar());
    panel_->setAutoRaise(true);
    panel_->setAutoFillBackground(true);
    panel_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    window.ownStatusBar()->addPermanentWidget(panel_);
    connect(panel_, &QToolButton::clicked, this, [this] {
        if (auto* archive = window_.findChild<TArchiveWindow*>()) {
            archive->show();
            archive->raise();
            archive->activateWindow();
        }
    });

    sendAction_ = new QAction(this);
    window.measurementPopup()->addAction(sendAction_);
    connect(sendAction_, &QAction::triggered, this, [this] { sendMainSelection(); });
    if (QAction* setup = window.action(EControl::Menu_Setup); setup && setup->menu()) {
        settingsAction_ = setup->menu()->addAction(QString());
        connect(settingsAction_, &QAction::triggered, this, [this] { editSettings(); });
        connect(setup->menu(), &QMenu::aboutToShow, this, [this] { applyTexts(); });
    }
    // The model may outlive this part (a window ends its children after its
    // own members).
    window.measurementModel()->setRowMark(
        [this, alive = std::weak_ptr<bool>(alive_)](const TMeasureSet& m) {
            const auto a = alive.lock();
            if (!a || !*a) return std::make_pair(QIcon(), QString());
            const TLisMark mark = markOf(m.TestID);
            return std::make_pair(LisStateIcon(mark.State),
                                  LisStateTip(mark.State, mark.Reason, mark.Time, language_));
        });

    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] { poll(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { stop(); });

    open();
    poll_.start();
    applySettings();
    applyTexts();
}

TLisWindowPart::~TLisWindowPart() {
    *alive_ = false;
    stop();
    // Gone already when the window ends: the menus go before their window's
    // other children.
    delete settingsAction_.data();
    // No answer of the worker may reach a half-destroyed part.
    access_.reset();
}

std::string TLisWindowPart::lang(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

void TLisWindowPart::applyTexts() {
    sendAction_->setText(q(lang(LE_LisSendAction)));
    if (settingsAction_) settingsAction_->setText(q(lang(LE_LisSettingsMenu)));
    if (auto* archive = window_.findChild<TArchiveWindow*>()) {
        archive->model()->setLanguage(language_);
        if (QPushButton* b = archive->findChild<QPushButton*>(QStringLiteral("lisSend")))
            b->setText(q(lang(LE_LisSendAction)));
    }
    showPanel();
}

void TLisWindowPart::showPanel() {
    look_ = LisPanelLook(counts_, sending_, failure_, language_);
    // Why the sender's last try failed, in its own words.
    if (sending_ && !serviceError_.empty())
        look_.Tip += (look_.Tip.isEmpty() ? QString() : QStringLiteral("\n")) + q(serviceError_);
    panel_->setText(look_.Text);
    panel_->setToolTip(look_.Tip);
    panel_->setIcon(look_.Level == ELisPanelLevel::Warning || look_.Level == ELisPanelLevel::Failure
                        ? LisStateIcon(ELisState::Held)
                    : look_.Level == ELisPanelLevel::Busy ? LisStateIcon(ELisState::Waiting)
                                                          : QIcon());
    QPalette pal = window_.ownStatusBar()->palette();
    if (look_.Background.isValid()) {
        pal.setColor(QPalette::Button, look_.Background);
        pal.setColor(QPalette::Window, look_.Background);
    }
    if (look_.Foreground.isValid()) {
        pal.setColor(QPalette::ButtonText, look_.Foreground);
        pal.setColor(QPalette::WindowText, look_.Foreground);
    }
    panel_->setPalette(pal);
    QFont f = panel_->font();
    f.setBold(look_.Level == ELisPanelLevel::Warning || look_.Level == ELisPanelLevel::Failure);
    panel_->setFont(f);
}

std::vector<std::string> TLisWindowPart::listTestIds() const {
    std::vector<std::string> ids;
    ids.reserve(controller_.MeasureList.size());
    for (const auto& m : controller_.MeasureList)
        if (m) ids.push_back(m->TestID);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

TLisMark TLisWindowPart::markOf(const std::string& testId) const {
    const auto it = marks_.find(testId);
    return it == marks_.end() ? TLisMark{} : it->second;
}

void TLisWindowPart::open() {
    opening_ = true;
    access_->Open(location_, [this](std::optional<TArchiveFailure> f) {
        opening_ = false;
        if (f) {
            failure_ = f->Message;
            counts_.reset();
            showPanel();
            emit polled();
            return;
        }
        poll();
    });
}

void TLisWindowPart::poll() {
    if (opening_ || polling_) {
        pollAgain_ = true;
        return;
    }
    // An archive that could not be opened is tried again at the next poll.
    if (!access_->IsOpen()) {
        open();
        return;
    }
    const std::vector<std::string> ids = listTestIds();
    const bool listChanged = ids != markedIds_;
    polling_ = true;
    pollAgain_ = false;
    access_->Run<std::shared_ptr<TPollResult>>(
        [ids, known = ids_, stampWas = stamp_, listChanged](IArchive& a) {
            auto r = std::make_shared<TPollResult>();
            r->Stamp = a.ChangeStamp();
            r->Counts = a.LisCounts();
            if (!listChanged && r->Stamp == stampWas) return r;
            r->MarksRead = true;
            for (const std::string& testId : ids) {
                std::optional<std::int64_t> id;
                if (const auto it = known.find(testId); it != known.end())
                    id = it->second;
                else
                    id = a.FindByTestId(testId);
                if (!id) continue;
                r->Ids[testId] = *id;
                const TLisMark mark = LisMarkOf(a.LisHistory(*id));
                if (mark.State != ELisState::None) r->Marks[testId] = mark;
            }
            return r;
        },
        [this, ids](std::shared_ptr<TPollResult> r) {
            polling_ = false;
            failure_.clear();
            counts_ = r->Counts;
            stamp_ = r->Stamp;
            if (r->MarksRead) {
                marks_ = std::move(r->Marks);
                ids_ = std::move(r->Ids);
                markedIds_ = ids;
                window_.RepaintList(EList::Measurements);
            }
            showPanel();
            emit polled();
            if (pollAgain_) poll();
        },
        [this](const TArchiveFailure& f) {
            polling_ = false;
            failure_ = f.Message;
            counts_.reset();
            stamp_ = -1;
            showPanel();
            emit polled();
        });
}

void TLisWindowPart::showQueued(const TLisQueueOutcome& outcome, std::int64_t notArchived) {
    std::string text =
        ReplacePlaceholders(lang(LE_LisQueued), {number(outcome.Queued + outcome.AlreadyWaiting)});
    if (notArchived > 0)
        text += " " + ReplacePlaceholders(lang(LE_LisNotArchived), {number(notArchived)});
    if (!sending_) text += " " + lang(LE_LisSendingOff);
    window_.SetStatusText(2, text);
    if (service_) service_->SendNow();
    poll();
    emit sendHandled();
}

void TLisWindowPart::sendMainSelection() {
    std::vector<std::string> testIds;
    for (const QModelIndex& i : window_.measurementView()->selectionModel()->selectedRows()) {
        const std::size_t row = std::size_t(i.row());
        if (row < controller_.MeasureList.size() && controller_.MeasureList[row])
            testIds.push_back(controller_.MeasureList[row]->TestID);
    }
    if (testIds.empty()) return;
    access_->Run<std::shared_ptr<TQueueResult>>(
        [testIds, actor = actor_](IArchive& a) {
            auto r = std::make_shared<TQueueResult>();
            std::vector<std::int64_t> ids;
            for (const std::string& t : testIds) {
                if (const auto id = a.FindByTestId(t))
                    ids.push_back(*id);
                else
                    ++r->NotArchived;
            }
            if (!ids.empty()) r->Outcome = a.QueueForLis(ids, actor);
            return r;
        },
        [this](std::shared_ptr<TQueueResult> r) { showQueued(r->Outcome, r->NotArchived); },
        [this](const TArchiveFailure& f) {
            window_.SetStatusText(2, ReplacePlaceholders(lang(LE_LisPanelNoArchive), {f.Message}));
            emit sendHandled();
        });
}

void TLisWindowPart::sendArchiveSelection(TArchiveWindow& archive) {
    auto result = std::make_shared<TLisQueueOutcome>();
    archive.actOnSelectedIds(
        [result, actor = actor_](IArchive& a, const std::vector<std::int64_t>& ids) {
            *result = a.QueueForLis(ids, actor);
        },
        [this, result] { showQueued(*result, 0); });
}

void TLisWindowPart::editSettings() {
    if (!EditLisSettings(
            &window_, userFile_, language_,
            [this](const std::function<void()>& dialog) { controller_.RunPaused(dialog); }))
        return;
    applySettings();
}

void TLisWindowPart::applySettings() {
    const TLisSendSettings settings = ReadLisSettings(userFile_);
    sending_ = settings.Send;
    showPanel();
    if (!runService_) return;
    if (!settings.Send) {
        stop();
        return;
    }
    if (!service_) {
        service_ = std::make_unique<TLisService>(location_, actor_);
        std::weak_ptr<bool> alive = alive_;
        service_->SetOnChange([this, alive](const TLisServiceStatus& status) {
            // On the service's thread: the window reads the archive itself.
            QMetaObject::invokeMethod(
                this,
                [this, alive, error = status.LastError] {
                    const auto a = alive.lock();
                    if (!a || !*a) return;
                    serviceError_ = error;
                    poll();
                },
                Qt::QueuedConnection);
        });
    }
    // The rows' validity texts may be in the window's language; the service
    // reads them on its own thread, so from a copy.
    auto texts = std::make_shared<std::map<std::uint32_t, std::string>>();
    for (const TLangEntry& e : kLanguageEntries) (*texts)[e.ID] = lang(e);
    service_->Configure(settings, [texts](const TLangEntry& e) {
        const auto it = texts->find(e.ID);
        return it != texts->end() ? it->second : std::string(e.Def);
    });
    if (!serviceRunning_) {
        service_->Start();
        serviceRunning_ = true;
    }
}

void TLisWindowPart::stop() {
    if (!service_) return;
    service_->Stop();
    service_.reset();
    serviceRunning_ = false;
    serviceError_.clear();
}

TLisWindowPart* installLisParts(TMainWindow& window, TForm_Main& controller, TConfigFile& userFile,
                                ILanguage* language, std::string archiveLocation,
                                TArchiveActor actor, TArchiveAccess::TOpener opener,
                                bool runService) {
    auto* part =
        new TLisWindowPart(window, controller, userFile, language, std::move(archiveLocation),
                           std::move(actor), std::move(opener), runService);
    if (auto* archive = window.findChild<TArchiveWindow*>()) {
        auto* send = new QPushButton(archive);
        send->setObjectName(QStringLiteral("lisSend"));
        archive->addButton(send);
        QObject::connect(send, &QPushButton::clicked, part,
                         [part, archive] { part->sendArchiveSelection(*archive); });
    }
    part->applyTexts();
    return part;
}

}  // namespace kyvo
