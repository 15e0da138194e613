#pragma once
#include <chrono>
#include <string>

#include "picture_thread.h"

// The end of a preview's status line: why frames stopped, if they did, and a short note (what
// a key did) for three seconds.
class StatusNote {
public:
    void set(const std::string& text);
    // Appends both to `line`.
    std::string after(const std::string& line, const PreviewStats& stats) const;

private:
    std::string text_;
    std::chrono::steady_clock::time_point until_;
};
