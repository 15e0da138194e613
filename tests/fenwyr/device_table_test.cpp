// The device table as a host sees it: what init prints, what listDevices returns, what
// uninit leaves behind, and what an index outside the table does.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

constexpr int kEntries = 64;

std::string nameOf(const DeviceInfo& entry) {
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

// Every byte after the terminating NUL of a filled entry's name is 0.
void expectZeroAfterName(const DeviceInfo& entry) {
    const std::size_t end = strnlen(entry.name, sizeof entry.name);
    ASSERT_LT(end, sizeof entry.name) << "name not terminated";
    for (std::size_t i = end; i < sizeof entry.name; ++i)
        EXPECT_EQ(entry.name[i], 0) << "byte " << i;
}

void expectEmptyEntriesFrom(const DeviceInfo* block, int first) {
    for (int k = first; k < kEntries; ++k) {
        EXPECT_EQ(block[k].index, -1) << "entry " << k;
        EXPECT_EQ(block[k].name[0], 0) << "entry " << k;
    }
}

}  // namespace

TEST(DeviceTable, NoDeviceIsReportedAndEveryEntryIsEmpty) {
    VcamDevices none;
    StdoutCapture out;
    init();
    EXPECT_EQ(out.text(), "No video capture devices detected\n");

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    expectEmptyEntriesFrom(block, 0);
    CoTaskMemFree(block);
    uninit();
}

TEST(DeviceTable, DeviceThatCannotBeBoundIsSkippedAndIndexesStayContiguous) {
    VcamDevices devices({camera(L"a", L"First camera"), withSwitch(camera(L"b", L"Broken camera"), L"FailLoadAfter", 0),
                         camera(L"c", L"Third camera")});
    StdoutCapture out;
    init();
    EXPECT_EQ(out.text(), "Error binding camera, skipping\n");

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0].index, 0);
    EXPECT_EQ(nameOf(block[0]), "First camera");
    EXPECT_EQ(block[1].index, 1);
    EXPECT_EQ(nameOf(block[1]), "Third camera");
    expectZeroAfterName(block[0]);
    expectZeroAfterName(block[1]);
    expectEmptyEntriesFrom(block, 2);
    CoTaskMemFree(block);
    uninit();
}

TEST(DeviceTable, NamesAreInTheAnsiCodePageAndCutToWholeCharactersBelow128Bytes) {
    const std::wstring longName(200, L'x');
    // 126 ASCII characters and then a two-unit character that cannot be split.
    const std::wstring boundaryName = std::wstring(126, L'y') + L"\U0001F600z";
    VcamDevices devices({camera(L"a", L"Cam\u00e9ra \u20ac"), camera(L"b", longName), camera(L"c", boundaryName)});
    init();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    // Code page 1252 in the test prefix: one byte each.
    EXPECT_EQ(nameOf(block[0]), "Cam\xe9ra \x80");
    EXPECT_EQ(nameOf(block[1]), std::string(127, 'x'));
    const std::string cut = nameOf(block[2]);
    EXPECT_LE(cut.size(), 127u);
    EXPECT_EQ(cut.substr(0, 126), std::string(126, 'y'));
    EXPECT_EQ(cut.find('z'), std::string::npos) << "a character after the cut was kept";
    for (int k = 0; k < 3; ++k)
        expectZeroAfterName(block[k]);
    CoTaskMemFree(block);
    uninit();
}

TEST(DeviceTable, SecondInitAppendsTheDevicesAgain) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    init();
    init();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    const char* names[] = {"Alpha", "Beta", "Alpha", "Beta"};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(block[k].index, k);
        EXPECT_EQ(nameOf(block[k]), names[k]);
    }
    expectEmptyEntriesFrom(block, 4);
    CoTaskMemFree(block);
    // The second set is as usable as the first.
    EXPECT_EQ(startCapture(3), E_POINTER);
    EXPECT_EQ(startCapture(4), E_INVALIDARG);
    uninit();
}

