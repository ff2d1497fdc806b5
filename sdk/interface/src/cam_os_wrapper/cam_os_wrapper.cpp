// CamOs over the C library and POSIX threads. Lock records carry a marker so
// that a zero-filled record is usable and misuse is reported, never fatal.
#include "cam_os_wrapper.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {

// The POSIX lock sits after the marker at its own alignment.
template <typename T>
constexpr size_t kLockOffset = __alignof__(T) > 4 ? __alignof__(T) : 4;

static_assert(kLockOffset<pthread_mutex_t> + sizeof(pthread_mutex_t) <= sizeof(CamOsMutex_t),
              "CamOsMutex_t holds the platform's mutex");
static_assert(kLockOffset<pthread_rwlock_t> + sizeof(pthread_rwlock_t) <= sizeof(CamOsRwsem_t),
              "CamOsRwsem_t holds the platform's rwlock");
static_assert(__alignof__(CamOsMutex_t) >= __alignof__(pthread_mutex_t), "mutex alignment");
static_assert(__alignof__(CamOsRwsem_t) >= __alignof__(pthread_rwlock_t), "rwlock alignment");

pthread_mutex_t _gtSelfInitLock = PTHREAD_MUTEX_INITIALIZER;

pthread_mutex_t *mutex_of(CamOsMutex_t *m) {
    return reinterpret_cast<pthread_mutex_t *>(reinterpret_cast<char *>(m) + kLockOffset<pthread_mutex_t>);
}
pthread_rwlock_t *rwlock_of(CamOsRwsem_t *s) {
    return reinterpret_cast<pthread_rwlock_t *>(reinterpret_cast<char *>(s) + kLockOffset<pthread_rwlock_t>);
}

bool inited(const uint32_t *marker) { return __atomic_load_n(marker, __ATOMIC_ACQUIRE) == CAM_OS_INIT_MARKER; }
void set_marker(uint32_t *marker, uint32_t v) { __atomic_store_n(marker, v, __ATOMIC_RELEASE); }

// Caller of the public operation, printed as "LR:0x%08X" so misuse can be traced.
#define CAM_OS_LR() ((unsigned int)(uintptr_t)__builtin_return_address(0))

// Initialise under the process-wide lock unless another thread already did.
CamOsRet_e mutex_self_init(CamOsMutex_t *m, const char *fn, unsigned int lr) {
    CamOsRet_e ret = CAM_OS_OK;
    pthread_mutex_lock(&_gtSelfInitLock);
    if (!inited(&m->nPriv[0])) {
        if (pthread_mutex_init(mutex_of(m), nullptr) != 0) {
            CamOsPrintf("%s init fail, LR:0x%08X\n", fn, lr);
            ret = CAM_OS_FAIL;
        } else {
            set_marker(&m->nPriv[0], CAM_OS_INIT_MARKER);
        }
    }
    pthread_mutex_unlock(&_gtSelfInitLock);
    return ret;
}

