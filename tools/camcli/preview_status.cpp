#include "preview_status.h"

void StatusNote::set(const std::string& text) {
    text_ = text;
    until_ = std::chrono::steady_clock::now() + std::chrono::seconds(3);
}

std::string StatusNote::after(const std::string& line, const PreviewStats& stats) const {
    std::string text = line;
    if (!stats.failure.empty())
        text += "   frames stopped: " + stats.failure;
    if (!text_.empty() && std::chrono::steady_clock::now() < until_)
        text += "   | " + text_;
    return text;
}
