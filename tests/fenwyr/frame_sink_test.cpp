// fenwyr's Frame Sink, the end of the chain for VIDEOINFOHEADER2 formats, as a host can reach it:
// through the device's graph in the running object table.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <mutex>
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

// A fault ends the program with its code: under Wine a crashed test program otherwise exits 0.
class EndOnFault {
public:
    EndOnFault() : previous_(SetUnhandledExceptionFilter(end)) {}
    ~EndOnFault() { SetUnhandledExceptionFilter(previous_); }
    EndOnFault(const EndOnFault&) = delete;
    EndOnFault& operator=(const EndOnFault&) = delete;

private:
    static LONG WINAPI end(EXCEPTION_POINTERS* fault) {
        TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
        return EXCEPTION_EXECUTE_HANDLER;
    }
    LPTOP_LEVEL_EXCEPTION_FILTER previous_;
};

// The references left once the test lets go of the one it kept: 0 when the object is gone.
ULONG letGo(ComPtr<IBaseFilter>& kept) {
    return kept ? kept.Detach()->Release() : ~0u;
}

}  // namespace

// Each sink must be destroyed once the device stops using it: at a change to a format the
// grabber takes, and when the device is opened again or closed.
TEST(FrameSink, NoSinkOutlivesItsUse) {
    const EndOnFault endOnFault;
    VcamDevices devices({vcamDevice(L"a", L"Capture Card", kCardFormats)});
    ComApartment com;
    init();
    InfoLog log;
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
    std::vector<ULONG> left;
    ComPtr<IBaseFilter> kept;
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(openDevice(0), 1);  // the previous graph goes first
        if (kept)
            left.push_back(letGo(kept));
        kept = frameSink();
        ASSERT_TRUE(kept);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        ASSERT_TRUE(log.waitFor(log.count() + 2));
        ASSERT_EQ(setFormat(0, 1, 0.0), S_OK);
        left.push_back(letGo(kept));
        ASSERT_EQ(setFormat(0, 0, 0.0), S_OK);
        kept = frameSink();
        ASSERT_TRUE(log.waitFor(log.count() + 2));
    }
    uninit();
    left.push_back(letGo(kept));
    EXPECT_EQ(left, std::vector<ULONG>(6, 0));
}

// Every interface the sink hands out carries its own reference: with one missing, the graph's
// last release frees the sink while a pin still holds it.
TEST(FrameSink, QueryInterfaceCountsTheReferenceItGives) {
    const EndOnFault endOnFault;
    VcamDevices devices({vcamDevice(L"a", L"Capture Card", kCardFormats)});
    ComApartment com;
    init();
    ASSERT_EQ(openDevice(0), 1);
    const ComPtr<IBaseFilter> sink = frameSink();
    ASSERT_TRUE(sink);
    ComPtr<IPin> pin;
    ASSERT_EQ(sink->FindPin(L"In", &pin), S_OK);
    const auto references = [](IUnknown* object) {
        object->AddRef();
        return object->Release();
    };
    const struct {
        IUnknown* object;
        const IID& iid;
        const char* name;
    } cases[] = {{pin.Get(), IID_IPin, "In: IPin"},
                 {pin.Get(), IID_IMemInputPin, "In: IMemInputPin"},
                 {pin.Get(), IID_IUnknown, "In: IUnknown"},
                 {sink.Get(), IID_IBaseFilter, "sink: IBaseFilter"},
                 {sink.Get(), IID_IUnknown, "sink: IUnknown"},
                 {sink.Get(), IID_IAMFilterMiscFlags, "sink: IAMFilterMiscFlags"}};
    for (const auto& c : cases) {
        const ULONG before = references(c.object);
        IUnknown* given = nullptr;
        ASSERT_EQ(c.object->QueryInterface(c.iid, reinterpret_cast<void**>(&given)), S_OK) << c.name;
        EXPECT_EQ(references(c.object), before + 1) << c.name;
        given->Release();
    }
    uninit();
}

namespace {

// The device events a host's event callback received.
struct EventLog {
    std::mutex mutex;
    std::vector<int32_t> events;

    static void receive(int32_t, int32_t event, int32_t, void* userData) {
        auto* log = static_cast<EventLog*>(userData);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->events.push_back(event);
    }
    size_t count(int32_t event) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count(events.begin(), events.end(), event));
    }
    // True once `event` came `times` times; false after `timeout`.
    bool waitFor(int32_t event, size_t times, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (count(event) < times && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return count(event) >= times;
    }
};

// Longer than the library's event thread takes to pass an event on (a 250 ms pass).
constexpr std::chrono::milliseconds kEventPasses{750};

}  // namespace

