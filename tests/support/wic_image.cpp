#include "wic_image.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace {

void check(HRESULT hr) {
    if (FAILED(hr))
        throw std::runtime_error("image does not decode (WIC error " + std::to_string(hr) + ")");
}

DecodedImage decode(IWICImagingFactory* factory, IWICBitmapDecoder* decoder) {
    ComPtr<IWICBitmapFrameDecode> frame;
    check(decoder->GetFrame(0, &frame));
    DecodedImage image;
    check(frame->GetSize(&image.width, &image.height));
    check(frame->GetPixelFormat(&image.pixelFormat));
    // Wine converts every format to 32-bit BGRA, not all of them to 24-bit BGR.
    ComPtr<IWICBitmapSource> bgra;
    check(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.Get(), &bgra));
    std::vector<BYTE> pixels(size_t(image.width) * image.height * 4);
    check(bgra->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(pixels.size()), pixels.data()));
    image.bgr.resize(size_t(image.width) * image.height * 3);
    for (size_t i = 0, n = size_t(image.width) * image.height; i < n; ++i)
        std::memcpy(&image.bgr[i * 3], &pixels[i * 4], 3);
    (void)factory;
    return image;
}

ComPtr<IWICImagingFactory> factory() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the apartment fenwyr uses too
    ComPtr<IWICImagingFactory> f;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&f)));
    return f;
}

} // namespace

DecodedImage decodeImageFile(const std::wstring& path) {
    auto f = factory();
    ComPtr<IWICBitmapDecoder> decoder;
    check(f->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder));
    return decode(f.Get(), decoder.Get());
}

DecodedImage decodeImageBytes(const void* bytes, size_t size) {
    auto f = factory();
    ComPtr<IWICStream> stream;
    check(f->CreateStream(&stream));
    check(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), static_cast<DWORD>(size)));
    ComPtr<IWICBitmapDecoder> decoder;
    check(f->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder));
    return decode(f.Get(), decoder.Get());
}

void writeBgrPng(const std::wstring& path, UINT width, UINT height, const std::vector<BYTE>& bgr) {
    auto f = factory();
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    check(f->CreateStream(&stream));
    check(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE));
    check(f->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder));
    check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache));
    check(encoder->CreateNewFrame(&frame, nullptr));
    check(frame->Initialize(nullptr));
    check(frame->SetSize(width, height));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    check(frame->SetPixelFormat(&format));
    check(frame->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()), const_cast<BYTE*>(bgr.data())));
    check(frame->Commit());
    check(encoder->Commit());
}

Rgb pixel(const DecodedImage& image, UINT x, UINT y) {
    const BYTE* p = &image.bgr[(size_t(y) * image.width + x) * 3];
    return {p[2], p[1], p[0]};
}

bool similar(Rgb got, Rgb want, int tolerance) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}
