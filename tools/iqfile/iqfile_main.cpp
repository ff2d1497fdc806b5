// iqfile: readable IQ text in, IQ file out.
//   iqfile [--bad-sum] [--length N] in.txt out.bin
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iq_text.h"

int main(int argc, char **argv) {
    iqtext::Options opt;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--bad-sum") == 0) {
            opt.bad_sum = true;
        } else if (strcmp(argv[i], "--length") == 0 && i + 1 < argc) {
            char *end;
            opt.length = strtol(argv[++i], &end, 0);
            if (*end || opt.length < 0) {
                fprintf(stderr, "iqfile: bad length %s\n", argv[i]);
                return 2;
            }
        } else {
            fprintf(stderr, "iqfile: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (argc - i != 2) {
        fprintf(stderr, "usage: iqfile [--bad-sum] [--length N] in.txt out.bin\n");
        return 2;
    }
    std::string err = iqtext::compile_file(argv[i], argv[i + 1], opt);
    if (!err.empty()) {
        fprintf(stderr, "iqfile: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
