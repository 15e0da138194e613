// The capture filter's and the grabber pin's own property dialogs.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fenwyr.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

// Plays the user: waits for the modal dialog with this title and closes it.
class DialogCloser {
public:
    explicit DialogCloser(std::wstring title)
        : title_(std::move(title)), thread_([this] { run(); }) {}
    ~DialogCloser() {
        stop_ = true;
        thread_.join();
    }
    bool closedOne() const { return closed_; }

private:
    void run() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (HWND dialog = FindWindowW(L"#32770", title_.c_str())) {
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                closed_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::wstring title_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> closed_{false};
    std::thread thread_;
};

}  // namespace

TEST(PropertyPages, DeviceNeverOpenedHasNothingToShow) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    StdoutCapture out;
    EXPECT_EQ(showFilterProperties(0), E_POINTER);
    EXPECT_EQ(showCapturePinProperties(0), E_POINTER);
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(PropertyPages, OpenFailedBeforeThePinWasFoundHasNoPinToShow) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FailJoin")});
    init();
    ASSERT_EQ(openDevice(0), 0);
    EXPECT_EQ(showCapturePinProperties(0), E_POINTER);
    uninit();
}

TEST(PropertyPages, FilterPagesAreShownUnderTheFiltersNameInTheGraph) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    DialogCloser user(L"Properties for Video Capture");
    EXPECT_EQ(showFilterProperties(0), S_OK);
    EXPECT_TRUE(user.closedOne()) << "no dialog with the filter's name";
    uninit();
}

TEST(PropertyPages, ObjectWithoutPagesAnswersWithItsQueryInterfaceFailure) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"NoPropertyPages")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    DialogCloser user(L"Properties for Video Capture");
    EXPECT_EQ(showFilterProperties(0), E_NOINTERFACE);
    // The grabber's output pin offers no pages of its own.
    EXPECT_EQ(showCapturePinProperties(0), E_NOINTERFACE);
    uninit();
    EXPECT_FALSE(user.closedOne()) << "a dialog was shown";
}
