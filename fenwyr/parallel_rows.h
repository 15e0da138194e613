#pragma once
#include <atomic>
#include <vector>

#include <windows.h>

// Shares the rows of one picture between the thread that converts it and helper threads, one
// fewer than the machine's processors (at most three). The rows go out in bands that each thread
// claims one at a time, so a helper that wakes late only does fewer of them and the caller never
// waits for a helper that has not begun. Helpers start with the first picture worth sharing and
// stop with stopHelpers or the object. One caller at a time (a converter's streaming thread).
class ParallelRows {
public:
    ParallelRows();
    ~ParallelRows();
    ParallelRows(const ParallelRows&) = delete;
    ParallelRows& operator=(const ParallelRows&) = delete;

    // Threads that may work on one picture: the caller and its helpers.
    int lanes() const { return lanes_; }

    // Calls work(first, rows, lane) for bands covering rows [0, height): each band starts at a
    // multiple of `unit` rows; `lane` (below lanes()) is 0 on the caller and a helper's own
    // number on it, so bands of one lane never run at once. Work on fewer than kSharePixels
    // `pixels` stays on the caller. False when any band was. No band runs after the call returns.
    using Work = bool (*)(void* context, int first, int rows, int lane);
    bool run(int height, int unit, size_t pixels, Work work, void* context);

    template <typename F>
    bool run(int height, int unit, size_t pixels, F& work) {
        return run(height, unit, pixels, [](void* context, int first, int rows, int lane) {
            return (*static_cast<F*>(context))(first, rows, lane);
        }, &work);
    }

    // Ends the helpers (the next picture worth sharing starts them again); not during run.
    void stopHelpers();

    // Waking a helper costs 20 to 30 us of CPU (under Wine, on two cores): worth it from about
    // 1024x768 on, where it halves a picture's time for a few per cent more CPU; at 640x480 it
    // would save a quarter of the time for a quarter more CPU.
    static constexpr size_t kSharePixels = 512 * 1024;

private:
    struct Job {
        Work work;
        void* context;
        int height;
        int bandRows;
        int bands;
        std::atomic<int> next{0};
        std::atomic<bool> failed{false};
    };
    // Claims and runs bands until none is left.
    static void claimBands(Job& job, int lane);
    struct Helper {
        ParallelRows* rows;
        int lane;
    };
    static DWORD WINAPI helperLoop(void* parameter);
    void startHelpers();

    const int lanes_;
    std::vector<Helper> helperLanes_;
    std::vector<HANDLE> helpers_;
    bool helpersStarted_ = false;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE jobPosted_ = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE helperLeft_ = CONDITION_VARIABLE_INIT;
    // Guarded by lock_: the job helpers may join, its number, helpers inside it, and the stop.
    Job* job_ = nullptr;
    unsigned long long jobNumber_ = 0;
    int helpersInJob_ = 0;
    bool stopping_ = false;
};
