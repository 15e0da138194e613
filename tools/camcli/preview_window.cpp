#include "preview_window.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "utf8.h"

namespace {

const wchar_t kClassName[] = L"CamcliPreview";
constexpr UINT kNewPicture = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kEndTimer = 2;
constexpr int kSmallestWidth = 480;  // smaller pictures start enlarged, so the status line fits
const COLORREF kStatusBackground = RGB(40, 40, 40);

void registerClass(WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));      // IDI_APPLICATION
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);  // already registered is fine
}

// A DIB header for the picture's layout; grey pictures get a grey palette.
struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD palette[256];
};

void describe(const Picture& p, DibHeader& dib) {
    dib.header = BITMAPINFOHEADER{};
    dib.header.biSize = sizeof dib.header;
    dib.header.biWidth = p.width;
    dib.header.biHeight = -p.height;  // top-down
    dib.header.biPlanes = 1;
    dib.header.biBitCount = static_cast<WORD>(p.bytesPerPixel * 8);
    dib.header.biCompression = BI_RGB;
    if (p.bytesPerPixel == 1) {
        dib.header.biClrUsed = 256;
        for (int i = 0; i < 256; ++i)
            dib.palette[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    }
}

void fill(HDC dc, const RECT& rect, COLORREF colour) {
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

} // namespace

PreviewWindow::PreviewWindow(const std::string& title, int width, int height, PreviewHost& host) : host_(host) {
    registerClass(&PreviewWindow::procedure);
    statusFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    {
        HDC screen = GetDC(nullptr);
        const HGDIOBJ old = SelectObject(screen, statusFont_);
        TEXTMETRICW metrics{};
        GetTextMetricsW(screen, &metrics);
        SelectObject(screen, old);
        ReleaseDC(nullptr, screen);
        statusHeight_ = metrics.tmHeight + 8;
    }
    overlayFont_ = CreateFontW(-32, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");

    // Small pictures at a whole multiple of their size stay sharp; large ones fit the screen.
    width = std::max(width, 1);
    height = std::max(height, 1);
    int scale = 1;
    while (width * scale < kSmallestWidth)
        ++scale;
    double w = double(width) * scale, h = double(height) * scale;
    RECT work{0, 0, 1024, 768};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const double roomW = (work.right - work.left) * 0.9;
    const double roomH = (work.bottom - work.top) * 0.9 - statusHeight_ - GetSystemMetrics(SM_CYCAPTION);
    const double fit = std::min(1.0, std::min(roomW / w, roomH / h));
    RECT frame{0, 0, static_cast<LONG>(w * fit), static_cast<LONG>(h * fit) + statusHeight_};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);

    window_ = CreateWindowExW(0, kClassName, fromUtf8(title).c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (!window_)
        throw std::runtime_error("cannot create the preview window (error " + std::to_string(GetLastError()) + ")");
    target_ = window_;
    SetTimer(window_, kTickTimer, 100, nullptr);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

PreviewWindow::~PreviewWindow() {
    if (window_)
        DestroyWindow(window_);
    if (overlayFont_)
        DeleteObject(overlayFont_);
}

void PreviewWindow::present(Picture& picture) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::swap(pending_, picture);
        hasPending_ = true;
    }
    if (!posted_.exchange(true) && !PostMessageW(target_, kNewPicture, 0, 0))
        posted_ = false;
}

void PreviewWindow::takePending() {
    posted_ = false;  // a picture presented from now on posts again
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!hasPending_)
            return;
        std::swap(shown_, pending_);
        hasPending_ = false;
    }
    // DIB rows are whole 32-bit words; grey rows of other widths are copied into padded ones.
    rowPadded_.clear();
    const size_t packed = static_cast<size_t>(shown_.width) * shown_.bytesPerPixel;
    if (packed % 4) {
        const size_t padded = (packed + 3) & ~size_t(3);
        rowPadded_.assign(padded * shown_.height, 0);
        for (int y = 0; y < shown_.height; ++y)
            std::copy_n(&shown_.pixels[packed * y], packed, &rowPadded_[padded * y]);
    }
    InvalidateRect(window_, nullptr, FALSE);
}

// These may come after the window is gone: a modal dialog can outlive it on the stack.
void PreviewWindow::setTitle(const std::string& utf8) {
    if (window_)
        SetWindowTextW(window_, fromUtf8(utf8).c_str());
}