// A capture card whose stream ends with IPin::EndOfStream: the host hears that it ended.
TEST(FrameSink, EndOfStreamReachesTheHost) {
    VcamDevices devices({withSwitch(vcamDevice(L"a", L"Capture Card", kCardFormats), L"EndOfStreamAfter", 5)});
    ComApartment com;
    init();
    EventLog events;
    setDeviceEventCallback(EventLog::receive, &events);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_TRUE(events.waitFor(FENWYR_STREAM_COMPLETE, 1));
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
}

// The end of the stream as upstream signals it to the sink's pin: one that comes while paused is
// told when the graph runs, one inside a flush is dropped with the flushed data.
TEST(FrameSink, EndOfStreamCountsOnceRunningAndNotInsideAFlush) {
    VcamDevices devices({vcamDevice(L"a", L"Capture Card", kCardFormats)});
    ComApartment com;
    init();
    EventLog events;
    setDeviceEventCallback(EventLog::receive, &events);
    for (const bool flushed : {false, true}) {
        SCOPED_TRACE(flushed ? "inside a flush" : "while paused");
        ASSERT_EQ(openDevice(0), 1);
        const ComPtr<IBaseFilter> sink = frameSink();
        ASSERT_TRUE(sink);
        ComPtr<IPin> pin;
        ASSERT_EQ(sink->FindPin(L"In", &pin), S_OK);
        const size_t before = events.count(FENWYR_STREAM_COMPLETE);
        if (flushed) {
            ASSERT_TRUE(SUCCEEDED(startCapture(0)));
            pin->BeginFlush();
            pin->EndOfStream();
            pin->EndFlush();
            EXPECT_FALSE(events.waitFor(FENWYR_STREAM_COMPLETE, before + 1, kEventPasses));
            pin->EndOfStream();  // one outside the flush still counts
        } else {
            FILTER_INFO info{};
            ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
            ComPtr<IMediaControl> control;
            const HRESULT asked = info.pGraph->QueryInterface(IID_PPV_ARGS(&control));
            info.pGraph->Release();
            ASSERT_EQ(asked, S_OK);
            ASSERT_TRUE(SUCCEEDED(control->Pause()));
            pin->EndOfStream();
            ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        }
        EXPECT_TRUE(events.waitFor(FENWYR_STREAM_COMPLETE, before + 1));
        EXPECT_TRUE(SUCCEEDED(stopCapture(0)));
    }
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
}

// The sink's input as a renderer's: no preferred types (an empty list, not a failure), and a
// Receive that may block, since it runs the host's callbacks.
TEST(FrameSink, InputPinListsNoTypesAndMayBlock) {
    VcamDevices devices({vcamDevice(L"a", L"Capture Card", kCardFormats)});
    ComApartment com;
    init();
    ASSERT_EQ(openDevice(0), 1);
    const ComPtr<IBaseFilter> sink = frameSink();
    ASSERT_TRUE(sink);
    ComPtr<IPin> pin;
    ASSERT_EQ(sink->FindPin(L"In", &pin), S_OK);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 1;
    EXPECT_EQ(types->Next(1, &type, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ComPtr<IMemInputPin> input;
    ASSERT_EQ(pin.As(&input), S_OK);
    EXPECT_EQ(input->ReceiveCanBlock(), S_OK);
    uninit();
}

// A card that follows its input's resolution: the sample that brings the new type and every
// frame after it are described in it, and it is the current format from then on.
TEST(FrameSink, FramesAfterANewTypeAreDescribedInIt) {
    VcamDevices devices({withSwitch(
        vcamDevice(L"a", L"Capture Card", L"320x240@30 YUY2 VIH2;160x120@30 YUY2 VIH2"), L"NewTypeAfter", 3)});
    ComApartment com;
    init();
    InfoLog log;
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(log.waitFor(6));
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        for (size_t i = 0; i < log.infos.size(); ++i) {
            const bool followed = log.deviceSequences[i] >= 3;
            SCOPED_TRACE(testing::Message() << "frame " << log.deviceSequences[i]);
            EXPECT_EQ(log.infos[i].width, followed ? 160 : 320);
            EXPECT_EQ(log.infos[i].height, followed ? 120 : 240);
            EXPECT_EQ(log.infos[i].stride, followed ? 320 : 640);
            EXPECT_EQ(log.infos[i].length, log.infos[i].stride * log.infos[i].height);
        }
    }
    ResolutionInfo* current = getResolution(0);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->width, 160);
    CoTaskMemFree(current);
    ASSERT_EQ(setFrameCallbackEx(0, nullptr, nullptr), S_OK);
    uninit();
}
