#include "ui/QtPlatform.h"

#include <QCoreApplication>
#include <QPointer>

namespace kyvo {

namespace {

class QtTimer final : public ITimer {
  public:
    explicit QtTimer(std::function<void()> onTimeout) : callback_(std::move(onTimeout)) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (callback_) callback_();
        });
    }
    void Start(int intervalMs) override { timer_.start(std::max(intervalMs, 0)); }
    void Stop() override { timer_.stop(); }
    bool IsActive() const override { return timer_.isActive(); }
    int Interval() const override { return timer_.interval(); }

  private:
    std::function<void()> callback_;
    QTimer timer_;
};

}  // namespace

std::unique_ptr<ITimer> QtTimerFactory::CreateTimer(std::function<void()> onTimeout) {
    return std::make_unique<QtTimer>(std::move(onTimeout));
}

QtMainThread::QtMainThread() : receiver_(std::make_unique<QObject>()) {
    QPointer<QObject> receiver = receiver_.get();
    queue_ = std::make_unique<QueuedMainThread>([this, receiver] {
        // Called on the worker: ask the main event loop to pump the queue.
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [this] { queue_->runPending(); }, Qt::QueuedConnection);
    });
}

QtMainThread::~QtMainThread() {
    queue_->runPending();
    receiver_.reset();
}

void QtMainThread::runAndWait(MainThreadTask task) {
    queue_->runAndWait(task);
}

void QtMainThread::runPending() {
    queue_->runPending();
}

QtCollation::QtCollation() : folded_(QLocale()), exact_(QLocale()) {
    folded_.setCaseSensitivity(Qt::CaseInsensitive);
    exact_.setCaseSensitivity(Qt::CaseSensitive);
}

int QtCollation::compare(std::string_view a, std::string_view b, bool ignoreCase) const {
    const QString qa = QString::fromUtf8(a.data(), qsizetype(a.size()));
    const QString qb = QString::fromUtf8(b.data(), qsizetype(b.size()));
    const int r = (ignoreCase ? folded_ : exact_).compare(qa, qb);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

QCollatorSortKey QtCollation::sortKey(std::string_view text, bool ignoreCase) const {
    return (ignoreCase ? folded_ : exact_)
        .sortKey(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

}  // namespace kyvo
