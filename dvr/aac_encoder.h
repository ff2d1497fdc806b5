// AAC-LC encoder adapter: 16-bit interleaved PCM in, raw access units out
// (no ADTS headers). The only place that knows the codec library.
#pragma once
#include <stddef.h>
#include <stdint.h>

// AudioSpecificConfig of AAC-LC, 48 kHz, stereo: what the MP4 muxer and the
// RTMP publisher write as the decoder configuration.
extern const uint8_t kAacDecoderConfig[2];

#define AAC_SAMPLE_RATE 48000
#define AAC_CHANNELS 2
#define AAC_BIT_RATE 128000
#define AAC_FRAME_SAMPLES 1024

struct AacEncoder;

// nullptr when the encoder cannot be opened; each failing step prints its line.
AacEncoder *aac_encoder_open(int sample_rate, int channels, int bit_rate);
// Samples per channel the encoder takes per call.
int aac_encoder_frame_length(const AacEncoder *enc);
// Encode one frame of `samples` samples per channel (interleaved) captured at
// `capture_us` (time of its first sample). Returns the bytes of the access unit
// written to `out` (0 while the encoder is priming), or a negative value on
// error. The encoder emits each unit a frame behind its input: `unit_us` gets
// the capture time of the samples the unit decodes to, not of this input.
int aac_encoder_encode(AacEncoder *enc, const int16_t *pcm, int samples, uint64_t capture_us, uint8_t *out,
                       size_t out_cap, uint64_t *unit_us);
void aac_encoder_close(AacEncoder *enc);
