// Opening a device into a graph, its registration in the running object table, its event
// thread, the failures of open, and re-opening.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <thread>

#include "fenwyr.h"
#include "frame_log.h"
#include "module_threads.h"
#include "rot_entries.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

// "!FilterGraph XXXXXXXX pid XXXXXXXX": the item moniker's "!" and 33 characters.
bool isGraphName(const std::wstring& name) {
    if (name.size() != 34 || name.compare(0, 13, L"!FilterGraph ") != 0 || name.compare(21, 5, L" pid ") != 0)
        return false;
    for (std::size_t i : {13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 26u, 27u, 28u, 29u, 30u, 31u, 32u, 33u}) {
        if (!std::iswxdigit(name[i]) || std::iswupper(name[i]))
            return false;
    }
    return true;
}

std::size_t eventThreads() {
    return threadsStartedIn(L"fenwyr.dll");
}

// No graph of the process in the running object table and no event thread.
void expectNoGraphLeft() {
    EXPECT_TRUE(filterGraphsOfThisProcess().empty());
    EXPECT_EQ(eventThreads(), 0u);
}

}  // namespace

TEST(CaptureGraph, OpenRegistersTheGraphAndUninitRevokesItAndEndsTheEventThread) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    ComApartment com;
    init();
    EXPECT_EQ(eventThreads(), 0u);

    StdoutCapture out;
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(out.text(), "");
    const auto graphs = filterGraphsOfThisProcess();
    ASSERT_EQ(graphs.size(), 1u);
    EXPECT_TRUE(isGraphName(graphs[0])) << std::string(graphs[0].begin(), graphs[0].end());
    EXPECT_EQ(eventThreads(), 1u);

    uninit();
    expectNoGraphLeft();
    EXPECT_EQ(out.text(), "");
}

TEST(CaptureGraph, FailedJoinIsReportedAndUninitIsClean) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FailJoin")});
    ComApartment com;
    init();
    StdoutCapture out;
    EXPECT_EQ(openDevice(0), 0);
    EXPECT_EQ(out.text(), "Error adding capture filter to graph\n");
    expectNoGraphLeft();
    // Partly built: a graph that was never completed is neither run nor stopped.
    EXPECT_EQ(startCapture(0), E_POINTER);
    EXPECT_EQ(stopCapture(0), E_POINTER);
    uninit();
    EXPECT_EQ(startCapture(0), E_POINTER) << "uninit left graph objects behind";
    EXPECT_EQ(out.text(), "Error adding capture filter to graph\n");
}

TEST(CaptureGraph, DeviceThatFailsToBindAtOpenIsReported) {
    // Passes init's test bind, fails every later one.
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FailLoadAfter", 1)});
    ComApartment com;
    init();
    StdoutCapture out;
    EXPECT_EQ(openDevice(0), 0);
    EXPECT_EQ(out.text(), "Error binding moniker to IBaseFilter\n");
    expectNoGraphLeft();
    EXPECT_EQ(startCapture(0), E_POINTER) << "a graph without its device must not report a run";
    uninit();
    EXPECT_EQ(out.text(), "Error binding moniker to IBaseFilter\n");
}

TEST(CaptureGraph, DeviceWithoutFormatsCannotBeRendered) {
    VcamDevice empty = camera(L"a", L"Alpha");
    empty.formats = std::wstring();
    VcamDevices devices({empty});
    ComApartment com;
    init();
    StdoutCapture out;
    EXPECT_EQ(openDevice(0), 0);
    EXPECT_EQ(out.text(), "Unable to render pin\n");
    expectNoGraphLeft();
    uninit();
    EXPECT_EQ(startCapture(0), E_POINTER);
}

TEST(CaptureGraph, ReopeningReplacesTheGraphRegistrationAndEventThread) {
    VcamDevices devices({camera(L"a", L"Alpha", 5)});
    ComApartment com;
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));

    StdoutCapture out;
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(filterGraphsOfThisProcess().size(), 1u);
    EXPECT_EQ(eventThreads(), 1u);

    // The new graph is built stopped and runs like the first one did.
    setFrameArrivedCallback(0, frameCallback(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(frameLog(0).count(), 0u) << "the old graph still delivers";
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(2));
    EXPECT_EQ(frameLog(0).frames()[0].sequence, 0u);

    uninit();
    expectNoGraphLeft();
}

TEST(CaptureGraph, FailedOpenCanBeRetried) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FailJoin")});
    ComApartment com;
    init();
    StdoutCapture out;
    EXPECT_EQ(openDevice(0), 0);
    EXPECT_EQ(openDevice(0), 0);
    EXPECT_EQ(out.text(), "Error adding capture filter to graph\nError adding capture filter to graph\n");
    expectNoGraphLeft();
    uninit();
}

TEST(CaptureGraph, DevicesOpenSideBySideEachWithItsOwnGraph) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    ComApartment com;
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(openDevice(1), 1);
    const auto graphs = filterGraphsOfThisProcess();
    ASSERT_EQ(graphs.size(), 2u);
    EXPECT_NE(graphs[0], graphs[1]);
    EXPECT_EQ(eventThreads(), 2u);
    uninit();
    expectNoGraphLeft();
}

TEST(CaptureGraph, StartAndStopNeedAnOpenedDevice) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    StdoutCapture out;
    EXPECT_EQ(startCapture(0), E_POINTER);
    EXPECT_EQ(stopCapture(0), E_POINTER);
    EXPECT_EQ(out.text(), "");
    uninit();
}
