#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

// Seconds of one call of `work`, as the median over `rounds` rounds of `perRound` calls.
// Candidate and reference are measured in alternating rounds by MeasurePair, so that a noisy
// neighbour on a shared machine hits both alike.
inline double SecondsPerCall(const std::function<void()>& work, int perRound)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < perRound; ++i)
        work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / perRound;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct PairResult {
    double candidate;  // seconds per call
    double reference;
    double Ratio() const { return candidate / reference; }
};

inline PairResult MeasurePair(const std::function<void()>& candidate, const std::function<void()>& reference,
                              int perRound, int rounds)
{
    candidate();  // warm caches and lazy set-up before timing
    reference();
    std::vector<double> c, r;
    for (int i = 0; i < rounds; ++i) {
        c.push_back(SecondsPerCall(candidate, perRound));
        r.push_back(SecondsPerCall(reference, perRound));
    }
    return {Median(c), Median(r)};
}

inline void PrintRatio(const char* name, double ratio, double target)
{
    std::printf("%s: ratio %.3f (target <= %.2f)\n", name, ratio, target);
}

}  // namespace bench
