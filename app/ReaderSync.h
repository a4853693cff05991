// One docked reader read by itself: connect, identify, an incremental
// stored-data read into the archive, the device button released and the
// line closed as the window closes it. Many of these run side by side on one
// event loop, each with its own link (and so its own worker thread), timers,
// session and measurement list; none ever waits for another, since a session
// only reacts to its own timers and bytes. What they share (the archive,
// the device-memory folder, the language texts) is used on the loop's thread
// only, one handler at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/DeviceSession.h"
#include "app/LinkDeviceLink.h"

namespace kyvo {

// Where a reader is plugged in.
struct TSyncTarget {
    std::string Path;       // the device path (a cable's tty, a --port path)
    std::string UsbSerial;  // a reader cable's USB serial number; empty otherwise
};

// What one reader's run came to.
struct TSyncResult {
    TSyncTarget Target;
    std::string Serial;  // as the reader identified itself; empty when it did not
    // Held by another program (the window): nothing was done, try later.
    bool Held = false;
    // How it failed; none when every stored measurement was read.
    std::optional<EOutcome> Failure;
    std::string Why;               // the first error's text, or what went wrong
    std::size_t Measurements = 0;  // stored in the reader
    std::size_t New = 0;           // new to the archive
    std::size_t Waiting = 0;       // kept back while the archive cannot be reached
    bool ArchiveUnreachable = false;
    std::string ArchiveError;
    std::uint32_t Fetched = 0;    // ring bytes fetched
    std::uint32_t RingBytes = 0;  // what a whole read fetches
};

// What every reader's run shares; all must outlive the runs.
struct TSyncShared {
    IMainThread* MainThread = nullptr;
    ITimerFactory* Timers = nullptr;
    IClock* Clock = nullptr;
    ILanguage* Language = nullptr;
    IMeasurementArchive* Archive = nullptr;  // none: the reads go nowhere but the count
    std::string DeviceMemoryFolder;
    TSessionSettings Settings;
    TLineFormat LineFormat;
    int Baud = 38400;
};

class TReaderSync final : private ISessionEvents {
  public:
    TReaderSync(const TSyncShared& shared, TSyncTarget target);
    ~TReaderSync() override;
    TReaderSync(const TReaderSync&) = delete;
    TReaderSync& operator=(const TReaderSync&) = delete;

    // Opens the port and starts; the rest runs on the loop's timers and the
    // link's notifications.
    void Start();
    // The line is closed and the result final. Destroy the run (from outside
    // its own callbacks) once this holds.
    bool Finished() const { return finished_; }
    const TSyncResult& Result() const { return result_; }
    // The read is over and archived (or failed); only the release of the
    // button and the close are left.
    bool Archived() const { return step_ >= EStep::Closing; }

  private:
    enum class EStep : std::uint8_t { Idle, Connecting, Reading, Closing, Draining, Done };

    void Next();
    void BeginRead();
    void Fail(EOutcome o, const std::string& why);
    void BeginClose();
    void Close();
    void Finish();

    // ISessionEvents
    void Error(const TSessionError& e) override;
    void CloseAllowed() override;
    void StoredDataRead(const TStorageBuildResult& r) override;
    void ArchiveFed(const TArchiveReport& r) override;
    void ActivityEnded(EActivity a, EOutcome o) override;
    void Disconnected() override;
    EAddDecision AskAddOrOverwrite() override { return EAddDecision::Add; }

    TSyncShared shared_;
    TSyncResult result_;
    TMeasureList list_;
    std::unique_ptr<LinkDeviceLink> link_;
    std::unique_ptr<TDeviceSession> session_;
    // Every step runs from this timer, never inside the session's own call
    // into the events.
    std::unique_ptr<ITimer> stepTimer_;
    std::unique_ptr<ITimer> deadline_;
    EStep step_ = EStep::Idle;
    std::optional<EOutcome> connectEnd_, readEnd_;
    bool readData_ = false;
    bool closeAllowed_ = false;
    bool finished_ = false;
};

}  // namespace kyvo
