// window_shot CLASS FILE: writes the client area of the first window of CLASS, as the screen
// shows it, to FILE (PNG). Run it on the window's desktop: the screen it reads is that desktop's.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <vector>

#include "wic_image.h"

int main() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    HWND window = count == 3 ? FindWindowW(words[1], nullptr) : nullptr;
    if (!window)
        return 2;
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    SelectObject(memory, CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bits || !BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY))
        return 3;
    GdiFlush();
    std::vector<BYTE> bgr;
    for (size_t i = 0; i < size_t(width) * height; ++i)
        bgr.insert(bgr.end(), static_cast<BYTE*>(bits) + 4 * i, static_cast<BYTE*>(bits) + 4 * i + 3);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        writeBgrPng(words[2], static_cast<UINT>(width), static_cast<UINT>(height), bgr);
    } catch (const std::exception&) {
        return 4;
    }
    return 0;
}
