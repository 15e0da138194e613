// The Formats value: what the pin offers through EnumMediaTypes and IAMStreamConfig.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include "fenwyr/guids.h"
#include <wrl/client.h>

#include <string>
#include <vector>

#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Offered {
    GUID subtype;
    GUID formattype;
    LONG width;
    LONG height;
    WORD bitCount;
    REFERENCE_TIME interval;
    DWORD imageSize;
};

// Binds the one configured device and returns its capture pin.
ComPtr<IPin> bindCapturePin(ComPtr<IBaseFilter>& filter) {
    EXPECT_EQ(PlatformGraph::bindDevice(L"Camera", &filter), S_OK);
    ComPtr<IPin> pin;
    if (filter) {
        EXPECT_EQ(filter->FindPin(L"Capture", &pin), S_OK);
    }
    return pin;
}

Offered describe(const AM_MEDIA_TYPE& mt) {
    Offered offered{};
    offered.subtype = mt.subtype;
    offered.formattype = mt.formattype;
    const BITMAPINFOHEADER* header = bitmapHeaderOf(mt);
    EXPECT_NE(header, nullptr);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    if (header) {
        offered.width = header->biWidth;
        offered.height = header->biHeight;
        offered.bitCount = header->biBitCount;
        offered.imageSize = header->biSizeImage;
    }
    offered.interval = frameIntervalOf(mt);
    return offered;
}

std::vector<Offered> enumerated(IPin* pin) {
    std::vector<Offered> types;
    ComPtr<IEnumMediaTypes> list;
    EXPECT_EQ(pin->EnumMediaTypes(&list), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    while (list && list->Next(1, &mt, nullptr) == S_OK) {
        types.push_back(describe(*mt));
        deleteMediaType(mt);
    }
    return types;
}

std::vector<Offered> capabilities(IPin* pin, int* structureSize = nullptr) {
    std::vector<Offered> types;
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(pin->QueryInterface(IID_PPV_ARGS(&config)), S_OK);
    if (!config)
        return types;
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    if (structureSize)
        *structureSize = size;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        if (!mt)
            continue;
        types.push_back(describe(*mt));
        EXPECT_EQ(caps.guid, mt->formattype);
        EXPECT_EQ(caps.InputSize.cx, types.back().width);
        EXPECT_EQ(caps.InputSize.cy, std::labs(types.back().height));
        EXPECT_EQ(caps.MinFrameInterval, types.back().interval);
        deleteMediaType(mt);
    }
    return types;
}

}  // namespace

TEST(VcamFormats, PinOffersTheFormatsInOrderWithVih2AndTopDownHeights) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera",
                          std::wstring(L"640x480@30 YUY2;1280x720@60 MJPG;320x-240@15 RGB24;640x480@30 RGB32 VIH2"),
                          1, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin = bindCapturePin(filter);
    ASSERT_NE(pin, nullptr);

    const Offered expected[] = {
        {MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 640, 480, 16, 333333, 640 * 480 * 2},
        {MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 1280, 720, 24, 166667, 0},
        {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 320, -240, 24, 666667, 320 * 240 * 3},
        {MEDIASUBTYPE_RGB32, FORMAT_VideoInfo2, 640, 480, 32, 333333, 640 * 480 * 4},
    };
    for (const auto& offered : {enumerated(pin.Get()), capabilities(pin.Get())}) {
        ASSERT_EQ(offered.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(offered[i].subtype, expected[i].subtype) << i;
            EXPECT_EQ(offered[i].formattype, expected[i].formattype) << i;
            EXPECT_EQ(offered[i].width, expected[i].width) << i;
            EXPECT_EQ(offered[i].height, expected[i].height) << i;
            EXPECT_EQ(offered[i].bitCount, expected[i].bitCount) << i;
            EXPECT_EQ(offered[i].interval, expected[i].interval) << i;
            if (expected[i].imageSize) {
                EXPECT_EQ(offered[i].imageSize, expected[i].imageSize) << i;
            } else {
                EXPECT_GT(offered[i].imageSize, 0u) << i;
            }
        }
    }

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(size, 128);
    EXPECT_EQ(sizeof(VIDEO_STREAM_CONFIG_CAPS), 128u);
    VIDEO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(config->GetStreamCaps(4, &mt, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(mt, nullptr);
    EXPECT_EQ(config->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);
    EXPECT_EQ(config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)), E_POINTER);
    // Before any connection the current format is the first one.
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    EXPECT_EQ(describe(*mt).subtype, MEDIASUBTYPE_YUY2);
    deleteMediaType(mt);
}

