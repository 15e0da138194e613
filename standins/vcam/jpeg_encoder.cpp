#include "jpeg_encoder.h"

using Microsoft::WRL::ComPtr;

HRESULT JpegEncoder::initialize() {
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory_));
}

HRESULT JpegEncoder::encode(const BYTE* pixels, UINT width, UINT rows, std::vector<BYTE>& out) {
    if (!factory_)
        return E_UNEXPECTED;
    const UINT stride = width * 3;
    // Room for any JPEG of a picture this size; written in place, no growing stream.
    scratch_.resize(static_cast<size_t>(stride) * rows + 65536);

    ComPtr<IWICStream> stream;
    HRESULT hr = factory_->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(scratch_.data(), static_cast<DWORD>(scratch_.size()));
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr))
        hr = factory_->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr))
        hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(width, rows);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr))
        hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR)
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(rows, stride, stride * rows, const_cast<BYTE*>(pixels));
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    ULARGE_INTEGER end{};
    if (SUCCEEDED(hr))
        hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &end);
    if (FAILED(hr))
        return hr;
    out.assign(scratch_.begin(), scratch_.begin() + static_cast<size_t>(end.QuadPart));
    return S_OK;
}
