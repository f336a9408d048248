#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Wall-clock samples of one benchmark case, summarised as median, min and max
// in milliseconds.
class Timings
{
public:
    template <typename Work> void measure(int repetitions, Work &&work)
    {
        for (int i = 0; i < repetitions; ++i) {
            const auto start = std::chrono::steady_clock::now();
            work();
            const auto end = std::chrono::steady_clock::now();
            add(std::chrono::duration<double, std::milli>(end - start).count());
        }
    }

    void add(double milliseconds) { samples.push_back(milliseconds); }

    double median() const
    {
        if (samples.empty())
            return 0.0;
        std::vector<double> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    }
    double min() const
    {
        return samples.empty() ? 0.0 : *std::min_element(samples.begin(), samples.end());
    }
    double max() const
    {
        return samples.empty() ? 0.0 : *std::max_element(samples.begin(), samples.end());
    }

    // "median_ms=... min_ms=... max_ms=..." with an optional key prefix.
    std::string summary(const std::string &prefix = std::string()) const
    {
        char text[160];
        std::snprintf(text, sizeof text, "%smedian_ms=%.3f %smin_ms=%.3f %smax_ms=%.3f",
                      prefix.c_str(), median(), prefix.c_str(), min(), prefix.c_str(), max());
        return text;
    }

private:
    std::vector<double> samples;
};
