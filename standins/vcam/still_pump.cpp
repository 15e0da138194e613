#include "still_pump.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "frame_source.h"

using Microsoft::WRL::ComPtr;

namespace {
// How often a running device looks at its button.
constexpr auto kButtonPoll = std::chrono::milliseconds(20);
}  // namespace

StillPump::StillPump(StillSettings settings) : settings_(std::move(settings)) {}

StillPump::~StillPump() {
    requestExit();
    join();
}

void StillPump::run() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    wake_.notify_all();
}

void StillPump::pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    pending_ = 0;
}

void StillPump::trigger() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
        return;
    ++pending_;
    wake_.notify_all();
}

void StillPump::threadMain() {
    // WIC (MJPG stills) and the objects downstream are used from here.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        auto source = std::make_unique<FrameSource>(settings_.geometry, settings_.tag, settings_.paint);
        const bool painting = SUCCEEDED(source->initialize());
        uint32_t sequence = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!exiting_) {
            wake_.wait_for(lock, kButtonPoll, [this] { return exiting_ || (running_ && pending_ > 0); });
            if (exiting_)
                break;
            if (!running_)
                continue;
            lock.unlock();
            // The button counts only while external triggering is on; a press is taken either way.
            const bool pressed = settings_.presence && settings_.presence->takeButtonPress() && settings_.mode &&
                                 (settings_.mode->load() & VideoControlFlag_ExternalTriggerEnable);
            lock.lock();
            if (pressed)
                ++pending_;
            if (!pending_ || !running_ || exiting_)
                continue;
            --pending_;
            lock.unlock();
            if (painting && deliver(*source, sequence) == S_OK)
                ++sequence;
            lock.lock();
        }
    } catch (...) {
    }
    if (SUCCEEDED(init))
        CoUninitialize();
}

HRESULT StillPump::deliver(FrameSource& source, uint32_t sequence) {
    ComPtr<IMediaSample> sample;
    BYTE* data = nullptr;
    HRESULT hr = nextSample(settings_.allocator.Get(), sample, data);
    if (FAILED(hr))
        return hr;
    const PictureTone tone = settings_.controls ? settings_.controls->tone() : PictureTone();
    const size_t used = source.fill(sequence, tone, data, static_cast<size_t>(std::max<long>(0, sample->GetSize())));
    if (!used)
        return E_FAIL;
    sample->SetActualDataLength(static_cast<long>(used));
    sample->SetTime(nullptr, nullptr);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(TRUE);
    sample->SetPreroll(FALSE);
    return settings_.receiver->Receive(sample.Get());
}
