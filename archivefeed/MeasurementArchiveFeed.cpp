#include "archivefeed/MeasurementArchiveFeed.h"

#include <exception>

#include "files/Settings.h"

namespace kyvo {

namespace {

TArchiveReport ReportOf(const TFeedOutcome& o) {
    TArchiveReport r;
    r.Stored = o.Stored;
    r.Added = o.Added;
    r.Waiting = o.Spooled;
    // A newer schema or a broken database keeps them waiting as a server
    // that is down does: either way the archive did not take them.
    r.Unreachable = o.Unreachable || !o.Error.empty();
    r.Error = o.Error;
    return r;
}

// Even the spool failed: nothing waits that could be counted.
TArchiveReport Failure(const std::string& why) {
    TArchiveReport r;
    r.Unreachable = true;
    r.Error = why;
    return r;
}

}  // namespace

std::string ChooseArchiveLocation(const std::string& commandLine, const std::string& setting) {
    if (!commandLine.empty()) return commandLine;
    // A setting of blanks names no archive.
    if (setting.find_first_not_of(" \t") != std::string::npos) return setting;
    return DefaultArchiveLocation();
}

TMeasurementArchiveFeed::TMeasurementArchiveFeed(std::string location, std::string spoolPath,
                                                 TArchiveActor actor,
                                                 const TConfigFile* userSettings)
    : location_(location),
      actor_(actor),
      userSettings_(userSettings),
      feed_(std::move(location), std::move(spoolPath), actor) {}

TMeasurementArchiveFeed::~TMeasurementArchiveFeed() = default;

void TMeasurementArchiveFeed::QueueForLisAsSet() {
    if (!userSettings_) return;
    const TLisSendSettings lis = PeekLisSettings(*userSettings_);
    feed_.SetLisQueueing(lis.Send, lis.SendControls);
}

TArchiveReport TMeasurementArchiveFeed::Keep(const std::vector<const TMeasureSet*>& sets,
                                             const TMeasurementDevice& device,
                                             EMeasurementOrigin origin) {
    QueueForLisAsSet();
    try {
        return ReportOf(feed_.Feed(sets, {device.Serial, device.Firmware, device.EepromVersion},
                                   origin == EMeasurementOrigin::DeviceRead
                                       ? EArchiveSource::DeviceRead
                                       : EArchiveSource::Measurement));
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}

TArchiveReport TMeasurementArchiveFeed::Deliver() {
    QueueForLisAsSet();
    try {
        return ReportOf(feed_.Deliver());
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}

TArchiveReport TMeasurementArchiveFeed::SetComment(const std::string& testId,
                                                   const std::string& comment) {
    try {
        return ReportOf(feed_.SetComment(testId, comment));
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}

}  // namespace kyvo
