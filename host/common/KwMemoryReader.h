// KwMemoryReader: a read-only reader over bytes held in memory.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "plugin/kwapi/VBaseReader.h"

// A read-only reader over a byte vector; open from construction.
class KwMemoryReader : public VBaseReader {
public:
    explicit KwMemoryReader(std::vector<uint8_t> bytes);
    // Shares bytes with other readers (e.g. several readers of one in-memory copy).
    explicit KwMemoryReader(std::shared_ptr<const std::vector<uint8_t>> bytes);

    bool Open() override;
    void Abort() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t GetSize() override;
    int64_t GetPosition() override;
    int64_t Seek(int64_t offset, int32_t origin) override;
    bool Truncate() override;
    bool HasCapability(int32_t capability) override;

    const std::vector<uint8_t>& Bytes() const { return *bytes_; }

private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    int64_t position_ = 0;
    std::atomic<bool> aborted_{false};
};