// A host that runs init and uninit in cycles (a plugin that is switched off and on) keeps
// its devices, their indexes and their callbacks; only a device new to the table is appended.
TEST(DeviceTable, InitAfterUninitGivesEachDeviceItsRecordBack) {
    VcamDevices devices({camera(L"a", L"Alpha", 0xA), camera(L"b", L"Beta", 0xB)});
    init();
    setFrameArrivedCallback(1, frameCallback(1));
    for (int cycle = 0; cycle < 3; ++cycle) {
        uninit();
        init();
    }
    devices.add(camera(L"c", L"Gamma", 0xC));
    uninit();
    init();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    const char* names[] = {"Alpha", "Beta", "Gamma"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(block[k].index, k);
        EXPECT_EQ(nameOf(block[k]), names[k]);
    }
    expectEmptyEntriesFrom(block, 3);
    CoTaskMemFree(block);

    ASSERT_EQ(openDevice(1), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(1)));
    ASSERT_TRUE(frameLog(1).waitFor(2)) << "the callback set before the cycles was lost";
    stopCapture(1);
    EXPECT_EQ(frameLog(1).frames()[0].tag, 0xBu);
    uninit();

    // A device that went while the library was uninitialised is absent, not closed.
    devices.remove(L"a");
    init();
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_ABSENT);
    EXPECT_EQ(findDevice("Alpha"), -1);
    EXPECT_EQ(getDeviceState(1), FENWYR_STATE_CLOSED);
    uninit();
}

TEST(DeviceTable, MoreThan64DevicesListTheFirst64AndTheRestStayReachable) {
    std::vector<VcamDevice> many;
    for (int i = 0; i < 70; ++i) {
        wchar_t key[8];
        swprintf(key, 8, L"d%02d", i);
        many.push_back(camera(key, std::wstring(L"Camera ") + key));
    }
    VcamDevices devices(many);
    init();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    for (int k = 0; k < kEntries; ++k) {
        char expected[16];
        snprintf(expected, sizeof expected, "Camera d%02d", k);
        EXPECT_EQ(block[k].index, k);
        EXPECT_EQ(nameOf(block[k]), expected);
    }
    CoTaskMemFree(block);
    EXPECT_EQ(stopCapture(69), E_POINTER) << "device 69 is in the table, not open";
    EXPECT_EQ(stopCapture(70), E_INVALIDARG);
    uninit();
}

TEST(DeviceTable, EachListIsANewBlockWithEqualEntries) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    init();
    DeviceInfo* first = listDevices();
    DeviceInfo* second = listDevices();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::memcmp(first, second, 2 * sizeof(DeviceInfo)), 0);
    CoTaskMemFree(first);
    CoTaskMemFree(second);
    uninit();
}

TEST(DeviceTable, AfterUninitTheListKeepsIndexesWithEmptyNames) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    init();
    uninit();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0].index, 0);
    EXPECT_EQ(block[1].index, 1);
    expectZeroAfterName(block[0]);
    expectZeroAfterName(block[1]);
    EXPECT_EQ(block[0].name[0], 0);
    EXPECT_EQ(block[1].name[0], 0);
    expectEmptyEntriesFrom(block, 2);
    CoTaskMemFree(block);
    uninit();
}

// init balances only its own COM initialisation: a host that initialised COM keeps it.
TEST(DeviceTable, UninitLeavesTheHostsComInitialisation) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    init();
    uninit();
    uninit();
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "COM no longer initialised on the host's thread";
    CoUninitialize();
    CoUninitialize();
}

TEST(DeviceTable, UninitUndoesInitsComInitialisation) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    init();
    uninit();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "COM still initialised after uninit";
    CoUninitialize();
}

TEST(DeviceTable, ComInAnotherApartmentIsReportedAndLeftAlone) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    StdoutCapture out;
    init();
    EXPECT_EQ(out.text(), "Error initializing COM\n");
    uninit();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "uninit undid the host's COM";
    CoUninitialize();
    CoUninitialize();

    DeviceInfo* block = listDevices();
    ASSERT_NE(block, nullptr);
    expectEmptyEntriesFrom(block, 0);
    CoTaskMemFree(block);
}
