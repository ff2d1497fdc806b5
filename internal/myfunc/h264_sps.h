// H.264 sequence parameter set reader: size, profile, level and frame rate of
// the stored SPS for the muxer and the publisher.
#pragma once
#include <stdint.h>

typedef struct {
    uint32_t profile_idc;
    uint32_t level_idc;
    uint32_t width;
    uint32_t height;
    uint32_t fps;  // written only when the SPS carries usable VUI timing
} sps_info_struct;

typedef struct {
    const uint8_t *data;
    uint32_t size;   // bytes
    uint32_t index;  // next bit, from the MSB of byte 0
    int overrun;     // set once a read went past the end of the data
} sps_bit_stream;

void sps_bs_init(sps_bit_stream *bs, const uint8_t *data, uint32_t size);
int eof(sps_bit_stream *bs);
uint32_t u(sps_bit_stream *bs, uint8_t bitCount);
uint32_t ue(sps_bit_stream *bs);
int32_t se(sps_bit_stream *bs);

// Removes emulation-prevention bytes in place; *dataSize shrinks accordingly.
void del_emulation_prevention(uint8_t *data, uint32_t *dataSize);

// Parses an SPS NAL unit starting at its header byte. Returns 1 and fills
// `info` when a whole SPS was read; 0 for a missing argument, another NAL
// type, or a truncated or malformed SPS (then `info` is left as it was).
int h264_parse_sps(const uint8_t *data, uint32_t dataSize, sps_info_struct *info);

// Latest SPS and PPS of each encoder channel (entry 0 record, 1 live), as
// stored without start code or length prefix. 82 bytes, also the first record
// of a recording's side index file.
#pragma pack(push, 1)
typedef struct {
    uint8_t sps[64];
    uint8_t spsLen;
    uint8_t pps[16];
    uint8_t ppsLen;
} ST_SPS_PPS;
#pragma pack(pop)
static_assert(sizeof(ST_SPS_PPS) == 82, "side index file record");

extern ST_SPS_PPS stSpsPps[2];

// The stream thread writes a channel's parameter sets while the muxer and the
// publisher read them: go through these so nobody sees half an update.
// Store refuses (returns -1) a set longer than its room; 0 otherwise. `pts`
// is the time stamp of the key frame that brought them.
int SpsPpsStore(int chn, const uint8_t *sps, uint32_t spsLen, const uint8_t *pps, uint32_t ppsLen,
                uint64_t pts = 0);
void SpsPpsLoad(int chn, ST_SPS_PPS *out);
// The sets a key frame of time stamp `pts` was made with, for a consumer that
// lags behind the stream thread (the oldest known for an older frame);
// -1 when none were stored yet.
int SpsPpsLoadAt(int chn, uint64_t pts, ST_SPS_PPS *out);
// 1 when both hold the same parameter sets.
int SpsPpsSame(const ST_SPS_PPS *a, const ST_SPS_PPS *b);
