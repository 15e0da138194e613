#pragma once
#include <functional>
#include <string>
#include <vector>

// One measured figure: a sample per repetition.
struct Figure {
    std::string group;     // what is measured, e.g. "captureFrame 1280x1024"
    std::string variant;   // who does it, e.g. "tarvik", "direct"
    std::string unit;      // e.g. "frames/s"
    std::vector<double> samples;
    std::string baseline;  // variant of the same group and unit this one is compared with; empty for none
};

double median(std::vector<double> values);

// Runs each variant once per repetition, alternating, so drift hits them alike.
// Each run returns its samples in the order of `units`.
std::vector<std::vector<std::vector<double>>> alternate(int repetitions,
                                                        const std::vector<std::function<std::vector<double>()>>& runs);

// Prints the figures as one table: median, minimum, maximum and the ratio of medians to the baseline.
void printTable(const std::string& title, const std::vector<Figure>& figures);
