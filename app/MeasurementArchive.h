// Where finished measurements go besides the list and the result files: the
// measurement archive, seen through what the session needs of it. The
// session runs with or without one; the front ends bind it to the real
// archive (archivefeed/), tests to their own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "testdata/MeasureSet.h"

namespace kyvo {

// Where the measurements handed over came from.
enum class EMeasurementOrigin : std::uint8_t {
    DeviceRead,   // a stored-data read of the device's memory
    Measurement,  // a measurement just taken
};

// The reader they came from; empty fields are unknown.
struct TMeasurementDevice {
    std::string Serial;  // the serial text the device identified itself with
    std::string Firmware;
    std::string EepromVersion;
};

// What became of one hand-over (or of the delivery of what waited).
struct TArchiveReport {
    std::size_t Stored = 0;    // went into the archive now
    std::size_t Added = 0;     // of those, new to the archive
    std::size_t Waiting = 0;   // kept back locally, delivered later
    bool Unreachable = false;  // the archive could not be reached this time
    std::string Error;         // why, in the archive's words
};

class IMeasurementArchive {
  public:
    virtual ~IMeasurementArchive() = default;
    // Hands over measurements; never throws. An archive that cannot be
    // reached keeps them waiting locally: nothing is lost and the caller's
    // own work (list, result files) goes on as without an archive.
    virtual TArchiveReport Keep(const std::vector<const TMeasureSet*>& sets,
                                const TMeasurementDevice& device, EMeasurementOrigin origin) = 0;
    // Tries to deliver what waits.
    virtual TArchiveReport Deliver() = 0;
    // The user's comment on a measurement, when the archive holds it (one
    // it does not hold is left alone: Stored stays 0).
    virtual TArchiveReport SetComment(const std::string& testId, const std::string& comment) = 0;
};

}  // namespace kyvo
