#include "uart_proto.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "usb_detect.h"
#include "user_setting.h"

static_assert(sizeof(ST_Protocol) == UART_BAG_SIZE, "frame buffer layout");
static_assert(offsetof(ST_Protocol, usLen) == 2 && offsetof(ST_Protocol, ucDevType) == 4 &&
                  offsetof(ST_Protocol, ucIfType) == 6 && offsetof(ST_Protocol, ucCmd) == 16 &&
                  offsetof(ST_Protocol, ucData) == 17,
              "frame field offsets");

int g_UartFd = -1;
// Statically initialised: other threads may send before the serial thread runs.
pthread_mutex_t g_UartSendMutex = PTHREAD_MUTEX_INITIALIZER;
u8 g_UpdataFlag = 0;
Queue stUartQueue;
BagQueue stRecvBagQueue;
SStateVar stStateVarUart;
alignas(4) u8 ucUartRetuBuf[UART_BAG_SIZE];
static u8 ucUartQueueBuf[UART_BAG_SIZE];
static u8 ucRecvUartBagQueueBuf[UART_BAG_SIZE * UART_BAG_NUM];

static inline u16 get_le16(const u8 *p) { return (u16)(p[0] | (p[1] << 8)); }
static inline void put_le16(u8 *p, u16 v) {
    p[0] = (u8)(v & 0xFF);
    p[1] = (u8)(v >> 8);
}

u16 CalcCheckSum(const u8 *data, u16 len) {
    u16 sum = 0;
    for (u16 i = 0; i < len; i++) sum = (u16)(sum + data[i]);
    return sum;
}

u16 ReturnErrCode(u8 *at, u8 code) {
    *at = code;
    return 1;
}

u16 UartFinishBag(u8 *bag, u16 payload_len) {
    if (payload_len > UART_PAYLOAD_MAX) return 0;
    u16 len = (u16)(payload_len + UART_BAG_MIN);
    bag[0] = UART_HEAD_1;
    bag[1] = UART_HEAD_2;
    put_le16(bag + 2, len);
    bag[4] = UART_DEV_TYPE_OWN;
    put_le16(bag + len - 3, CalcCheckSum(bag, (u16)(len - 3)));
    bag[len - 1] = UART_TAIL;
    return len;
}

u64 UartMonotonicUs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (u64)ts.tv_sec * 1000000ULL + (u64)ts.tv_nsec / 1000ULL;
}

// ---- parser ---------------------------------------------------------------

// When the last read that got bytes returned (ms): no byte in the ring or the
// parser came off the line later than that.
static unsigned long s_RxMs;

static void AnalyzeStateTimeOutEnable(ST_TimeOut *t) {
    t->ucRun = 1;
    t->usCount = 0;
    // From when the byte came off the line, not from when it was parsed.
    t->ulTimer = s_RxMs;
}

static void AnalyzeStateTimeOutDisable(ST_TimeOut *t) {
    t->ucRun = 0;
    t->usCount = 0;
}

static void ParserDrop(SStateVar *s) {
    s->eCurrRecvState = STATE_RX_HEADER_1;
    s->usRecBufPos = 0;
    s->usCheckSum = 0;
}

static inline bool ParserBacklog(const SStateVar *s) { return s->usBackPos < s->usBackLen; }

// The frame begun at a false header failed on byte `b` (-1: the line went
// quiet). The search resumes at the byte after its first one: its other bytes
// and `b` are taken back, ahead of any still waiting there. Between calls the
// taken-back bytes wait only while the parser is idle, and never grow past a
// frame less one byte, so these never exceed a frame.
static void ParserTakeBack(SStateVar *s, int b) {
    u16 keep = (u16)(s->usBackLen - s->usBackPos);
    u16 after = s->usRecBufPos ? (u16)(s->usRecBufPos - 1) : 0;
    u16 mine = (u16)(after + (b >= 0 ? 1 : 0));
    memmove(s->ucBackBuf + mine, s->ucBackBuf + s->usBackPos, keep);
    memcpy(s->ucBackBuf, s->ucBagBuf + 1, after);
    if (b >= 0) s->ucBackBuf[mine - 1] = (u8)b;
    s->usBackPos = 0;
    s->usBackLen = (u16)(mine + keep);
    ParserDrop(s);
}

static void AnalyzeStateTimeOutEvent(SStateVar *s) {
    ParserTakeBack(s, -1);
    AnalyzeStateTimeOutDisable(&s->stAnalyzeTimeOut);
}

