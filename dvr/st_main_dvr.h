#pragma once

#include <stdint.h>

#include "start_thread.h"  // VIDREC_START_THREAD

// The recorder's start-up; never returns once the pipeline stands. Returns
// only when the pipeline or audio start fails, with that step's code.
int vidrec_main(void);
