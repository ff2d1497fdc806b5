// Scratch files of the fuzz targets: one private directory per run, removed
// at exit, and whole-file reads and writes inside it.
#pragma once
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

namespace fuzzfiles {

inline std::string &Dir() {
    static std::string dir;
    return dir;
}

inline int RemoveOne(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }
inline void RemoveDir() { nftw(Dir().c_str(), RemoveOne, 8, FTW_DEPTH | FTW_PHYS); }

// A new directory "/tmp/<prefix>_XXXXXX", removed when the run ends.
inline const std::string &MakeDir(const char *prefix) {
    std::string tmpl = std::string("/tmp/") + prefix + "_XXXXXX";
    if (!mkdtemp(tmpl.data())) abort();
    Dir() = tmpl;
    atexit(RemoveDir);
    return Dir();
}

inline void Write(const std::string &path, const uint8_t *p, size_t n) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (n && fwrite(p, 1, n, f) != n) abort();
    fclose(f);
}

inline std::string Read(const std::string &path, bool *exists) {
    std::string s;
    FILE *f = fopen(path.c_str(), "rb");
    *exists = f != nullptr;
    if (!f) return s;
    char b[1024];
    size_t n;
    while ((n = fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
    fclose(f);
    return s;
}

}  // namespace fuzzfiles
