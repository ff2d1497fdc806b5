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
