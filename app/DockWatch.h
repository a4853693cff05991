// When a watched reader is read: as soon as it is plugged in, again after a
// re-read interval while it stays docked, a little later when another
// program holds its port, and after a pause when its read failed (at once
// when it is plugged in again). Pure bookkeeping over the keys and
// fingerprints the caller finds at each look at the ports, on the caller's
// clock, so that the rules can be checked without ports or time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kyvo {

struct TDockPolicy {
    // A docked reader is read again this long after its last good read;
    // 0: only when it is plugged in again.
    std::int64_t RereadMs = 15 * 60 * 1000;
    // A port another program holds is tried again after this long.
    std::int64_t HeldRetryMs = 2000;
    // A read that failed while the reader stayed plugged in is tried again
    // after this long.
    std::int64_t FailedRetryMs = 60 * 1000;
};

enum class EDockEnd : std::uint8_t { Read, Held, Failed };

class TDockWatch {
  public:
    explicit TDockWatch(TDockPolicy policy) : policy_(policy) {}

    // One look at the ports: every reader present now with a fingerprint of
    // its device node (a new one means it was plugged in again, even when
    // the look in between missed its absence). Readers not in present are
    // gone; one being read stays known until its read ends.
    void Look(const std::map<std::string, std::string>& present, std::int64_t nowMs);
    // The readers to read now, in key order; each is marked as being read.
    std::vector<std::string> TakeDue(std::int64_t nowMs);
    // The read of key ended.
    void Ended(const std::string& key, EDockEnd end, std::int64_t nowMs);
    // Readers being read.
    std::size_t Busy() const;

  private:
    struct TReader {
        std::string Fingerprint;
        bool Present = true;
        bool Busy = false;
        bool Replugged = false;  // plugged in again while it was being read
        std::int64_t DueMs = 0;  // read when now reaches it; -1: never
    };
    TDockPolicy policy_;
    std::map<std::string, TReader> readers_;
};

}  // namespace kyvo
