#include "link/FastRingBufferByte.h"

#include <algorithm>
#include <cstring>

namespace kyvo {

TFastRingBufferByte::TFastRingBufferByte(std::int32_t Size, bool OverwriteAtOverflow)
    : Max(std::max<std::int32_t>(Size, 1)),
      OverWrite(OverwriteAtOverflow),
      Buffer(new std::uint8_t[static_cast<std::size_t>(Max)]()) {}

TFastRingBufferByte::TFastRingBufferByte(const TFastRingBufferByte& copyFrom)
    : Max(copyFrom.Max),
      OverWrite(copyFrom.OverWrite),
      Buffer(new std::uint8_t[static_cast<std::size_t>(Max)]) {
    std::lock_guard lock(copyFrom.critical);
    First = copyFrom.First;
    Last = copyFrom.Last;
    Count.store(copyFrom.Count.load());
    Writing = copyFrom.Writing;
    current = copyFrom.current;
    std::memcpy(Buffer.get(), copyFrom.Buffer.get(), static_cast<std::size_t>(Max));
}

bool TFastRingBufferByte::storeLocked(std::uint8_t b) {
    std::int32_t count = Count.load(std::memory_order_relaxed);
    if (count < Max) {
        Buffer[Last] = b;
        Last = (Last + 1) % Max;
        Count.store(count + 1, std::memory_order_release);
        return true;
    }
    if (!OverWrite) return false;
    Buffer[Last] = b;
    Last = (Last + 1) % Max;
    First = Last;
    return true;
}

bool TFastRingBufferByte::Add(std::uint8_t Inhalt) {
    std::lock_guard lock(critical);
    return storeLocked(Inhalt);
}

bool TFastRingBufferByte::Add(const std::uint8_t* block, std::int32_t n) {
    std::lock_guard lock(critical);
    for (std::int32_t i = 0; i < n; ++i) {
        if (!storeLocked(block[i])) return false;
    }
    return true;
}

bool TFastRingBufferByte::Add(const tByteBuffer& buffer) {
    // A buffer longer than any queue can hold is refused after the queue is
    // full, exactly as a byte-by-byte add would be.
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(buffer.size(), INT32_MAX));
    return Add(buffer.data(), n);
}

bool TFastRingBufferByte::Get(std::uint8_t& Inhalt) {
    std::lock_guard lock(critical);
    std::int32_t count = Count.load(std::memory_order_relaxed);
    if (count == 0) return false;
    Inhalt = Buffer[First];
    First = (First + 1) % Max;
    Count.store(count - 1, std::memory_order_release);
    return true;
}

bool TFastRingBufferByte::Read(std::uint8_t& Inhalt) const {
    // Locked although a peek could do without: an unlocked read of fields the
    // other thread writes would be a data race.
    std::lock_guard lock(critical);
    if (Count.load(std::memory_order_relaxed) == 0) return false;
    Inhalt = Buffer[First];
    return true;
}

std::int32_t TFastRingBufferByte::Take(std::uint8_t* dest, std::int32_t maxLen) {
    std::lock_guard lock(critical);
    std::int32_t count = Count.load(std::memory_order_relaxed);
    std::int32_t n = std::min(count, std::max<std::int32_t>(maxLen, 0));
    std::int32_t done = 0;
    while (done < n) {
        std::int32_t run = std::min(n - done, Max - First);
        std::memcpy(dest + done, Buffer.get() + First, static_cast<std::size_t>(run));
        First = (First + run) % Max;
        done += run;
    }
    Count.store(count - n, std::memory_order_release);
    return n;
}

bool TFastRingBufferByte::Read(tByteBuffer& rdBuffer, std::int32_t maxRead) {
    std::lock_guard lock(critical);
    std::int32_t count = Count.load(std::memory_order_relaxed);
    std::int32_t n = maxRead < 0 ? count : std::min(count, maxRead);
    rdBuffer.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        rdBuffer[static_cast<std::size_t>(i)] = Buffer[First];
        First = (First + 1) % Max;
    }
    Count.store(count - n, std::memory_order_release);
    return n > 0;
}

void TFastRingBufferByte::Clear() {
    std::lock_guard lock(critical);
    Count.store(0, std::memory_order_release);
    First = Last;
}

bool TFastRingBufferByte::getFirst(std::uint8_t& Inhalt) {
    if (GetCount() == 0) return false;
    current = First;
    Inhalt = Buffer[current];
    return true;
}

bool TFastRingBufferByte::getLast(std::uint8_t& Inhalt) {
    if (GetCount() == 0) return false;
    current = Last == 0 ? Max - 1 : Last - 1;
    Inhalt = Buffer[current];
    return true;
}

bool TFastRingBufferByte::getNext(std::uint8_t& Inhalt) {
    if (GetCount() == 0) return false;
    current = (current + 1) % Max;
    return checkCurrent(Inhalt);
}

bool TFastRingBufferByte::getPrevious(std::uint8_t& Inhalt) {
    if (GetCount() == 0) return false;
    current = current == 0 ? Max - 1 : current - 1;
    return checkCurrent(Inhalt);
}

bool TFastRingBufferByte::checkCurrent(std::uint8_t& Inhalt) const {
    if (GetCount() == 0) return false;
    bool inside =
        First < Last ? (current >= First && current < Last) : (current >= First || current < Last);
    if (!inside) return false;
    Inhalt = Buffer[current];
    return true;
}

}  // namespace kyvo
