// The LIS sender as a service of the window (and of a sync service): a
// background thread that works the archive's outbox whenever something
// waits (with "Automatic" on) or when asked (SendNow), holding the
// archive's sender lock only while it works, so that another PC's sender
// can take over.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "archive/Archive.h"
#include "files/Settings.h"
#include "lisfeed/LisOutbox.h"

namespace kyvo {

struct TLisServiceStatus {
    TLisCounts Counts;         // as last read from the archive
    bool Configured = false;   // sending is on and the settings can be used
    bool Working = false;      // a round is going on
    bool OtherSender = false;  // another process or PC holds the sender lock
    int FailedAttempts = 0;    // in a row; the next try waits RetryPause of it
    std::string LastError;     // the last failure (LIS, settings or archive); empty after a success
};

class TLisService {
  public:
    TLisService(std::string archiveLocation, TArchiveActor actor);
    ~TLisService();  // stops
    TLisService(const TLisService&) = delete;
    TLisService& operator=(const TLisService&) = delete;

    // Settings for the rounds from now on (a running connection is renewed).
    void Configure(const TLisSendSettings& settings, TextLookup text = {});
    void Start();
    // Ends the thread; a message in flight finishes or times out first.
    void Stop();
    // Works the outbox at once, even with "Automatic" off, and without the
    // pause after a failure.
    void SendNow();
    TLisServiceStatus Status() const;
    // Called on the service's thread whenever the status or an entry's
    // state changed; keep it short (queue it to the window's thread).
    void SetOnChange(std::function<void(const TLisServiceStatus&)> onChange);
    // Each message's outcome, on the service's thread.
    void SetOnSend(TLisSendObserver onSend);

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace kyvo