void UartProto_TimeOutInit(void) {
    memset(&stStateVarUart, 0, sizeof(stStateVarUart));
    stStateVarUart.eCurrRecvState = STATE_RX_HEADER_1;
    stStateVarUart.stAnalyzeTimeOut.pfnEvent = AnalyzeStateTimeOutEvent;
    s_RxMs = (unsigned long)(UartMonotonicUs() / 1000ULL);
}

void UartProto_TimeOutPoll(SStateVar *s, unsigned long now_ms) {
    ST_TimeOut *t = &s->stAnalyzeTimeOut;
    // Signed difference: a clock read taken before the last byte never fires,
    // and the millisecond count may wrap.
    long since = (long)(now_ms - t->ulTimer);
    if (!t->ucRun || since < (long)UART_RESYNC_GAP_MS) return;
    if (t->pfnEvent)
        t->pfnEvent(s);
    else
        AnalyzeStateTimeOutEvent(s);
}

static inline void ParserTake(SStateVar *s, u8 b, bool sum) {
    if (sum) s->usCheckSum = (u16)(s->usCheckSum + b);
    s->ucBagBuf[s->usRecBufPos++] = b;
}

// One byte through the states of a frame: 1 when it completed one (queued),
// -1 when it shows the frame begun so far false, else 0.
static int ParserStep(SStateVar *s, u8 b) {
    switch (s->eCurrRecvState) {
    case STATE_RX_HEADER_1:
        ParserDrop(s);
        if (b == UART_HEAD_1) {
            ParserTake(s, b, true);
            s->eCurrRecvState = STATE_RX_HEADER_2;
        }
        return 0;
    case STATE_RX_HEADER_2:
        if (b != UART_HEAD_2) return -1;
        ParserTake(s, b, true);
        s->eCurrRecvState = STATE_RX_BAG_LEN_1;
        return 0;
    case STATE_RX_BAG_LEN_1:
        s->usRecBagLen = b;
        ParserTake(s, b, true);
        s->eCurrRecvState = STATE_RX_BAG_LEN_2;
        return 0;
    case STATE_RX_BAG_LEN_2:
        s->usRecBagLen = (u16)((s->usRecBagLen | (b << 8)) & UART_LEN_MASK);
        if (s->usRecBagLen < UART_BAG_MIN || s->usRecBagLen > UART_BAG_SIZE) return -1;
        ParserTake(s, b, true);
        s->eCurrRecvState = STATE_RX_DATA;
        return 0;
    case STATE_RX_DATA:
        ParserTake(s, b, true);
        if (s->usRecBufPos >= s->usRecBagLen - 3) s->eCurrRecvState = STATE_RX_CHECKSUM_1;
        return 0;
    case STATE_RX_CHECKSUM_1:
        s->usGetCheckSum = b;
        ParserTake(s, b, false);
        s->eCurrRecvState = STATE_RX_CHECKSUM_2;
        return 0;
    case STATE_RX_CHECKSUM_2:
        s->usGetCheckSum = (u16)(s->usGetCheckSum | (b << 8));
        if (s->usGetCheckSum != s->usCheckSum) return -1;
        ParserTake(s, b, false);
        s->eCurrRecvState = STATE_RX_TAIL;
        return 0;
    case STATE_RX_TAIL:
        if (b != UART_TAIL) return -1;
        ParserTake(s, b, false);
        BagQueueAddData(&stRecvBagQueue, s->ucBagBuf, s->usRecBufPos);
        ParserDrop(s);
        return 1;
    default:
        ParserDrop(s);
        return 0;
    }
}

// The gap watch runs while a frame is half received.
static void ParserWatch(SStateVar *s) {
    if (s->eCurrRecvState == STATE_RX_HEADER_1)
        AnalyzeStateTimeOutDisable(&s->stAnalyzeTimeOut);
    else
        AnalyzeStateTimeOutEnable(&s->stAnalyzeTimeOut);
}

// Searches the taken-back bytes until one frame completes (1) or none are
// left (0): one frame at a time, so the caller can keep the frame queue's room.
static int ParserResume(SStateVar *s) {
    int done = 0;
    while (!done && ParserBacklog(s)) {
        u8 b = s->ucBackBuf[s->usBackPos++];
        done = ParserStep(s, b);
        if (done < 0) {
            ParserTakeBack(s, b);
            done = 0;
        }
    }
    if (!ParserBacklog(s)) s->usBackPos = s->usBackLen = 0;
    ParserWatch(s);
    return done;
}

