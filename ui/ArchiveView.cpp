#include "ui/ArchiveView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QLocale>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "app/Main.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "files/Settings.h"
#include "report/MeasureReport.h"
#include "ui/FormMessageBox.h"
#include "ui/InputQuery.h"
#include "ui/LineImage.h"
#include "ui/ListViewLook.h"
#include "ui/MainWindow.h"
#include "ui/ResultExportMenu.h"
#include "ui/TrendChartView.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string s(const QString& text) {
    return text.trimmed().toUtf8().toStdString();
}

// The date fields show "any" at their lowest date: no bound.
const QDate kNoDate(1999, 12, 31);

std::string dateBound(const QDateEdit* edit) {
    return edit->date() <= kNoDate ? std::string() : s(edit->date().toString(Qt::ISODate));
}

std::string SettingsLocation(IKeyStore& user) {
    return user.GetTextNoDefault(kArchiveSettingsHead, kArchiveLocationItem);
}

}  // namespace

std::string WindowArchiveLocation(IKeyStore& user) {
    return ChooseArchiveLocation({}, SettingsLocation(user));
}

void StoreWindowArchiveLocation(IKeyStore& user, const std::string& location) {
    user.SetText(kArchiveSettingsHead, kArchiveLocationItem, location);
}

// ---------------------------------------------------------------------------
// one measurement

