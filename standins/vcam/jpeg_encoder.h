#pragma once
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <vector>

// Encodes 24-bit BGR pictures as JPEG with the platform's imaging codecs (WIC).
// Create and use it on one thread that has COM initialised.
class JpegEncoder {
public:
    HRESULT initialize();
    // Encodes `rows` rows of `width` pixels (stride width * 3, top row first) into `out`.
    HRESULT encode(const BYTE* pixels, UINT width, UINT rows, std::vector<BYTE>& out);

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
    std::vector<BYTE> scratch_;
};
