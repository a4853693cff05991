#include "ui/ArchiveModel.h"

#include <QColor>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <climits>

#include "ui/LisLook.h"

namespace kyvo {

// ---------------------------------------------------------------------------
// the worker

struct TArchiveAccess::TShared {
    std::mutex Mutex;
    std::condition_variable Wake;
    std::condition_variable Finished;
    std::deque<std::function<void(std::unique_ptr<IArchive>&)>> Jobs;
    bool Stop = false;
    bool Done = false;
};

namespace {

// Runs fn on the thread of the application object, unless the access that
// asked for it is gone by then.
void deliver(std::weak_ptr<bool> alive, std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [alive = std::move(alive), fn = std::move(fn)] {
            if (!alive.expired() && fn) fn();
        },
        Qt::QueuedConnection);
}

}  // namespace

TArchiveAccess::TArchiveAccess(TOpener opener)
    : shared_(std::make_shared<TShared>()), alive_(std::make_shared<bool>(true)) {
    qRegisterMetaType<kyvo::TArchiveFailure>();
    if (!opener) opener = [](const std::string& location) { return OpenArchive(location); };
    jobsOpener_ = std::move(opener);
    thread_ = std::thread([shared = shared_] {
        std::unique_ptr<IArchive> archive;
        for (;;) {
            std::function<void(std::unique_ptr<IArchive>&)> job;
            {
                std::unique_lock lock(shared->Mutex);
                shared->Wake.wait(lock, [&] { return shared->Stop || !shared->Jobs.empty(); });
                if (shared->Stop) break;
                job = std::move(shared->Jobs.front());
                shared->Jobs.pop_front();
            }
            job(archive);
        }
        archive.reset();
        std::lock_guard lock(shared->Mutex);
        shared->Done = true;
        shared->Finished.notify_all();
    });
}

TArchiveAccess::~TArchiveAccess() {
    alive_.reset();
    std::unique_lock lock(shared_->Mutex);
    shared_->Stop = true;
    shared_->Jobs.clear();
    shared_->Wake.notify_all();
    const bool done =
        shared_->Finished.wait_for(lock, std::chrono::seconds(2), [&] { return shared_->Done; });
    lock.unlock();
    if (done)
        thread_.join();
    else
        thread_.detach();
}

void TArchiveAccess::PostRaw(std::function<void(std::unique_ptr<IArchive>&)> work,
                             std::function<void()> done,
                             std::function<void(const TArchiveFailure&)> failed,
                             std::function<bool()> stale) {
    auto job = [work = std::move(work), done = std::move(done), failed = std::move(failed),
                stale = std::move(stale),
                alive = std::weak_ptr<bool>(alive_)](std::unique_ptr<IArchive>& archive) {
        if (stale && stale()) return;
        std::optional<TArchiveFailure> failure;
        try {
            work(archive);
        } catch (const TArchiveError& e) {
            failure = TArchiveFailure{e.Kind, e.what()};
        } catch (const std::exception& e) {
            failure = TArchiveFailure{EArchiveErrorKind::Failed, e.what()};
        }
        if (failure) {
            if (failed) deliver(alive, [failed, f = *failure] { failed(f); });
        } else {
            deliver(alive, done);
        }
    };
    std::lock_guard lock(shared_->Mutex);
    shared_->Jobs.push_back(std::move(job));
    shared_->Wake.notify_one();
}

void TArchiveAccess::Post(std::function<void(IArchive&)> work, std::function<void()> done,
                          std::function<void(const TArchiveFailure&)> failed,
                          std::function<bool()> stale) {
    PostRaw(
        [work = std::move(work)](std::unique_ptr<IArchive>& archive) {
            if (!archive) throw TArchiveError(EArchiveErrorKind::Unreachable, "no archive is open");
            work(*archive);
        },
        std::move(done), std::move(failed), std::move(stale));
}

void TArchiveAccess::Open(const std::string& location,
                          std::function<void(std::optional<TArchiveFailure>)> done) {
    open_ = false;
    location_ = location;
    const unsigned ticket = ++openTicket_;
    PostRaw(
        [opener = jobsOpener_, location](std::unique_ptr<IArchive>& archive) {
            archive.reset();
            archive = opener(location);
        },
        [this, ticket, done] {
            if (ticket != openTicket_) return;
            open_ = true;
            if (done) done(std::nullopt);
        },
        [this, ticket, done](const TArchiveFailure& f) {
            if (ticket != openTicket_) return;
            if (done) done(f);
        },
        {});
}

// ---------------------------------------------------------------------------
// the model

