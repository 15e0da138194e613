// The record of calls that reached the camera, one line per call, for tests to compare.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace camera_sim {

// Builds one line: the ordinal, then each argument after a single space.
class LogLine {
public:
    explicit LogLine(int ordinal);
    LogLine& integer(long long value);
    LogLine& real(double value);          // "%.17g", so 32768.0 reads "32768"
    LogLine& address(const void* value); // "null", or the address in hex
    LogLine& word(const std::string& text);
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Bounded: the oldest lines go first, so long runs keep a steady footprint.
class CallLog {
public:
    static constexpr std::size_t kMaxLines = 100000;

    void append(std::string line);
    void clear();
    // Copies the log (lines ended by '\n', NUL-terminated, cut to size); returns the full length.
    int copyTo(char* buffer, int size) const;

private:
    std::deque<std::string> lines_;
};

}  // namespace camera_sim