TEST(VcamFormats, EverySubtypeHasItsBitCountCompressionAndPalette) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera",
                          std::wstring(L"64x48@30 RGB1;64x48@30 RGB4;64x48@30 RGB8;64x48@30 RGB555;64x48@30 RGB565;"
                                       L"64x48@30 RGB24;64x48@30 RGB32;64x48@30 YUY2;64x48@30 MJPG;64x48@30 NV12"),
                          1, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin = bindCapturePin(filter);
    ASSERT_NE(pin, nullptr);
    struct Expected {
        GUID subtype;
        WORD bits;
        DWORD compression;
        DWORD colors;  // palette entries, or 3 bit masks for RGB565
        DWORD imageSize;
    };
    const Expected expected[] = {
        {MEDIASUBTYPE_RGB1, 1, BI_RGB, 2, 8 * 48},
        {MEDIASUBTYPE_RGB4, 4, BI_RGB, 16, 32 * 48},
        {MEDIASUBTYPE_RGB8, 8, BI_RGB, 256, 64 * 48},
        {MEDIASUBTYPE_RGB555, 16, BI_RGB, 0, 128 * 48},
        {MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS, 3, 128 * 48},
        {MEDIASUBTYPE_RGB24, 24, BI_RGB, 0, 192 * 48},
        {MEDIASUBTYPE_RGB32, 32, BI_RGB, 0, 256 * 48},
        {MEDIASUBTYPE_YUY2, 16, MAKEFOURCC('Y', 'U', 'Y', '2'), 0, 128 * 48},
        {MEDIASUBTYPE_MJPG, 24, MAKEFOURCC('M', 'J', 'P', 'G'), 0, 0},
        {MEDIASUBTYPE_NV12, 12, MAKEFOURCC('N', 'V', '1', '2'), 0, 64 * 48 * 3 / 2},
    };
    ComPtr<IEnumMediaTypes> list;
    ASSERT_EQ(pin->EnumMediaTypes(&list), S_OK);
    for (const auto& want : expected) {
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(list->Next(1, &mt, nullptr), S_OK);
        EXPECT_EQ(mt->subtype, want.subtype);
        EXPECT_EQ(mt->cbFormat, sizeof(VIDEOINFOHEADER) + want.colors * 4);
        const BITMAPINFOHEADER* header = bitmapHeaderOf(*mt);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->biBitCount, want.bits);
        EXPECT_EQ(header->biCompression, want.compression);
        EXPECT_EQ(header->biPlanes, 1);
        if (want.imageSize) {
            EXPECT_EQ(header->biSizeImage, want.imageSize);
            EXPECT_EQ(mt->lSampleSize, static_cast<ULONG>(want.imageSize));
            EXPECT_TRUE(mt->bFixedSizeSamples);
        } else {
            EXPECT_FALSE(mt->bFixedSizeSamples);
        }
        if (want.subtype == MEDIASUBTYPE_RGB565) {
            const DWORD* masks = reinterpret_cast<const DWORD*>(header + 1);
            EXPECT_EQ(masks[0], 0xF800u);
            EXPECT_EQ(masks[1], 0x07E0u);
            EXPECT_EQ(masks[2], 0x001Fu);
        }
        deleteMediaType(mt);
    }
    AM_MEDIA_TYPE* extra = nullptr;
    EXPECT_EQ(list->Next(1, &extra, nullptr), S_FALSE);
}

TEST(VcamFormats, FractionalAndZeroRatesGiveTheirFrameIntervals) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"640x480@29.97 YUY2;640x480@0 YUY2;640x480@7.5 YUY2"), 1,
                          {}, {}}});
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin = bindCapturePin(filter);
    ASSERT_NE(pin, nullptr);
    auto offered = capabilities(pin.Get());
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0].interval, 333667);
    EXPECT_EQ(offered[1].interval, 0);
    EXPECT_EQ(offered[2].interval, 1333333);
}

