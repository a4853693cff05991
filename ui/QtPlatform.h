// Qt behind the small platform interfaces of the layers below: timers,
// "run on the main thread and wait", and the user's collation.
#pragma once

#include <QCollator>
#include <QObject>
#include <QTimer>
#include <memory>

#include "app/Platform.h"
#include "link/MainThread.h"
#include "testdata/Sorting.h"

namespace kyvo {

class QtTimerFactory final : public ITimerFactory {
  public:
    std::unique_ptr<ITimer> CreateTimer(std::function<void()> onTimeout) override;
};

// Tasks of other threads are queued and run from the Qt event loop of the
// main thread; the calling thread waits until its task has run.
class QtMainThread final : public IMainThread {
  public:
    QtMainThread();
    ~QtMainThread() override;
    void runAndWait(MainThreadTask task) override;
    void runPending() override;

  private:
    std::unique_ptr<QObject> receiver_;
    std::unique_ptr<QueuedMainThread> queue_;
};

// The collation of the user's locale; ignoreCase folds case, otherwise
// lower case sorts before upper case as the locale says.
class QtCollation final : public ICollation {
  public:
    QtCollation();
    int compare(std::string_view a, std::string_view b, bool ignoreCase) const override;
    // A key whose comparison gives the same order as compare.
    QCollatorSortKey sortKey(std::string_view text, bool ignoreCase) const;

  private:
    QCollator folded_;
    QCollator exact_;
};

}  // namespace kyvo