TArchiveMeasureDialog::TArchiveMeasureDialog(std::unique_ptr<TMeasureSet> set, ILanguage* language,
                                             QWidget* parent)
    : QDialog(parent), set_(std::move(set)) {
    auto text = [language](const TLangEntry& e) {
        return q(language ? language->Text(e) : std::string(e.Def));
    };
    setWindowTitle(text(LE_ArchiveMeasurement) + QStringLiteral(" ") + q(set_->TestID));
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    const std::pair<const TLangEntry*, QString> items[] = {
        {&LE_TestID, q(set_->TestID)},
        {&LE_TestName, q(set_->TestName)},
        {&LE_LotNumber, q(set_->LotNr)},
        {&LE_DistributorManufacturer, q(set_->Distr_Manu)},
        {&LE_DateTime, measureDateText(set_->DateTime)},
        {&LE_UserComments, q(set_->UserComment)}};
    int r = 0;
    for (const auto& [entry, value] : items) {
        fields->addWidget(new QLabel(text(*entry), this), r, 0);
        auto* v = new QLabel(value, this);
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        fields->addWidget(v, r++, 1);
    }
    fields->setColumnStretch(1, 1);
    layout->addLayout(fields);

    for (const TResultSet& row : set_->ResultList) rows_.push_back(&row);
    resModel_ = std::make_unique<ResultListModel>(rows_);
    resModel_->setTitles({text(LE_Validity), text(LE_ResultName), text(LE_Result),
                          text(LE_ResultUnit), text(LE_Class)});
    resModel_->setCount(int(rows_.size()));
    results_ = new QTableView(this);
    setupList(results_);
    results_->setModel(resModel_.get());
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(results_, 1);

    auto* imageRow = new QHBoxLayout;
    auto* labels = new QVBoxLayout;
    max_ = new QLabel(q(set_->ImgMax), this);
    min_ = new QLabel(q(set_->ImgMin), this);
    labels->addWidget(max_);
    labels->addStretch(1);
    labels->addWidget(min_);
    imageRow->addLayout(labels);
    image_ = new TLineImageView(this);
    // The picture is 258 pixels high inside its one-pixel frame.
    image_->setFixedHeight(260);
    imageRow->addWidget(image_, 1);
    layout->addLayout(imageRow);
    const bool withImage = !set_->ImageData.empty();
    image_->setVisible(withImage);
    min_->setVisible(withImage);
    max_->setVisible(withImage);

    auto* buttons = new QHBoxLayout;
    openInList_ = new QPushButton(text(LE_ArchiveOpenInList), this);
    auto* close = new QPushButton(text(LE_Close), this);
    buttons->addStretch(1);
    buttons->addWidget(openInList_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(openInList_, &QPushButton::clicked, this, [this] { emit openInListRequested(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(720, 620);
}

std::unique_ptr<TMeasureSet> TArchiveMeasureDialog::take() {
    auto copy = std::make_unique<TMeasureSet>(*set_);
    accept();
    return copy;
}

void TArchiveMeasureDialog::drawImage() {
    if (set_->ImageData.empty() || image_->width() < 3) return;
    const std::vector<std::uint8_t> values(set_->ImageData.begin(), set_->ImageData.end());
    image_->setPicture(
        drawLineImage(values, lineMarksOf(*set_), image_->width() - 2, devicePixelRatioF()), false);
}

void TArchiveMeasureDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // After the layout gave the picture its width.
    QMetaObject::invokeMethod(
        this, [this] { drawImage(); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// the archive window

TArchiveWindow::TArchiveWindow(TMainWindow& main, TForm_Main& controller, IKeyStore& user,
                               ILanguage* language, TArchiveAccess::TOpener opener)
    : QWidget(&main, Qt::Window),
      main_(main),
      controller_(controller),
      user_(user),
      language_(language),
      opener_(std::move(opener)) {
    access_ = std::make_unique<TArchiveAccess>(opener_);
    model_ = std::make_unique<ArchiveTableModel>(*access_);

    search_ = new QLineEdit(this);
    search_->setClearButtonEnabled(true);
    fromLabel_ = new QLabel(this);
    toLabel_ = new QLabel(this);
    from_ = new QDateEdit(this);
    to_ = new QDateEdit(this);
    for (QDateEdit* d : {from_, to_}) {
        d->setMinimumDate(kNoDate);
        d->setMaximumDate(QDate(2099, 12, 31));
        d->setDate(kNoDate);
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        connect(d, &QDateEdit::dateChanged, this, [this] { filterDelay_.start(); });
    }
    test_ = new QLineEdit(this);
    lot_ = new QLineEdit(this);
    device_ = new QLineEdit(this);
    // Everything, patients' measurements only, or the controls only.
    role_ = new QComboBox(this);
    for (int i = 0; i < 3; ++i) role_->addItem(QString());
    connect(role_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    clear_ = new QPushButton(this);
    for (QLineEdit* e : {search_, test_, lot_, device_})
        connect(e, &QLineEdit::textChanged, this, [this] { filterDelay_.start(); });
    connect(clear_, &QPushButton::clicked, this, [this] {
        for (QLineEdit* e : {search_, test_, lot_, device_}) e->clear();
        from_->setDate(kNoDate);
        to_->setDate(kNoDate);
        role_->setCurrentIndex(0);
        applyFilter();
    });

    table_ = new QTableView(this);
    setupList(table_);
    table_->setModel(model_.get());
    QHeaderView* header = table_->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(int(EArchiveColumn::DateTime), Qt::DescendingOrder);
    header->setStretchLastSection(true);
    table_->setSortingEnabled(true);
    // The results column has no order in the archive: its header keeps the
    // arrow where it was.
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this, header](int column, Qt::SortOrder) {
                if (ArchiveSortOf(column)) return;
                const QSignalBlocker block(header);
                const TArchiveFilter& f = model_->filter();
                for (int c = 0; c < int(EArchiveColumn::Count_); ++c)
                    if (ArchiveSortOf(c) == f.Sort)
                        header->setSortIndicator(
                            c, f.Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            });
    const int widths[] = {165, 200, 150, 80, 90, 140, 90, 110, 90, 90};
    for (int c = 0; c < int(std::size(widths)); ++c) table_->setColumnWidth(c, widths[c]);
    // The user's own scrolling ends the wait for the top row's new place.
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!adjusting_) topId_ = 0;
    });
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { showMeasurement(i.row()); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!restoring_) rememberSelection();
    });
    connect(model_.get(), &ArchiveTableModel::countArrived, this, [this] {
        failure_.reset();
        showStatus();
    });
    connect(model_.get(), &ArchiveTableModel::failed, this,
            [this](const TArchiveFailure& f) { showFailure(f); });
    connect(model_.get(), &ArchiveTableModel::pageArrived, this,
            [this](int first, int last) { restoreSelection(first, last); });

    status_ = new QLabel(this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    openInList_ = new QPushButton(this);
    export_ = new QPushButton(this);
    report_ = new QPushButton(this);
    location_ = new QPushButton(this);
    connect(openInList_, &QPushButton::clicked, this, [this] { openSelectedIntoList(); });
    connect(export_, &QPushButton::clicked, this, [this] { exportSelected(); });
    connect(report_, &QPushButton::clicked, this, [this] { reportSelected(); });
    connect(location_, &QPushButton::clicked, this, [this] { chooseLocation(); });
    trend_ = new TTrendChartView(*this, language_);
    summary_ = new QPushButton(this);
    connect(summary_, &QPushButton::clicked, trend_, &TTrendChartView::reportSummary);

    auto* layout = new QVBoxLayout(this);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(search_, 3);
    row1->addWidget(fromLabel_);
    row1->addWidget(from_);
    row1->addWidget(toLabel_);
    row1->addWidget(to_);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(test_, 2);
    row2->addWidget(lot_, 1);
    row2->addWidget(device_, 1);
    row2->addWidget(role_);
    row2->addWidget(clear_);
    auto* buttons = new QHBoxLayout;
    buttons_ = buttons;
    buttons->addWidget(openInList_);
    buttons->addWidget(export_);
    buttons->addWidget(report_);
    buttons->addWidget(summary_);
    buttons->addStretch(1);
    buttons->addWidget(location_);
    layout->addLayout(row1);
    layout->addLayout(row2);
    // The trend of one result beside the table.
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(table_);
    split->addWidget(trend_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    filterDelay_.setSingleShot(true);
    filterDelay_.setInterval(300);
    connect(&filterDelay_, &QTimer::timeout, this, [this] { applyFilter(); });
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] { poll(); });

    resize(1400, 650);
    applyTexts();
}

TArchiveWindow::~TArchiveWindow() {
    // The answers of the worker must not reach a half-destroyed window.
    access_.reset();
    table_->setModel(nullptr);
}

std::string TArchiveWindow::lang(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

void TArchiveWindow::applyTexts() {
    setWindowTitle(q(lang(LE_ArchiveTitle)));
    search_->setPlaceholderText(q(lang(LE_ArchiveSearch)));
    test_->setPlaceholderText(q(lang(LE_ArchiveTest)));
    lot_->setPlaceholderText(q(lang(LE_ArchiveLot)));
    device_->setPlaceholderText(q(lang(LE_ArchiveDevice)));
    fromLabel_->setText(q(lang(LE_ArchiveFrom)));
    toLabel_->setText(q(lang(LE_ArchiveTo)));
    for (QDateEdit* d : {from_, to_}) d->setSpecialValueText(q(lang(LE_ArchiveAnyDate)));
    clear_->setText(q(lang(LE_ArchiveClearFilter)));
    openInList_->setText(q(lang(LE_ArchiveOpenInList)));
    export_->setText(q(lang(LE_ExportData)));
    report_->setText(q(lang(LE_ArchiveReport)));
    summary_->setText(q(lang(LE_SummaryReportMenu)));
    trend_->applyTexts();
    location_->setText(q(lang(LE_ArchiveLocationMenu)));
    model_->setTitles({q(lang(LE_DateTime)), q(lang(LE_TestID)), q(lang(LE_TestName)),
                       q(lang(LE_LotNumber)), q(lang(LE_ArchiveDeviceSerial)),
                       q(lang(LE_UserComments)), q(lang(LE_ArchivePatientId)), q(lang(LE_QcRole)),
                       q(lang(LE_QcColumn)), q(lang(LE_LisColumn)),
                       q(lang(LE_ArchiveResults))});
    role_->setItemText(0, q(lang(LE_QcShowAll)));
    role_->setItemText(1, q(lang(LE_QcShowPatients)));
    role_->setItemText(2, q(lang(LE_QcShowControls)));
    if (openAction_) openAction_->setText(q(lang(LE_ArchiveMenu)));
    if (locationAction_) locationAction_->setText(q(lang(LE_ArchiveLocationMenu)));
    showStatus();
    emit textsApplied();
}

// ---------------------------------------------------------------------------
// opening and filtering

void TArchiveWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    applyTexts();
    if (!everShown_) {
        everShown_ = true;
        openLocation(shownLocation());
    }
    poll_.start();
}

void TArchiveWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    poll_.stop();
}

