// CPU load of the whole machine from the counters of /proc/stat.
#pragma once
#include <stdint.h>

struct CpuTimes {
    uint64_t busy;   // all ticks but idle and I/O wait
    uint64_t total;  // all ticks
};

// Reads the "cpu " line of a /proc/stat text; 0 when there is none.
int CpuTimesParse(const char *text, CpuTimes *out);
// Reads the counters from a file in /proc/stat form; 0 on failure.
int CpuTimesRead(const char *path, CpuTimes *out);
// Load between two readings, 0 to 100 (cut to an integer); 0 when no tick
// passed or the counters went backwards.
int CpuLoadPercent(const CpuTimes &prev, const CpuTimes &cur);

// Keeps the previous reading: each Sample() gives the load since the last
// one (since boot for the first); a failed read repeats the last value.
class CpuLoadMeter {
public:
    explicit CpuLoadMeter(const char *path = "/proc/stat") : path_(path) {}
    int Sample();
    int Last() const { return last_; }

private:
    const char *path_;
    CpuTimes prev_{0, 0};
    int last_ = 0;
};