void sleep_us(uint64_t us) {
    timespec ts;
    ts.tv_sec = (time_t)(us / 1000000u);
    ts.tv_nsec = (long)(us % 1000000u) * 1000;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

extern "C" {

int CamOsPrintf(const char *szFmt, ...) {
    va_list ap;
    va_start(ap, szFmt);
    int n = vfprintf(stderr, szFmt, ap);
    va_end(ap);
    return n;
}

int CamOsSnprintf(char *szBuf, uint32_t nSize, const char *szFmt, ...) {
    va_list ap;
    va_start(ap, szFmt);
    int n = vsnprintf(szBuf, nSize, szFmt, ap);
    va_end(ap);
    return n;
}

// Rounded up to a multiple of 10 ms, computed in 64 bits so that long sleeps
// do not wrap.
void CamOsMsSleep(uint32_t nMsec) { sleep_us(((uint64_t)nMsec + 9) / 10 * 10000u); }

void CamOsUsSleep(uint32_t nUsec) { sleep_us(nUsec); }

void CamOsGetTimeOfDay(CamOsTimespec_t *ptRes) {
    if (!ptRes) return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    ptRes->nSec = (uint32_t)tv.tv_sec;
    ptRes->nNanoSec = (uint32_t)tv.tv_usec * 1000u;
}

void *CamOsMemAlloc(uint32_t nSize) { return malloc(nSize); }
void *CamOsMemCalloc(uint32_t nNum, uint32_t nSize) { return calloc(nNum, nSize); }
void CamOsMemRelease(void *pPtr) { free(pPtr); }

__attribute__((noinline)) uint64_t CamOsMathDivU64(uint64_t nDividend, uint64_t nDivisor, uint64_t *pRemainder) {
    if (nDivisor == 0) {
        CamOsPrintf("%s divide by zero, LR:0x%08X\n", __func__, CAM_OS_LR());
        if (pRemainder) *pRemainder = nDividend;
        return 0;
    }
    if (pRemainder) *pRemainder = nDividend % nDivisor;
    return nDividend / nDivisor;
}

__attribute__((noinline)) int64_t CamOsMathDivS64(int64_t nDividend, int64_t nDivisor, int64_t *pRemainder) {
    if (nDivisor == 0) {
        CamOsPrintf("%s divide by zero, LR:0x%08X\n", __func__, CAM_OS_LR());
        if (pRemainder) *pRemainder = nDividend;
        return 0;
    }
    if (nDivisor == -1) {
        // Negation wraps for the most negative value instead of trapping.
        if (pRemainder) *pRemainder = 0;
        return (int64_t)(0 - (uint64_t)nDividend);
    }
    if (pRemainder) *pRemainder = nDividend % nDivisor;
    return nDividend / nDivisor;
}

__attribute__((noinline)) CamOsRet_e CamOsMutexInit(CamOsMutex_t *ptMutex) {
    if (!ptMutex) return CAM_OS_PARAM_ERR;
    if (inited(&ptMutex->nPriv[0])) {
        CamOsPrintf("%s already inited, LR:0x%08X\n", __func__, CAM_OS_LR());
        return CAM_OS_FAIL;
    }
    return mutex_self_init(ptMutex, __func__, CAM_OS_LR());
}

__attribute__((noinline)) CamOsRet_e CamOsMutexDestroy(CamOsMutex_t *ptMutex) {
    if (!ptMutex) return CAM_OS_PARAM_ERR;
    if (!inited(&ptMutex->nPriv[0])) {
        CamOsPrintf("%s not inited, LR:0x%08X\n", __func__, CAM_OS_LR());
        return CAM_OS_FAIL;
    }
    pthread_mutex_destroy(mutex_of(ptMutex));
    set_marker(&ptMutex->nPriv[0], 0);
    return CAM_OS_OK;
}

// First use initialises; a racing first lock from another thread is not a
// misuse, so it is not reported as "already inited".
__attribute__((noinline)) CamOsRet_e CamOsMutexLock(CamOsMutex_t *ptMutex) {
    if (!ptMutex) return CAM_OS_PARAM_ERR;
    if (!inited(&ptMutex->nPriv[0])) (void)mutex_self_init(ptMutex, "CamOsMutexInit", CAM_OS_LR());
    if (pthread_mutex_lock(mutex_of(ptMutex)) != 0) {
        CamOsPrintf("%s lock fail, LR:0x%08X\n", __func__, CAM_OS_LR());
        return CAM_OS_FAIL;
    }
    return CAM_OS_OK;
}

__attribute__((noinline)) CamOsRet_e CamOsMutexUnlock(CamOsMutex_t *ptMutex) {
    if (!ptMutex) return CAM_OS_PARAM_ERR;
    if (!inited(&ptMutex->nPriv[0])) (void)mutex_self_init(ptMutex, "CamOsMutexInit", CAM_OS_LR());
    if (pthread_mutex_unlock(mutex_of(ptMutex)) != 0) {
        CamOsPrintf("%s unlock fail, LR:0x%08X\n", __func__, CAM_OS_LR());
        return CAM_OS_FAIL;
    }
    return CAM_OS_OK;
}

__attribute__((noinline)) CamOsRet_e CamOsRwsemInit(CamOsRwsem_t *ptRwsem) {
    if (!ptRwsem) return CAM_OS_PARAM_ERR;
    if (inited(&ptRwsem->nPriv[0])) {
        CamOsPrintf("%s already inited, LR:0x%08X\n", __func__, CAM_OS_LR());
        return CAM_OS_FAIL;
    }
    CamOsRet_e ret = CAM_OS_OK;
    pthread_mutex_lock(&_gtSelfInitLock);
    // Re-checked under the lock: initialising a lock another thread already
    // set up (and may hold) would corrupt it.
    if (!inited(&ptRwsem->nPriv[0])) {
        if (pthread_rwlock_init(rwlock_of(ptRwsem), nullptr) != 0) {
            CamOsPrintf("%s init fail, LR:0x%08X\n", __func__, CAM_OS_LR());
            ret = CAM_OS_FAIL;
        } else {
            set_marker(&ptRwsem->nPriv[0], CAM_OS_INIT_MARKER);
        }
    }
    pthread_mutex_unlock(&_gtSelfInitLock);
    return ret;
}

#define CAM_OS_RWSEM_OP_(name, call)                                               \
    __attribute__((noinline)) void name(CamOsRwsem_t *ptRwsem) {                   \
        if (!ptRwsem) return;                                                      \
        if (!inited(&ptRwsem->nPriv[0])) {                                         \
            CamOsPrintf("%s not inited, LR:0x%08X\n", __func__, CAM_OS_LR());      \
            return;                                                                \
        }                                                                          \
        call(rwlock_of(ptRwsem));                                                  \
    }

CAM_OS_RWSEM_OP_(CamOsRwsemDownRead, pthread_rwlock_rdlock)
CAM_OS_RWSEM_OP_(CamOsRwsemDownWrite, pthread_rwlock_wrlock)
CAM_OS_RWSEM_OP_(CamOsRwsemUpRead, pthread_rwlock_unlock)
CAM_OS_RWSEM_OP_(CamOsRwsemUpWrite, pthread_rwlock_unlock)

}  // extern "C"
