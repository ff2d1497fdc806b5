#pragma once
// The encoder stream thread: fetches the access units of encoder channels 0
// (record) and 1 (live), turns start codes into 4-byte big-endian lengths,
// keeps each channel's SPS and PPS, and appends the slices to the record and
// stream frame lists.

#include <stdint.h>

#include "mi_venc.h"

// Thread entry, started last by main; never returns unless stopped.
void *_ST_VencGetData(void *p);
// End _ST_VencGetData after its current wait (tests, shutdown).
void ST_VencGetDataStop(void);

// Process one fetched stream of channel u8Chn (0 or 1): only the first pack
// is used. SPS and PPS (by NAL unit type) go to the channel's store; each
// slice becomes a frame of its own with the pack's time stamp, flagged key
// when it is an IDR slice; other NAL units (SEI, delimiters, filler) are not
// passed on. Returns 0, or -1 for a bad channel or stream.
int HiApp_VENC_SaveStream(uint8_t u8Chn, MI_VENC_Stream_t *pstStream);

// Room of the stream record the thread fetches into.
#define ST_VENC_MAX_PACKS 16
