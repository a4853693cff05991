// The device housekeeping: the clock poll, setting the clock, formatting.
#include <chrono>

#include "app/DeviceSession.h"
#include "protocol/KyvoWire.h"

namespace kyvo {

namespace {

std::chrono::local_time<std::chrono::milliseconds> LocalTime(const TLocalDateTime& t) {
    using namespace std::chrono;
    const local_days day{year{t.Year} / month{static_cast<unsigned>(t.Month)} /
                         std::chrono::day{static_cast<unsigned>(t.Day)}};
    return day + hours{t.Hour} + minutes{t.Minute} + seconds{t.Second} +
           milliseconds{t.Millisecond};
}

}  // namespace

std::optional<std::string> InvalidClockField(const TLocalDateTime& t) {
    if (const char* field =
            invalidDateTimeField(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second))
        return field;
    return std::nullopt;
}

void TDeviceSession::Timer_KyvoClockTimer() {
    TSessionEntry entry(*this);
    // A clock time not answered busy within a poll's turn was taken.
    if (!busyWait_ && inFlight_ && inFlight_->Command == wcSetDateTime) inFlight_.reset();
    if (!KyvoAcknowledged || ev.ClockPollHeld() || State_.Current != stReady) return;
    if (activity_ == EActivity::None) BeginActivity(EActivity::ReadClock);
    EnterState(stWaitClock);
    Timer_WaitAfterClock->Start(300);
    Request(wcGetDateTime, 0, [this] { Kyvo->getDateTime(); });
}

void TDeviceSession::HandleDateTime(tDateTime dateTime, bool valid) {
    if (State_.Current == stWaitClock && AcceptReply(wcGetDateTime, 0, "clock"))
        EnterState(stReady);
    const TLocalDateTime now = d.Clock->Now();
    TLocalDateTime t = now;
    if (valid) {
        using namespace std::chrono;
        const auto days = floor<std::chrono::days>(dateTime);
        const year_month_day ymd{days};
        const hh_mm_ss<seconds> tod{dateTime - days};
        t = TLocalDateTime{};
        t.Year = static_cast<int>(ymd.year());
        t.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
        t.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
        t.Hour = static_cast<int>(tod.hours().count());
        t.Minute = static_cast<int>(tod.minutes().count());
        t.Second = static_cast<int>(tod.seconds().count());
        lastDeviceClock = t;
    }
    lastDeviceClockValid = valid;
    ev.ClockRead(t, valid, now);
}

void TDeviceSession::SetClock(const TLocalDateTime& t) {
    TSessionEntry entry(*this);
    if (InvalidClockField(t)) {
        ev.ActivityEnded(EActivity::SetClock, EOutcome::Invalid);
        return;
    }
    if (!KyvoAcknowledged || State_.Current != stReady) {
        ev.ActivityEnded(EActivity::SetClock, EOutcome::Busy);
        return;
    }
    TLocalDateTime whole = t;
    whole.Millisecond = 0;
    const tDateTime target = std::chrono::floor<std::chrono::seconds>(LocalTime(whole));
    const auto askedAt = LocalTime(d.Clock->Now());
    // The device takes the time without an answer; the next poll shows it.
    // Sent again after a busy reply, it is later by the time waited.
    Request(wcSetDateTime, 0, [this, target, askedAt] {
        const auto waited =
            std::chrono::round<std::chrono::seconds>(LocalTime(d.Clock->Now()) - askedAt);
        Kyvo->setDateTime(target + waited);
    });
    ev.ActivityEnded(EActivity::SetClock, EOutcome::Done);
}

void TDeviceSession::Format() {
    TSessionEntry entry(*this);
    if (DelayIfClockPending(actFormatDB)) return;
    if (!StartActivity(EActivity::Format, stReady)) return;
    bool yes = false;
    RunPaused([&] { yes = ev.ConfirmFormat(); });
    if (!yes) {
        NoteOutcome(EOutcome::Cancelled);
        return;
    }
    if (!CheckNotBusy(stFormatting)) return;
    Request(wcFormatDB, 0, [this] { Kyvo->FormatDB(false); });
}

}  // namespace kyvo
