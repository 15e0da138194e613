// IAMStreamConfig::SetFormat as a driver does it: reconnects while stopped, refuses while running.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include "fenwyr/guids.h"
#include <wrl/client.h>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

const wchar_t kFormats[] = L"320x240@30 YUY2;160x120@15 RGB24;176x144@30 RGB32 VIH2;64x48@30 MJPG";

ComPtr<IAMStreamConfig> streamConfig(PlatformGraph& graph) {
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(findStreamConfig(graph, config), S_OK);
    return config;
}

AM_MEDIA_TYPE* capability(IAMStreamConfig* config, int index) {
    VIDEO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    return mt;
}

struct Shape {
    GUID subtype;
    LONG width;
    LONG height;
    DWORD imageSize;
};

Shape shapeOf(const AM_MEDIA_TYPE& mt) {
    const BITMAPINFOHEADER* header = bitmapHeaderOf(mt);
    if (!header)
        return {mt.subtype, 0, 0, 0};
    return {mt.subtype, header->biWidth, header->biHeight, header->biSizeImage};
}

Shape grabberInput(PlatformGraph& graph) {
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(graph.grabber()->GetConnectedMediaType(&mt), S_OK);
    Shape shape = shapeOf(mt);
    freeMediaType(mt);
    return shape;
}

Shape grabberOutput(PlatformGraph& graph) {
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(graph.grabberOutput()->ConnectionMediaType(&mt), S_OK);
    Shape shape = shapeOf(mt);
    freeMediaType(mt);
    return shape;
}

}  // namespace

TEST(VcamSetFormat, WhileStoppedTheWholeStreamDownToTheGrabberOutputChanges) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(kFormats), 9, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    EXPECT_EQ(grabberInput(graph).subtype, MEDIASUBTYPE_YUY2);
    ComPtr<IAMStreamConfig> config = streamConfig(graph);
    ASSERT_NE(config, nullptr);

    AM_MEDIA_TYPE* rgb24 = capability(config.Get(), 1);
    ASSERT_NE(rgb24, nullptr);
    ASSERT_EQ(config->SetFormat(rgb24), S_OK);
    deleteMediaType(rgb24);

    for (const Shape& shape : {grabberInput(graph), grabberOutput(graph)}) {
        EXPECT_EQ(shape.subtype, MEDIASUBTYPE_RGB24);
        EXPECT_EQ(shape.width, 160);
        EXPECT_EQ(shape.height, 120);
    }
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(shapeOf(*current).subtype, MEDIASUBTYPE_RGB24);
    deleteMediaType(current);

    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(3, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    for (const auto& frame : log.frames()) {
        EXPECT_EQ(frame.length, 160 * 120 * 3);
        EXPECT_EQ(readStamp(frame.bytes.data()).tag, 9u);
    }

    // Once more, to a format in a VIDEOINFOHEADER2 and back to the first one.
    AM_MEDIA_TYPE* rgb32 = capability(config.Get(), 2);
    ASSERT_EQ(config->SetFormat(rgb32), S_OK);
    deleteMediaType(rgb32);
    EXPECT_EQ(grabberOutput(graph).subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(grabberOutput(graph).width, 176);
    AM_MEDIA_TYPE* yuy2 = capability(config.Get(), 0);
    ASSERT_EQ(config->SetFormat(yuy2), S_OK);
    deleteMediaType(yuy2);
    EXPECT_EQ(grabberOutput(graph).subtype, MEDIASUBTYPE_YUY2);
    log.clear();
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(2, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    EXPECT_EQ(log.frames()[0].length, 320 * 240 * 2);
}

TEST(VcamSetFormat, WhileRunningIsRefusedAndTheStreamGoesOn) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(kFormats), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMStreamConfig> config = streamConfig(graph);
    ASSERT_NE(config, nullptr);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));

    AM_MEDIA_TYPE* rgb24 = capability(config.Get(), 1);
    EXPECT_EQ(config->SetFormat(rgb24), VFW_E_NOT_STOPPED);
    deleteMediaType(rgb24);
    const size_t seen = log.size();
    EXPECT_TRUE(log.waitFor(seen + 3, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    for (const auto& frame : log.frames())
        EXPECT_EQ(frame.length, 320 * 240 * 2);
    EXPECT_EQ(grabberOutput(graph).subtype, MEDIASUBTYPE_YUY2);
}

TEST(VcamSetFormat, BeforeConnectingItChoosesTheFormatTheConnectionUses) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(kFormats), 1, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Camera", &filter), S_OK);
    ComPtr<IPin> pin;
    ASSERT_EQ(filter->FindPin(L"Capture", &pin), S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);

    AM_MEDIA_TYPE* mjpg = capability(config.Get(), 3);
    ASSERT_EQ(config->SetFormat(mjpg), S_OK);
    deleteMediaType(mjpg);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(current->subtype, MEDIASUBTYPE_MJPG);
    deleteMediaType(current);
    // Offered first from now on.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    ASSERT_EQ(types->Next(1, &first, nullptr), S_OK);
    EXPECT_EQ(first->subtype, MEDIASUBTYPE_MJPG);
    deleteMediaType(first);

    // Build the usual graph around the already configured filter.
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder)), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ComPtr<IBaseFilter> grabberFilter, renderer;
    ASSERT_EQ(CoCreateInstance(kSampleGrabberClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter)), S_OK);
    ASSERT_EQ(CoCreateInstance(kNullRendererClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)), S_OK);
    ASSERT_EQ(graph->AddFilter(filter.Get(), L"Video Capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter.Get(), L"Sample Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Null Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter.Get(), grabberFilter.Get(),
                                    renderer.Get()),
              S_OK);
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(grabberFilter.As(&grabber), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_MJPG);
    EXPECT_EQ(bitmapHeaderOf(connected)->biWidth, 64);
    freeMediaType(connected);
}

TEST(VcamSetFormat, FormatsTheDeviceDoesNotHaveAreRefused) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(kFormats), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMStreamConfig> config = streamConfig(graph);
    ASSERT_NE(config, nullptr);
    AM_MEDIA_TYPE* odd = capability(config.Get(), 1);
    ASSERT_NE(odd, nullptr);
    reinterpret_cast<VIDEOINFOHEADER*>(odd->pbFormat)->bmiHeader.biWidth = 333;
    EXPECT_TRUE(FAILED(config->SetFormat(odd)));
    odd->subtype = MEDIASUBTYPE_RGB8;
    reinterpret_cast<VIDEOINFOHEADER*>(odd->pbFormat)->bmiHeader.biWidth = 160;
    EXPECT_TRUE(FAILED(config->SetFormat(odd)));
    deleteMediaType(odd);
    EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
    EXPECT_EQ(grabberOutput(graph).subtype, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(grabberOutput(graph).width, 320);
}
