#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A picture to show: rows top-down and packed, 4 bytes per pixel (B,G,R,A) or 1 (grey).
struct Picture {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 4;
    std::vector<uint8_t> pixels;
};

// What the window leaves to the command that owns it; called on the window's thread.
class PreviewHost {
public:
    virtual ~PreviewHost() = default;
    // 's', 'p', '+' or '-' (q and closing the window end it without asking).
    virtual void onKey(char key) = 0;
    // Every 100 ms: the time to poll the device and to update the status line.
    virtual void onTick() = 0;
};

// A resizable window showing the newest picture, scaled to fit, with a status line under it.
// Pictures may come from any thread; everything else belongs to the thread that made it.
class PreviewWindow {
public:
    // The picture area starts at about width x height (enlarged for small pictures, reduced to
    // fit the screen).
    PreviewWindow(const std::string& title, int width, int height, PreviewHost& host);
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Any thread: makes `picture` the next one shown and hands back the buffer of an older one
    // for reuse. Pictures that come faster than the window paints replace each other.
    void present(Picture& picture);

    void setTitle(const std::string& utf8);
    void setStatus(const std::string& utf8);
    // Text shown over the picture (e.g. "device lost"); empty for none.
    void setOverlay(const std::string& utf8);
    // The picture on screen now (empty before the first).
    const Picture& shown() const { return shown_; }

    // Runs the message loop until the window is closed, q is pressed or `seconds` pass (0: no
    // limit). Throws what a handler threw, after closing the window.
    void run(double seconds);

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc, const RECT& client);
    void takePending();

    PreviewHost& host_;
    HWND window_ = nullptr;  // null once destroyed
    HWND target_ = nullptr;  // what other threads post to: set once, never cleared
    HFONT statusFont_ = nullptr;
    HFONT overlayFont_ = nullptr;
    int statusHeight_ = 0;
    std::wstring status_;
    std::wstring overlay_;
    Picture shown_;
    std::vector<uint8_t> rowPadded_;  // grey rows padded to 4 bytes, as DIBs need
    std::string failure_;

    std::mutex lock_;  // guards pending_ and hasPending_
    Picture pending_;
    bool hasPending_ = false;
    std::atomic<bool> posted_{false};  // one "new picture" message in the queue at a time
};