int MediumCtrl_ProtocolAnalyzeState(u8 b, SStateVar *s) {
    if (ParserBacklog(s)) {
        // A new byte waits behind those still to be searched again.
        if (s->usBackLen == sizeof(s->ucBackBuf)) {
            s->usBackLen = (u16)(s->usBackLen - s->usBackPos);
            memmove(s->ucBackBuf, s->ucBackBuf + s->usBackPos, s->usBackLen);
            s->usBackPos = 0;
        }
        s->ucBackBuf[s->usBackLen++] = b;
        return ParserResume(s);
    }
    int done = ParserStep(s, b);
    if (done < 0) {
        ParserTakeBack(s, b);
        return ParserResume(s);
    }
    ParserWatch(s);
    return done;
}

// ---- queues -----------------------------------------------------------------

void UartRecvQueueInit(void) {
    QueueInit(&stUartQueue, ucUartQueueBuf, sizeof(ucUartQueueBuf));
    BagQueueInit(&stRecvBagQueue, ucRecvUartBagQueueBuf, UART_BAG_SIZE, UART_BAG_NUM);
    UartProto_TimeOutInit();
}

int UartBagQueuePending(void) {
    int n = stRecvBagQueue.ucBagNum;
    if (n == 0) return 0;
    return ((int)stRecvBagQueue.usTail.load() - (int)stRecvBagQueue.usHead.load() + n) % n;
}

static int UartByteQueueUsed(void) {
    int n = stUartQueue.usBufSize;
    if (n == 0) return 0;
    return ((int)stUartQueue.usTail.load() - (int)stUartQueue.usHead.load() + n) % n;
}

int UartRecvData(void) {
    // The rings have no full test: never take more than they can hold, the
    // rest waits in the driver.
    int room = (int)stUartQueue.usBufSize - 1 - UartByteQueueUsed();
    if (room <= 0 || g_UartFd < 0) return 0;
    u8 buf[UART_READ_MAX];
    ssize_t n = read(g_UartFd, buf, room < UART_READ_MAX ? (size_t)room : sizeof(buf));
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    if (n > 0) s_RxMs = (unsigned long)(UartMonotonicUs() / 1000ULL);
    for (ssize_t i = 0; i < n; i++) QueueAddData(&stUartQueue, buf[i]);
    return (int)n;
}

void UartRecvHandle(void) {
    // Stop completing frames while the frame queue is full: what is left stays
    // in the byte ring, or taken back, until the router has taken a frame.
    SStateVar *s = &stStateVarUart;
    u8 b;
    while (UartBagQueuePending() < UART_BAG_NUM - 1) {
        if (ParserBacklog(s))
            ParserResume(s);
        else if (QueueGetData(&stUartQueue, &b))
            MediumCtrl_ProtocolAnalyzeState(b, s);
        else
            break;
    }
}

void UartRecvStep(int got, u64 read_us) {
    // Only a read that found the line quiet, with every byte before it
    // parsed, may end a cut-short frame: time spent routing is no gap.
    if (got == 0 && UartByteQueueUsed() == 0 && !ParserBacklog(&stStateVarUart))
        UartProto_TimeOutPoll(&stStateVarUart, (unsigned long)(read_us / 1000ULL));
    UartRecvHandle();
    RecvBagPoll(g_UartFd);
}

// ---- writes -----------------------------------------------------------------

static int WriteAll(int fd, const u8 *buf, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, buf + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return -1;
        done += (size_t)n;
    }
    return (int)done;
}

int UartWriteLocked(int fd, const u8 *buf, size_t len) {
    if (len == 0) return 0;
    pthread_mutex_lock(&g_UartSendMutex);
    int r = fd < 0 ? -1 : WriteAll(fd, buf, len);
    pthread_mutex_unlock(&g_UartSendMutex);
    return r;
}

int UartSendBag(u8 ucCmd, const u8 *pudata, u16 ucDatalen) {
    if (ucDatalen > UART_PAYLOAD_MAX) {
        printf("UartSendBag: cmd %x payload %u bytes refused\n", ucCmd, ucDatalen);
        return -1;
    }
    // One buffer per call: senders on several threads never share a frame.
    u8 RetuBuf[UART_BAG_SIZE];
    memset(RetuBuf, 0, sizeof(RetuBuf));
    RetuBuf[16] = ucCmd;
    if (ucDatalen) memcpy(RetuBuf + 17, pudata, ucDatalen);
    u16 len = UartFinishBag(RetuBuf, ucDatalen);
    pthread_mutex_lock(&g_UartSendMutex);
    int r = g_UartFd < 0 ? -1 : WriteAll(g_UartFd, RetuBuf, len);
    pthread_mutex_unlock(&g_UartSendMutex);
    return r;
}

