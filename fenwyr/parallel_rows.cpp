#include "parallel_rows.h"

#include <algorithm>

namespace {

int lanesOfThisMachine() {
    const DWORD processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return static_cast<int>(std::min<DWORD>(std::max<DWORD>(processors, 1), 4));
}

// Bands per lane: small enough that a late helper still takes a share, large enough that
// claiming one costs nothing beside converting it.
constexpr int kBandsPerLane = 4;

}  // namespace

ParallelRows::ParallelRows() : lanes_(lanesOfThisMachine()) {}

ParallelRows::~ParallelRows() {
    stopHelpers();
}

void ParallelRows::stopHelpers() {
    AcquireSRWLockExclusive(&lock_);
    stopping_ = true;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&jobPosted_);
    for (HANDLE helper : helpers_) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    helpers_.clear();
    helperLanes_.clear();
    AcquireSRWLockExclusive(&lock_);
    stopping_ = false;
    ReleaseSRWLockExclusive(&lock_);
    helpersStarted_ = false;
}

void ParallelRows::startHelpers() {
    helperLanes_.reserve(static_cast<size_t>(lanes_));
    helpers_.reserve(static_cast<size_t>(lanes_));
    for (int lane = 1; lane < lanes_; ++lane) {
        helperLanes_.push_back(Helper{this, lane});
        HANDLE helper = CreateThread(nullptr, 0, helperLoop, &helperLanes_.back(), 0, nullptr);
        // Without a helper the caller converts more rows itself.
        if (!helper)
            break;
        helpers_.push_back(helper);
    }
}

void ParallelRows::claimBands(Job& job, int lane) {
    for (int band = job.next++; band < job.bands; band = job.next++) {
        const int first = band * job.bandRows;
        const int rows = std::min(job.bandRows, job.height - first);
        if (!job.failed && !job.work(job.context, first, rows, lane))
            job.failed = true;
    }
}

DWORD WINAPI ParallelRows::helperLoop(void* parameter) {
    const Helper& helper = *static_cast<Helper*>(parameter);
    ParallelRows& self = *helper.rows;
    unsigned long long seen = 0;
    AcquireSRWLockExclusive(&self.lock_);
    for (;;) {
        while (!self.stopping_ && (self.jobNumber_ == seen || !self.job_))
            SleepConditionVariableSRW(&self.jobPosted_, &self.lock_, INFINITE, 0);
        if (self.stopping_)
            break;
        seen = self.jobNumber_;
        Job* job = self.job_;
        ++self.helpersInJob_;
        ReleaseSRWLockExclusive(&self.lock_);
        claimBands(*job, helper.lane);
        AcquireSRWLockExclusive(&self.lock_);
        if (--self.helpersInJob_ == 0)
            WakeAllConditionVariable(&self.helperLeft_);
    }
    ReleaseSRWLockExclusive(&self.lock_);
    return 0;
}

bool ParallelRows::run(int height, int unit, size_t pixels, Work work, void* context) {
    if (height <= 0 || unit <= 0)
        return true;
    if (lanes_ == 1 || pixels < kSharePixels || height < 2 * unit)
        return work(context, 0, height, 0);
    // Started once: a machine that cannot start them converts on the caller from then on.
    if (!helpersStarted_) {
        helpersStarted_ = true;
        startHelpers();
    }
    if (helpers_.empty())
        return work(context, 0, height, 0);

    const int bands = std::min(lanes_ * kBandsPerLane, height / unit);
    Job job;
    job.work = work;
    job.context = context;
    job.height = height;
    job.bandRows = (height + bands - 1) / bands;
    job.bandRows = (job.bandRows + unit - 1) / unit * unit;
    job.bands = (height + job.bandRows - 1) / job.bandRows;

    AcquireSRWLockExclusive(&lock_);
    job_ = &job;
    ++jobNumber_;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&jobPosted_);

    claimBands(job, 0);

    // Every band is claimed; the job ends once no helper is still inside it.
    AcquireSRWLockExclusive(&lock_);
    job_ = nullptr;
    while (helpersInJob_ > 0)
        SleepConditionVariableSRW(&helperLeft_, &lock_, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock_);
    return !job.failed;
}
