// The host's byte-stream reader. All file bytes reach the plug-in through it.
#pragma once

#include "KwAbi.h"

class IKwReader;

// Told when a reader is destroyed (slot 1).
class IKwReaderObserver {
public:
    virtual void Reserved0() = 0;
    virtual void OnReaderDestroyed(IKwReader* reader) = 0;

protected:
    ~IKwReaderObserver() = default;
};

// Seek origins.
constexpr int32_t kKwSeekBegin = 0;
constexpr int32_t kKwSeekCurrent = 1;
constexpr int32_t kKwSeekEnd = 2;

// Capability asked by the input's abort command.
constexpr int32_t kKwCapabilityAbort = 2;

// Slot numbers, for callers that go through the raw table (tests, foreign hosts).
enum KwReaderSlot : int {
    kReaderSlotDestructor = 0,
    kReaderSlotGetState = 1,
    kReaderSlotOpen = 3,
    kReaderSlotAbort = 4,
    kReaderSlotRead = 5,
    kReaderSlotWrite = 6,
    kReaderSlotGetSize = 7,
    kReaderSlotGetSizeNonNegative = 8,
    kReaderSlotGetPosition = 9,
    kReaderSlotSeek = 10,
    kReaderSlotTruncate = 11,
    kReaderSlotHasCapability = 14,
    kReaderSlotIsOpen = 15,
    kReaderSlotSetOptions = 20,
    kReaderSlotSetOption = 21,
    kReaderSlotGetOption = 22,
    kReaderSlotSetObserver = 27,
};

class IKwReader : public IKwObject {
public:
    virtual int32_t GetState() = 0;                                      // 1
    virtual bool Reserved2() = 0;                                        // 2
    virtual bool Open() = 0;                                             // 3
    virtual void Abort() = 0;                                            // 4
    virtual int32_t Read(void* buffer, int32_t count) = 0;               // 5
    virtual int32_t Write(const void* buffer, int32_t count) = 0;        // 6
    virtual int64_t GetSize() = 0;                                       // 7
    virtual int64_t GetSizeNonNegative() = 0;                            // 8
    virtual int64_t GetPosition() = 0;                                   // 9
    // Returns the new position, or -1 when the seek failed.
    virtual int64_t Seek(int64_t offset, int32_t origin) = 0;            // 10
    // Cuts the file at the current position.
    virtual bool Truncate() = 0;                                         // 11
    virtual bool Reserved12() = 0;                                       // 12
    virtual void Reserved13() = 0;                                       // 13
    virtual bool HasCapability(int32_t capability) = 0;                  // 14
    virtual bool IsOpen() = 0;                                           // 15
    virtual void Reserved16() = 0;                                       // 16
    // Returns a value through the caller's result slot (and that slot).
    virtual void* Reserved17(void* resultSlot) = 0;                      // 17
    virtual void SetReserved18(int32_t value) = 0;                       // 18
    virtual void SetReserved19(int64_t value, int32_t extra) = 0;        // 19
    // "name|value|name|value..."
    virtual void SetOptions(const KwChar* list) = 0;                     // 20
    virtual void SetOption(const KwChar* name, const KwChar* value) = 0; // 21
    // Newly allocated system string (free with KwSysFreeString).
    virtual KwChar* GetOption(const KwChar* name) = 0;                   // 22
    virtual void SetReserved23(uint8_t value) = 0;                       // 23
    virtual int32_t Reserved24() { return 0; }                           // 24
    virtual bool Reserved25() = 0;                                       // 25
    virtual bool Reserved26() = 0;                                       // 26
    virtual void SetObserver(IKwReaderObserver* observer) = 0;           // 27
    // A file loader calls Abort only when this returns false.
    virtual bool Reserved28() = 0;                                       // 28
    virtual bool Reserved29() = 0;                                       // 29
    virtual double Reserved30() = 0;                                     // 30
    virtual int32_t Reserved31() = 0;                                    // 31

protected:
    ~IKwReader() = default;
};
