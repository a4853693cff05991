// The archive as a table the window can scroll through at any size: a
// thread of its own runs every archive call, so that a slow or silent
// server never holds the window, and a model that knows only the row count
// of the present filter and fetches the pages of rows the view paints.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "ui/QcViewModel.h"

namespace kyvo {

// Why an archive call failed, as the window tells the user.
struct TArchiveFailure {
    EArchiveErrorKind Kind = EArchiveErrorKind::Failed;
    std::string Message;
};

// One archive at a time on one worker thread; calls run one after another
// in the order given. Results come back on the thread that owns this object
// (the GUI thread), never after it is gone.
class TArchiveAccess {
  public:
    using TOpener = std::function<std::unique_ptr<IArchive>(const std::string& location)>;
    // opener makes the archive for a location (OpenArchive by default).
    explicit TArchiveAccess(TOpener opener = {});
    // Waits a moment for the running call; a server that still does not
    // answer is left to its own time-out on the detached thread.
    ~TArchiveAccess();
    TArchiveAccess(const TArchiveAccess&) = delete;
    TArchiveAccess& operator=(const TArchiveAccess&) = delete;

    // Closes the present archive and opens the one at location; later calls
    // run on it. done gets nothing on success, else the failure.
    void Open(const std::string& location,
              std::function<void(std::optional<TArchiveFailure>)> done);
    bool IsOpen() const { return open_; }
    const std::string& Location() const { return location_; }

    // Runs job with the archive on the worker; done (or failed, when the job
    // threw or no archive is open) on the owner's thread. A job that finds
    // stale() true when its turn comes is skipped without an answer.
    template <class R>
    void Run(std::function<R(IArchive&)> job, std::function<void(R)> done,
             std::function<void(const TArchiveFailure&)> failed, std::function<bool()> stale = {}) {
        auto result = std::make_shared<std::optional<R>>();
        Post([job = std::move(job), result](IArchive& a) { *result = job(a); },
             [done = std::move(done), result] { done(std::move(**result)); }, std::move(failed),
             std::move(stale));
    }

  private:
    struct TShared;
    void Post(std::function<void(IArchive&)> work, std::function<void()> done,
              std::function<void(const TArchiveFailure&)> failed, std::function<bool()> stale);
    void PostRaw(std::function<void(std::unique_ptr<IArchive>&)> work, std::function<void()> done,
                 std::function<void(const TArchiveFailure&)> failed, std::function<bool()> stale);

    TOpener jobsOpener_;
    unsigned openTicket_ = 0;
    std::shared_ptr<TShared> shared_;
    std::shared_ptr<bool> alive_;
    std::thread thread_;
    bool open_ = false;
    std::string location_;
};

// The columns of the table, with the sort the archive offers for each
// (none for the results).
enum class EArchiveColumn : std::uint8_t {
    DateTime,
    TestId,
    TestName,
    Lot,
    Device,
    Comment,
    PatientId,
    Role,
    Qc,
    Lis,
    Results,
    Count_
};
std::optional<EArchiveSort> ArchiveSortOf(int column);

class ArchiveTableModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kPageSize = 200;
    // Pages kept; the view shows at most two at a time.
    static constexpr std::size_t kCachedPages = 8;
    // Of the page requests waiting for the archive, only the latest are
    // served: those of the rows on screen.
    static constexpr std::uint64_t kKeptPageRequests = 4;

    explicit ArchiveTableModel(TArchiveAccess& access, QObject* parent = nullptr);
    ~ArchiveTableModel() override;

    // A new filter (its Sort, Descending, Offset and Limit are the model's):
    // the rows are counted again and every page is fetched anew.
    void setFilter(const TArchiveFilter& filter);
    const TArchiveFilter& filter() const { return filter_; }
    // Counts and fetches again with the same filter after the archive
    // changed: rows already shown keep their place, their texts are
    // replaced as the fresh pages arrive.
    void refresh();
    // Drops everything shown (another archive was opened).
    void clear();
    void setTitles(const QStringList& titles);
    // The language of the LIS column's words and hover texts.
    void setLanguage(ILanguage* language) { language_ = language; }

    // The row as last fetched; null while its page has not arrived.
    const TArchiveRow* rowAt(int row) const;
    std::int64_t totalCount() const { return total_; }
    bool counted() const { return counted_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // Server-side: the archive sorts, the model fetches again.
    void sort(int column, Qt::SortOrder order) override;

    QString cellText(const TArchiveRow& row, int column) const;
    // The words of the role and QC columns, and the QC flag's tooltip.
    void setQcTexts(const TQcFlagTexts& texts, std::function<QString(const TArchiveRow&)> tip);

  signals:
    // The count of the present filter arrived (after a new filter or a refresh).
    void countArrived(qint64 total);
    // Rows first..last hold the fresh texts of their page.
    void pageArrived(int first, int last);
    void failed(const kyvo::TArchiveFailure& failure);

  private:
    struct TPage {
        int Index = 0;
        std::vector<TArchiveRow> Rows;
        bool Fresh = true;
    };
    void startCount(bool keepRows);
    void requestPage(int page) const;
    void pageLoaded(int page, unsigned generation, std::vector<TArchiveRow> rows);
    const TPage* findPage(int page) const;

    TArchiveAccess& access_;
    ILanguage* language_ = nullptr;
    TArchiveFilter filter_;
    QStringList titles_;
    TQcFlagTexts qcTexts_;
    std::function<QString(const TArchiveRow&)> qcTip_;
    int rows_ = 0;
    std::int64_t total_ = 0;
    bool counted_ = false;
    // Each filter or refresh starts a generation; answers of an older one
    // are dropped.
    std::shared_ptr<std::atomic<unsigned>> generation_ = std::make_shared<std::atomic<unsigned>>(0);
    mutable std::list<TPage> pages_;  // most recently used first
    mutable std::set<int> pending_;
    std::shared_ptr<std::atomic<std::uint64_t>> pageTickets_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    // Answers that arrive after the model is gone are dropped.
    std::shared_ptr<bool> self_ = std::make_shared<bool>(true);
};

}  // namespace kyvo

Q_DECLARE_METATYPE(kyvo::TArchiveFailure)
