#include "frame_pump.h"

#include <algorithm>
#include <chrono>

#include "frame_source.h"

using Microsoft::WRL::ComPtr;

namespace {
constexpr REFERENCE_TIME kDefaultInterval = 333333;  // 30 fps
// How often a running stream looks at the device's presence, and so its longest sleep.
constexpr ULONGLONG kPresencePollMs = 20;
constexpr REFERENCE_TIME kPresencePoll = kPresencePollMs * 10000;

REFERENCE_TIME performanceCounterTime() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<REFERENCE_TIME>(static_cast<double>(counter.QuadPart) * 1e7 /
                                       static_cast<double>(frequency.QuadPart));
}
}  // namespace

FramePump::FramePump(PumpSettings settings)
    : settings_(std::move(settings)),
      pacing_(settings_.geometry.interval > 0 ? settings_.geometry.interval : kDefaultInterval),
      silent_(settings_.absent) {}

FramePump::~FramePump() {
    requestExit();
    join();
}

void FramePump::run(IReferenceClock* clock, REFERENCE_TIME streamStart) {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = clock;
    runStart_ = clock ? streamStart : performanceCounterTime();
    originPending_ = true;
    running_ = true;
    halted_ = false;
    ++generation_;
    wake_.notify_all();
}

void FramePump::pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    ++generation_;
    wake_.notify_all();
}

REFERENCE_TIME FramePump::now(IReferenceClock* clock) const {
    REFERENCE_TIME time = 0;
    if (clock && SUCCEEDED(clock->GetTime(&time)))
        return time;
    return performanceCounterTime();
}

void FramePump::threadMain() {
    // WIC and the objects downstream are used from here.
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        stream();
    } catch (...) {
        settings_.notifier->notifyGraph(EC_ERRORABORT, E_OUTOFMEMORY, 0);
    }
    if (SUCCEEDED(init))
        CoUninitialize();
}

REFERENCE_TIME FramePump::framePeriod() const {
    return std::max(pacing_, settings_.controls ? settings_.controls->exposureTime() : 0);
}

bool FramePump::dropsOnPurpose(uint32_t sequence) const {
    return settings_.dropEvery && (static_cast<uint64_t>(sequence) + 1) % settings_.dropEvery == 0;
}

void FramePump::watchPresence(std::unique_lock<std::mutex>& lock) {
    const ULONGLONG now = GetTickCount64();
    if (!settings_.presence || now - lastPoll_ < kPresencePollMs)
        return;
    lastPoll_ = now;
    frozen_ = settings_.presence->frozen();
    const auto change = settings_.presence->poll();
    if (!change)
        return;
    if (!*change)
        silent_ = true;
    lock.unlock();
    settings_.notifier->notifyGraph(EC_DEVICE_LOST, settings_.identity, *change ? 1 : 0);
    lock.lock();
}

void FramePump::stream() {
    auto source = std::make_unique<FrameSource>(settings_.geometry, settings_.tag, settings_.paint);
    if (FAILED(source->initialize())) {
        std::lock_guard<std::mutex> lock(mutex_);
        lost_ = true;
    }
    uint32_t sequence = 0;

    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return exiting_ || (running_ && !halted_ && !lost_); });
        if (exiting_)
            break;

        const uint64_t generation = generation_;
        ComPtr<IReferenceClock> clock = clock_;
        lock.unlock();
        const REFERENCE_TIME current = now(clock.Get());
        lock.lock();
        if (generation != generation_ || exiting_)
            continue;

        watchPresence(lock);
        if (generation != generation_ || exiting_)
            continue;
        // Unplugged, or present but hung: nothing is sent, and nothing tells the graph.
        if (silent_ || frozen_ || hung_) {
            wake_.wait_for(lock, std::chrono::milliseconds(kPresencePollMs));
            continue;
        }

        // A run resumed after a pause goes on from the stream time it resumes at.
        if (originPending_) {
            nextTime_ = std::max<REFERENCE_TIME>(0, current - runStart_);
            originPending_ = false;
        }
        const REFERENCE_TIME period = framePeriod();
        if (!settings_.unthrottled) {
            // Late by a whole frame or more (downstream was slow): like a camera, drop what
            // could not be delivered instead of sending a burst to catch up.
            const REFERENCE_TIME late = current - runStart_ - nextTime_;
            if (late >= period) {
                const uint64_t missed = static_cast<uint64_t>(late / period);
                nextTime_ += static_cast<REFERENCE_TIME>(missed) * period;
                settings_.counters->dropped(missed);
            }
            const REFERENCE_TIME due = runStart_ + nextTime_;
            if (current < due) {
                const REFERENCE_TIME wait = std::min(due - current, kPresencePoll);
                wake_.wait_for(lock, std::chrono::microseconds((wait + 9) / 10));
                continue;
            }
        }
        const REFERENCE_TIME streamTime = nextTime_;

        bool reportLoss = false;
        if (dropsOnPurpose(sequence)) {
            // Captured and thrown away: its number and its time slot are gone.
            ++sequence;
            nextTime_ += period;
            settings_.counters->dropped(1);
            reportLoss = settings_.frameLimit && sequence >= settings_.frameLimit;
        } else {
            lock.unlock();
            long size = -1;
            const bool newType = followNewType(sequence, source);
            // Unthrottled frames carry no time, so renderers do not hold them back.
            const HRESULT hr = deliver(*source, sequence, settings_.unthrottled ? nullptr : &streamTime, period,
                                       newType ? &settings_.newType.get() : nullptr, &size);
            if (size >= 0)
                settings_.counters->delivered(size);
            lock.lock();
            if (hr == S_OK || hr == S_FALSE) {
                ++sequence;
                if (generation == generation_)
                    nextTime_ += period;
                reportLoss = settings_.frameLimit && sequence >= settings_.frameLimit;
                hung_ = settings_.stallAfter && sequence >= settings_.stallAfter;
            }
            if (hr != S_OK)
                halted_ = true;
        }
        if (settings_.endOfStreamAfter && sequence >= settings_.endOfStreamAfter && !lost_) {
            lost_ = true;
            lock.unlock();
            endStream();
            lock.lock();
        }
        if (reportLoss) {
            lost_ = true;
            lock.unlock();
            settings_.notifier->notifyGraph(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), 0);
            lock.lock();
        }
    }
}