TEST(VcamFormats, AbsentValueOffersADefaultListAndMalformedEntriesAreLeftOut) {
    ComApartment com;
    VcamDevices devices({
        {L"a", L"Camera", std::nullopt, 1, {}, {}},
        {L"b", L"Odd Camera", std::wstring(L"640x480@30 YUY2;garbage;320x240@30 XYZ1;;0x240@30 RGB24;"
                                           L"160x120@5 rgb24;320x240@30 RGB24 VIH3;320x240@-1 RGB24"),
         2, {}, {}},
    });
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin = bindCapturePin(filter);
    ASSERT_NE(pin, nullptr);
    auto defaults = enumerated(pin.Get());
    EXPECT_GE(defaults.size(), 1u);

    ComPtr<IBaseFilter> odd;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Odd Camera", &odd), S_OK);
    ComPtr<IPin> oddPin;
    ASSERT_EQ(odd->FindPin(L"Capture", &oddPin), S_OK);
    auto offered = enumerated(oddPin.Get());
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].subtype, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(offered[1].subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(offered[1].width, 160);
}

TEST(VcamFormats, EmptyListOffersNothingAndRenderStreamFails) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L""), 1, {}, {}}});
    {
        ComPtr<IBaseFilter> filter;
        ComPtr<IPin> pin = bindCapturePin(filter);
        ASSERT_NE(pin, nullptr);
        EXPECT_TRUE(enumerated(pin.Get()).empty());
        EXPECT_TRUE(capabilities(pin.Get()).empty());
    }
    PlatformGraph graph;
    EXPECT_TRUE(FAILED(graph.open(L"Camera")));
    ASSERT_NE(graph.captureFilter(), nullptr);
    ComPtr<IPin> pin, peer;
    ASSERT_EQ(graph.captureFilter()->FindPin(L"Capture", &pin), S_OK);
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST(VcamFormats, RenderStreamConnectsWithTheFirstFormat) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"320x240@15 RGB565;640x480@30 YUY2"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(graph.grabber()->GetConnectedMediaType(&mt), S_OK);
    Offered connected = describe(mt);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB565);
    EXPECT_EQ(connected.width, 320);
    EXPECT_EQ(connected.interval, 666667);
    freeMediaType(mt);
    // And so does the grabber's output, where frames leave it.
    ASSERT_EQ(graph.grabberOutput()->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB565);
    freeMediaType(mt);
}

TEST(VcamFormats, Vih2CapabilitiesCarryInterlaceAndAspectAndRefuseTheSamePictureAsAVideoInfoHeader) {
    ComApartment com;
    VcamDevices devices({vcamDevice(L"cam", L"Camera", L"720x480@30 YUY2 VIH2 INTERLACED 16:9;640x480@30 YUY2 VIH2")});
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin = bindCapturePin(filter);
    ASSERT_NE(pin, nullptr);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    const struct {
        DWORD interlace, aspectX, aspectY;
    } expected[] = {{AMINTERLACE_IsInterlaced | AMINTERLACE_DisplayModeBobOrWeave, 16, 9}, {0, 640, 480}};
    for (int i = 0; i < 2; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_EQ(mt->formattype, FORMAT_VideoInfo2);
        const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mt->pbFormat);
        EXPECT_EQ(vih2->dwInterlaceFlags, expected[i].interlace) << i;
        EXPECT_EQ(vih2->dwPictAspectRatioX, expected[i].aspectX) << i;
        EXPECT_EQ(vih2->dwPictAspectRatioY, expected[i].aspectY) << i;

        // The same picture described by a VIDEOINFOHEADER is not a format of this card.
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = vih2->AvgTimePerFrame;
        vih.bmiHeader = vih2->bmiHeader;
        AM_MEDIA_TYPE asVih = *mt;
        asVih.formattype = FORMAT_VideoInfo;
        asVih.cbFormat = sizeof vih;
        asVih.pbFormat = reinterpret_cast<BYTE*>(&vih);
        EXPECT_EQ(pin->QueryAccept(&asVih), S_FALSE) << i;
        EXPECT_EQ(config->SetFormat(&asVih), VFW_E_INVALIDMEDIATYPE) << i;
        deleteMediaType(mt);
    }
}
