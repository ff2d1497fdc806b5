// RTMP publisher of the live stream (encoder channel 1 and AAC) and the store
// of the eight RTMP destinations.
#pragma once
#include <stdint.h>

#include <atomic>

#include "frame_list.h"
#include "rtmp_link.h"

#pragma pack(push, 1)
typedef struct {
    uint8_t index;
    uint8_t user_name_len;
    char user_name[16];
    uint16_t rtmp_url_len;
    char rtmp_url[768];
} ST_RTMP_URL;
#pragma pack(pop)
static_assert(sizeof(ST_RTMP_URL) == 788, "destination file record");

#define RTMP_URL_DIR "/customer/app/url"
#define RTMP_IDLE_WAIT_MS 50  // longest wait for a frame before the state is looked at again
#define RTMP_URL_COUNT 8

typedef enum {
    State_Rtmp_Init = 0,
    State_Rtmp_Idle = 1,
    State_Rtmp_Connect = 2,
    State_Rtmp_Send = 3,
    State_Rtmp_Close = 4,
} EM_RTMP_STATE;

extern ST_RTMP_URL g_stUrl;
// Written by the publisher, the serial and the web threads.
extern std::atomic<EM_RTMP_STATE> emRtmpState;
extern std::atomic<uint8_t> u8RtmpConnectOK;
extern std::atomic<uint8_t> u8RtmpStart;
extern std::atomic<uint8_t> u8RtmpAudioStart;
extern std::atomic<uint8_t> u8RtmpConnectFlag;

void *RtmpHandle(void *p);  // p: the stream frame list
void RtmpOpenState(void);
void RtmpCloseState(void);

// Destination files: "url/%d" relative to the working directory (ReadRtmpUrl)
// and "/customer/app/url/%d" (the others) are the same files on the board.
int ReadRtmpUrl(uint8_t index);
// Both return 20 for a missing and 21 for a short file; ReadRtmpUrl then
// leaves g_stUrl as it was.
int LoadRtmpUrl(uint8_t ucIndex, ST_RTMP_URL *out);
int SaveRtmpUrl(const ST_RTMP_URL *rec);
// Writes the record to its destination file only (factory reset).
int SaveRtmpUrlFile(const ST_RTMP_URL *rec);
// Tests point the store elsewhere (both the relative and the absolute name).
void RtmpUrlSetDirs(const char *relDir, const char *absDir);

int RTMP264_Connect(const char *url);
int Rtmp264_Open(void);
void RTMP264_Close(void);
// stamp: the frame's capture time stamp (board clock, us).
int RTMP264_Send(uint8_t *data, uint32_t size, int bIsKeyFrame, uint64_t stamp);
int SendH264Packet(uint8_t *data, uint32_t size, int bIsKeyFrame, uint32_t timestamp);
int SendVideoSpsPps(uint8_t *pps, int pps_len, uint8_t *sps, int sps_len, uint32_t timestamp);
int SendPacket(uint32_t type, uint8_t *data, uint32_t size, uint32_t timestamp);
int RTMP_AAC_Send(uint8_t *data, int len, uint64_t stamp);
int SendAacSequenceHderPacket0(uint8_t *config, uint32_t len, double timestamp);
int SendAacRawPacket(uint8_t *data, int len, double timestamp);

// One pass of the publisher loop; waits up to wait_ms for a frame.
void RtmpStep(rtp_s *list, int wait_ms);
// Tests replace the connection; nullptr restores the library-backed one.
void RtmpSetTransport(RtmpTransport *t);
void RtmpResetForTest(void);
