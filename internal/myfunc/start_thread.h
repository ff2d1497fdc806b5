#pragma once

// Start a worker thread with default attributes, named after its entry
// function (cut to the 15 characters a thread name holds); the thread is
// never joined. 0 or the pthread_create error.
int vidrec_start_thread(const char* pName, void* (*pEntry)(void*), void* pArg);
#define VIDREC_START_THREAD(entry, arg) vidrec_start_thread(#entry, entry, arg)
