// Growable byte buffer: data, byte count and capacity. It can be emptied
// without freeing, and two buffers exchange their contents in constant time
// (decoded frames travel by exchange, never by copy).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

class KwByteBuffer {
public:
    KwByteBuffer() = default;
    ~KwByteBuffer() { std::free(data_); }
    KwByteBuffer(const KwByteBuffer&) = delete;
    KwByteBuffer& operator=(const KwByteBuffer&) = delete;
    KwByteBuffer(KwByteBuffer&& other) noexcept { Swap(other); }
    KwByteBuffer& operator=(KwByteBuffer&& other) noexcept {
        if (this != &other) {
            Free();
            Swap(other);
        }
        return *this;
    }

    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }

    // Makes room for at least `capacity` bytes, keeping the contents.
    void Reserve(size_t capacity) {
        if (capacity <= capacity_) return;
        size_t grown = capacity_ ? capacity_ : 64;
        while (grown < capacity) grown = grown > SIZE_MAX / 2 ? capacity : grown * 2;
        auto* p = static_cast<uint8_t*>(std::realloc(data_, grown));
        if (!p) throw std::bad_alloc();
        data_ = p;
        capacity_ = grown;
    }
    // Sets the byte count; new bytes are uninitialised.
    void Resize(size_t size) {
        Reserve(size);
        size_ = size;
    }
    void Append(const void* bytes, size_t count) {
        if (!count) return;
        Reserve(size_ + count);
        std::memcpy(data_ + size_, bytes, count);
        size_ += count;
    }
    // Drops the first `count` bytes.
    void Consume(size_t count) {
        if (count >= size_) {
            size_ = 0;
            return;
        }
        std::memmove(data_, data_ + count, size_ - count);
        size_ -= count;
    }
    // Empties the buffer and keeps its memory.
    void Clear() { size_ = 0; }
    // Empties the buffer and frees its memory.
    void Free() {
        std::free(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    void Swap(KwByteBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