void PreviewWindow::setStatus(const std::string& utf8) {
    std::wstring text = fromUtf8(utf8);
    if (text == status_)
        return;
    status_ = std::move(text);
    if (!window_)
        return;
    RECT client;
    GetClientRect(window_, &client);
    client.top = std::max(client.top, client.bottom - statusHeight_);
    InvalidateRect(window_, &client, FALSE);
}

void PreviewWindow::setOverlay(const std::string& utf8) {
    overlay_ = fromUtf8(utf8);
    if (window_)
        InvalidateRect(window_, nullptr, FALSE);
}

void PreviewWindow::run(double seconds) {
    if (seconds > 0)
        SetTimer(window_, kEndTimer, static_cast<UINT>(seconds * 1000), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (!failure_.empty())
        throw std::runtime_error(failure_);
}

LRESULT CALLBACK PreviewWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<PreviewWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<PreviewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    // Nothing may leave a window procedure by exception: the error ends the loop instead.
    try {
        return self->handle(message, wParam, lParam);
    } catch (const std::exception& e) {
        self->failure_ = e.what();
    } catch (...) {
        self->failure_ = "unexpected error in the preview window";
    }
    DestroyWindow(window);
    return 0;
}

LRESULT PreviewWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kNewPicture:
        takePending();
        return 0;
    case WM_TIMER:
        if (wParam == kEndTimer)
            DestroyWindow(window_);
        else if (wParam == kTickTimer)
            host_.onTick();
        return 0;
    case WM_CHAR:
        switch (wParam) {
        case 'q': case 'Q': DestroyWindow(window_); break;
        case 's': case 'S': host_.onKey('s'); break;
        case 'p': case 'P': host_.onKey('p'); break;
        case '+': case '=': host_.onKey('+'); break;  // '=' is '+' without shift
        case '-': case '_': host_.onKey('-'); break;
        }
        return 0;
    case WM_ERASEBKGND:
        return 1;  // paint draws every pixel
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        RECT client;
        GetClientRect(window_, &client);
        paint(dc, client);
        EndPaint(window_, &ps);
        return 0;
    }
    case WM_SIZE:
        InvalidateRect(window_, nullptr, FALSE);
        return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{240, 160};
        return 0;
    case WM_DESTROY:
        KillTimer(window_, kTickTimer);
        KillTimer(window_, kEndTimer);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        window_ = nullptr;
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// Drawn off screen and copied in one go: no flicker between the picture and what covers it.
void PreviewWindow::paint(HDC target, const RECT& client) {
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0)
        return;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP canvas = CreateCompatibleBitmap(target, width, height);
    const HGDIOBJ oldBitmap = SelectObject(dc, canvas);

    const int strip = std::min(statusHeight_, height);
    RECT area{0, 0, width, height - strip};
    fill(dc, area, RGB(0, 0, 0));
    if (shown_.width > 0 && shown_.height > 0 && area.bottom > 0) {
        // Scaled to fit, keeping the picture's shape.
        const double scale = std::min(double(width) / shown_.width, double(area.bottom) / shown_.height);
        const int w = std::max(1, static_cast<int>(shown_.width * scale + 0.5));
        const int h = std::max(1, static_cast<int>(shown_.height * scale + 0.5));
        DibHeader dib;
        describe(shown_, dib);
        const void* bits = rowPadded_.empty() ? shown_.pixels.data() : rowPadded_.data();
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, (width - w) / 2, (area.bottom - h) / 2, w, h, 0, 0, shown_.width, shown_.height, bits,
                      reinterpret_cast<const BITMAPINFO*>(&dib), DIB_RGB_COLORS, SRCCOPY);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    if (!overlay_.empty()) {
        const HGDIOBJ oldFont = SelectObject(dc, overlayFont_);
        RECT text{0, 0, 0, 0};
        DrawTextW(dc, overlay_.c_str(), -1, &text, DT_CALCRECT | DT_SINGLELINE);
        const int w = text.right + 32, h = text.bottom + 16;
        RECT box{(width - w) / 2, (area.bottom - h) / 2, 0, 0};
        box.right = box.left + w;
        box.bottom = box.top + h;
        fill(dc, box, RGB(170, 0, 0));
        DrawTextW(dc, overlay_.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, oldFont);
    }
    RECT status{0, height - strip, width, height};
    fill(dc, status, kStatusBackground);
    status.left += 6;
    const HGDIOBJ oldFont = SelectObject(dc, statusFont_);
    DrawTextW(dc, status_.c_str(), -1, &status, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);

    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBitmap);
    DeleteObject(canvas);
    DeleteDC(dc);
}
