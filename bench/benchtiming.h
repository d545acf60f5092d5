#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

// Timing helpers shared by the benchmarks.
namespace BenchTiming {

// This thread's CPU time: steadier than wall time on a busy machine.
inline double threadCpuMicroseconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace BenchTiming
