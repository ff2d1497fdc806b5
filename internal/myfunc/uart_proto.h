// Control link on the serial port: frame format, byte-wise parser, the serial
// thread with its router and heartbeat, and the device frames the recorder
// sends on its own. Every write to the port goes through g_UartSendMutex.
#pragma once
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#include "bag_queue.h"
#include "link_types.h"

#define UART_DEV_PATH "/dev/ttyS2"
#define UART_BAG_SIZE 1056                            // one frame buffer
#define UART_BAG_MIN 20                               // frame with empty payload
#define UART_BAG_NUM 10                               // slots of the frame queue
#define UART_PAYLOAD_MAX (UART_BAG_SIZE - UART_BAG_MIN)  // 1036
#define UART_HEAD_1 0xA5
#define UART_HEAD_2 0x6C
#define UART_TAIL 0xAE
#define UART_DEV_TYPE_OWN 0xE0                        // byte 4 of every frame we build
#define UART_LEN_MASK 0x07FF
#define UART_VER_SHIFT 11
#define UART_READ_MAX 100                             // bytes per read (1 ms at 921600 baud)
#define UART_RESYNC_GAP_MS 50                         // silence that ends a cut-short frame
#define UART_HEART_PERIOD_US 1000000ULL
#define UART_REOPEN_PERIOD_US 1000000ULL

// Device frame commands.
#define UART_CMD_HEART 0xBB
#define UART_CMD_ERRCODE 0xEE
#define UART_CMD_REC_ERRCODE 0xE1
#define UART_CMD_RTMP_STATUS 0x68
#define UART_CMD_URL_INDEX 0x6C
#define UART_CMD_URL_RECORD 0x67

// Frame as it lies in a 1056-byte buffer. ucData holds the payload followed by
// the checksum (u16 LE) and the tail byte; their place depends on usLen.
typedef struct {
    u16 usHead;  // 0x6CA5
    u16 usLen;   // bits 0-10 total length, bits 11-15 version
    u8 ucDevType;
    u8 ucDevID;
    u8 ucIfType;  // 1: relay to the network
    u8 ucReserve[9];
    u8 ucCmd;
    u8 ucData[UART_BAG_SIZE - 17];
} ST_Protocol;

typedef enum {
    STATE_RX_HEADER_1 = 0,
    STATE_RX_HEADER_2 = 1,
    STATE_RX_BAG_LEN_1 = 2,
    STATE_RX_BAG_LEN_2 = 3,
    STATE_RX_DATA = 4,
    STATE_RX_CHECKSUM_1 = 5,
    STATE_RX_CHECKSUM_2 = 6,
    STATE_RX_TAIL = 7,
} eRecState;

struct SStateVar;
typedef void (*TimeOutEvent)(struct SStateVar *);

// Inter-byte gap watch: running while a frame is half received; ulTimer is the
// monotonic time (ms) of the read that took the last byte off the line.
typedef struct {
    u16 usCount;
    u8 ucRun;
    unsigned long ulTimer;
    TimeOutEvent pfnEvent;
} ST_TimeOut;

typedef struct SStateVar {
    eRecState eCurrRecvState;
    u16 usRecBagLen;
    u16 usCheckSum;
    u16 usGetCheckSum;
    u16 usRecBufPos;
    ST_TimeOut stAnalyzeTimeOut;
    u8 ucBagBuf[UART_BAG_SIZE];
    // Bytes a false header had taken, to be searched again (from usBackPos).
    u16 usBackPos;
    u16 usBackLen;
    u8 ucBackBuf[UART_BAG_SIZE];
} SStateVar;

extern int g_UartFd;
extern pthread_mutex_t g_UartSendMutex;
extern u8 g_UpdataFlag;
extern Queue stUartQueue;
extern BagQueue stRecvBagQueue;
extern SStateVar stStateVarUart;
extern u8 ucUartRetuBuf[UART_BAG_SIZE];

// ---- frame helpers ------------------------------------------------------
u16 CalcCheckSum(const u8 *data, u16 len);
u16 ReturnErrCode(u8 *at, u8 code);
// Fills length, byte 4 (0xE0), checksum and tail of a frame whose payload of
// `payload_len` bytes is already in place. Returns the frame length, or 0 when
// the payload does not fit a frame.
u16 UartFinishBag(u8 *bag, u16 payload_len);

// ---- receive side ---------------------------------------------------------
void UartRecvQueueInit(void);
void UartProto_TimeOutInit(void);
// Feeds one byte; returns 1 when it completed a frame (then queued). A frame
// that fails (checksum, tail, quiet line) is searched again from its second
// byte, a frame at a time: UartRecvHandle goes on with what is left.
int MediumCtrl_ProtocolAnalyzeState(u8 ucRecvData, SStateVar *stStateVar);
// Ends a half-received frame once the line has been quiet for
// UART_RESYNC_GAP_MS; `now_ms` is monotonic.
void UartProto_TimeOutPoll(SStateVar *stStateVar, unsigned long now_ms);
// Frames waiting in stRecvBagQueue.
int UartBagQueuePending(void);
// One non-blocking read into stUartQueue: bytes read, or -1 when the port failed.
int UartRecvData(void);
void UartRecvHandle(void);  // parse what the byte ring holds, as room allows
// The serial loop's work after a read begun at `read_us` that returned `got`:
// end a cut-short frame if that read found the line quiet for the gap, parse,
// route at most one frame.
void UartRecvStep(int got, u64 read_us);
int RecvBagPoll(int fd);    // route at most one frame; 1 if one was taken

// ---- the serial thread ----------------------------------------------------
// Waits in poll for bytes, and otherwise sleeps until the next beat, the end
// of a half-received frame's quiet gap or the next try to open the port.
void *UartDataProc(void *p);
void UartSetDevPath(const char *path);  // tests: the port to open instead
int init_ttyS(int fd);
u64 UartMonotonicUs(void);
// Heartbeat timer step of the serial loop; sends when a period has passed.
// Returns 1 when a period ended (whether or not the beat was paused).
int UartHeartPoll(u64 now_us);
void UartHeartReset(void);  // next poll starts a period at once

// ---- device frames (any thread) --------------------------------------------
// Returns the number of bytes written, or -1 (payload too large, write failed).
int UartSendBag(u8 ucCmd, const u8 *pudata, u16 ucDatalen);
int UartSendErrorCode(u32 code);
int UartSendRecErrorCode(u32 code);
int UartSendRtmpStatus(u8 status);
int UartSendUrlIndex(u8 index);
int NetToUartSendBag(const u8 *pucBuf, int len);
// Writes `len` bytes to `fd` under g_UartSendMutex; returns bytes written or -1.
int UartWriteLocked(int fd, const u8 *buf, size_t len);
void DeviceHeart(void);
// Storage figures of a heartbeat (result of the storage query, sizes in MB):
// stores them and stops recording when 512 MB or less are free.
void HeartApplyStorage(int result, u32 total, u32 freemb);

// ---- what the router hands on ---------------------------------------------
// Command handler for frames meant for the recorder: returns the reply length
// built in place in pucData (0: no reply).
u16 ProtoRecvBagHandle(u8 *pucData);
// Network relay of frames the host marks for the network.
int UartToNetBag(const u8 *pucBuf, int len);
int UartToNetBag_7100(const u8 *pucBuf, int len);
int UartToNetBagNew(const u8 *pucBuf, int len);
int UartToNetBag_mcast(const u8 *pucBuf, int len);
