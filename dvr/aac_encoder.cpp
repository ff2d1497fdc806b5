#include "aac_encoder.h"

#include <stdio.h>
#include <string.h>

const uint8_t kAacDecoderConfig[2] = {0x11, 0x90};

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

// Capture time of the input frame that starts at sample `pts` of the
// encoder's own (gapless) time line.
struct AacSpan {
    int64_t pts;
    uint64_t us;
};
constexpr int kAacSpans = 8;  // the encoder holds back one frame; room for more

struct AacEncoder {
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *pkt = nullptr;
    int channels = 0;
    int64_t next_pts = 0;
    AacSpan spans[kAacSpans] = {};
    int nspans = 0;
};

namespace {

int64_t samples_to_us(int64_t n, int rate) {
    return n >= 0 ? (n * 1000000 + rate / 2) / rate : -((-n * 1000000 + rate / 2) / rate);
}

// Capture time of sample `pts` of the encoder's time line. The input's time
// stamps may jump (a stalled or restarted capture) while the encoder's samples
// run on without a gap, so each frame keeps its own stamp. Samples before the
// first input (the priming unit) lie just before its capture time.
uint64_t capture_time(AacEncoder *e, int64_t pts) {
    if (e->nspans == 0) return 0;
    int i = e->nspans - 1;
    while (i > 0 && e->spans[i].pts > pts) i--;
    // Unsigned: board clocks may use the whole 64 bits.
    int64_t off = samples_to_us(pts - e->spans[i].pts, e->ctx->sample_rate);
    uint64_t base = e->spans[i].us;
    uint64_t us = off >= 0 ? base + (uint64_t)off : base > (uint64_t)-off ? base - (uint64_t)-off : 0;
    // Frames wholly before this unit are done with.
    int done = 0;
    while (done + 1 < e->nspans && e->spans[done + 1].pts <= pts) done++;
    if (done) {
        memmove(e->spans, e->spans + done, sizeof(AacSpan) * (size_t)(e->nspans - done));
        e->nspans -= done;
    }
    return us;
}

}  // namespace

AacEncoder *aac_encoder_open(int sample_rate, int channels, int bit_rate) {
    const AVCodec *codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        printf("Unable to open encoder\n");
        return nullptr;
    }
    auto *e = new AacEncoder;
    e->channels = channels;
    e->ctx = avcodec_alloc_context3(codec);
    e->frame = av_frame_alloc();
    e->pkt = av_packet_alloc();
    if (!e->ctx || !e->frame || !e->pkt) {
        printf("Unable to open encoder\n");
        aac_encoder_close(e);
        return nullptr;
    }
    e->ctx->profile = FF_PROFILE_AAC_LOW;
    e->ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->ctx->sample_rate = sample_rate;
    av_channel_layout_default(&e->ctx->ch_layout, channels);
    e->ctx->bit_rate = bit_rate;  // constant bit rate
    e->ctx->time_base = AVRational{1, sample_rate};
    // The fast coder, without noise substitution and intensity stereo (tools
    // for low bit rates): well under half the default's CPU, which was the
    // recorder's largest share. Same format and bit rate.
    av_opt_set(e->ctx->priv_data, "aac_coder", "fast", 0);
    av_opt_set_int(e->ctx->priv_data, "aac_pns", 0, 0);
    av_opt_set_int(e->ctx->priv_data, "aac_is", 0, 0);
    if (avcodec_open2(e->ctx, codec, nullptr) < 0) {
        printf("Unable to initialize the encoder\n");
        aac_encoder_close(e);
        return nullptr;
    }
    e->frame->format = AV_SAMPLE_FMT_FLTP;
    e->frame->nb_samples = e->ctx->frame_size;
    e->frame->sample_rate = sample_rate;
    if (av_channel_layout_copy(&e->frame->ch_layout, &e->ctx->ch_layout) < 0 || av_frame_get_buffer(e->frame, 0) < 0) {
        printf("Unable to get the encoder info\n");
        aac_encoder_close(e);
        return nullptr;
    }
    return e;
}

int aac_encoder_frame_length(const AacEncoder *enc) { return enc ? enc->ctx->frame_size : 0; }

int aac_encoder_encode(AacEncoder *enc, const int16_t *pcm, int samples, uint64_t capture_us, uint8_t *out,
                       size_t out_cap, uint64_t *unit_us) {
    if (!enc || !pcm || !out || samples != enc->ctx->frame_size) return -1;
    if (av_frame_make_writable(enc->frame) < 0) return -1;
    for (int c = 0; c < enc->channels; c++) {
        float *dst = reinterpret_cast<float *>(enc->frame->data[c]);
        for (int i = 0; i < samples; i++) dst[i] = (float)pcm[i * enc->channels + c] * (1.0f / 32768.0f);
    }
    enc->frame->pts = enc->next_pts;
    int r = avcodec_send_frame(enc->ctx, enc->frame);
    if (r < 0) return r;
    if (enc->nspans == kAacSpans) {  // not expected: the oldest goes
        memmove(enc->spans, enc->spans + 1, sizeof(AacSpan) * (kAacSpans - 1));
        enc->nspans--;
    }
    enc->spans[enc->nspans++] = AacSpan{enc->next_pts, capture_us};
    enc->next_pts += samples;
    r = avcodec_receive_packet(enc->ctx, enc->pkt);
    if (r == AVERROR(EAGAIN)) return 0;
    if (r < 0) return r;
    int n = enc->pkt->size;
    if ((size_t)n > out_cap) n = -1;
    else memcpy(out, enc->pkt->data, (size_t)n);
    // The unit's pts is where its decoded samples start on the encoder's time
    // line: the encoder's delay is already taken off. Without one, the oldest
    // frame still held is the best guess.
    int64_t pts = enc->pkt->pts != AV_NOPTS_VALUE ? enc->pkt->pts : enc->spans[0].pts;
    uint64_t us = capture_time(enc, pts);
    if (unit_us) *unit_us = us;
    av_packet_unref(enc->pkt);
    return n;
}

void aac_encoder_close(AacEncoder *enc) {
    if (!enc) return;
    avcodec_free_context(&enc->ctx);
    av_frame_free(&enc->frame);
    av_packet_free(&enc->pkt);
    delete enc;
}
