// window_shot CLASS FILE: writes the client area of the first window of CLASS, as the screen
// shows it, to FILE (PNG). Run it on the window's desktop: the screen it reads is that desktop's.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "wic_image.h"

namespace {

std::wstring wide(const char* text) {
    std::wstring result(std::strlen(text) + 1, L'\0');
    result.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text, -1, &result[0], static_cast<int>(result.size())) - 1));
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    HWND window = FindWindowW(wide(argv[1]).c_str(), nullptr);
    if (!window)
        return 3;
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return 4;
    SelectObject(memory, bitmap);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    std::vector<BYTE> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(&bgr[static_cast<size_t>(y) * width * 3], static_cast<BYTE*>(bits) + stride * y, size_t(width) * 3);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        writeBgrPng(wide(argv[2]), static_cast<UINT>(width), static_cast<UINT>(height), bgr);
    } catch (const std::exception& e) {
        std::printf("window_shot: %s\n", e.what());
        return 5;
    }
    return copied ? 0 : 6;
}
