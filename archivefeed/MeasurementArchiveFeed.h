// The session's measurement archive over the real one: reads and
// measurements go through TArchiveFeed (spooled while the archive cannot be
// reached), comment edits straight into the archive.
#pragma once

#include <string>

#include "app/MeasurementArchive.h"
#include "archive/Archive.h"
#include "files/ConfigFile.h"

namespace kyvo {

// The archive a program uses: the command line's location (--archive), else
// the user setting "Archive"/"Location" (unless blank), else the default archive.
std::string ChooseArchiveLocation(const std::string& commandLine, const std::string& setting);

class TMeasurementArchiveFeed final : public IMeasurementArchive {
  public:
    // location as OpenArchive takes it; spoolPath where measurements wait
    // while it cannot be reached. With userSettings (which must outlive the
    // feed), each Keep looks at "LIS"/"Send" there: measurements from a
    // device enter the LIS outbox with their store while it is TRUE.
    TMeasurementArchiveFeed(std::string location, std::string spoolPath, TArchiveActor actor,
                            const TConfigFile* userSettings = nullptr);
    ~TMeasurementArchiveFeed() override;

    TArchiveReport Keep(const std::vector<const TMeasureSet*>& sets,
                        const TMeasurementDevice& device, EMeasurementOrigin origin) override;
    TArchiveReport Deliver() override;
    TArchiveReport SetComment(const std::string& testId, const std::string& comment) override;

    const std::string& Location() const { return location_; }

  private:
    // Read at each store: the window's settings may switch sending on or off.
    void QueueForLisAsSet();
    std::string location_;
    TArchiveActor actor_;
    const TConfigFile* userSettings_;
    TArchiveFeed feed_;
};

}  // namespace kyvo