void TArchiveWindow::openLocation(const std::string& location) {
    opening_ = true;
    failure_.reset();
    stamp_ = -1;
    pollsSinceFailure_ = 0;
    selectedIds_.clear();
    model_->clear();
    access_->Open(location, [this](std::optional<TArchiveFailure> f) {
        opening_ = false;
        if (f) {
            showFailure(*f);
            return;
        }
        failure_.reset();
        applyFilter();
        poll();
    });
    // After Open: the line names the archive being opened, not the last one.
    showStatus();
}

TArchiveFilter TArchiveWindow::filterFromFields() const {
    TArchiveFilter f;
    f.Text = s(search_->text());
    f.Test = s(test_->text());
    f.Lot = s(lot_->text());
    f.Device = s(device_->text());
    f.From = dateBound(from_);
    f.To = dateBound(to_);
    static const char* const roles[] = {"", "patient", "control"};
    f.Role = roles[std::clamp(role_->currentIndex(), 0, 2)];
    return f;
}

void TArchiveWindow::applyFilter() {
    filterDelay_.stop();
    if (!archiveOpen()) return;
    selectedIds_.clear();
    model_->setFilter(filterFromFields());
    trend_->filterChanged();
    showStatus();
}

void TArchiveWindow::showStatus() {
    QString text;
    bool error = false;
    const QString location = q(access_ ? access_->Location() : std::string());
    if (failure_) {
        const TLangEntry& e =
            failure_->Kind == EArchiveErrorKind::Unreachable    ? LE_ArchiveUnreachable
            : failure_->Kind == EArchiveErrorKind::NewerSchema  ? LE_ArchiveNewerSchema
            : failure_->Kind == EArchiveErrorKind::NotAnArchive ? LE_ArchiveNotAnArchive
                                                                : LE_ArchiveError;
        text = q(ReplacePlaceholders(lang(e), {failure_->Message}));
        error = true;
    } else if (opening_) {
        text = q(ReplacePlaceholders(lang(LE_ArchiveOpening), {s(location)}));
    } else if (model_->counted()) {
        text = q(ReplacePlaceholders(lang(LE_ArchiveCount),
                                     {s(QLocale().toString(qlonglong(model_->totalCount())))})) +
               QStringLiteral("  —  ") + location;
    }
    status_->setText(text);
    status_->setStyleSheet(error ? QStringLiteral("color: #b00000; font-weight: bold;")
                                 : QString());
}

