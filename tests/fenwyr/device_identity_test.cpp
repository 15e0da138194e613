// Which device is which: identities in UTF-8, paths that tell devices of the same name apart,
// finding a device again, and re-scanning for devices that come and go.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fenwyr.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

VcamDevice withPath(VcamDevice device, const std::wstring& path) {
    device.devicePath = path;
    return device;
}

const wchar_t kPath0[] = L"\\\\?\\usb#vid_0c45&pid_6366&mi_00#7&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const wchar_t kPath1[] = L"\\\\?\\usb#vid_0c45&pid_6366&mi_00#7&5e6f7a8b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

std::string narrow(const wchar_t* text) {
    return std::string(text, text + wcslen(text));
}

DeviceIdentity identityOf(int32_t device) {
    DeviceIdentity identity;
    std::memset(&identity, 0x5A, sizeof identity);
    EXPECT_EQ(getDeviceIdentity(device, &identity), S_OK);
    return identity;
}

}  // namespace

TEST(DeviceIdentity, TwoCamerasOfTheSameNameAreToldApartAndFoundByPath) {
    VcamDevices devices({withPath(camera(L"a", L"USB Camera", 1), kPath0), withPath(camera(L"b", L"USB Camera", 2), kPath1),
                         camera(L"c", L"USB Camera", 3)});
    init();
    const DeviceIdentity first = identityOf(0), second = identityOf(1), third = identityOf(2);
    EXPECT_EQ(first.index, 0);
    EXPECT_STREQ(first.name, "USB Camera");
    EXPECT_EQ(first.path, narrow(kPath0));
    EXPECT_EQ(second.path, narrow(kPath1));
    EXPECT_STREQ(third.path, "") << "a device without a path has none";
    EXPECT_EQ(third.index, 2);

    std::string upper = narrow(kPath1);
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(findDevice(upper.c_str()), 1) << "paths compare without ASCII case";
    EXPECT_EQ(findDevice("USB Camera"), 0) << "by name: the lowest index";
    EXPECT_EQ(findDevice("usb camera"), -1) << "names compare exactly";
    EXPECT_EQ(findDevice(""), -1);
    EXPECT_EQ(findDevice(nullptr), -1);

    DeviceIdentity untouched{};
    EXPECT_EQ(getDeviceIdentity(3, &untouched), E_INVALIDARG);
    EXPECT_EQ(getDeviceIdentity(0, nullptr), E_POINTER);
    uninit();
    EXPECT_EQ(identityOf(1).path, narrow(kPath1)) << "identity is kept after uninit";
}

TEST(DeviceIdentity, NamesOutsideTheAnsiCodePageComeThroughInUtf8) {
    const std::wstring name = L"Kamera \u03A9 \u6444\u50CF \U0001F4F7";
    const std::string utf8 = "Kamera \xCE\xA9 \xE6\x91\x84\xE5\x83\x8F \xF0\x9F\x93\xB7";
    VcamDevices devices({camera(L"a", name)});
    init();
    EXPECT_EQ(std::string(identityOf(0).name), utf8);
    EXPECT_EQ(findDevice(utf8.c_str()), 0);
    uninit();
}

TEST(DeviceIdentity, LongNamesAndPathsAreCutBeforeTheCharacterThatWouldNotFit) {
    // Three-byte characters after a prefix: one of them lies across the last byte that fits.
    struct Case {
        const wchar_t* prefix;
        int characters;
        std::size_t nameBytes, pathBytes;
    };
    const Case cases[] = {
        {L"", 100, 255, 0},    // 85 characters end exactly at the name's limit
        {L"x", 100, 253, 0},   // the 85th character would need bytes 253 to 255
        {L"pp", 170, 0, 509},  // the 170th character would need bytes 509 to 511
    };
    std::vector<VcamDevice> list;
    for (const Case& c : cases) {
        std::wstring text = c.prefix;
        for (int i = 0; i < c.characters; ++i)
            text += L"\u6444";
        list.push_back(camera(std::wstring(1, wchar_t(L'a' + list.size())), c.nameBytes ? text : L"Alpha"));
        if (c.pathBytes)
            list.back().devicePath = text;
    }
    VcamDevices devices(list);
    init();
    for (int32_t d = 0; d < int32_t(std::size(cases)); ++d) {
        const Case& c = cases[d];
        const DeviceIdentity identity = identityOf(d);
        const std::string cut = c.nameBytes ? identity.name : identity.path;
        ASSERT_EQ(cut.size(), c.nameBytes + c.pathBytes) << "case " << d;
        for (std::size_t i = wcslen(c.prefix); i < cut.size(); i += 3)
            EXPECT_EQ(cut.compare(i, 3, "\xE6\x91\x84"), 0) << "case " << d << ", byte " << i;
    }
    uninit();
}

TEST(DeviceIdentity, RefreshAppendsOnlyNewDevicesMarksRemovedOnesAbsentAndGivesThemTheirIndexBack) {
    VcamDevices devices({withPath(camera(L"a", L"Alpha"), kPath0), camera(L"b", L"Beta")});
    init();
    StdoutCapture out;
    EXPECT_EQ(refreshDevices(), 0) << "nothing new";

    devices.add(withPath(camera(L"c", L"Gamma"), kPath1));
    EXPECT_EQ(refreshDevices(), 1);
    EXPECT_STREQ(identityOf(2).name, "Gamma");
    EXPECT_EQ(getDeviceState(2), FENWYR_STATE_CLOSED);

    devices.remove(L"a");
    devices.remove(L"b");
    EXPECT_EQ(refreshDevices(), 0);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_ABSENT);
    EXPECT_EQ(getDeviceState(1), FENWYR_STATE_ABSENT);
    EXPECT_EQ(findDevice(narrow(kPath0).c_str()), -1) << "an absent device is not found";
    EXPECT_EQ(findDevice("Beta"), -1);

    // Alpha comes back under a new registration (a reinstalled driver): only its path is the same.
    devices.add(withPath(camera(L"a2", L"Alpha"), kPath0));
    devices.add(camera(L"b", L"Beta"));
    EXPECT_EQ(refreshDevices(), 0) << "returning devices take their old places";
    EXPECT_EQ(findDevice(narrow(kPath0).c_str()), 0);
    EXPECT_EQ(findDevice("Beta"), 1);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_CLOSED);
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STOPPED);
    EXPECT_EQ(getDeviceState(3), FENWYR_STATE_ABSENT);
    EXPECT_EQ(out.text(), "") << "refreshDevices prints nothing";
    uninit();
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_CLOSED);
}

TEST(DeviceIdentity, RefreshLeavesAnOpenDeviceThatWouldRefuseASecondBindPresent) {
    // Binds twice (init's test and the open), then refuses, as a driver in use may.
    VcamDevices devices({withPath(withSwitch(camera(L"a", L"Alpha"), L"FailLoadAfter", 2), kPath0)});
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_EQ(refreshDevices(), 0);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    EXPECT_EQ(findDevice(narrow(kPath0).c_str()), 0);
    stopCapture(0);
    uninit();
}
