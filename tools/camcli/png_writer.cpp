#include "png_writer.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace {

void check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        throw std::runtime_error(std::string("PNG: ") + what + " failed (0x" + std::to_string(static_cast<unsigned long>(hr)) + ")");
}

} // namespace

void writePng(const std::wstring& path, UINT width, UINT height, REFGUID format, const void* pixels, UINT stride) {
    ComPtr<IWICImagingFactory> factory;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)),
          "creating the imaging factory");
    ComPtr<IWICStream> stream;
    check(factory->CreateStream(&stream), "creating a stream");
    check(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE), "opening the file");
    ComPtr<IWICBitmapEncoder> encoder;
    check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "creating the encoder");
    check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the encoder");
    ComPtr<IWICBitmapFrameEncode> frame;
    check(encoder->CreateNewFrame(&frame, nullptr), "creating a frame");
    check(frame->Initialize(nullptr), "starting the frame");
    check(frame->SetSize(width, height), "sizing the frame");
    WICPixelFormatGUID pixelFormat = format;
    check(frame->SetPixelFormat(&pixelFormat), "setting the pixel format");
    if (pixelFormat != format)
        throw std::runtime_error("PNG: pixel format not supported by the encoder");
    check(frame->WritePixels(height, stride, stride * height, static_cast<BYTE*>(const_cast<void*>(pixels))),
          "writing pixels");
    check(frame->Commit(), "finishing the frame");
    check(encoder->Commit(), "finishing the file");
}
