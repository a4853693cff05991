// "Run this on the main thread and wait for it": how the serial worker
// delivers its notifications so that every handler runs on the main thread
// while the worker is blocked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace kyvo {

// A non-owning reference to a callable; valid while the callable lives. It
// never allocates, so the data path can hand work to the main thread freely.
class MainThreadTask {
  public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, MainThreadTask>)
        MainThreadTask(F&& f)  // NOLINT: implicit on purpose, for lambdas
        : obj_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* o) { (*static_cast<std::remove_reference_t<F>*>(o))(); }) {}
    void operator()() const { call_(obj_); }

  private:
    void* obj_;
    void (*call_)(void*);
};

class IMainThread {
  public:
    virtual ~IMainThread() = default;
    // Runs task on the main thread and returns after it has returned. Called
    // on the main thread itself, runs it directly.
    virtual void runAndWait(MainThreadTask task) = 0;
    // Main thread only: runs the tasks other threads are blocked on now. A
    // main thread that waits for a worker to end calls this in its wait, so
    // a worker blocked in runAndWait can finish.
    virtual void runPending() = 0;
};

// Runs every task at once on the calling thread. For a worker that is
// created suspended and stepped by the main thread itself.
class DirectMainThread final : public IMainThread {
  public:
    void runAndWait(MainThreadTask task) override { task(); }
    void runPending() override {}
};

// Queues tasks from other threads until the main thread (the thread that
// created this object) pumps them with runPending or waitAndRun. `notify`,
// when given, is called (on the queuing thread) after a task was queued, so
// an event loop can schedule a runPending.
class QueuedMainThread final : public IMainThread {
  public:
    explicit QueuedMainThread(std::function<void()> notify = {})
        : mainId_(std::this_thread::get_id()), notify_(std::move(notify)) {}

    void runAndWait(MainThreadTask task) override {
        if (std::this_thread::get_id() == mainId_) {
            task();
            return;
        }
        Node node{task};
        {
            std::unique_lock lock(mutex_);
            *tail_ = &node;
            tail_ = &node.next;
            cv_.notify_all();
        }
        if (notify_) notify_();
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return node.done; });
    }

    void runPending() override {
        for (;;) {
            Node* node = nullptr;
            {
                std::lock_guard lock(mutex_);
                node = head_;
                if (!node) return;
                head_ = node->next;
                if (!head_) tail_ = &head_;
            }
            node->task();
            std::lock_guard lock(mutex_);
            node->done = true;
            cv_.notify_all();
        }
    }

    // Main thread: waits until a task is queued or `timeout` passes, then
    // runs what is queued. True when a task ran.
    template <class Rep, class Period>
    bool waitAndRun(std::chrono::duration<Rep, Period> timeout) {
        {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, timeout, [&] { return head_ != nullptr; })) return false;
        }
        runPending();
        return true;
    }

  private:
    // Lives on the waiting thread's stack, so queuing never allocates.
    struct Node {
        MainThreadTask task;
        Node* next = nullptr;
        bool done = false;
    };

    std::thread::id mainId_;
    std::function<void()> notify_;
    std::mutex mutex_;
    std::condition_variable cv_;
    Node* head_ = nullptr;
    Node** tail_ = &head_;
};

}  // namespace kyvo
