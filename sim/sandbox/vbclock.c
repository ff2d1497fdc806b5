/* Board wall clock, preloaded into every program that runs on the virtual board.
 *
 * The board may set its wall clock (settimeofday, clock_settime: the command
 * handler does, "date -s" does). The machine hosting the board must not move,
 * so setting the clock only stores an offset against the machine's clock, and
 * every read of the wall clock adds it. The offset is shared by all board
 * processes through a mapped file named by $VB_CLOCK_FILE: a little-endian
 * int64 of nanoseconds at byte 0. Monotonic clocks are left alone.
 *
 * The programs run without CAP_SYS_TIME, so a call that bypasses this shim
 * fails instead of setting the machine's clock.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define NSEC 1000000000LL

/* The C library declares some arguments below nonnull, yet callers do pass
 * NULL (gettimeofday(NULL, &tz)); the checks stay (the shim is also built with
 * -fno-delete-null-pointer-checks). */
#pragma GCC diagnostic ignored "-Wnonnull-compare"

typedef int (*clock_gettime_fn)(clockid_t, struct timespec *);

static clock_gettime_fn real_clock_gettime;
static int64_t *offset_ns;  /* NULL: no board clock file, offset 0, clock not settable */
static int initialised;

static void vb_clock_init(void) {
    if (__atomic_load_n(&initialised, __ATOMIC_ACQUIRE)) return;
    clock_gettime_fn fn = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    int64_t *map = NULL;
    const char *path = getenv("VB_CLOCK_FILE");
    if (path && *path) {
        int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st;
            if (fstat(fd, &st) == 0 && st.st_size >= (off_t)sizeof(int64_t)) {
                void *p = mmap(NULL, sizeof(int64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (p != MAP_FAILED) map = (int64_t *)p;
            }
            close(fd);
        }
    }
    /* Two threads may race here; both compute the same values. */
    real_clock_gettime = fn;
    offset_ns = map;
    __atomic_store_n(&initialised, 1, __ATOMIC_RELEASE);
}

static int machine_clock(clockid_t id, struct timespec *ts) {
    vb_clock_init();
    if (!real_clock_gettime) {
        errno = ENOSYS;
        return -1;
    }
    return real_clock_gettime(id, ts);
}

static int64_t current_offset(void) {
    return offset_ns ? __atomic_load_n(offset_ns, __ATOMIC_RELAXED) : 0;
}

static int is_wall_clock(clockid_t id) {
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

static void add_ns(struct timespec *ts, int64_t off) {
    int64_t t = (int64_t)ts->tv_sec * NSEC + ts->tv_nsec + off;
    int64_t s = t / NSEC, n = t % NSEC;
    if (n < 0) {
        n += NSEC;
        s -= 1;
    }
    ts->tv_sec = (time_t)s;
    ts->tv_nsec = (long)n;
}

static int set_wall_clock(int64_t target_ns) {
    vb_clock_init();
    if (!offset_ns) {
        errno = EPERM;
        return -1;
    }
    struct timespec now;
    if (machine_clock(CLOCK_REALTIME, &now) != 0) return -1;
    int64_t machine_ns = (int64_t)now.tv_sec * NSEC + now.tv_nsec;
    __atomic_store_n(offset_ns, target_ns - machine_ns, __ATOMIC_RELAXED);
    return 0;
}

int clock_gettime(clockid_t id, struct timespec *ts) {
    int r = machine_clock(id, ts);
    if (r == 0 && is_wall_clock(id)) add_ns(ts, current_offset());
    return r;
}

int gettimeofday(struct timeval *restrict tv, void *restrict tz) {
    if (tz) {
        struct timezone *z = (struct timezone *)tz;
        z->tz_minuteswest = 0;
        z->tz_dsttime = 0;
    }
    if (!tv) return 0;
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
}

time_t time(time_t *out) {
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return (time_t)-1;
    if (out) *out = ts.tv_sec;
    return ts.tv_sec;
}

int timespec_get(struct timespec *ts, int base) {
    if (base != TIME_UTC) return 0;
    return clock_gettime(CLOCK_REALTIME, ts) == 0 ? base : 0;
}

int settimeofday(const struct timeval *tv, const struct timezone *tz) {
    (void)tz;  /* the kernel's timezone is not the board's to change either */
    if (!tv) return 0;
    if (tv->tv_usec < 0 || tv->tv_usec >= 1000000) {
        errno = EINVAL;
        return -1;
    }
    return set_wall_clock((int64_t)tv->tv_sec * NSEC + (int64_t)tv->tv_usec * 1000);
}

int clock_settime(clockid_t id, const struct timespec *ts) {
    if (id != CLOCK_REALTIME || !ts || ts->tv_nsec < 0 || ts->tv_nsec >= NSEC) {
        errno = EINVAL;
        return -1;
    }
    return set_wall_clock((int64_t)ts->tv_sec * NSEC + ts->tv_nsec);
}
