#include "start_thread.h"

#include <pthread.h>
#include <stdio.h>

int vidrec_start_thread(const char* pName, void* (*pEntry)(void*), void* pArg) {
    pthread_t tid;
    const int r = pthread_create(&tid, nullptr, pEntry, pArg);
    if (r != 0) return r;
    // A name longer than 15 characters would be refused whole.
    char name[16];
    snprintf(name, sizeof(name), "%s", pName);
    pthread_setname_np(tid, name);
    return 0;
}
