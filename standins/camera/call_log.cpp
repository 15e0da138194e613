#include "call_log.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace camera_sim {

LogLine::LogLine(int ordinal) : text_(std::to_string(ordinal)) {}

LogLine& LogLine::integer(long long value) {
    return word(std::to_string(value));
}

LogLine& LogLine::real(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return word(text);
}

LogLine& LogLine::address(const void* value) {
    if (!value)
        return word("null");
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(value)));
    return word(text);
}

LogLine& LogLine::word(const std::string& text) {
    text_ += ' ';
    text_ += text;
    return *this;
}

void CallLog::append(std::string line) {
    if (lines_.size() >= kMaxLines)
        lines_.pop_front();
    lines_.push_back(std::move(line));
}

void CallLog::clear() {
    lines_.clear();
}

int CallLog::copyTo(char* buffer, int size) const {
    std::size_t total = 0;
    for (const std::string& line : lines_)
        total += line.size() + 1;

    if (buffer && size > 0) {
        std::size_t room = static_cast<std::size_t>(size) - 1;
        std::size_t written = 0;
        for (const std::string& line : lines_) {
            if (written >= room)
                break;
            std::size_t n = line.size() < room - written ? line.size() : room - written;
            std::memcpy(buffer + written, line.data(), n);
            written += n;
            if (written < room)
                buffer[written++] = '\n';
        }
        buffer[written] = '\0';
    }
    return total > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(total);
}

}  // namespace camera_sim
