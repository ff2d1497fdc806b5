#include "web_cpu.h"

#include <stdio.h>
#include <string.h>

int CpuTimesParse(const char *text, CpuTimes *out) {
    if (!text || !out) return 0;
    const char *p = text;
    // The summary line is the one starting "cpu " (the others are "cpuN ").
    while (p && strncmp(p, "cpu ", 4) != 0) {
        p = strchr(p, '\n');
        if (p) ++p;
    }
    if (!p) return 0;
    unsigned long long v[10] = {0};
    int n = sscanf(p + 4, "%llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4],
                   &v[5], &v[6], &v[7], &v[8], &v[9]);
    if (n < 4) return 0;
    // user nice system idle iowait irq softirq steal guest guest_nice; guest
    // time is already counted in user and nice.
    uint64_t total = 0;
    for (int i = 0; i < n && i < 8; ++i) total += v[i];
    uint64_t idle = v[3] + (n > 4 ? v[4] : 0);
    out->total = total;
    out->busy = total - idle;
    return 1;
}

int CpuTimesRead(const char *path, CpuTimes *out) {
    FILE *f = fopen(path, "r");
    if (!f) return 0;
    char buf[512];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    return CpuTimesParse(buf, out);
}

int CpuLoadPercent(const CpuTimes &prev, const CpuTimes &cur) {
    if (cur.total <= prev.total || cur.busy < prev.busy) return 0;
    uint64_t dt = cur.total - prev.total, db = cur.busy - prev.busy;
    if (db >= dt) return 100;
    return (int)(db * 100 / dt);
}

int CpuLoadMeter::Sample() {
    CpuTimes cur;
    if (!CpuTimesRead(path_, &cur)) return last_;
    if (cur.total > prev_.total) last_ = CpuLoadPercent(prev_, cur);
    prev_ = cur;
    return last_;
}
