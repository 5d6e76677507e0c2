// CDstDecoder: decodes a stream of DST frames on worker threads and hands
// the decoded DSD bytes back in submission order.
//
// The owner's reading thread constructs it, submits frames (their buffers are
// exchanged, never copied), collects decoded bytes and destroys it. Each
// worker owns one frame decoder state. Frames are started strictly in
// submission order; delivery stops at the first frame not yet decoded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "dst/DstDecoder.h"
#include "support/KwByteBuffer.h"
#include "support/KwLock.h"
#include "support/KwThread.h"

// Priority of the workers while the collecting thread runs at `caller`: the
// same, except that time-critical becomes highest.
KwThreadPriority DstWorkerPriority(KwThreadPriority caller);

class CDstDecoder {
public:
    // Frames waiting undecoded before SubmitFrame holds the caller back.
    static constexpr size_t kMaxWaitingFrames = 50;
    // Upper bound on the worker count a setting can ask for.
    static constexpr uint32_t kMaxWorkers = 64;

    struct CFrame {
        static constexpr uint32_t kWaiting = 0;
        static constexpr uint32_t kDecoding = 1;
        static constexpr uint32_t kDecoded = 2;

        uint32_t sequence = 0;
        std::atomic<uint32_t> state{kWaiting};
        KwByteBuffer input;
        KwByteBuffer output;
    };

    class CDecoderThread : public KwThread {
    public:
        explicit CDecoderThread(CDstDecoder* owner);
        ~CDecoderThread() override;

    protected:
        void Run() override;

    private:
        friend class CDstDecoder;
        void Decode(CFrame* frame);

        CDstDecoder* m_owner;                      // not owned
        std::unique_ptr<DstFrameDecoder> m_state;  // made on the first frame
        bool m_stateFailed = false;
    };

    // An automatic worker count (as the setting value 0).
    CDstDecoder(uint32_t channels, uint32_t sampleRate);
    // Workers from an explicit setting value (same rules as the setting).
    CDstDecoder(uint32_t channels, uint32_t sampleRate, int32_t threadSetting);
    ~CDstDecoder();
    CDstDecoder(const CDstDecoder&) = delete;
    CDstDecoder& operator=(const CDstDecoder&) = delete;

    // Takes the caller's buffer; the caller gets back an empty or recycled one.
    bool SubmitFrame(KwByteBuffer& frame);
    // Appends every decoded frame at the head of the queue, in order; with
    // `wait`, first waits until every submitted frame is decoded.
    bool FetchDecoded(KwByteBuffer& out, bool wait);

    // Output bytes of one frame: floor(rate / 600) × channels.
    size_t FrameOutputBytes() const { return m_frameBytes; }
    size_t WorkerCount() const { return m_workers.size(); }

    // Worker count for a setting value: 1 or more is used as given (up to
    // kMaxWorkers); below 1 is automatic: 2 up to 2 processors, 3 for 3 or 4,
    // 4 for 5 or more.
    static uint32_t WorkersFor(int32_t setting, unsigned processors);

private:
    // Tests reach the queue lock through this (holding it holds the workers).
    friend struct CDstDecoderTestAccess;

    void Start(int32_t threadSetting);
    CFrame* TakeWaitingFrame();
    size_t CountFrames(bool includeDecoding);
    void DecodeInto(DstFrameDecoder* state, bool stateReady, CFrame* frame);

    const uint32_t m_channels;
    const uint32_t m_sampleRate;
    const size_t m_frameBytes;
    KwCriticalSection m_lock;
    // Signalled by a worker after each decoded frame (ends the owner's wait).
    void FrameDone();
    std::mutex m_doneMutex;
    std::condition_variable m_done;
    uint64_t m_doneEvents = 0;  // under m_doneMutex
    std::vector<std::unique_ptr<CDecoderThread>> m_workers;
    std::deque<std::unique_ptr<CFrame>> m_queue;
    std::vector<std::unique_ptr<CFrame>> m_spare;
    uint32_t m_nextSequence = 0;
    int32_t m_lastPriority = 0x7fffffff;
    // Used only when no worker thread could be started: frames are then
    // decoded on the submitting thread.
    std::unique_ptr<CDecoderThread> m_inline;
};
