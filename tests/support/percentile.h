#pragma once

// Order statistics of a set of samples (times, sizes), for the tests and the benchmarks.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace quenby_test {

// The nearest-rank percentile `p` (0..100) of `v`: the smallest sample with at least p% of the
// samples at or below it; 0 for no samples.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

}  // namespace quenby_test