std::optional<EArchiveSort> ArchiveSortOf(int column) {
    switch (EArchiveColumn(column)) {
        case EArchiveColumn::DateTime:
            return EArchiveSort::DateTime;
        case EArchiveColumn::TestId:
            return EArchiveSort::TestId;
        case EArchiveColumn::TestName:
            return EArchiveSort::TestName;
        case EArchiveColumn::Lot:
            return EArchiveSort::Lot;
        case EArchiveColumn::Device:
            return EArchiveSort::Device;
        case EArchiveColumn::Comment:
            return EArchiveSort::Comment;
        case EArchiveColumn::PatientId:
            return EArchiveSort::PatientId;
        default:
            return std::nullopt;
    }
}

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

}  // namespace

ArchiveTableModel::ArchiveTableModel(TArchiveAccess& access, QObject* parent)
    : QAbstractTableModel(parent), access_(access) {
    filter_.Sort = EArchiveSort::DateTime;
    filter_.Descending = true;
}

ArchiveTableModel::~ArchiveTableModel() = default;

void ArchiveTableModel::setFilter(const TArchiveFilter& filter) {
    TArchiveFilter next = filter;
    next.Sort = filter_.Sort;
    next.Descending = filter_.Descending;
    next.Offset = 0;
    next.Limit = 0;
    filter_ = next;
    startCount(false);
}

void ArchiveTableModel::refresh() {
    startCount(true);
}

void ArchiveTableModel::clear() {
    ++*generation_;
    beginResetModel();
    rows_ = 0;
    total_ = 0;
    counted_ = false;
    pages_.clear();
    pending_.clear();
    endResetModel();
}

void ArchiveTableModel::sort(int column, Qt::SortOrder order) {
    const auto sort = ArchiveSortOf(column);
    if (!sort) return;
    const bool descending = order == Qt::DescendingOrder;
    if (*sort == filter_.Sort && descending == filter_.Descending && counted_) return;
    filter_.Sort = *sort;
    filter_.Descending = descending;
    startCount(false);
}

void ArchiveTableModel::startCount(bool keepRows) {
    const unsigned generation = ++*generation_;
    pending_.clear();
    if (keepRows) {
        for (TPage& p : pages_) p.Fresh = false;
    } else {
        beginResetModel();
        rows_ = 0;
        counted_ = false;
        pages_.clear();
        endResetModel();
    }
    std::weak_ptr<bool> self = self_;
    access_.Run<std::int64_t>(
        [filter = filter_](IArchive& a) { return a.Count(filter); },
        [this, self, generation](std::int64_t total) {
            if (self.expired() || generation != *generation_) return;
            total_ = total;
            counted_ = true;
            const int rows = int(std::clamp<std::int64_t>(total, 0, INT_MAX));
            if (rows > rows_) {
                beginInsertRows({}, rows_, rows - 1);
                rows_ = rows;
                endInsertRows();
            } else if (rows < rows_) {
                beginRemoveRows({}, rows, rows_ - 1);
                rows_ = rows;
                endRemoveRows();
            }
            pages_.remove_if([rows](const TPage& p) { return p.Index * kPageSize >= rows; });
            // Shown rows fetch their fresh page when painted again.
            if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
            emit countArrived(total);
        },
        [this, self, generation](const TArchiveFailure& f) {
            if (self.expired() || generation != *generation_) return;
            emit failed(f);
        },
        [g = generation_, generation] { return *g != generation; });
}

const ArchiveTableModel::TPage* ArchiveTableModel::findPage(int page) const {
    for (auto it = pages_.begin(); it != pages_.end(); ++it)
        if (it->Index == page) {
            if (it != pages_.begin()) pages_.splice(pages_.begin(), pages_, it);
            return &pages_.front();
        }
    return nullptr;
}

void ArchiveTableModel::requestPage(int page) const {
    if (!pending_.insert(page).second) return;
    auto* self = const_cast<ArchiveTableModel*>(this);
    const unsigned generation = *generation_;
    const std::uint64_t ticket = ++*pageTickets_;
    std::weak_ptr<bool> alive = self_;
    TArchiveFilter filter = filter_;
    filter.Offset = std::size_t(page) * kPageSize;
    filter.Limit = kPageSize;
    access_.Run<std::optional<std::vector<TArchiveRow>>>(
        [filter, ticket,
         tickets = pageTickets_](IArchive& a) -> std::optional<std::vector<TArchiveRow>> {
            // Pages asked for while the user scrolled on are no longer shown:
            // far into a large archive each costs a while, so they are left
            // out rather than holding up the rows now on screen.
            if (*tickets - ticket >= kKeptPageRequests) return std::nullopt;
            return a.List(filter);
        },
        [self, alive, page, generation](std::optional<std::vector<TArchiveRow>> rows) {
            if (alive.expired()) return;
            if (rows) {
                self->pageLoaded(page, generation, std::move(*rows));
            } else if (generation == *self->generation_) {
                // Painted again if still in sight, which asks anew.
                self->pending_.erase(page);
                const int first = page * kPageSize;
                const int last = std::min(first + kPageSize, self->rows_) - 1;
                if (last >= first)
                    emit self->dataChanged(self->index(first, 0),
                                           self->index(last, self->columnCount() - 1));
            }
        },
        [self, alive, page, generation](const TArchiveFailure& f) {
            if (alive.expired() || generation != *self->generation_) return;
            self->pending_.erase(page);
            emit self->failed(f);
        },
        [g = generation_, generation] { return *g != generation; });
}

