#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <condition_variable>
#include <mutex>

// A pin's own thread (started in this DLL, as a driver's would be), with the lock and wake-up its
// loop waits on. A derived pump calls requestExit and join in its destructor, while its members
// are still there.
class PumpThread {
public:
    PumpThread() = default;
    virtual ~PumpThread() = default;
    PumpThread(const PumpThread&) = delete;
    PumpThread& operator=(const PumpThread&) = delete;

    HRESULT start() {
        thread_ = CreateThread(nullptr, 0, threadStart, this, 0, &threadId_);
        return thread_ ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }
    // Asks the thread to end; a delivery blocked in the allocator ends once it is decommitted.
    void requestExit() {
        std::lock_guard<std::mutex> lock(mutex_);
        exiting_ = true;
        wake_.notify_all();
    }
    void join() {
        if (!thread_ || threadId_ == GetCurrentThreadId())
            return;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }

protected:
    virtual void threadMain() = 0;

    // The allocator's next sample and its bytes; waits while every sample is out.
    static HRESULT nextSample(IMemAllocator* allocator, Microsoft::WRL::ComPtr<IMediaSample>& sample, BYTE*& data) {
        const HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        return FAILED(hr) ? hr : sample->GetPointer(&data);
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool exiting_ = false;

private:
    static DWORD WINAPI threadStart(void* pump) {
        static_cast<PumpThread*>(pump)->threadMain();
        return 0;
    }

    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
};
