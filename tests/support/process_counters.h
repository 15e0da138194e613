#pragma once
#include <cstddef>
#include <string>

// What a long-running host would watch of its own process.
struct ProcessCounters {
    unsigned long handles = 0;
    std::size_t threads = 0;
    std::size_t privateBytes = 0;

    static ProcessCounters now();
};

std::string describe(const ProcessCounters& c);
