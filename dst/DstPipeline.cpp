#include "dst/DstPipeline.h"

#include <chrono>
#include <new>
#include <cstring>
#include <thread>

#include "support/KwPlatform.h"

namespace {

unsigned ProcessorCount() {
    static const unsigned count = [] {
        const unsigned n = KwGetProcessorCount();
        return n < 1 ? 1u : n;
    }();
    return count;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int32_t PriorityValue(KwThreadPriority p) {
    switch (p) {
        case KwThreadPriority::Lowest: return -2;
        case KwThreadPriority::BelowNormal: return -1;
        case KwThreadPriority::Normal: return 0;
        case KwThreadPriority::AboveNormal: return 1;
        case KwThreadPriority::Highest: return 2;
        case KwThreadPriority::TimeCritical: return 15;
    }
    return 0;
}

}  // namespace

// Below the caller, the workers lose the second core to any other busy
// process and decoding on two cores is no faster than on one; at the
// caller's own level they share the processor as the caller does. Only time-
// critical is not passed on: decoding must not hold up the host's audio thread.
KwThreadPriority DstWorkerPriority(KwThreadPriority caller) {
    return caller == KwThreadPriority::TimeCritical ? KwThreadPriority::Highest : caller;
}

// ---------------------------------------------------------------------------
// Worker thread

CDstDecoder::CDecoderThread::CDecoderThread(CDstDecoder* owner) : m_owner(owner) {}

CDstDecoder::CDecoderThread::~CDecoderThread() {
    Stop();
    if (m_state) Release(m_state.get());
}

void CDstDecoder::CDecoderThread::Run() {
    while (!StopRequested()) {
        CFrame* frame = m_owner->TakeWaitingFrame();
        if (!frame) {
            Sleep(10);
            continue;
        }
        Decode(frame);
    }
}

void CDstDecoder::CDecoderThread::Decode(CFrame* frame) {
    if (!m_state && !m_stateFailed) {
        m_state.reset(new (std::nothrow) DstFrameDecoder());
        if (!m_state || Init(m_state.get(), static_cast<int32_t>(m_owner->m_channels),
                             static_cast<int32_t>(m_owner->m_sampleRate)) != 0) {
            if (m_state) Release(m_state.get());
            m_state.reset();
            m_stateFailed = true;
        }
    }
    m_owner->DecodeInto(m_state.get(), m_state != nullptr, frame);
    frame->state.store(CFrame::kDecoded, std::memory_order_release);
    m_owner->FrameDone();
}

void CDstDecoder::FrameDone() {
    {
        std::lock_guard<std::mutex> lock(m_doneMutex);
        ++m_doneEvents;
    }
    m_done.notify_all();
}

// ---------------------------------------------------------------------------
// Pipeline

CDstDecoder::CDstDecoder(uint32_t channels, uint32_t sampleRate)
    : m_channels(channels),
      m_sampleRate(sampleRate),
      m_frameBytes(static_cast<size_t>(sampleRate / 600) * channels) {
    Start(0);
}

CDstDecoder::CDstDecoder(uint32_t channels, uint32_t sampleRate, int32_t threadSetting)
    : m_channels(channels),
      m_sampleRate(sampleRate),
      m_frameBytes(static_cast<size_t>(sampleRate / 600) * channels) {
    Start(threadSetting);
}

uint32_t CDstDecoder::WorkersFor(int32_t setting, unsigned processors) {
    if (setting >= 1) return static_cast<uint32_t>(setting) < kMaxWorkers ? static_cast<uint32_t>(setting) : kMaxWorkers;
    if (processors <= 2) return 2;
    if (processors <= 4) return 3;
    return 4;
}

void CDstDecoder::Start(int32_t threadSetting) {
    const uint32_t count = WorkersFor(threadSetting, ProcessorCount());
    for (uint32_t i = 0; i < count; ++i) {
        auto worker = std::make_unique<CDecoderThread>(this);
        if (!worker->Start(KwThreadPriority::Normal)) continue;
        m_workers.push_back(std::move(worker));
    }
    if (m_workers.empty()) m_inline = std::make_unique<CDecoderThread>(this);
}

CDstDecoder::~CDstDecoder() {
    // Workers finish the frame in hand, then stop; only then are frames freed.
    for (auto& worker : m_workers) worker->Stop();
    m_workers.clear();
    m_inline.reset();
    m_queue.clear();
    m_spare.clear();
}

CDstDecoder::CFrame* CDstDecoder::TakeWaitingFrame() {
    KwLockGuard guard(m_lock);
    for (auto& frame : m_queue) {
        if (frame->state.load(std::memory_order_relaxed) == CFrame::kWaiting) {
            frame->state.store(CFrame::kDecoding, std::memory_order_relaxed);
            return frame.get();
        }
    }
    return nullptr;
}

size_t CDstDecoder::CountFrames(bool includeDecoding) {
    KwLockGuard guard(m_lock);
    size_t n = 0;
    for (auto& frame : m_queue) {
        const uint32_t s = frame->state.load(std::memory_order_acquire);
        if (s == CFrame::kWaiting || (includeDecoding && s == CFrame::kDecoding)) ++n;
    }
    return n;
}

void CDstDecoder::DecodeInto(DstFrameDecoder* state, bool stateReady, CFrame* frame) {
    KwByteBuffer& out = frame->output;
    out.Clear();
    const size_t decoderBytes = stateReady ? static_cast<size_t>(state->bytesPerFrame) : 0;
    const size_t room = (decoderBytes > m_frameBytes ? decoderBytes : m_frameBytes) + 4096;
    try {
        out.Reserve(room);
    } catch (const std::bad_alloc&) {
        return;  // out of memory: the frame delivers nothing, the stream goes on
    }
    std::memset(out.Data(), 0x55, room);
    if (stateReady) {
        const KwByteBuffer& in = frame->input;
        DecodeFrame(state, in.Size() ? in.Data() : nullptr, in.Size(), out.Data());
    }
    // Exactly one frame of output: decoded bytes, or the 0x55 silence the
    // decoder leaves on failure (also when no decoder state could be made).
    out.Resize(m_frameBytes);
}

bool CDstDecoder::SubmitFrame(KwByteBuffer& frame) {
    if (m_inline) {
        // No worker thread: decode right here, in order.
        std::unique_ptr<CFrame> f;
        if (!m_spare.empty()) {
            f = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            f = std::make_unique<CFrame>();
        }
        f->input.Swap(frame);
        f->sequence = m_nextSequence++;
        f->state.store(CFrame::kDecoding, std::memory_order_relaxed);
        m_inline->Decode(f.get());
        KwLockGuard guard(m_lock);
        m_queue.push_back(std::move(f));
        return true;
    }
    while (CountFrames(false) >= kMaxWaitingFrames) SleepMs(10);
    KwLockGuard guard(m_lock);
    std::unique_ptr<CFrame> f;
    if (!m_spare.empty()) {
        f = std::move(m_spare.back());
        m_spare.pop_back();
    } else {
        f = std::make_unique<CFrame>();
    }
    f->state.store(CFrame::kWaiting, std::memory_order_relaxed);
    f->input.Swap(frame);
    f->sequence = m_nextSequence++;
    m_queue.push_back(std::move(f));
    // An idle worker would otherwise notice the frame only when its 10 ms
    // wait ends: every seek (a new decoder) would cost that much.
    for (auto& worker : m_workers) worker->Wake();
    return true;
}

bool CDstDecoder::FetchDecoded(KwByteBuffer& out, bool wait) {
    const KwThreadPriority caller = KwThread::CurrentThreadPriority();
    const int32_t priority = PriorityValue(caller);
    if (priority != m_lastPriority) {
        m_lastPriority = priority;
        const KwThreadPriority workers = DstWorkerPriority(caller);
        for (auto& worker : m_workers) worker->SetPriority(workers);
    }
    // Waiting polls every millisecond, and a worker that finishes a frame
    // ends the wait at once (a flush after every seek would otherwise cost
    // a millisecond or more each time).
    if (wait) {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_doneMutex);
            const uint64_t seen = m_doneEvents;
            if (CountFrames(true) == 0) break;
            m_done.wait_for(lock, std::chrono::milliseconds(1), [&] { return m_doneEvents != seen; });
        }
    }

    KwLockGuard guard(m_lock);
    while (!m_queue.empty() && m_queue.front()->state.load(std::memory_order_acquire) == CFrame::kDecoded) {
        std::unique_ptr<CFrame> f = std::move(m_queue.front());
        m_queue.pop_front();
        const size_t n = f->output.Size();
        if (out.Capacity() - out.Size() < n) {
            const size_t step = n > 16384 ? n : 16384;
            try {
                out.Reserve(out.Size() + step);
            } catch (const std::bad_alloc&) {
                m_spare.push_back(std::move(f));  // the frame's bytes are dropped
                continue;
            }
        }
        out.Append(f->output.Data(), n);
        m_spare.push_back(std::move(f));
    }
    return true;
}