bool FramePump::followNewType(uint32_t sequence, std::unique_ptr<FrameSource>& source) {
    if (!settings_.newTypeAfter || sequence != settings_.newTypeAfter || settings_.newType.empty())
        return false;
    // A card following its input asks downstream first, as a dynamic format change must.
    ComPtr<IPin> downstream;
    const auto geometry = geometryOf(settings_.newType.get());
    if (!geometry || FAILED(settings_.receiver.As(&downstream)) ||
        downstream->QueryAccept(&settings_.newType.get()) != S_OK)
        return false;
    auto followed = std::make_unique<FrameSource>(*geometry, settings_.tag, settings_.paint);
    if (FAILED(followed->initialize()))
        return false;
    source = std::move(followed);
    pacing_ = geometry->interval > 0 ? geometry->interval : kDefaultInterval;
    if (settings_.typeChanged)
        settings_.typeChanged(settings_.newType);
    return true;
}

void FramePump::endStream() {
    ComPtr<IPin> downstream;
    if (SUCCEEDED(settings_.receiver.As(&downstream)))
        downstream->EndOfStream();
}

HRESULT FramePump::deliver(FrameSource& source, uint32_t sequence, const REFERENCE_TIME* streamTime,
                           REFERENCE_TIME period, const AM_MEDIA_TYPE* newType, long* size) {
    ComPtr<IMediaSample> sample;
    BYTE* data = nullptr;
    HRESULT hr = nextSample(settings_.allocator.Get(), sample, data);
    if (FAILED(hr))
        return hr;
    PictureTone tone = settings_.controls ? settings_.controls->tone() : PictureTone();
    if (settings_.card) {
        const InputTint tint = settings_.card->tint();
        tone.channels = {tint.blue, tint.green, tint.red};
    }
    const size_t used = source.fill(sequence, tone, data, static_cast<size_t>(std::max<long>(0, sample->GetSize())));
    if (!used)
        return E_FAIL;
    // Cut short, as a frame a busy bus lost the end of.
    const bool truncated =
        settings_.truncateEvery && (static_cast<uint64_t>(sequence) + 1) % settings_.truncateEvery == 0;
    size_t sent = used;
    if (truncated)
        sent = settings_.truncateBytes ? used - std::min<size_t>(used, settings_.truncateBytes) : used / 2;
    // Packets lost mid-frame: the middle of the scan is gone, the end marker still comes.
    if (settings_.cutScanEvery && (static_cast<uint64_t>(sequence) + 1) % settings_.cutScanEvery == 0)
        sent = cutScan(data, sent);
    sample->SetActualDataLength(static_cast<long>(sent));
    if (streamTime) {
        REFERENCE_TIME start = *streamTime, stop = *streamTime + period;
        sample->SetTime(&start, &stop);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(sequence == 0);
    sample->SetPreroll(FALSE);
    if (newType)
        sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(newType));
    *size = static_cast<long>(used);
    return settings_.receiver->Receive(sample.Get());
}
