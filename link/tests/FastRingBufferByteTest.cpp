#include "link/FastRingBufferByte.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kyvo {
namespace {

std::vector<std::uint8_t> drain(TFastRingBufferByte& q) {
    std::vector<std::uint8_t> out;
    std::uint8_t b;
    while (q.Get(b)) out.push_back(b);
    return out;
}

TEST(FastRingBufferByte, fullQueueWithoutOverwriteRefusesTheNewByteAndKeepsTheOld) {
    TFastRingBufferByte q(3, false);
    EXPECT_TRUE(q.Add('A'));
    EXPECT_TRUE(q.Add('B'));
    EXPECT_TRUE(q.Add('C'));
    EXPECT_FALSE(q.Add('D'));
    EXPECT_EQ(q.GetCount(), 3);
    EXPECT_EQ(drain(q), (std::vector<std::uint8_t>{'A', 'B', 'C'}));
    std::uint8_t b = 0;
    EXPECT_FALSE(q.Get(b));
}

TEST(FastRingBufferByte, fullQueueWithOverwriteReplacesTheOldestByte) {
    TFastRingBufferByte q(3, true);
    for (std::uint8_t c : {'A', 'B', 'C', 'D'}) EXPECT_TRUE(q.Add(c));
    EXPECT_EQ(q.GetCount(), 3);
    EXPECT_EQ(drain(q), (std::vector<std::uint8_t>{'B', 'C', 'D'}));
}

TEST(FastRingBufferByte, blockAddStoresWhatFitsAndReportsTheRefusal) {
    TFastRingBufferByte q(5, false);
    q.Add(std::uint8_t{1});
    q.Add(std::uint8_t{2});
    q.Add(std::uint8_t{3});
    const std::uint8_t block[5] = {10, 11, 12, 13, 14};
    EXPECT_FALSE(q.Add(block, 5));
    EXPECT_EQ(drain(q), (std::vector<std::uint8_t>{1, 2, 3, 10, 11}));
    EXPECT_TRUE(q.Add(tByteBuffer{7, 8}));
    EXPECT_EQ(drain(q), (std::vector<std::uint8_t>{7, 8}));
}

TEST(FastRingBufferByte, blockReadTakesAllForNegativeMaxUpToMaxOtherwiseAndNothingForZero) {
    TFastRingBufferByte q(8, false);
    q.Add(tByteBuffer{1, 2, 3, 4});
    tByteBuffer out{9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(q.Read(out, 0));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(q.Read(out, 3));
    EXPECT_EQ(out, (tByteBuffer{1, 2, 3}));
    q.Add(tByteBuffer{5, 6});
    EXPECT_TRUE(q.Read(out, -1));
    EXPECT_EQ(out, (tByteBuffer{4, 5, 6}));
    EXPECT_EQ(q.GetCount(), 0);
    EXPECT_FALSE(q.Read(out, -1));
    EXPECT_TRUE(out.empty());
}

TEST(FastRingBufferByte, readsAndTakesAcrossTheWrapKeepOrder) {
    TFastRingBufferByte q(5, false);
    std::uint8_t next = 0, expect = 0;
    // Rounds of three bytes in and three out move the indexes around the end.
    for (int round = 0; round < 50; ++round) {
        std::uint8_t block[3];
        for (auto& b : block) b = next++;
        ASSERT_TRUE(q.Add(block, 3));
        std::uint8_t out[4];
        ASSERT_EQ(q.Take(out, 2), 2);
        ASSERT_EQ(out[0], expect++);
        ASSERT_EQ(out[1], expect++);
        tByteBuffer rest;
        ASSERT_TRUE(q.Read(rest, 5));
        ASSERT_EQ(rest, tByteBuffer{expect});
        ++expect;
    }
    EXPECT_EQ(q.GetCount(), 0);
}

TEST(FastRingBufferByte, clearKeepsTheIndexesAndTheNextByteGoesWhereTheWritePositionWas) {
    TFastRingBufferByte q(4, false);
    q.Add(tByteBuffer{1, 2});
    ASSERT_EQ(q.GetLastIndex(), 2);
    q.Clear();
    EXPECT_EQ(q.GetCount(), 0);
    EXPECT_EQ(q.GetFirstIndex(), 2);
    EXPECT_EQ(q.GetLastIndex(), 2);
    q.Add(std::uint8_t{42});
    std::uint8_t b = 0;
    EXPECT_TRUE(q.getFirst(b));
    EXPECT_EQ(b, 42);
    EXPECT_EQ(q.GetFirstIndex(), 2);
}

TEST(FastRingBufferByte, browsingWalksOnlyTheStoredRegion) {
    TFastRingBufferByte q(4, false);
    q.Add(tByteBuffer{1, 2, 3, 4});
    std::uint8_t b = 0;
    q.Get(b);
    q.Add(std::uint8_t{5});  // written at index 0: the write position wrapped to 1
    ASSERT_EQ(q.GetLastIndex(), 1);
    EXPECT_TRUE(q.getLast(b));
    EXPECT_EQ(b, 5);
    q.Get(b);
    q.Get(b);  // stored: 4 (index 3), 5 (index 0)
    ASSERT_EQ(q.GetLastIndex(), 1);
    EXPECT_TRUE(q.getFirst(b));
    EXPECT_EQ(b, 4);
    EXPECT_TRUE(q.getNext(b));
    EXPECT_EQ(b, 5);
    EXPECT_FALSE(q.getNext(b));  // index 1 is outside
    EXPECT_TRUE(q.getPrevious(b));
    EXPECT_EQ(b, 5);

    TFastRingBufferByte wrapped(3, false);
    wrapped.Add(tByteBuffer{7, 8, 9});  // the write position wraps to 0
    ASSERT_EQ(wrapped.GetLastIndex(), 0);
    EXPECT_TRUE(wrapped.getLast(b));
    EXPECT_EQ(b, 9);

    TFastRingBufferByte empty(3, false);
    EXPECT_FALSE(empty.getFirst(b));
    EXPECT_FALSE(empty.getLast(b));
    EXPECT_FALSE(empty.getNext(b));
    EXPECT_FALSE(empty.getPrevious(b));
    EXPECT_FALSE(empty.checkCurrent(b));
}

TEST(FastRingBufferByte, peekLeavesTheByteAndCopyIsIndependent) {
    TFastRingBufferByte q(4, true);
    q.Add(tByteBuffer{1, 2, 3});
    std::uint8_t b = 0;
    EXPECT_TRUE(q.Read(b));
    EXPECT_EQ(b, 1);
    EXPECT_EQ(q.GetCount(), 3);
    TFastRingBufferByte copy(q);
    EXPECT_TRUE(copy.GetOverWrite());
    EXPECT_EQ(copy.GetFirstIndex(), q.GetFirstIndex());
    EXPECT_EQ(drain(copy), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(q.GetCount(), 3);
}

TEST(FastRingBufferByte, oneAddingAndOneTakingThreadLoseAndReorderNothing) {
    TFastRingBufferByte q(1024, false);
    constexpr int kTotal = 300000;
    auto value = [](int i) { return static_cast<std::uint8_t>(i * 7 + i / 256); };
    std::thread producer([&] {
        int i = 0;
        std::uint8_t block[64];
        while (i < kTotal) {
            int n = std::min(64, kTotal - i);
            // Only the taker frees room, so room seen now is still there.
            if (q.GetMax() - q.GetCount() >= n) {
                for (int k = 0; k < n; ++k) block[k] = value(i + k);
                ASSERT_TRUE(q.Add(block, n));
                i += n;
            } else if (q.Add(value(i))) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
    });
    int seen = 0;
    bool inOrder = true;
    tByteBuffer chunk;
    while (seen < kTotal) {
        std::uint8_t b;
        if (seen % 3 == 0 && q.Get(b)) {
            inOrder = inOrder && b == value(seen);
            ++seen;
        } else if (q.Read(chunk, 100)) {
            for (std::uint8_t c : chunk) inOrder = inOrder && c == value(seen++);
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(seen, kTotal);
    EXPECT_EQ(q.GetCount(), 0);
}

}  // namespace
}  // namespace kyvo
