#include "lisfeed/LisService.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kyvo {

namespace {

using Clock = std::chrono::steady_clock;

// The longest a service with nothing to do waits for the archive to change
// before it looks at its requests (and at a pause that ended) again; the
// outbox is counted only after a change. And how soon it tries again when
// another sender holds the lock.
constexpr auto kPoll = std::chrono::milliseconds(200);
constexpr auto kOtherSenderPause = std::chrono::seconds(5);
constexpr auto kLook = std::chrono::seconds(1);

}  // namespace

struct TLisService::TImpl {
    std::string Location;
    TArchiveActor Actor;

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    bool StopFlag = false;
    bool SendNowFlag = false;
    bool Reconfigured = false;
    std::optional<TLisSendSettings> Settings;
    TextLookup Text;
    TLisServiceStatus Status;
    std::function<void(const TLisServiceStatus&)> OnChange;
    TLisSendObserver OnSend;
    std::thread Thread;

    void Publish(const std::function<void(TLisServiceStatus&)>& change) {
        TLisServiceStatus copy;
        std::function<void(const TLisServiceStatus&)> cb;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            change(Status);
            copy = Status;
            cb = OnChange;
        }
        if (cb) cb(copy);
    }

    void Run() {
        std::unique_ptr<IArchive> archive;
        std::unique_ptr<lis::TMllpLink> link;
        std::optional<TLisSenderConfig> config;
        bool automatic = false;
        int failed = 0;
        bool waitForPerson = false;  // a TLS failure: only new settings or SendNow go on
        Clock::time_point due = Clock::now();
        Clock::time_point retryAt{};  // no automatic round before
        std::int64_t stamp = -1;      // the archive's change stamp when last counted; -1: none
        bool retryDue = false;
        Clock::time_point lastLook{};
        std::int64_t lastWaiting = 0;
        for (;;) {
            bool now = false;
            bool flagged = false;
            {
                std::unique_lock<std::mutex> lock(Mutex);
                const auto asked = [&] { return StopFlag || SendNowFlag || Reconfigured; };
                // With an archive open, the archive itself is waited on below.
                if (!archive) Wake.wait_until(lock, due, asked);
                flagged = asked();
            }
            if (archive && !flagged) {
                // A change wakes this at once (PostgreSQL: a notification;
                // SQLite: a look every 50 ms); a request within kPoll.
                try {
                    archive->WaitForChange(stamp, static_cast<int>(kPoll.count()));
                } catch (const TArchiveError&) {
                    archive.reset();
                    stamp = -1;
                }
            }
            {
                std::unique_lock<std::mutex> lock(Mutex);
                if (StopFlag) return;
                now = SendNowFlag;
                SendNowFlag = false;
                if (Reconfigured) {
                    Reconfigured = false;
                    config.reset();
                    link.reset();
                    failed = 0;
                    waitForPerson = false;
                    automatic = Settings && Settings->Automatic;
                    if (Settings && Settings->Send) {
                        TLisConfigResult c = MakeLisSenderConfig(*Settings);
                        if (c.Config) {
                            config = std::move(c.Config);
                            config->Text = Text;
                            link = std::make_unique<lis::TMllpLink>(
                                config->Endpoint, config->ConnectTimeout, config->AckTimeout);
                        }
                        Status.LastError = c.Error;
                    } else {
                        Status.LastError.clear();
                    }
                    Status.Configured = config.has_value();
                    // New settings are tried at once, by hand only when asked.
                    now = now || automatic;
                    retryAt = {};
                }
            }
            due = Clock::now() + kPoll;
            try {
                if (!archive) archive = OpenArchive(Location);
                const std::int64_t current = archive->ChangeStamp();
                const bool retryNow = retryDue && Clock::now() >= retryAt;
                if (!now && !retryNow && stamp == current) {
                    // A server's writer that began before another can commit
                    // after it, leaving the stamp as it was: a look at the
                    // outbox itself now and then finds what it queued.
                    if (Clock::now() - lastLook < kLook) continue;
                    lastLook = Clock::now();
                    if (archive->NextLisEntry().has_value() == (lastWaiting > 0)) continue;
                }
                lastLook = Clock::now();
                stamp = current;
                retryDue = false;
                const TLisCounts counts = archive->LisCounts();
                lastWaiting = counts.Waiting;
                Publish([&](TLisServiceStatus& s) { s.Counts = counts; });
                const bool go = now || (automatic && !waitForPerson && Clock::now() >= retryAt);
                if (!config || counts.Waiting == 0 || !go) {
                    // Paused after a failure: looked at again when the pause ends.
                    retryDue = retryDue || (automatic && Clock::now() < retryAt);
                    continue;
                }
            } catch (const TArchiveError& e) {
                archive.reset();
                stamp = -1;
                Publish([&](TLisServiceStatus& s) { s.LastError = e.what(); });
                continue;
            }
            Publish([&](TLisServiceStatus& s) {
                s.Working = true;
                s.OtherSender = false;
            });
            TLisRunPolicy policy;
            policy.MaxFailedAttempts = 1;  // the pause is spent here, without the lock
            const TLisRunResult r =
                RunLisOutbox(*archive, *link, *config, Actor, policy, [&](const TLisSendEvent& e) {
                    TLisSendObserver cb;
                    {
                        std::lock_guard<std::mutex> lock(Mutex);
                        cb = OnSend;
                    }
                    if (cb) cb(e);
                    const bool ok = e.Outcome != ELisSendOutcome::Failed;
                    Publish([&](TLisServiceStatus& s) {
                        s.LastError = ok ? std::string() : e.Reason;
                        if (ok) s.FailedAttempts = 0;
                    });
                });
            // The lock is free during the pause, for another PC's sender.
            if (r.GaveUp) {
                ++failed;
                retryAt = Clock::now() + lis::RetryPause(failed);
            } else if (r.OtherSender) {
                retryAt = Clock::now() + kOtherSenderPause;
            } else if (!r.Error.empty()) {
                if (r.Error.rfind("TLS", 0) == 0)
                    waitForPerson = true;
                else
                    archive.reset();
                retryAt = Clock::now() + lis::RetryPause(std::max(1, failed));
            } else {
                failed = 0;
                retryAt = {};
            }
            retryDue = retryAt != Clock::time_point{};
            TLisCounts counts;
            try {
                if (archive) {
                    stamp = archive->ChangeStamp();
                    counts = archive->LisCounts();
                    lastWaiting = counts.Waiting;
                }
            } catch (const TArchiveError&) {
                archive.reset();
            }
            Publish([&](TLisServiceStatus& s) {
                s.Working = false;
                s.OtherSender = r.OtherSender;
                s.FailedAttempts = failed;
                if (!r.Error.empty()) s.LastError = r.Error;
                if (archive) s.Counts = counts;
            });
        }
    }
};

