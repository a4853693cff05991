// A fixed-capacity FIFO of bytes shared by one adding and one taking thread.
// The storage is allocated once at construction; adding and taking never
// allocate. Add, Get, the block Read and Clear hold the queue's own lock for
// the whole operation, so a block add or a block read is atomic with respect
// to the other side. The browsing operations (getFirst ... checkCurrent) are
// for inspection only and not safe while another thread adds or takes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/ByteBuffer.h"

namespace kyvo {

class TFastRingBufferByte {
  public:
    TFastRingBufferByte(std::int32_t Size, bool OverwriteAtOverflow);
    // Same capacity, content, indexes and overwrite mode; its own lock.
    TFastRingBufferByte(const TFastRingBufferByte& copyFrom);
    TFastRingBufferByte& operator=(const TFastRingBufferByte&) = delete;

    // Stores one byte. False when the queue is full and does not overwrite.
    bool Add(std::uint8_t Inhalt);
    // Stores the first n bytes in order; false as soon as one is refused,
    // keeping the bytes before it and dropping the rest.
    bool Add(const std::uint8_t* block, std::int32_t n);
    bool Add(const tByteBuffer& buffer);

    // Takes the oldest byte; false when empty.
    bool Get(std::uint8_t& Inhalt);
    // Looks at the oldest byte without taking it; false when empty.
    bool Read(std::uint8_t& Inhalt) const;
    // Takes up to maxRead bytes (all when negative) into rdBuffer, whose
    // length becomes the number taken. True when at least one was taken.
    bool Read(tByteBuffer& rdBuffer, std::int32_t maxRead);
    // Takes up to maxLen bytes into dest without allocating; returns the count.
    std::int32_t Take(std::uint8_t* dest, std::int32_t maxLen);

    // Discards the content; the indexes stay where they are.
    void Clear();
    // Lock-free; may be stale by the time it is used.
    std::int32_t GetCount() const { return Count.load(std::memory_order_acquire); }
    std::int32_t GetMax() const { return Max; }
    bool GetOverWrite() const { return OverWrite; }

    bool getFirst(std::uint8_t& Inhalt);
    bool getLast(std::uint8_t& Inhalt);
    bool getNext(std::uint8_t& Inhalt);
    bool getPrevious(std::uint8_t& Inhalt);
    bool checkCurrent(std::uint8_t& Inhalt) const;

    // Index views for inspection and tests.
    std::int32_t GetFirstIndex() const { return First; }
    std::int32_t GetLastIndex() const { return Last; }

  private:
    bool storeLocked(std::uint8_t b);

    std::int32_t Max;
    std::int32_t First = 0;
    std::int32_t Last = 0;
    std::atomic<std::int32_t> Count{0};
    bool Writing = false;
    bool OverWrite;
    std::int32_t current = 0;
    mutable std::mutex critical;
    std::unique_ptr<std::uint8_t[]> Buffer;
};

}  // namespace kyvo
