#pragma once
#include <windows.h>

#include <string>

// Writes pixels as a PNG file through WIC. format is a WIC pixel format such as
// GUID_WICPixelFormat8bppGray or GUID_WICPixelFormat24bppBGR; rows run top-down.
// Throws std::runtime_error on failure.
void writePng(const std::wstring& path, UINT width, UINT height, REFGUID format, const void* pixels, UINT stride);
