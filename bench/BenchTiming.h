// Timing helpers the benchmark programs share.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// Milliseconds that work takes.
inline double Ms(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The middle value; for an even count, the mean of the two middle ones.
inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