int UartSendErrorCode(u32 code) {
    u8 b = (u8)(code & 0xFF);
    return UartSendBag(UART_CMD_ERRCODE, &b, 1);
}

int UartSendRecErrorCode(u32 code) {
    u8 b = (u8)(code & 0xFF);
    return UartSendBag(UART_CMD_REC_ERRCODE, &b, 1);
}

int UartSendRtmpStatus(u8 status) {
    u8 d[2] = {0, status};
    return UartSendBag(UART_CMD_RTMP_STATUS, d, 2);
}

int UartSendUrlIndex(u8 index) {
    u8 d[2] = {0, index};
    return UartSendBag(UART_CMD_URL_INDEX, d, 2);
}

int NetToUartSendBag(const u8 *pucBuf, int len) {
    if (len <= 0) return 0;
    pthread_mutex_lock(&g_UartSendMutex);
    int r = g_UartFd < 0 ? -1 : WriteAll(g_UartFd, pucBuf, (size_t)len);
    pthread_mutex_unlock(&g_UartSendMutex);
    return r;
}

// ---- router -----------------------------------------------------------------

int RecvBagPoll(int fd) {
    u8 *slot = nullptr;
    if (!BagQueueGetData(&stRecvBagQueue, &slot)) return 0;
    memcpy(ucUartRetuBuf, slot, UART_BAG_SIZE);
    u16 raw = get_le16(ucUartRetuBuf + 2);
    u8 ver = (u8)(raw >> UART_VER_SHIFT);
    u16 len = (u16)(raw & UART_LEN_MASK);
    put_le16(ucUartRetuBuf + 2, len);
    printf("usVersion = %x , usLen = %d,%d\r\n", ver, len, UART_BAG_SIZE);

    const ST_Protocol *p = (const ST_Protocol *)ucUartRetuBuf;
    if (p->ucIfType != 1) {
        u16 r = ProtoRecvBagHandle(ucUartRetuBuf);
        if (r > UART_BAG_SIZE) r = UART_BAG_SIZE;
        if (p->ucCmd != UART_CMD_HEART && r > 0) UartWriteLocked(fd, ucUartRetuBuf, r);
    } else if (ver != 0) {
        UartToNetBagNew(ucUartRetuBuf, len);
        UartToNetBag_mcast(ucUartRetuBuf, len);
    } else if (p->ucCmd == 0x5E || p->ucCmd == 0x5F) {
        UartToNetBag_7100(ucUartRetuBuf, len);
    } else {
        if (p->ucCmd == 0x10 || p->ucCmd == 0x40)
            g_UpdataFlag = 1;
        else if (p->ucCmd == 0x49)
            g_UpdataFlag = 0;
        printf("uart to net bag  cmd %x  %d \r\n", p->ucCmd, len);
        UartToNetBag(ucUartRetuBuf, len);
    }
    return 1;
}

// ---- heartbeat --------------------------------------------------------------

static bool s_HeartStarted = false;
static u64 s_HeartLastUs = 0;

void UartHeartReset(void) { s_HeartStarted = false; }

// Microseconds until the next beat is due (0: now).
static u64 UartHeartDueInUs(u64 now_us) {
    if (!s_HeartStarted || now_us - s_HeartLastUs >= UART_HEART_PERIOD_US) return 0;
    return UART_HEART_PERIOD_US - (now_us - s_HeartLastUs);
}

int UartHeartPoll(u64 now_us) {
    if (UartHeartDueInUs(now_us) != 0) return 0;
    s_HeartStarted = true;
    s_HeartLastUs = now_us;
    if (!g_UpdataFlag) DeviceHeart();
    return 1;
}

void HeartApplyStorage(int result, u32 total, u32 freemb) {
    if (result > 0) total = freemb = 0;
    g_stUserSet.usTotalSize = total;
    g_stUserSet.usFreeSize = freemb;
    if (UserSetGet(UsrBits::SaveOnOff) && freemb <= 512) {
        // Too little room left: the muxer closes the file at the next key frame.
        UserSetPut(UsrBits::SaveOnOff, 0);
        UserSetPut(UsrBits::SaveStop, 1);
    }
}

void DeviceHeart(void) {
    g_stUserSet.usChipId = 0x0910;
    g_stUserSet.ucVersion = 0x26;
    u32 total = 0, freemb = 0, used = 0;
    int r = GetSDcardInfo_New(&total, &freemb, &used);
    HeartApplyStorage(r, total, freemb);
    ST_GLOBAL_SETTING snap;
    UserSetSnapshot(&snap);
    u8 payload[1 + sizeof(ST_GLOBAL_SETTING)];
    payload[0] = 0;
    memcpy(payload + 1, &snap, sizeof(ST_GLOBAL_SETTING));
    UartSendBag(UART_CMD_HEART, payload, sizeof(payload));
}

