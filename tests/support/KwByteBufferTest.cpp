#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "support/KwByteBuffer.h"

TEST(KwByteBuffer, AppendConsumeAndResize) {
    KwByteBuffer buffer;
    EXPECT_TRUE(buffer.Empty());
    EXPECT_EQ(buffer.Data(), nullptr);
    buffer.Append(nullptr, 0);
    EXPECT_EQ(buffer.Capacity(), 0u);
    for (int i = 0; i < 100; ++i) {
        const uint8_t b = static_cast<uint8_t>(i);
        buffer.Append(&b, 1);
    }
    ASSERT_EQ(buffer.Size(), 100u);
    EXPECT_GE(buffer.Capacity(), 100u);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(buffer.Data()[i], i);
    buffer.Consume(10);
    ASSERT_EQ(buffer.Size(), 90u);
    EXPECT_EQ(buffer.Data()[0], 10);
    EXPECT_EQ(buffer.Data()[89], 99);
    buffer.Consume(1000);
    EXPECT_TRUE(buffer.Empty());
    buffer.Resize(5000);
    EXPECT_EQ(buffer.Size(), 5000u);
    EXPECT_GE(buffer.Capacity(), 5000u);
}

TEST(KwByteBuffer, ClearKeepsMemoryAndFreeReleasesIt) {
    KwByteBuffer buffer;
    buffer.Resize(1000);
    const uint8_t* memory = buffer.Data();
    const size_t capacity = buffer.Capacity();
    buffer.Clear();
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_EQ(buffer.Capacity(), capacity);
    EXPECT_EQ(buffer.Data(), memory);
    buffer.Resize(capacity);  // reuses the memory
    EXPECT_EQ(buffer.Data(), memory);
    buffer.Free();
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Capacity(), 0u);
}

TEST(KwByteBuffer, ExchangeSwapsMemoryWithoutCopying) {
    KwByteBuffer a;
    KwByteBuffer b;
    a.Append("decoded frame", 13);
    b.Resize(4096);
    const uint8_t* aMemory = a.Data();
    const uint8_t* bMemory = b.Data();
    const size_t aCapacity = a.Capacity();
    const size_t bCapacity = b.Capacity();
    a.Swap(b);
    EXPECT_EQ(a.Data(), bMemory);
    EXPECT_EQ(b.Data(), aMemory);
    EXPECT_EQ(a.Size(), 4096u);
    EXPECT_EQ(b.Size(), 13u);
    EXPECT_EQ(a.Capacity(), bCapacity);
    EXPECT_EQ(b.Capacity(), aCapacity);
    EXPECT_EQ(std::memcmp(b.Data(), "decoded frame", 13), 0);

    KwByteBuffer moved(std::move(b));
    EXPECT_EQ(moved.Data(), aMemory);
    EXPECT_EQ(b.Data(), nullptr);
    EXPECT_EQ(b.Size(), 0u);
    a = std::move(moved);
    EXPECT_EQ(a.Data(), aMemory);
    EXPECT_EQ(a.Size(), 13u);
    EXPECT_EQ(moved.Data(), nullptr);
}