void TArchiveWindow::showFailure(const TArchiveFailure& f) {
    failure_ = f;
    pollsSinceFailure_ = 0;
    showStatus();
}

void TArchiveWindow::poll() {
    if (opening_) return;
    if (!archiveOpen() || failure_) {
        // An archive that could not be reached is tried again now and then.
        if (++pollsSinceFailure_ >= 5 && !polling_) openLocation(access_->Location());
        if (!archiveOpen()) return;
    }
    if (polling_) return;
    polling_ = true;
    access_->Run<std::int64_t>([](IArchive& a) { return a.ChangeStamp(); },
                               [this](std::int64_t stamp) {
                                   polling_ = false;
                                   const bool changed = stamp_ >= 0 && stamp != stamp_;
                                   stamp_ = stamp;
                                   if (changed || failure_) {
                                       failure_.reset();
                                       rememberTopRow();
                                       model_->refresh();
                                       trend_->filterChanged();
                                   }
                               },
                               [this](const TArchiveFailure& f) {
                                   polling_ = false;
                                   if (!failure_) showFailure(f);
                               });
}

// ---------------------------------------------------------------------------
// selection

void TArchiveWindow::openIfNeeded() {
    if (everShown_) return;
    everShown_ = true;
    openLocation(shownLocation());
}

