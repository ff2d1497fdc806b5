#include <stdio.h>
#include <unistd.h>

#include "st_main_dvr.h"

// vidrec returns only when its start-up failed. Its worker threads are
// never joined, so it leaves without running static destructors under them.
int main() {
    int ret = vidrec_main();
    fflush(nullptr);
    _exit(ret);
}