void ArchiveTableModel::pageLoaded(int page, unsigned generation, std::vector<TArchiveRow> rows) {
    if (generation != *generation_) return;
    pending_.erase(page);
    pages_.remove_if([page](const TPage& p) { return p.Index == page; });
    const int first = page * kPageSize;
    const int last = std::min(first + int(rows.size()), rows_) - 1;
    pages_.push_front(TPage{page, std::move(rows), true});
    while (pages_.size() > kCachedPages) pages_.pop_back();
    if (last < first) return;
    emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    emit pageArrived(first, last);
}

const TArchiveRow* ArchiveTableModel::rowAt(int row) const {
    if (row < 0 || row >= rows_) return nullptr;
    for (const TPage& p : pages_)
        if (p.Index == row / kPageSize) {
            const std::size_t at = std::size_t(row - p.Index * kPageSize);
            return at < p.Rows.size() ? &p.Rows[at] : nullptr;
        }
    return nullptr;
}

void ArchiveTableModel::setTitles(const QStringList& titles) {
    titles_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int ArchiveTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ArchiveTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(EArchiveColumn::Count_);
}

void ArchiveTableModel::setQcTexts(const TQcFlagTexts& texts,
                                   std::function<QString(const TArchiveRow&)> tip) {
    qcTexts_ = texts;
    qcTip_ = std::move(tip);
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

QString ArchiveTableModel::cellText(const TArchiveRow& row, int column) const {
    switch (EArchiveColumn(column)) {
        case EArchiveColumn::DateTime: {
            // A calendar date in the user's format; the device's number
            // text as it is.
            const QDateTime t = QDateTime::fromString(q(row.DateTime), Qt::ISODate);
            if (!t.isValid()) return q(row.DateTime);
            const QLocale locale;
            return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   t.time().toString(QStringLiteral("HH:mm:ss"));
        }
        case EArchiveColumn::TestId:
            return q(row.TestId);
        case EArchiveColumn::TestName:
            return q(row.TestName);
        case EArchiveColumn::Lot:
            return q(row.LotNr);
        case EArchiveColumn::Device:
            return q(row.DeviceSerial);
        case EArchiveColumn::Comment:
            return q(row.Comment);
        case EArchiveColumn::PatientId:
            return q(row.PatientId);
        case EArchiveColumn::Role:
            return q(QcRoleCellText(row.Role, row.ControlMaterial, qcTexts_));
        case EArchiveColumn::Qc:
            return q(QcFlagCellText(row.QcFailed, qcTexts_));
        case EArchiveColumn::Lis:
            return LisStateText(row.Lis, nullptr);
        case EArchiveColumn::Results:
            return q(row.Results);
        default:
            return QString();
    }
}

QVariant ArchiveTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    const bool lis = index.column() == int(EArchiveColumn::Lis);
    if (!lis && (role == Qt::ForegroundRole || role == Qt::ToolTipRole)) {
        const TArchiveRow* r = rowAt(index.row());
        if (!r || !r->QcFailed || index.column() != int(EArchiveColumn::Qc)) return {};
        if (role == Qt::ForegroundRole) return QColor(0xb0, 0, 0);
        return qcTip_ ? qcTip_(*r) : q(qcTexts_.Failed);
    }
    if (role != Qt::DisplayRole &&
        !(lis && (role == Qt::DecorationRole || role == Qt::ToolTipRole)))
        return {};
    const int page = index.row() / kPageSize;
    const TPage* p = findPage(page);
    if (role != Qt::DisplayRole) {
        const std::size_t at = std::size_t(index.row() - page * kPageSize);
        if (!p || at >= p->Rows.size()) return {};
        const TArchiveRow& r = p->Rows[at];
        if (role == Qt::DecorationRole) {
            const QIcon icon = LisStateIcon(r.Lis);
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        const QString tip = LisStateTip(r.Lis, r.LisReason, r.LisTime, language_);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (!p || !p->Fresh) requestPage(page);
    if (!p) return QStringLiteral("…");
    const std::size_t at = std::size_t(index.row() - page * kPageSize);
    if (at >= p->Rows.size()) return {};
    if (lis) return LisStateText(p->Rows[at].Lis, language_);
    return cellText(p->Rows[at], index.column());
}

QVariant ArchiveTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section >= 0 && section < titles_.size() ? titles_[section] : QVariant();
}

}  // namespace kyvo
