// Order statistics of timed samples, for the benchmarks' reports.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The value at fraction p (0: least, 1: worst) of the sorted samples; 0 when there are none.
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}
