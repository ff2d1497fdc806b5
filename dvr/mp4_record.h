// MP4 recording: the muxer thread and its state machine, files with a ".tmp"
// name while open, a side index of every written sample, rotation by size.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "frame_list.h"
#include "mp4_writer.h"

typedef enum {
    State_Mp4_Init = 0,
    State_Mp4_Wait = 1,
    State_Mp4_OpenFile = 2,
    State_Mp4_WriteFile = 3,
    State_Mp4_CloseFile = 4,
} MP4_STATE;

typedef struct {
    Mp4Writer *Mp4FileSave;
    char Mp4FileName[64];
    int video;
    int audio;
    uint8_t ucFrameRate;
    uint64_t u64FileSize;
    uint32_t uiVideocnt;
    uint32_t uiAudiocnt;
    uint8_t ucStartFirstIFrame;
} ST_MP4_STATE;

#pragma pack(push, 1)
typedef struct {
    uint8_t f_type;
    uint8_t f_flag;
    uint8_t f_reserved[2];
    uint32_t f_size;
    uint32_t f_index;
} ST_MP4_TEMP_INFO;
#pragma pack(pop)
static_assert(sizeof(ST_MP4_TEMP_INFO) == 12, "side index record");

// Written by the command handler (start, pause, resume) and the muxer.
extern std::atomic<MP4_STATE> g_Mp4State;
extern ST_MP4_STATE g_stMp4[2];
extern uint64_t g_video_u64pts, g_audio_u64pts;
extern FILE *pMp4TempVideoFile;

#define MP4_SIZE_LIMIT 0xF0000000ull

void Sample_Mp4ParaInit(void);
void *Mp4Muxer(void *p);
Mp4Writer *Sample_CreateMp4(uint8_t ucFileIndex, const char *pFileName, uint32_t width, uint32_t height,
                            uint8_t ucfps, uint8_t ucChn);
void Mp4FileClose(void);
// Host requests (command handler): switch recording on or off (a stop acts
// at the next key frame), pause or resume while it is switched on.
void Mp4RequestRecord(int on);
void Mp4RequestPause(int pause);

// The muxer as an object: its lists, the storage directory source and the
// size limit (tests lower it).
struct Mp4MuxerCtx {
    rtp_s *video = nullptr;
    rtp_s *audio = nullptr;
    uint64_t u64SizeLimit = MP4_SIZE_LIMIT;
    // Directory of the selected storage, nullptr when none is open.
    char *(*storage_dir)(void) = nullptr;
    // How long video waits for audio (and audio for video) before it is
    // written anyway, in ms.
    int syncWaitMs = 300;
    // Flushes the file systems once a recording is closed.
    void (*flush_fs)(void) = sync;
    // Called just before a recording is created on the storage (tests hold
    // it there to make a slow card).
    void (*before_create)(void) = nullptr;
};
// One pass of the muxer loop; blocks up to wait_ms when there is nothing to do.
void Mp4MuxerStep(Mp4MuxerCtx *ctx, int wait_ms);
// Closes an open recording at once (shutdown and tests).
void Mp4MuxerFlush(Mp4MuxerCtx *ctx);