// ---- serial thread ------------------------------------------------------------

int init_ttyS(int fd) {
    struct termios tio;
    memset(&tio, 0, sizeof(tio));
    if (tcgetattr(fd, &tio) != 0) return -1;
    cfsetispeed(&tio, B921600);
    cfsetospeed(&tio, B921600);
    tio.c_cflag |= (CLOCAL | CREAD);
    tio.c_cflag &= ~(tcflag_t)(PARENB | CSTOPB | CSIZE);
    tio.c_cflag |= CS8;
    tio.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ECHOE | ISIG);
    tio.c_oflag &= ~(tcflag_t)OPOST;
    tio.c_iflag &= ~(tcflag_t)(BRKINT | INPCK | ISTRIP | ICRNL | IXON);
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VMIN] = 0;
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &tio);
}

static const char *s_UartPath = UART_DEV_PATH;

void UartSetDevPath(const char *path) { s_UartPath = path ? path : UART_DEV_PATH; }

// Opens and sets up the port; the descriptor is published under the write
// mutex so that other threads never write to a half-set-up port.
static int UartOpen(bool report) {
    int fd = open(s_UartPath, O_RDWR);
    if (fd < 0) {
        if (report) perror(s_UartPath);
        return -1;
    }
    printf("Open...\n");
    init_ttyS(fd);
    printf("Reading...\n");
    pthread_mutex_lock(&g_UartSendMutex);
    g_UartFd = fd;
    pthread_mutex_unlock(&g_UartSendMutex);
    return fd;
}

static void UartClose(void) {
    pthread_mutex_lock(&g_UartSendMutex);
    int fd = g_UartFd;
    g_UartFd = -1;
    pthread_mutex_unlock(&g_UartSendMutex);
    if (fd >= 0) close(fd);
}

// How long (ms) the thread may wait at `now_us`; 0 while frames or bytes wait.
static int UartWaitMs(u64 now_us, u64 last_try_us) {
    // Frames or bytes still waiting: no wait at all.
    if (UartBagQueuePending() > 0 || UartByteQueueUsed() > 0 || ParserBacklog(&stStateVarUart)) return 0;
    u64 wait = UartHeartDueInUs(now_us);
    const ST_TimeOut *t = &stStateVarUart.stAnalyzeTimeOut;
    if (t->ucRun) {
        // The quiet gap that ends a half-received frame.
        long since_ms = (long)((unsigned long)(now_us / 1000ULL) - t->ulTimer);
        long left_ms = (long)UART_RESYNC_GAP_MS - since_ms;
        u64 gap = left_ms > 0 ? (u64)left_ms * 1000ULL : 0;
        if (gap < wait) wait = gap;
    }
    if (g_UartFd < 0) {
        u64 reopen = now_us - last_try_us >= UART_REOPEN_PERIOD_US ? 0 : UART_REOPEN_PERIOD_US - (now_us - last_try_us);
        if (reopen < wait) wait = reopen;
    }
    return (int)((wait + 999ULL) / 1000ULL);  // never wake before it is due
}

void *UartDataProc(void *p) {
    (void)p;
    pthread_setname_np(pthread_self(), "UartDataProc");
    g_UpdataFlag = 0;
    bool reported = false;
    if (UartOpen(true) < 0) reported = true;
    u64 last_try = UartMonotonicUs();
    for (;;) {
        // Sleep until bytes arrive or the next beat, gap end or reopen is due.
        struct pollfd pfd = {g_UartFd, POLLIN, 0};
        int ready = poll(&pfd, g_UartFd >= 0 ? 1 : 0, UartWaitMs(UartMonotonicUs(), last_try));
        bool hung = ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
        u64 now = UartMonotonicUs();
        // A port that is missing or hung up is opened again once a second.
        if (g_UartFd < 0 && now - last_try >= UART_REOPEN_PERIOD_US) {
            last_try = now;
            if (UartOpen(!reported) < 0)
                reported = true;
            else
                reported = false;
        }
        int got = UartRecvData();
        if (got < 0 || (hung && got == 0)) {
            // Hung up or gone: drop it and open it again later.
            perror(s_UartPath);
            UartClose();
            last_try = now;
        }
        UartRecvStep(got, now);
        UartHeartPoll(UartMonotonicUs());
    }
    return nullptr;
}
