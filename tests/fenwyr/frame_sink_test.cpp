// fenwyr's Frame Sink, the end of the chain for VIDEOINFOHEADER2 formats, as a host reaches it:
// through the device's graph in the running object table.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "rot_entries.h"
#include "test_devices.h"

using Microsoft::WRL::ComPtr;

namespace {

// A capture card whose default format only the sink takes, and one the grabber takes.
const wchar_t kCardFormats[] = L"160x120@30 YUY2 VIH2;160x120@30 RGB24";

ComPtr<IBaseFilter> frameSink() {
    const auto graphs = filterGraphsOfThisProcess();
    return graphs.size() == 1 ? findFilterInGraph(graphs[0], L"Frame Sink") : nullptr;
}

// The references left once the test lets go of the one it kept: 0 when the object is gone.
ULONG letGo(ComPtr<IBaseFilter>& kept) {
    return kept ? kept.Detach()->Release() : ~0u;
}

// Under Wine a test program that faults exits 0: end it with the fault's code instead.
LONG WINAPI endOnFault(EXCEPTION_POINTERS* fault) {
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A card opened through the library, its sink and the sink's pin "In", and the stream ends the
// host was told of.
struct OpenCard {
    explicit OpenCard(const VcamDevice& device) : devices({device}) {
        init();
        setDeviceEventCallback(onEvent, this);
        if (openDevice(0) == 1 && (sink = frameSink()))
            sink->FindPin(L"In", &pin);
    }
    ~OpenCard() {
        pin.Reset();
        sink.Reset();
        setDeviceEventCallback(nullptr, nullptr);
        uninit();
        SetUnhandledExceptionFilter(previousFilter);
    }
    static void onEvent(int32_t, int32_t event, int32_t, void* card) {
        static_cast<OpenCard*>(card)->completions += event == FENWYR_STREAM_COMPLETE;
    }
    bool completed(std::chrono::milliseconds within = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (completions == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return completions > 0;
    }

    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(endOnFault);
    ComApartment com;
    VcamDevices devices;
    ComPtr<IBaseFilter> sink;
    ComPtr<IPin> pin;
    std::atomic<int> completions{0};
};

}  // namespace

// Each sink must be destroyed once the device stops using it: at a change to a format the
// grabber takes, and when the device is opened again or closed.
TEST(FrameSink, NoSinkOutlivesItsUse) {
    const ComApartment com;
    InfoLog log;
    std::vector<ULONG> left;
    ComPtr<IBaseFilter> kept;
    {
        OpenCard card(vcamDevice(L"a", L"Capture Card", kCardFormats));
        ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
        for (int cycle = 0; cycle < 3; ++cycle) {
            ASSERT_EQ(openDevice(0), 1);  // the previous graph goes first
            if (kept)
                left.push_back(letGo(kept));
            ASSERT_TRUE(kept = frameSink());
            ASSERT_TRUE(SUCCEEDED(startCapture(0)) && log.waitFor(log.count() + 2));
            ASSERT_EQ(setFormat(0, 1, 0.0), S_OK);
            left.push_back(letGo(kept));
            ASSERT_EQ(setFormat(0, 0, 0.0), S_OK);
            ASSERT_TRUE((kept = frameSink()) && log.waitFor(log.count() + 2));
        }
    }
    left.push_back(letGo(kept));
    EXPECT_EQ(left, std::vector<ULONG>(6, 0));
}

// What the pin hands out and answers: each interface with its own reference, an empty list of
// preferred types (not a failure), and a Receive that may block, since it runs host code.
TEST(FrameSink, PinCountsWhatItHandsOutListsNoTypesAndMayBlock) {
    OpenCard card(vcamDevice(L"a", L"Capture Card", kCardFormats));
    ASSERT_TRUE(card.pin);
    const auto references = [&] { return card.pin->AddRef(), card.pin->Release(); };
    for (const IID* iid : {&IID_IPin, &IID_IMemInputPin, &IID_IUnknown}) {
        const ULONG before = references();
        ComPtr<IUnknown> given;
        ASSERT_EQ(card.pin->QueryInterface(*iid, &given), S_OK);
        EXPECT_EQ(references(), before + 1) << "interface " << std::hex << iid->Data1;
    }
    ComPtr<IEnumMediaTypes> types;
    ComPtr<IMemInputPin> input;
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 1;
    ASSERT_EQ(card.pin->EnumMediaTypes(&types), S_OK);
    EXPECT_TRUE(types->Next(1, &type, &fetched) == S_FALSE && fetched == 0);
    EXPECT_TRUE(SUCCEEDED(card.pin.As(&input)) && input->ReceiveCanBlock() == S_OK);
}

// The end of a stream reaches the host once the graph runs: sent by the device while running,
// by upstream while paused (told at Run), and never from inside a flush.
TEST(FrameSink, EndOfStreamReachesTheHostOnceRunningButNotFromAFlush) {
    enum When { kFromTheDevice, kWhilePaused, kInsideAFlush };
    for (const When when : {kFromTheDevice, kWhilePaused, kInsideAFlush}) {
        SCOPED_TRACE(when);
        const VcamDevice card = vcamDevice(L"a", L"Capture Card", kCardFormats);
        OpenCard open(when == kFromTheDevice ? withSwitch(card, L"EndOfStreamAfter", 5) : card);
        ASSERT_TRUE(open.pin);
        if (when == kWhilePaused) {
            FILTER_INFO info{};
            ComPtr<IMediaControl> control;
            ASSERT_EQ(open.sink->QueryFilterInfo(&info), S_OK);
            const HRESULT found = info.pGraph->QueryInterface(IID_PPV_ARGS(&control));
            info.pGraph->Release();
            ASSERT_TRUE(SUCCEEDED(found) && SUCCEEDED(control->Pause()));
            open.pin->EndOfStream();
        }
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        if (when == kInsideAFlush) {
            open.pin->BeginFlush();
            open.pin->EndOfStream();
            open.pin->EndFlush();
            // Three passes of the library's event thread.
            EXPECT_FALSE(open.completed(std::chrono::milliseconds(750)));
            open.pin->EndOfStream();
        }
        EXPECT_TRUE(open.completed());
    }
}

// A card that follows its input's resolution: the sample that brings the new type and every
// frame after it are described in it, and it is the current format from then on.
TEST(FrameSink, FramesAfterANewTypeAreDescribedInIt) {
    InfoLog log;
    OpenCard card(withSwitch(vcamDevice(L"a", L"Card", L"320x240@30 YUY2 VIH2;160x120@30 YUY2 VIH2"),
                             L"NewTypeAfter", 3));
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)) && log.waitFor(6) && SUCCEEDED(stopCapture(0)));
    for (size_t i = 0; i < log.infos.size(); ++i) {
        const bool followed = log.deviceSequences[i] >= 3;
        SCOPED_TRACE(testing::Message() << "frame " << log.deviceSequences[i]);
        EXPECT_EQ(log.infos[i].width, followed ? 160 : 320);
        EXPECT_EQ(log.infos[i].height, followed ? 120 : 240);
        EXPECT_EQ(log.infos[i].stride, followed ? 320 : 640);
        EXPECT_EQ(log.infos[i].length, log.infos[i].stride * log.infos[i].height);
    }
    ResolutionInfo* current = getResolution(0);
    EXPECT_TRUE(current && current->width == 160);
    CoTaskMemFree(current);
}
