// CamOs: the small OS layer used by the media library and the camera 3A code
// (output, sleeps, time, memory, 64-bit division, mutexes, rw semaphores).
#pragma once
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    CAM_OS_OK = 0,
    CAM_OS_FAIL = -1,
    CAM_OS_PARAM_ERR = -2,
} CamOsRet_e;

// Word 0 of a lock record marks it initialised.
#define CAM_OS_INIT_MARKER (0x55AA5AA5u)

// Opaque lock records: the marker word, then the POSIX lock at the lock's own
// alignment. The board's 32-bit layout is exactly 7 and 9 words; other
// platforms size the records for their own lock types.
#if defined(__arm__)
#define CAM_OS_MUTEX_WORDS 7
#define CAM_OS_RWSEM_WORDS 9
#define CAM_OS_LOCK_ALIGN 4
#else
#define CAM_OS_LOCK_WORDS_(T) ((sizeof(T) + (__alignof__(T) > 4 ? __alignof__(T) : 4) + 3) / 4)
#define CAM_OS_MUTEX_WORDS CAM_OS_LOCK_WORDS_(pthread_mutex_t)
#define CAM_OS_RWSEM_WORDS CAM_OS_LOCK_WORDS_(pthread_rwlock_t)
#define CAM_OS_LOCK_ALIGN 8
#endif

#ifdef __cplusplus
#define CAM_OS_ALIGNAS_(n) alignas(n)
#else
#define CAM_OS_ALIGNAS_(n) _Alignas(n)
#endif

typedef struct {
    CAM_OS_ALIGNAS_(CAM_OS_LOCK_ALIGN) uint32_t nPriv[CAM_OS_MUTEX_WORDS];
} CamOsMutex_t;

typedef struct {
    CAM_OS_ALIGNAS_(CAM_OS_LOCK_ALIGN) uint32_t nPriv[CAM_OS_RWSEM_WORDS];
} CamOsRwsem_t;

typedef struct {
    uint32_t nSec;
    uint32_t nNanoSec;
} CamOsTimespec_t;

int CamOsPrintf(const char *szFmt, ...) __attribute__((format(printf, 1, 2)));
int CamOsSnprintf(char *szBuf, uint32_t nSize, const char *szFmt, ...) __attribute__((format(printf, 3, 4)));
void CamOsMsSleep(uint32_t nMsec);
void CamOsUsSleep(uint32_t nUsec);
void CamOsGetTimeOfDay(CamOsTimespec_t *ptRes);
void *CamOsMemAlloc(uint32_t nSize);
void *CamOsMemCalloc(uint32_t nNum, uint32_t nSize);
void CamOsMemRelease(void *pPtr);
// A zero divisor gives quotient 0 and the dividend as remainder.
uint64_t CamOsMathDivU64(uint64_t nDividend, uint64_t nDivisor, uint64_t *pRemainder);
int64_t CamOsMathDivS64(int64_t nDividend, int64_t nDivisor, int64_t *pRemainder);

CamOsRet_e CamOsMutexInit(CamOsMutex_t *ptMutex);
CamOsRet_e CamOsMutexDestroy(CamOsMutex_t *ptMutex);
CamOsRet_e CamOsMutexLock(CamOsMutex_t *ptMutex);
CamOsRet_e CamOsMutexUnlock(CamOsMutex_t *ptMutex);

CamOsRet_e CamOsRwsemInit(CamOsRwsem_t *ptRwsem);
void CamOsRwsemDownRead(CamOsRwsem_t *ptRwsem);
void CamOsRwsemDownWrite(CamOsRwsem_t *ptRwsem);
void CamOsRwsemUpRead(CamOsRwsem_t *ptRwsem);
void CamOsRwsemUpWrite(CamOsRwsem_t *ptRwsem);

#ifdef __cplusplus
}
#endif

#if defined(__arm__)
static_assert(sizeof(CamOsMutex_t) == 28, "CamOsMutex_t is seven words on the board");
static_assert(sizeof(CamOsRwsem_t) == 36, "CamOsRwsem_t is nine words on the board");
#endif