std::vector<std::int64_t> TArchiveWindow::selectedIds() const {
    std::vector<std::int64_t> ids;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        if (const TArchiveRow* r = model_->rowAt(i.row())) ids.push_back(r->Id);
    return ids;
}

void TArchiveWindow::rememberSelection() {
    selectedIds_.clear();
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        if (const TArchiveRow* r = model_->rowAt(i.row())) selectedIds_.insert(r->Id);
}

// A refreshed page may hold the selected measurements at other rows.
// The measurement at the top of the table stays there when rows join above
// it; at the very top the table stays at the top and shows the newcomers.
void TArchiveWindow::rememberTopRow() {
    topRow_ = table_->rowAt(0);
    const TArchiveRow* r = topRow_ > 0 ? model_->rowAt(topRow_) : nullptr;
    topId_ = r ? r->Id : 0;
}

void TArchiveWindow::keepTopRow(int first, int last) {
    if (topId_ == 0) return;
    // Fewer than a page joined above it: it is within a page of where it was.
    const int from = std::max(first, topRow_);
    const int to = std::min(last, topRow_ + ArchiveTableModel::kPageSize - 1);
    for (int row = from; row <= to; ++row) {
        const TArchiveRow* r = model_->rowAt(row);
        if (!r || r->Id != topId_) continue;
        topId_ = 0;
        if (row == topRow_) return;
        adjusting_ = true;
        table_->scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtTop);
        adjusting_ = false;
        return;
    }
}

void TArchiveWindow::restoreSelection(int first, int last) {
    keepTopRow(first, last);
    if (selectedIds_.empty()) return;
    restoring_ = true;
    QItemSelection select, deselect;
    QItemSelectionModel* sel = table_->selectionModel();
    for (int row = first; row <= last; ++row) {
        const TArchiveRow* r = model_->rowAt(row);
        if (!r) continue;
        const bool wanted = selectedIds_.count(r->Id) > 0;
        if (wanted != sel->isRowSelected(row, {})) {
            const QItemSelectionRange range(model_->index(row, 0),
                                            model_->index(row, model_->columnCount() - 1));
            (wanted ? select : deselect).append(range);
        }
    }
    if (!deselect.isEmpty()) sel->select(deselect, QItemSelectionModel::Deselect);
    if (!select.isEmpty()) sel->select(select, QItemSelectionModel::Select);
    restoring_ = false;
}

void TArchiveWindow::message(const std::string& text) {
    TForm_OwnMessageBox box(this);
    box.SetMessage(QString(), q(text), msOk, q(lang(LE_OK)), QString(), QString());
    controller_.RunPaused([&] { box.exec(); });
}

