#include "bench_table.h"

#include <algorithm>
#include <cstdio>

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::vector<std::vector<double>>> alternate(int repetitions,
                                                        const std::vector<std::function<std::vector<double>()>>& runs) {
    std::vector<std::vector<std::vector<double>>> samples(runs.size());
    for (int r = 0; r < repetitions; ++r)
        for (size_t v = 0; v < runs.size(); ++v) {
            const std::vector<double> figures = runs[v]();
            samples[v].resize(figures.size());
            for (size_t f = 0; f < figures.size(); ++f)
                samples[v][f].push_back(figures[f]);
        }
    return samples;
}

void printTable(const std::string& title, const std::vector<Figure>& figures) {
    std::printf("\n%s\n", title.c_str());
    std::printf("%-34s %-14s %14s %14s %14s  %-12s %s\n", "measure", "variant", "median", "min", "max", "unit",
                "ratio");
    for (const Figure& f : figures) {
        const double m = median(f.samples);
        std::string ratio;
        for (const Figure& b : figures)
            if (!f.baseline.empty() && b.group == f.group && b.unit == f.unit && b.variant == f.baseline) {
                char text[64];
                std::snprintf(text, sizeof text, "%.3f of %s", median(b.samples) ? m / median(b.samples) : 0.0,
                              b.variant.c_str());
                ratio = text;
            }
        std::printf("%-34s %-14s %14.2f %14.2f %14.2f  %-12s %s\n", f.group.c_str(), f.variant.c_str(), m,
                    *std::min_element(f.samples.begin(), f.samples.end()),
                    *std::max_element(f.samples.begin(), f.samples.end()), f.unit.c_str(), ratio.c_str());
    }
    std::fflush(stdout);
}
