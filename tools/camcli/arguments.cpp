#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

Arguments::Arguments(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i)
        words_.emplace_back(argv[i]);
}

bool Arguments::wantsHelp() const {
    for (const auto& w : words_)
        if (w == "--help" || w == "-h")
            return true;
    return false;
}

bool Arguments::take(const char* option) {
    if (empty() || words_[next_] != option)
        return false;
    ++next_;
    return true;
}

std::string Arguments::value(const char* what) {
    if (empty())
        throw UsageError(std::string("missing ") + what);
    return words_[next_++];
}

long long Arguments::integer(const char* what, long long minimum, long long maximum) {
    const std::string text = value(what);
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || errno)
        throw UsageError(std::string(what) + " must be a whole number, not '" + text + "'");
    if (n < minimum || n > maximum)
        throw UsageError(std::string(what) + " must be between " + std::to_string(minimum) + " and " +
                         std::to_string(maximum) + ", not " + text);
    return n;
}

double Arguments::number(const char* what) {
    const std::string text = value(what);
    char* end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(n))
        throw UsageError(std::string(what) + " must be a number, not '" + text + "'");
    return n;
}

std::vector<long long> Arguments::integers(const char* what, size_t count) {
    const std::string text = value(what);
    std::vector<long long> numbers;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        char* end = nullptr;
        const long long n = std::strtoll(part.c_str(), &end, 10);
        if (part.empty() || *end)
            break;
        numbers.push_back(n);
    }
    if (numbers.size() != count || text.back() == ',')
        throw UsageError(std::string(what) + " must be " + std::to_string(count) + " whole numbers separated by commas, not '" + text + "'");
    return numbers;
}

std::string Arguments::positional(const char* what) {
    if (empty() || words_[next_].rfind("--", 0) == 0)
        throw UsageError(std::string("missing ") + what);
    return words_[next_++];
}

void Arguments::unknown() const {
    throw UsageError("unexpected argument '" + words_[next_] + "'");
}