namespace {

// The ids of the selected rows; rows whose page is not at hand (a selection
// scrolled out of the cache) are found again by their page.
std::vector<std::int64_t> idsOfRows(IArchive& a, const TArchiveFilter& filter,
                                    const std::vector<std::pair<int, std::int64_t>>& wanted) {
    std::map<int, std::vector<TArchiveRow>> pages;
    std::vector<std::int64_t> ids;
    for (const auto& [row, known] : wanted) {
        std::int64_t id = known;
        if (id == 0) {
            const int page = row / ArchiveTableModel::kPageSize;
            auto it = pages.find(page);
            if (it == pages.end()) {
                TArchiveFilter f = filter;
                f.Offset = std::size_t(page) * ArchiveTableModel::kPageSize;
                f.Limit = ArchiveTableModel::kPageSize;
                it = pages.emplace(page, a.List(f)).first;
            }
            const std::size_t at = std::size_t(row % ArchiveTableModel::kPageSize);
            if (at >= it->second.size()) continue;
            id = it->second[at].Id;
        }
        ids.push_back(id);
    }
    return ids;
}

}  // namespace

std::vector<std::pair<int, std::int64_t>> TArchiveWindow::selectedRows() {
    std::vector<int> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(i.row());
    if (rows.empty()) {
        message(lang(LE_ArchiveNothingSelected));
        return {};
    }
    if (int(rows.size()) > kMaxActOn) {
        message(ReplacePlaceholders(lang(LE_ArchiveTooManySelected), {std::to_string(kMaxActOn)}));
        return {};
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, std::int64_t>> wanted;
    for (int row : rows) {
        const TArchiveRow* r = model_->rowAt(row);
        wanted.emplace_back(row, r ? r->Id : 0);
    }
    return wanted;
}

void TArchiveWindow::actOnSelectedIds(
    std::function<void(IArchive&, const std::vector<std::int64_t>&)> job,
    std::function<void()> done) {
    if (busy_ || !archiveOpen()) return;
    const auto wanted = selectedRows();
    if (wanted.empty()) return;
    busy_ = true;
    access_->Run<bool>(
        [filter = model_->filter(), wanted, job = std::move(job)](IArchive& a) {
            job(a, idsOfRows(a, filter, wanted));
            return true;
        },
        [this, done = std::move(done)](bool) {
            busy_ = false;
            done();
            rememberTopRow();
            model_->refresh();
            emit selectionHandled();
        },
        [this](const TArchiveFailure& f) {
            busy_ = false;
            showFailure(f);
        });
}

void TArchiveWindow::addButton(QPushButton* button) {
    // After the commands on the selection, before the stretch.
    buttons_->insertWidget(buttons_->indexOf(report_) + 1, button);
}

void TArchiveWindow::loadSelected(std::function<void(TMeasureList)> then) {
    if (busy_ || !archiveOpen()) return;
    const auto wanted = selectedRows();
    if (wanted.empty()) return;
    busy_ = true;
    access_->Run<std::shared_ptr<TMeasureList>>(
        [filter = model_->filter(), wanted](IArchive& a) {
            auto list = std::make_shared<TMeasureList>();
            for (const std::int64_t id : idsOfRows(a, filter, wanted))
                list->push_back(std::make_unique<TMeasureSet>(a.Load(id)));
            return list;
        },
        [this, then = std::move(then)](std::shared_ptr<TMeasureList> list) {
            busy_ = false;
            then(std::move(*list));
            emit selectionHandled();
        },
        [this](const TArchiveFailure& f) {
            busy_ = false;
            showFailure(f);
        });
}

void TArchiveWindow::appendToList(TMeasureList sets) {
    controller_.AppendMeasurements(std::move(sets));
}

void TArchiveWindow::openSelectedIntoList() {
    loadSelected([this](TMeasureList sets) { appendToList(std::move(sets)); });
}

namespace {

std::vector<const TMeasureSet*> pointers(const TMeasureList& list) {
    std::vector<const TMeasureSet*> out;
    for (const auto& m : list) out.push_back(m.get());
    return out;
}

}  // namespace

void TArchiveWindow::exportSelected() {
    loadSelected([this](TMeasureList sets) {
        if (auto* exporter = main_.findChild<TResultExport*>())
            exporter->chooseAndExport(pointers(sets), this);
    });
}

void TArchiveWindow::reportSelected() {
    loadSelected([this](TMeasureList sets) {
        if (auto* exporter = main_.findChild<TResultExport*>())
            exporter->chooseAndWriteReport(pointers(sets), this);
    });
}

void TArchiveWindow::showMeasurement(int row) {
    const TArchiveRow* r = model_->rowAt(row);
    if (!r || !archiveOpen()) return;
    access_->Run<std::shared_ptr<TMeasureSet>>(
        [id = r->Id](IArchive& a) { return std::make_shared<TMeasureSet>(a.Load(id)); },
        [this](std::shared_ptr<TMeasureSet> set) {
            auto* dialog =
                new TArchiveMeasureDialog(std::make_unique<TMeasureSet>(*set), language_, this);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            connect(dialog, &TArchiveMeasureDialog::openInListRequested, this, [this, dialog] {
                TMeasureList one;
                one.push_back(dialog->take());
                appendToList(std::move(one));
            });
            dialog->show();
            emit measurementShown(dialog);
        },
        [this](const TArchiveFailure& f) { showFailure(f); });
}

void TArchiveWindow::chooseLocation() {
    TForm_InputQuery query(isVisible() ? static_cast<QWidget*>(this) : &main_);
    query.SetQuery(q(lang(LE_ArchiveTitle)), q(lang(LE_ArchiveLocationPrompt)), q(lang(LE_OK)),
                   q(lang(LE_Cancel)));
    query.Edit_Input->setText(q(SettingsLocation(user_)));
    int result = mrCancel;
    controller_.RunPaused([&] { result = query.exec(); });
    if (result != mrOk) return;
    StoreWindowArchiveLocation(user_, s(query.Edit_Input->text()));
    // The person chose: that beats the location the program was started with.
    commandLineLocation_.clear();
    if (everShown_) openLocation(shownLocation());
}

void TArchiveWindow::setCommandLineLocation(const std::string& location) {
    commandLineLocation_ = location;
}

std::string TArchiveWindow::shownLocation() {
    return ChooseArchiveLocation(commandLineLocation_, SettingsLocation(user_));
}

// ---------------------------------------------------------------------------

TArchiveWindow* installArchiveView(TMainWindow& window, TForm_Main& controller, IKeyStore& user,
                                   ILanguage* language, TArchiveAccess::TOpener opener) {
    auto* archive = new TArchiveWindow(window, controller, user, language, std::move(opener));
    QAction* mainAction = window.action(EControl::Menu_Main);
    QAction* setupAction = window.action(EControl::Menu_Setup);
    if (QMenu* menu = mainAction ? mainAction->menu() : nullptr) {
        menu->addSeparator();
        archive->openAction_ = menu->addAction(QString());
        const auto open = [archive] {
            archive->show();
            archive->raise();
            archive->activateWindow();
        };
        QObject::connect(archive->openAction_, &QAction::triggered, archive, open);
        // The window's own shortcut, as Ctrl+S and Ctrl+L are: the menu shows
        // no text of Qt's that the language file cannot translate.
        auto* shortcut = new QAction(archive);
        shortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
        QObject::connect(shortcut, &QAction::triggered, archive, open);
        window.addAction(shortcut);
        QObject::connect(menu, &QMenu::aboutToShow, archive, [archive] { archive->applyTexts(); });
    }
    if (QMenu* menu = setupAction ? setupAction->menu() : nullptr) {
        archive->locationAction_ = menu->addAction(QString());
        QObject::connect(archive->locationAction_, &QAction::triggered, archive,
                         [archive] { archive->chooseLocation(); });
        QObject::connect(menu, &QMenu::aboutToShow, archive, [archive] { archive->applyTexts(); });
    }
    archive->applyTexts();
    return archive;
}

}  // namespace kyvo
