#pragma once
// The resident memory of this process: the benchmarks' figures, and the
// memory test of a full text area.

#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

inline qint64 ResidentBytes()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}