TLisService::TLisService(std::string archiveLocation, TArchiveActor actor)
    : impl_(std::make_unique<TImpl>()) {
    impl_->Location = std::move(archiveLocation);
    impl_->Actor = std::move(actor);
}

TLisService::~TLisService() {
    Stop();
}

void TLisService::Configure(const TLisSendSettings& settings, TextLookup text) {
    {
        std::lock_guard<std::mutex> lock(impl_->Mutex);
        impl_->Settings = settings;
        impl_->Text = std::move(text);
        impl_->Reconfigured = true;
    }
    impl_->Wake.notify_all();
}

void TLisService::Start() {
    if (impl_->Thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(impl_->Mutex);
        impl_->StopFlag = false;
    }
    impl_->Thread = std::thread([this] { impl_->Run(); });
}

void TLisService::Stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->Mutex);
        impl_->StopFlag = true;
    }
    impl_->Wake.notify_all();
    if (impl_->Thread.joinable()) impl_->Thread.join();
}

void TLisService::SendNow() {
    {
        std::lock_guard<std::mutex> lock(impl_->Mutex);
        impl_->SendNowFlag = true;
    }
    impl_->Wake.notify_all();
}

TLisServiceStatus TLisService::Status() const {
    std::lock_guard<std::mutex> lock(impl_->Mutex);
    return impl_->Status;
}

void TLisService::SetOnChange(std::function<void(const TLisServiceStatus&)> onChange) {
    std::lock_guard<std::mutex> lock(impl_->Mutex);
    impl_->OnChange = std::move(onChange);
}

void TLisService::SetOnSend(TLisSendObserver onSend) {
    std::lock_guard<std::mutex> lock(impl_->Mutex);
    impl_->OnSend = std::move(onSend);
}

}  // namespace kyvo
