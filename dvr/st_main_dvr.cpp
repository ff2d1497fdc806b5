#include "st_main_dvr.h"

#include <stdio.h>

int vidrec_main(void) {
    printf("vidrec: start-up not built yet\n");
    return 1;
}
