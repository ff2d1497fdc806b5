#pragma once

#include <stdint.h>

// The recorder's start-up; never returns once the pipeline stands. Returns
// only when the pipeline or audio start fails, with that step's code.
int vidrec_main(void);

// Start a worker thread with default attributes, named after its entry
// function (cut to 15 characters); the thread is never joined. 0 or the
// pthread_create error.
int vidrec_start_thread(const char* pName, void* (*pEntry)(void*), void* pArg);
#define VIDREC_START_THREAD(entry, arg) vidrec_start_thread(#entry, entry, arg)
