// Closing a device ends its event thread at once. The thread waits between passes over the
// graph's event queue; closing wakes it, so uninit and a re-open take a few milliseconds. Were
// the wake lost, each would wait out the rest of that pass (up to a second), and nothing else
// would notice.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "fenwyr.h"
#include "test_devices.h"

namespace {

// Far above a close that wakes the thread (a few ms, tens under load), below one that waits out
// the rest of the thread's pass, as long as the close comes early in that pass.
constexpr double kBoundMs = 200.0;

// A moment after an open the new event thread has begun its wait; a close now, without the
// wake, would wait almost a whole pass.
void letTheEventThreadStartWaiting(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

template <typename Call>
double millisecondsOf(Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(Teardown, UninitWithOpenDevicesReturnsAtOnce) {
    VcamDevices devices({camera(L"a", L"Alpha", 1), camera(L"b", L"Beta", 2)});
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(openDevice(1), 1);
    letTheEventThreadStartWaiting(20);
    const double ms = millisecondsOf([] { uninit(); });
    std::printf("uninit with 2 open devices: %.1f ms\n", ms);
    EXPECT_LT(ms, kBoundMs);
}

TEST(Teardown, ReopenReturnsAtOnce) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    init();
    const double open = millisecondsOf([] { ASSERT_EQ(openDevice(0), 1); });
    // Each re-open closes the graph built just before, then builds another as quickly as the open.
    double reopen[3];
    const int pauses[3] = {10, 20, 40};
    for (int i = 0; i < 3; ++i) {
        letTheEventThreadStartWaiting(pauses[i]);
        reopen[i] = millisecondsOf([] { ASSERT_EQ(openDevice(0), 1); });
    }
    uninit();
    std::printf("open: %.1f ms; re-opens: %.1f, %.1f, %.1f ms\n", open, reopen[0], reopen[1], reopen[2]);
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(reopen[i], kBoundMs) << "re-open " << i + 1 << ", " << pauses[i] << " ms after the open before";
}
